// Decoding a 10-minute 44.1 kHz stereo MP3 to 8 kHz mono PCM, and where the
// time goes: LAME decoding with the stereo mix versus the sinc resampler.
// Goal: at least 200x real time on one core.
//
// Built by drumlin/CMakeLists.txt (it needs the decoder library, not the
// engine); the file name keeps it out of bench/'s own glob.
#include <benchmark/benchmark.h>
#include <lame/lame.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

#include "drumlin/audec.h"
#include "drumlin/sinc-resampler.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 600;

// Voice-band tones that wander in pitch and loudness, plus a little noise,
// encoded at 128 kbit/s CBR with the LAME library.
const std::vector<uint8_t>& TenMinuteMp3() {
  static const std::vector<uint8_t> mp3 = [] {
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, kRate);
    lame_set_out_samplerate(lame, kRate);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, 128);
    lame_set_quality(lame, 7);
    lame_init_params(lame);
    std::vector<uint8_t> out;
    const int block = kRate;  // one second at a time
    std::vector<short> pcm(2 * block);
    std::vector<unsigned char> buf(block * 5 / 4 + 7200);
    uint32_t noise = 1;
    double phase1 = 0, phase2 = 0;
    for (int s = 0; s < kSeconds; ++s) {
      for (int n = 0; n < block; ++n) {
        const double t = s + double(n) / kRate;
        phase1 += 2 * std::numbers::pi * (180 + 60 * std::sin(0.7 * t)) / kRate;
        phase2 += 2 * std::numbers::pi * (1200 + 400 * std::sin(0.3 * t)) / kRate;
        const double env = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
        noise = noise * 1664525u + 1013904223u;
        const double nz = (int32_t(noise) >> 20) / 2048.0;
        const double v = env * (0.4 * std::sin(phase1) + 0.15 * std::sin(phase2)) + 0.02 * nz;
        pcm[2 * n] = static_cast<short>(v * 30000);
        pcm[2 * n + 1] = static_cast<short>((0.8 * v + 0.01 * nz) * 30000);
      }
      const int bytes = lame_encode_buffer_interleaved(lame, pcm.data(), block, buf.data(),
                                                       static_cast<int>(buf.size()));
      if (bytes > 0) out.insert(out.end(), buf.begin(), buf.begin() + bytes);
    }
    const int bytes = lame_encode_flush(lame, buf.data(), static_cast<int>(buf.size()));
    if (bytes > 0) out.insert(out.end(), buf.begin(), buf.begin() + bytes);
    lame_close(lame);
    return out;
  }();
  return mp3;
}

void SetRealTime(benchmark::State& state) {
  // Seconds of audio per second of run time.
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

// The whole default path: decode, mix to mono, resample to 8 kHz.
void BM_DecodeMp3To8kMono(benchmark::State& state) {
  const auto& mp3 = TenMinuteMp3();
  std::vector<uint8_t> out;
  for (auto _ : state) {
    Audec a;
    if (a.Decode(AudecFormatMp3, mp3.data(), mp3.size(), &out) != 0) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["out_bytes"] = static_cast<double>(out.size());
  SetRealTime(state);
}

// Decode and mix only (no resampling): the LAME share of the default path.
void BM_DecodeMp3MonoNoResample(benchmark::State& state) {
  const auto& mp3 = TenMinuteMp3();
  std::vector<uint8_t> out;
  for (auto _ : state) {
    Audec a;
    a.DownSampling(false);
    if (a.Decode(AudecFormatMp3, mp3.data(), mp3.size(), &out) != 0) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetRealTime(state);
}

// The resampler alone on 10 minutes of 44.1 kHz mono.
void BM_SincResample44kTo8k(benchmark::State& state) {
  std::vector<int16_t> in(static_cast<size_t>(kRate) * kSeconds);
  for (size_t i = 0; i < in.size(); ++i) {
    in[i] = static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * 440 * i / kRate));
  }
  std::vector<int16_t> out(drumlin::SincOutputFrames(in.size(), kRate));
  for (auto _ : state) {
    drumlin::SincResample(in.data(), in.size(), 1, kRate, out.data(), 1);
    benchmark::DoNotOptimize(out.data());
  }
  SetRealTime(state);
}

BENCHMARK(BM_DecodeMp3To8kMono)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeMp3MonoNoResample)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SincResample44kTo8k)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
