// Straightforward double-precision i-vector computation used as the
// expected value in tests, and deterministic statistics shared by the test
// programs and their child processes.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tools/modelio/ivector-writer.h"

namespace ivext_test {

struct Stats {
  std::vector<double> zeroth;              // C
  std::vector<std::vector<double>> first;  // C × F
};

// Random statistics; every third Gaussian has zero occupation. Values are
// float-representable so float and double paths see the same input.
inline Stats RandomStats(int c, int f, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> occ(0.1, 4.0), val(-2.0, 2.0);
  Stats s;
  s.zeroth.resize(static_cast<size_t>(c));
  s.first.assign(static_cast<size_t>(c), std::vector<double>(static_cast<size_t>(f)));
  for (int g = 0; g < c; ++g) {
    const double gamma = (g % 3 == 1) ? 0.0 : static_cast<float>(occ(rng));
    s.zeroth[static_cast<size_t>(g)] = gamma;
    for (double& x : s.first[static_cast<size_t>(g)])
      x = gamma == 0.0 ? 0.0 : static_cast<float>(gamma * val(rng));
  }
  return s;
}

// Solves (I + Σ γ_c T_cᵀΣ_c⁻¹T_c) w = Σ T_cᵀΣ_c⁻¹ f_c + prior·e0 and returns w
// with the prior offset taken off w[0]. Empty when the system is singular.
inline std::vector<double> ReferenceIvector(const modelio::IvectorModel& m, const Stats& s) {
  const int C = m.numGaussians, F = m.featureDim, R = m.ivectorDim;
  std::vector<double> a(static_cast<size_t>(R * R), 0.0), b(static_cast<size_t>(R), 0.0);
  for (int i = 0; i < R; ++i) a[i * R + i] = 1.0;
  b[0] = m.priorOffset;
  std::vector<double> sigma(static_cast<size_t>(F * F));
  for (int g = 0; g < C; ++g) {
    const double* packed = m.sigmaInv.data() + static_cast<size_t>(g) * F * (F + 1) / 2;
    for (int i = 0, k = 0; i < F; ++i)
      for (int j = 0; j <= i; ++j, ++k) sigma[i * F + j] = sigma[j * F + i] = packed[k];
    const double* t = m.t.data() + static_cast<size_t>(g) * F * R;
    // st = Σ⁻¹ T (F × R)
    std::vector<double> st(static_cast<size_t>(F * R), 0.0);
    for (int i = 0; i < F; ++i)
      for (int j = 0; j < R; ++j)
        for (int k = 0; k < F; ++k) st[i * R + j] += sigma[i * F + k] * t[k * R + j];
    const double gamma = s.zeroth[static_cast<size_t>(g)];
    const std::vector<double>& f = s.first[static_cast<size_t>(g)];
    for (int j = 0; j < R; ++j)
      for (int k = 0; k < F; ++k) b[j] += st[k * R + j] * f[k];
    for (int i = 0; i < R; ++i)
      for (int j = 0; j < R; ++j) {
        double u = 0.0;
        for (int k = 0; k < F; ++k) u += t[k * R + i] * st[k * R + j];
        a[i * R + j] += gamma * u;
      }
  }
  // Gaussian elimination with partial pivoting, then back substitution.
  for (int k = 0; k < R; ++k) {
    int p = k;
    for (int i = k + 1; i < R; ++i)
      if (std::fabs(a[i * R + k]) > std::fabs(a[p * R + k])) p = i;
    if (a[p * R + k] == 0.0) return {};
    for (int j = 0; j < R; ++j) std::swap(a[k * R + j], a[p * R + j]);
    std::swap(b[k], b[p]);
    for (int i = k + 1; i < R; ++i) {
      const double factor = a[i * R + k] / a[k * R + k];
      for (int j = k; j < R; ++j) a[i * R + j] -= factor * a[k * R + j];
      b[i] -= factor * b[k];
    }
  }
  std::vector<double> w(static_cast<size_t>(R));
  for (int i = R - 1; i >= 0; --i) {
    double sum = b[i];
    for (int j = i + 1; j < R; ++j) sum -= a[i * R + j] * w[j];
    w[i] = sum / a[i * R + i];
  }
  w[0] -= m.priorOffset;
  return w;
}

}  // namespace ivext_test
