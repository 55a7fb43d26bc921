// Scoring speed for D = 512 (templates of 1025 floats): one probe against a
// set of templates, warm in cache or streamed from memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "ivdist/splda.h"
#include "ivdist/verifier.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/scoring-writer.h"

namespace {

constexpr int32_t kDim = 512;
constexpr size_t kSize = 2 * kDim + 1;
constexpr size_t kWarmTemplates = 64;  // about 260 KB: stays in L2

struct Models {
  ivdist::splda::Splda<float> splda;
  ivdist::Verifier verifier;
  Models() {
    jor_test::TestDir dir;
    const modelio::ScoringSections s = modelio::RandomScoringSections(kDim, 7);
    const std::string path = dir.File("splda.bin");
    jor_test::WriteFile(path, s.splda);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f || splda.Load(f) != 0) std::abort();
    std::rewind(f);
    if (verifier.Load(nullptr, nullptr, f) != 0) std::abort();
    std::fclose(f);
  }
};

const Models& GetModels() {
  static Models models;
  return models;
}

// Template-like values (their size keeps every product finite).
std::vector<float> RandomTemplates(size_t count) {
  std::vector<float> t(count * kSize);
  uint32_t state = 12345;
  for (float& v : t) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<int32_t>(state)) * (1.0f / 2147483648.0f) * 0.05f;
  }
  return t;
}

void BM_ScoreTransformedWarm(benchmark::State& state) {
  const auto& splda = GetModels().splda;
  const std::vector<float> probe = RandomTemplates(1);
  const std::vector<float> set = RandomTemplates(kWarmTemplates);
  const uint32_t n = kSize;
  float score = 0;
  size_t j = 0;
  for (auto _ : state) {
    splda.ScoreTransformed(probe.data(), &n, set.data() + j * kSize, &n, &score);
    benchmark::DoNotOptimize(score);
    j = j + 1 == kWarmTemplates ? 0 : j + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScoreTransformedWarm);

void BM_VerifierScoreWarm(benchmark::State& state) {
  auto& verifier = const_cast<ivdist::Verifier&>(GetModels().verifier);
  const std::vector<float> probe = RandomTemplates(1);
  const std::vector<float> set = RandomTemplates(kWarmTemplates);
  const uint32_t n = kSize;
  const float duration = 30000.0f;
  float score = 0;
  size_t j = 0;
  for (auto _ : state) {
    verifier.Score(probe.data(), &n, set.data() + j * kSize, &n, &duration, &score);
    benchmark::DoNotOptimize(score);
    j = j + 1 == kWarmTemplates ? 0 : j + 1;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VerifierScoreWarm);

void BM_ScoreTransformedManyWarm(benchmark::State& state) {
  const auto& splda = GetModels().splda;
  const std::vector<float> probe = RandomTemplates(1);
  const std::vector<float> set = RandomTemplates(kWarmTemplates);
  std::vector<float> results(kWarmTemplates);
  for (auto _ : state) {
    splda.ScoreTransformedMany(probe.data(), kSize, set.data(), kWarmTemplates, results.data());
    benchmark::DoNotOptimize(results.data());
  }
  state.SetItemsProcessed(state.iterations() * kWarmTemplates);
}
BENCHMARK(BM_ScoreTransformedManyWarm);

// 1 M templates (about 4.1 GB) read once per iteration.
const std::vector<float>& Streamed() {
  static const std::vector<float> set = RandomTemplates(1000000);
  return set;
}

void BM_ScoreTransformedStreamed(benchmark::State& state) {
  const auto& splda = GetModels().splda;
  const std::vector<float>& set = Streamed();
  const size_t count = set.size() / kSize;
  const std::vector<float> probe = RandomTemplates(1);
  const uint32_t n = kSize;
  for (auto _ : state) {
    float best = -1e30f;
    for (size_t j = 0; j < count; ++j) {
      float score;
      splda.ScoreTransformed(probe.data(), &n, set.data() + j * kSize, &n, &score);
      best = score > best ? score : best;
    }
    benchmark::DoNotOptimize(best);
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * count * kSize * sizeof(float));
}
BENCHMARK(BM_ScoreTransformedStreamed)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ScoreTransformedManyStreamed(benchmark::State& state) {
  const auto& splda = GetModels().splda;
  const std::vector<float>& set = Streamed();
  const size_t count = set.size() / kSize;
  const std::vector<float> probe = RandomTemplates(1);
  // Results in blocks, as a caller ranking a gallery would keep them.
  constexpr size_t kBlock = 256;
  std::vector<float> results(kBlock);
  for (auto _ : state) {
    for (size_t j = 0; j < count; j += kBlock) {
      const size_t m = count - j < kBlock ? count - j : kBlock;
      splda.ScoreTransformedMany(probe.data(), kSize, set.data() + j * kSize, m, results.data());
      benchmark::DoNotOptimize(results.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * count * kSize * sizeof(float));
}
BENCHMARK(BM_ScoreTransformedManyStreamed)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
