#include "drumlin/viterbi-resegmentation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace drumlin {
namespace {

constexpr double kLog2Pi = 1.8378770664093453;

// One speaker's diagonal GMM, with the per-Gaussian constant folded in:
// log w_g N(x) = logConst[g] - 0.5 sum_d (x_d - mean[g][d])^2 * invVar[g][d].
struct DiagGmm {
  int G = 0;
  int dim = 0;
  std::vector<float> mean;    // G x dim
  std::vector<float> invVar;  // G x dim
  std::vector<float> logConst;

  float LogLikelihood(const float* x, float* scratch) const {
    float best = -std::numeric_limits<float>::infinity();
    for (int g = 0; g < G; ++g) {
      const float* m = &mean[static_cast<size_t>(g) * dim];
      const float* iv = &invVar[static_cast<size_t>(g) * dim];
      float q = 0;
      for (int d = 0; d < dim; ++d) {
        const float e = x[d] - m[d];
        q += e * e * iv[d];
      }
      scratch[g] = logConst[g] - 0.5f * q;
      best = std::max(best, scratch[g]);
    }
    float sum = 0;
    for (int g = 0; g < G; ++g) sum += std::exp(scratch[g] - best);
    return best + std::log(sum);
  }
};

struct Moments {
  std::vector<double> weight;  // G
  std::vector<double> first;   // G x dim
  std::vector<double> second;  // G x dim
};

void SetFromMoments(const Moments& m, const std::vector<double>& floor, DiagGmm* gmm) {
  const int G = gmm->G, dim = gmm->dim;
  double total = 0;
  for (int g = 0; g < G; ++g) total += m.weight[g];
  for (int g = 0; g < G; ++g) {
    const double w = std::max(m.weight[g], 1e-6);
    double logDet = 0;
    for (int d = 0; d < dim; ++d) {
      const size_t i = static_cast<size_t>(g) * dim + d;
      const double mu = m.first[i] / w;
      const double var = std::max(m.second[i] / w - mu * mu, floor[d]);
      gmm->mean[i] = static_cast<float>(mu);
      gmm->invVar[i] = static_cast<float>(1.0 / var);
      logDet += std::log(var);
    }
    const double prior = std::max(m.weight[g] / std::max(total, 1e-12), 1e-6);
    gmm->logConst[g] = static_cast<float>(std::log(prior) - 0.5 * (logDet + dim * kLog2Pi));
  }
}

// Maximum-likelihood GMM of the rows `members`, grown by splitting every
// Gaussian along its deviation and re-estimating.
DiagGmm TrainGmm(const float* rows, int dim, const std::vector<size_t>& members, int G,
                 const std::vector<double>& floor, int emIterations) {
  DiagGmm gmm;
  gmm.dim = dim;
  gmm.G = 1;
  gmm.mean.assign(dim, 0);
  gmm.invVar.assign(dim, 1);
  gmm.logConst.assign(1, 0);
  Moments m;
  m.weight.assign(1, static_cast<double>(members.size()));
  m.first.assign(dim, 0);
  m.second.assign(dim, 0);
  for (size_t r : members) {
    const float* x = rows + r * dim;
    for (int d = 0; d < dim; ++d) {
      m.first[d] += x[d];
      m.second[d] += static_cast<double>(x[d]) * x[d];
    }
  }
  SetFromMoments(m, floor, &gmm);
  std::vector<float> post(G);
  while (gmm.G < G) {
    const int next = std::min(G, gmm.G * 2);
    DiagGmm grown;
    grown.dim = dim;
    grown.G = next;
    grown.mean.resize(static_cast<size_t>(next) * dim);
    grown.invVar.resize(static_cast<size_t>(next) * dim);
    grown.logConst.resize(next);
    for (int g = 0; g < next; ++g) {
      const int src = g % gmm.G;
      const float sign = g < gmm.G ? 0.2f : -0.2f;
      for (int d = 0; d < dim; ++d) {
        const size_t i = static_cast<size_t>(src) * dim + d;
        grown.mean[static_cast<size_t>(g) * dim + d] =
            gmm.mean[i] + sign / std::sqrt(gmm.invVar[i]);
        grown.invVar[static_cast<size_t>(g) * dim + d] = gmm.invVar[i];
      }
      grown.logConst[g] = gmm.logConst[src] - std::log(2.0f);
    }
    gmm = std::move(grown);
    for (int it = 0; it < emIterations; ++it) {
      m.weight.assign(gmm.G, 0);
      m.first.assign(static_cast<size_t>(gmm.G) * dim, 0);
      m.second.assign(static_cast<size_t>(gmm.G) * dim, 0);
      for (size_t r : members) {
        const float* x = rows + r * dim;
        const float ll = gmm.LogLikelihood(x, post.data());
        for (int g = 0; g < gmm.G; ++g) {
          const double p = std::exp(post[g] - ll);
          if (p < 1e-4) continue;
          m.weight[g] += p;
          double* f = &m.first[static_cast<size_t>(g) * dim];
          double* s = &m.second[static_cast<size_t>(g) * dim];
          for (int d = 0; d < dim; ++d) {
            f[d] += p * x[d];
            s[d] += p * x[d] * x[d];
          }
        }
      }
      SetFromMoments(m, floor, &gmm);
    }
  }
  return gmm;
}

}  // namespace

