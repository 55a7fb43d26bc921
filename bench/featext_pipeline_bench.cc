// Feature pipelines on synthetic speech at 8 kHz.
//
// BM_BatchPipeline60s: one whole-utterance extraction (MFCC, VAD, centred
// sliding CMVN, quality) of 60 s; "x_realtime" is audio seconds per second.
// BM_OnlineChunks180s: a 180 s stream fed as 20 ms chunks (PutPcm +
// ExtractFeat per chunk); the counters give the median cost of one chunk
// during the second that starts at 1 s, 60 s and 179 s of the stream.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "IvectorExt/featext/feat-extractor.h"
#include "IvectorExt/featext/online-feature-extractor.h"

namespace {

constexpr int kRate = 8000;

std::vector<short> Speech(int seconds) {
  std::mt19937 gen(17);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<short> pcm(static_cast<size_t>(seconds) * kRate);
  const double pi = 3.14159265358979323846;
  for (size_t i = 0; i < pcm.size(); ++i) {
    const bool loud = (i / 4000) % 3 != 2;
    double v = 4 * noise(gen);
    if (loud) {
      const double env = 0.6 + 0.4 * std::sin(2 * pi * i / 2500.0);
      v += env * (2500 * std::sin(2 * pi * 310 * i / kRate) +
                  1200 * std::sin(2 * pi * 1130 * i / kRate)) +
           150 * noise(gen);
    }
    pcm[i] = static_cast<short>(std::lround(std::clamp(v, -32768.0, 32767.0)));
  }
  return pcm;
}

jor_feat::MfccOptions Options() {
  jor_feat::MfccOptions o;
  o.mel_opts.num_bins = 40;  // room for the 40 cepstra
  return o;
}

void BM_BatchPipeline60s(benchmark::State& state) {
  const std::vector<short> pcm = Speech(60);
  const jor_feat::MfccOptions opts = Options();
  size_t rows = 0;
  for (auto _ : state) {
    jor_feat::FeatureExtractor<float> fx(opts, 6793);
    std::vector<float> mfcc, freq_snr;
    float duration, volume, snr, lo, hi;
    if (fx.ExtractFeature(pcm, &mfcc, &duration, &volume, &snr, &lo, &hi, &freq_snr) != 0)
      state.SkipWithError("extraction failed");
    rows = mfcc.size() / 40;
    benchmark::DoNotOptimize(mfcc.data());
  }
  state.counters["x_realtime"] =
      benchmark::Counter(60.0, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["voiced_rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_BatchPipeline60s)->Unit(benchmark::kMillisecond);

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

void BM_OnlineChunks180s(benchmark::State& state) {
  const std::vector<short> pcm = Speech(180);
  const jor_feat::MfccOptions opts = Options();
  constexpr size_t kChunk = kRate / 50;  // 20 ms
  constexpr size_t kPerSecond = 50;
  const size_t chunks = pcm.size() / kChunk;
  std::vector<double> cost_us(chunks);
  std::vector<double> at1, at60, at179;
  size_t rows = 0;
  for (auto _ : state) {
    OnlineFeatureExtractor<float> fx(opts, 6793);
    std::vector<float> mfcc, freq_snr;
    float duration, volume, snr, lo, hi;
    std::vector<short> piece(kChunk);
    for (size_t c = 0; c < chunks; ++c) {
      std::copy(pcm.begin() + c * kChunk, pcm.begin() + (c + 1) * kChunk, piece.begin());
      mfcc.clear();
      const auto t0 = std::chrono::steady_clock::now();
      const int put = fx.PutPcm(piece);
      const int got = fx.ExtractFeat(&mfcc, &duration, &volume, &snr, &lo, &hi, &freq_snr);
      const auto t1 = std::chrono::steady_clock::now();
      if (put != 0 || got != 0) {
        state.SkipWithError("chunk refused");
        break;
      }
      rows += mfcc.size() / 40;
      cost_us[c] = std::chrono::duration<double, std::micro>(t1 - t0).count();
    }
    auto second = [&](size_t s) {
      return std::vector<double>(cost_us.begin() + s * kPerSecond,
                                 cost_us.begin() + (s + 1) * kPerSecond);
    };
    at1.push_back(Median(second(1)));
    at60.push_back(Median(second(60)));
    at179.push_back(Median(second(179)));
  }
  state.counters["chunk_us_at_1s"] = Median(at1);
  state.counters["chunk_us_at_60s"] = Median(at60);
  state.counters["chunk_us_at_179s"] = Median(at179);
  state.counters["rows_per_stream"] =
      static_cast<double>(rows) / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
}
BENCHMARK(BM_OnlineChunks180s)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
