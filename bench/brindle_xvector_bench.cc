// X-vector forward pass of the classic network size (frame layers 512, 512,
// 512, 512, 1500 over 40-dimensional features, 512-dimensional embedding) on
// 4 s and 60 s of speech at 100 frames per second, one thread. Rates are per
// CPU second, so that a busy machine does not count against the library.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "brindle/xvext.h"
#include "tests/brindle/xe5-test-model.h"
#include "tests/support/test-dir.h"

namespace {

const brindle_test::NetSpec kClassic = {40,
                                        {512, 512, 512, 512, 1500},
                                        {{-2, -1, 0, 1, 2}, {-2, 0, 2}, {-3, 0, 3}, {0}, {0}},
                                        512,
                                        {512}};

struct Fixture {
  Fixture() {
    model = brindle_test::RandomModel(kClassic, 1);
    path = dir.File("xe5.pb");
    jor_test::WriteFile(path, brindle_test::Encode(model));
    ok = xv.Init(path, 0) == 0;
  }
  jor_test::TestDir dir;
  brindle_test::TModel model;
  std::string path;
  XVECTOR::C_XVEXT xv;
  bool ok = false;
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

// Multiply-adds counted as two operations; frame layers and the embedding layer.
double FlopsPerCall(const brindle_test::TModel& m, long frames) {
  double flops = 0;
  long n = frames;
  for (const brindle_test::TLayer& l : m.layers) {
    if (l.kind == 1) {
      n -= l.offsets.back() - l.offsets.front();
      flops += 2.0 * l.out * l.offsets.size() * l.in * n;
    } else if (l.kind == 3) {
      flops += 2.0 * l.out * l.in;
      break;
    }
  }
  return flops;
}

void BM_BrindleXvector(benchmark::State& state) {
  Fixture& f = Shared();
  if (!f.ok) {
    state.SkipWithError("model did not load");
    return;
  }
  const long frames = state.range(0);
  const std::vector<float> features = brindle_test::RandomFeatures(frames, 40, 2);
  std::vector<float> out;
  for (auto _ : state) {
    if (f.xv.GetXvector(features, out) != 0) {
      state.SkipWithError("GetXvector failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  const double speechSeconds = frames / 100.0;
  using benchmark::Counter;
  state.counters["ms_per_s_speech"] =
      Counter(speechSeconds / 1000.0, Counter::kIsIterationInvariantRate | Counter::kInvert);
  state.counters["FLOP/s"] = Counter(FlopsPerCall(f.model, frames),
                                     Counter::kIsIterationInvariantRate, Counter::OneK::kIs1000);
  state.counters["x_real_time"] = Counter(speechSeconds, Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_BrindleXvector)->Arg(400)->Arg(6000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
