// Diarization of a 10-minute recording (150 pieces).
//
// BM_DiarizeFakeEngine: the driver with a stand-in recognition library that
// answers at once, so the figures are the driver's own share (file reading,
// decoding and splitting, 22,500 comparison calls, clustering, naming).
// BM_DiarizeDeployment: the real library on the deployment named by
// JOR_TEST_DEPLOYMENT (skipped without one); counters say where the time
// goes. BM_Clustering: the clustering alone on block-structured matrices.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "drumlin/diarization-driver.h"
#include "drumlin/speaker-clustering.h"
#include "tests/diarization/fake-recogniser.h"
#include "tests/support/test-dir.h"

namespace {

using jor_test::kPieceSamples;
constexpr int kPieces = 150;

// Speaker of piece p: turns of 5 pieces among three speakers.
int SpeakerOf(int piece) {
  return (piece / 5) % 3;
}

// 8 kHz mono WAV; each piece starts with its index + 1 so that the fake
// engine can tell pieces apart, then carries a speaker-dependent tone.
std::string TenMinuteWav() {
  std::vector<int16_t> pcm(size_t(kPieces) * kPieceSamples);
  for (int p = 0; p < kPieces; ++p) {
    const double f = 0.05 * (1 + SpeakerOf(p));
    for (int i = 0; i < kPieceSamples; ++i)
      pcm[size_t(p) * kPieceSamples + i] = int16_t(4000 * std::sin(f * i));
    pcm[size_t(p) * kPieceSamples] = int16_t(p + 1);
  }
  return jor_test::MonoWav8k(pcm);
}

// Templates carry the piece index; pieces of one speaker score high.
struct FakeRecogniser {
  static int Initialize(const char*, const bool*) { return 0; }
  static int Create(void** h) {
    static int handle;
    *h = &handle;
    return 0;
  }
  static int Delete(void** h) {
    *h = nullptr;
    return 0;
  }
  static int MakeXvectorTemplate(void*, const short* pcm, const size_t*, void* out,
                                 const size_t* bytes, float*, float*, float*) {
    std::memset(out, 0, *bytes);
    const int id = pcm[0] - 1;
    std::memcpy(out, &id, 4);
    return 0;
  }
  static int Compare(void*, const char* a, const size_t*, const char* b, const size_t*,
                     float* score) {
    int ia, ib;
    std::memcpy(&ia, a, 4);
    std::memcpy(&ib, b, 4);
    const bool same = ia >= 0 && ib >= 0 && SpeakerOf(ia) == SpeakerOf(ib);
    *score = same ? 80.0f + float((ia * 7 + ib * 13) % 15) : float((ia + ib) % 40);
    return 0;
  }
  static int GetDetail(void*) { return 0; }
  static int TemplateSize() { return 4356; }
};

void BM_DiarizeFakeEngine(benchmark::State& state) {
  jor_test::TestDir dir;
  const std::string path = dir.File("ten-minutes.wav");
  jor_test::WriteFile(path, TenMinuteWav());
  const drumlin::PellamApi api = jor_test::FakePellamApi<FakeRecogniser>();
  drumlin::DiarizationReport report;
  for (auto _ : state) {
    std::string xml = drumlin::Diarize(api, path.c_str(), dir.path().c_str(), {}, &report);
    benchmark::DoNotOptimize(xml);
  }
  state.counters["clusters"] = report.clusterCount;
  state.counters["load_s"] = report.loadSeconds;
  state.counters["compare_s"] = report.compareSeconds;
  state.counters["cluster_s"] = report.clusteringSeconds;
}
BENCHMARK(BM_DiarizeFakeEngine)->Unit(benchmark::kMillisecond);

void BM_DiarizeDeployment(benchmark::State& state) {
  const char* deployment = std::getenv("JOR_TEST_DEPLOYMENT");
  if (deployment == nullptr || deployment[0] == '\0') {
    state.SkipWithError("JOR_TEST_DEPLOYMENT is not set");
    for (auto _ : state) {
    }
    return;
  }
  jor_test::TestDir dir;
  const std::string path = dir.File("ten-minutes.wav");
  jor_test::WriteFile(path, TenMinuteWav());
  drumlin::DiarizationReport report;
  std::string xml;
  for (auto _ : state) {
    xml = drumlin::Diarize(drumlin::BoundPellamApi(), path.c_str(), deployment, {}, &report);
  }
  if (xml.rfind("<?xml", 0) != 0) state.SkipWithError(xml.c_str());
  state.counters["load_s"] = report.loadSeconds;
  state.counters["templates_s"] = report.pieceTemplateSeconds;
  state.counters["compare_s"] = report.compareSeconds;
  state.counters["cluster_s"] = report.clusteringSeconds;
  state.counters["naming_s"] = report.namingSeconds;
}
BENCHMARK(BM_DiarizeDeployment)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Clustering(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<uint8_t> m(size_t(n) * n, 0);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> same(170, 240);
  for (int k = 0; k < n; ++k)
    for (int j = 0; j < n; ++j)
      if (SpeakerOf(k) == SpeakerOf(j)) m[size_t(k) * n + j] = uint8_t(same(rng));
  drumlin::SpeakerClustering clustering;
  for (auto _ : state) benchmark::DoNotOptimize(clustering.Run(m.data(), n));
  state.counters["clusters"] = clustering.clusterCount();
}
BENCHMARK(BM_Clustering)->Arg(150)->Arg(512)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
