// Plain double-precision GMM posteriors for checking GMMPP_Calc and the frame
// accumulation: log-sum-exp over the candidates, best first, floor, renormalise.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "tools/modelio/htk-writer.h"

namespace jor_test {

using modelio::HtkGaussian;
using modelio::HtkGmm;

struct Kept {
  std::vector<int> idx;
  std::vector<double> post;
};

inline double LogLikelihood(const HtkGaussian& g, const std::vector<float>& x) {
  const int n = static_cast<int>(g.mean.size());
  double d = 0.0;
  if (!g.variance.empty()) {
    for (int i = 0; i < n; ++i) d += (x[i] - g.mean[i]) * (x[i] - g.mean[i]) / g.variance[i];
  } else {
    const std::vector<double> a = modelio::ExpandUpper(g.invCovarUpper, n);
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c) d += (x[r] - g.mean[r]) * a[r * n + c] * (x[c] - g.mean[c]);
    }
  }
  double gconst = g.gconst;
  if (!g.hasGconst) {
    gconst = g.variance.empty() ? modelio::FullGconst(g.invCovarUpper, n)
                                : modelio::DiagonalGconst(g.variance);
  }
  return -0.5 * (gconst + d);
}

// Posteriors w·N(x) normalised over the candidates; the best `outSize` with at
// least `threshold` kept and renormalised.
inline Kept Reference(const HtkGmm& gmm, const std::vector<float>& x,
                      const std::vector<int>* candidates, int outSize, double threshold) {
  const int M = static_cast<int>(gmm.gaussians.size());
  const int N = candidates ? static_cast<int>(candidates->size()) : M;
  std::vector<std::pair<double, int>> v;  // (log of w·N, index)
  double best = -INFINITY;
  for (int k = 0; k < N; ++k) {
    const int m = candidates ? (*candidates)[k] : k;
    if (m < 0 || m >= M) continue;
    const double l = LogLikelihood(gmm.gaussians[m], x) + std::log(gmm.gaussians[m].weight);
    v.push_back({l, m});
    best = std::max(best, l);
  }
  double sum = 0.0;
  for (auto& [l, m] : v) sum += std::exp(l - best);
  std::stable_sort(v.begin(), v.end(), [](auto& a, auto& b) { return a.first > b.first; });
  Kept kept;
  double keptSum = 0.0;
  for (size_t k = 0; k < v.size() && static_cast<int>(k) < outSize; ++k) {
    const double p = std::exp(v[k].first - best) / sum;
    if (p < threshold) break;
    kept.idx.push_back(v[k].second);
    kept.post.push_back(p);
    keptSum += p;
  }
  for (double& p : kept.post) p /= keptSum;
  return kept;
}

}  // namespace jor_test
