// The window diarizer on a 10-minute recording: the trained test
// deployment's two-voice conversation (80 s) repeated 7.5 times, or the
// deployment named by JOR_TEST_DEPLOYMENT. The goal is a real-time factor of
// 0.05 on one core (30 s for 10 minutes); counters give the factor and where
// the time goes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "drumlin/window-diarizer.h"

namespace {

void BM_WindowDiarizeTenMinutes(benchmark::State& state) {
  const std::string trained = std::string(JOR_SOURCE_DIR) + "/tests/data/trained";
  const char* env = std::getenv("JOR_TEST_DEPLOYMENT");
  const std::string deployment = env && *env ? env : trained;
  drumlin::WindowDiarizer diarizer;
  if (diarizer.Load(deployment.c_str()) != 0) {
    state.SkipWithError(("cannot load " + deployment).c_str());
    return;
  }
  std::vector<short> voices;
  if (drumlin::DecodeAudioFile((trained + "/conversation/two-voices.wav").c_str(), &voices) != 0 ||
      voices.empty()) {
    state.SkipWithError("cannot read the two-voice conversation");
    return;
  }
  const size_t samples = 600 * 8000;
  std::vector<short> pcm;
  pcm.reserve(samples);
  while (pcm.size() < samples)
    pcm.insert(pcm.end(), voices.begin(),
               voices.begin() + std::min(voices.size(), samples - pcm.size()));
  drumlin::WindowDiarization result;
  double features = 0, embedding = 0, scoring = 0, clustering = 0, reseg = 0;
  for (auto _ : state) {
    if (diarizer.Diarize(pcm, {}, &result) != 0) {
      state.SkipWithError("diarization failed");
      return;
    }
    features += result.featureSeconds;
    embedding += result.embeddingSeconds;
    scoring += result.scoringSeconds;
    clustering += result.clusteringSeconds;
    reseg += result.resegmentationSeconds;
  }
  const double n = static_cast<double>(state.iterations());
  const double total = (features + embedding + scoring + clustering + reseg) / n;
  state.counters["rtf"] = total / 600.0;
  state.counters["features_s"] = features / n;
  state.counters["embedding_s"] = embedding / n;
  state.counters["scoring_s"] = scoring / n;
  state.counters["clustering_s"] = clustering / n;
  state.counters["resegmentation_s"] = reseg / n;
  state.counters["windows"] = result.windowCount;
  state.counters["speakers"] = static_cast<double>(result.speakers.size());
}
BENCHMARK(BM_WindowDiarizeTenMinutes)->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace
BENCHMARK_MAIN();