bool ResegmentRows(const float* rows, size_t n, int dim, const std::vector<int>& frames, int K,
                   const ResegmentationOptions& options, std::vector<int>* labels) {
  if (rows == nullptr || dim <= 0 || K <= 0 || frames.size() != n || labels->size() != n ||
      K > 32767)
    return false;
  for (int l : *labels) {
    if (l < 0 || l >= K) return false;
  }
  if (K == 1 || n == 0) return true;

  // Variance floor from all rows.
  std::vector<double> floor(dim, 0);
  {
    std::vector<double> sum(dim, 0), sum2(dim, 0);
    for (size_t r = 0; r < n; ++r) {
      for (int d = 0; d < dim; ++d) {
        sum[d] += rows[r * dim + d];
        sum2[d] += static_cast<double>(rows[r * dim + d]) * rows[r * dim + d];
      }
    }
    for (int d = 0; d < dim; ++d) {
      const double mu = sum[d] / n;
      floor[d] = std::max(options.varianceFloor * (sum2[d] / n - mu * mu), 1e-8);
    }
  }

  std::vector<float> loglik(n * K);
  std::vector<int16_t> from(n * K);
  std::vector<float> score(K), nextScore(K), scratch(std::max(options.gaussians, 1));
  std::vector<DiagGmm> models(K);
  for (int round = 0; round < options.rounds; ++round) {
    std::vector<std::vector<size_t>> members(K);
    for (size_t r = 0; r < n; ++r) members[(*labels)[r]].push_back(r);
    std::vector<char> present(K, 0);
    for (int k = 0; k < K; ++k) {
      if (members[k].empty()) continue;
      present[k] = 1;
      const int G = std::clamp(
          static_cast<int>(members[k].size() / std::max(options.rowsPerGaussian, 1)), 1,
          std::max(options.gaussians, 1));
      models[k] = TrainGmm(rows, dim, members[k], G, floor, options.emIterations);
    }
    const float minus = -std::numeric_limits<float>::infinity();
    for (size_t r = 0; r < n; ++r) {
      for (int k = 0; k < K; ++k) {
        loglik[r * K + k] =
            present[k] ? models[k].LogLikelihood(rows + r * dim, scratch.data()) : minus;
      }
    }
    // Viterbi: stay, or come from the best other speaker at a penalty.
    for (int k = 0; k < K; ++k) score[k] = loglik[k];
    for (size_t r = 1; r < n; ++r) {
      const bool pause = frames[r] - frames[r - 1] >= options.pauseFrames;
      const float penalty = options.switchPenalty * (pause ? options.pauseDiscount : 1.0f);
      int best = 0;
      for (int k = 1; k < K; ++k) {
        if (score[k] > score[best]) best = k;
      }
      int second = best == 0 ? (K > 1 ? 1 : 0) : 0;
      for (int k = 0; k < K; ++k) {
        if (k != best && score[k] > score[second]) second = k;
      }
      for (int k = 0; k < K; ++k) {
        const int other = k == best ? second : best;
        const float switched = score[other] - penalty;
        if (score[k] >= switched) {
          nextScore[k] = score[k] + loglik[r * K + k];
          from[r * K + k] = static_cast<int16_t>(k);
        } else {
          nextScore[k] = switched + loglik[r * K + k];
          from[r * K + k] = static_cast<int16_t>(other);
        }
      }
      // Keep the scores near zero: only differences matter.
      const float top = *std::max_element(nextScore.begin(), nextScore.end());
      for (int k = 0; k < K; ++k) score[k] = nextScore[k] - top;
    }
    int state = static_cast<int>(std::max_element(score.begin(), score.end()) - score.begin());
    for (size_t r = n; r-- > 0;) {
      (*labels)[r] = state;
      if (r > 0) state = from[r * K + state];
    }
  }
  return true;
}

}  // namespace drumlin
