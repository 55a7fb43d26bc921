// Posterior computation per second of audio (100 frames of 40 values): a
// 512-Gaussian diagonal selection GMM keeps the best 20, a 512-Gaussian
// full-covariance posterior GMM evaluates those 20. Goal: at most 3 ms per
// second of audio on one core.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-calculator.h"
#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp.h"
#include "tools/modelio/htk-writer.h"

namespace {

constexpr int kDim = 40;
constexpr int kGaussians = 512;
constexpr int kSelect = 20;
constexpr int kFramesPerSecond = 100;

struct Models {
  gmmpp_ivext::GmmppCalculator selection;
  gmmpp_ivext::GmmppCalculator posterior;
  std::vector<float> features;  // one second
  bool ok = false;

  Models() {
    const modelio::HtkGmm sel = modelio::RandomDiagonalGmm(kGaussians, kDim, 1);
    modelio::HtkGmm post = modelio::RandomFullGmm(kGaussians, kDim, 2);
    for (int m = 0; m < kGaussians; ++m) post.gaussians[m].mean = sel.gaussians[m].mean;
    ok = Load(selection, 1, modelio::HtkBinaryGmm(sel), 0.0f) &&
         Load(posterior, 2, modelio::HtkBinaryGmm(post), 0.025f);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (int t = 0; t < kFramesPerSecond; ++t) {
      const modelio::HtkGaussian& g = sel.gaussians[rng() % kGaussians];
      for (double mu : g.mean) features.push_back(static_cast<float>(mu + noise(rng)));
    }
  }

  static bool Load(gmmpp_ivext::GmmppCalculator& calc, int id, std::string bytes, float threshold) {
    FILE* f = fmemopen(bytes.data(), bytes.size(), "r");
    if (f == nullptr) return false;
    const int rc = calc.LoadModel(id, f, kSelect, threshold);
    std::fclose(f);
    return rc == 0;
  }
};

Models& Shared() {
  static Models models;
  return models;
}

// Model 1 over all 512 Gaussians, best 20 kept, for 100 frames.
void BM_SelectionPerSecond(benchmark::State& state) {
  Models& m = Shared();
  if (!m.ok) {
    state.SkipWithError("models did not load");
    return;
  }
  std::vector<int> idx(kSelect);
  std::vector<float> post(kSelect);
  for (auto _ : state) {
    for (int t = 0; t < kFramesPerSecond; ++t) {
      int count = 0;
      m.selection.CalcPosteriors(m.features.data() + t * kDim, nullptr, 0, idx.data(), post.data(),
                                 &count);
      benchmark::DoNotOptimize(count);
    }
  }
}
BENCHMARK(BM_SelectionPerSecond)->Unit(benchmark::kMillisecond);

// Model 2 on 20 candidates of full covariance, for 100 frames.
void BM_FullCovariancePosteriorPerSecond(benchmark::State& state) {
  Models& m = Shared();
  if (!m.ok) {
    state.SkipWithError("models did not load");
    return;
  }
  std::vector<int> cands(kSelect);
  for (int k = 0; k < kSelect; ++k) cands[k] = (k * 37) % kGaussians;
  std::vector<int> idx(kSelect);
  std::vector<float> post(kSelect);
  for (auto _ : state) {
    for (int t = 0; t < kFramesPerSecond; ++t) {
      int count = 0;
      m.posterior.CalcPosteriors(m.features.data() + t * kDim, cands.data(), kSelect, idx.data(),
                                 post.data(), &count);
      benchmark::DoNotOptimize(count);
    }
  }
}
BENCHMARK(BM_FullCovariancePosteriorPerSecond)->Unit(benchmark::kMillisecond);

// The whole per-second path: selection, posteriors and the statistics.
void BM_AccumulatePerSecond(benchmark::State& state) {
  Models& m = Shared();
  if (!m.ok) {
    state.SkipWithError("models did not load");
    return;
  }
  UtteranceStats<float> stats(kDim, kGaussians);
  for (auto _ : state) {
    const int rc = gmmpp_ivext::GmmppIvext::AccumulateFrames(m.selection, m.posterior, kDim,
                                                             m.features, stats);
    benchmark::DoNotOptimize(rc);
  }
  state.counters["frames"] = stats.numFrames;
}
BENCHMARK(BM_AccumulatePerSecond)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
