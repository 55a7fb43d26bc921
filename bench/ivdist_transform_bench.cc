// Template creation speed for D = 512: mean/variance normalisation,
// whitening, length normalisation and the SPLDA projections.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "ivdist/verifier.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/scoring-writer.h"

namespace {

constexpr int32_t kDim = 512;

void BM_VerifierTransform(benchmark::State& state) {
  jor_test::TestDir dir;
  const modelio::ScoringSections s = modelio::RandomScoringSections(kDim, 3);
  const std::string mv = dir.File("mv.bin"), wh = dir.File("wh.bin"), sp = dir.File("sp.bin");
  jor_test::WriteFile(mv, s.meanVariance);
  jor_test::WriteFile(wh, s.whitening);
  jor_test::WriteFile(sp, s.splda);
  FILE* fm = std::fopen(mv.c_str(), "rb");
  FILE* fw = std::fopen(wh.c_str(), "rb");
  FILE* fs = std::fopen(sp.c_str(), "rb");
  ivdist::Verifier verifier;
  const int r = verifier.Load(fm, fw, fs);
  std::fclose(fm);
  std::fclose(fw);
  std::fclose(fs);
  if (r != 0) {
    state.SkipWithError("model did not load");
    return;
  }
  std::mt19937 rng(1);
  std::normal_distribution<float> normal;
  std::vector<float> raw(kDim);
  for (float& v : raw) v = normal(rng);
  std::vector<float> out;
  for (auto _ : state) {
    verifier.Transform(raw, &out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VerifierTransform)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
