// MFCC of 60 s of 8 kHz speech-like audio with the deployment's options
// (40 bins, 40 cepstra, dither 1, povey window), one thread.
//
// BM_MfccDeployment/<type> is the whole per-frame chain as the frame drivers
// run it (ExtractFrame, ConditionFrame, MfccComputer::Compute). The Stage
// benchmarks time the parts over the same 6000 frames: dither alone, the
// rest of the conditioning, the real FFT, the mel bank, and the whole
// Compute (whose remainder after FFT and mel is power spectrum, log, DCT,
// lifter). BM_TorchaudioKaldiMfcc times torchaudio.compliance.kaldi.mfcc
// (dither 0, same frame and bank options) in /usr/bin/python3 with one torch
// thread, and is skipped when torchaudio is not installed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "IvectorExt/featext/feature-window.h"
#include "IvectorExt/featext/mel-computations.h"
#include "IvectorExt/featext/mfcc-computer.h"
#include "IvectorExt/featext/split-radix-fft.h"

namespace {

using namespace jor_feat;

constexpr int kSampleRate = 8000;
constexpr int kSeconds = 60;
constexpr uint32_t kSeed = 6793;

MfccOptions DeploymentOptions() {
  MfccOptions o;
  o.mel_opts.num_bins = 40;
  o.num_ceps = 40;
  o.frame_opts.dither = 1.0f;
  o.frame_opts.window_type = "povey";
  o.frame_opts.ComputeDerived();
  return o;
}

// Voiced segments (glottal harmonics through two moving formants, 4 Hz
// syllable envelope) with pauses and a little noise, in 16-bit range.
const std::vector<float>& SpeechLikeSignal() {
  static const std::vector<float> wave = [] {
    std::vector<float> w(kSampleRate * kSeconds);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 30.0);
    double phase = 0;
    for (size_t i = 0; i < w.size(); ++i) {
      const double t = static_cast<double>(i) / kSampleRate;
      const double f0 = 120.0 + 30.0 * std::sin(2 * M_PI * 0.7 * t);
      phase += 2 * M_PI * f0 / kSampleRate;
      const double f1 = 600 + 250 * std::sin(2 * M_PI * 2.1 * t);
      const double f2 = 1700 + 500 * std::sin(2 * M_PI * 1.3 * t);
      double v = 0;
      for (int h = 1; h * f0 < 3800; ++h) {
        const double fh = h * f0;
        const double gain = 1.0 / (1.0 + std::pow((fh - f1) / 150.0, 2)) +
                            0.5 / (1.0 + std::pow((fh - f2) / 200.0, 2)) + 0.02;
        v += gain * std::sin(h * phase);
      }
      const double syllable = std::max(0.0, std::sin(2 * M_PI * 4.0 * t));
      const bool pause = std::fmod(t, 3.0) > 2.4;
      w[i] = static_cast<float>((pause ? 0.0 : 3000.0 * syllable * v) + noise(rng));
    }
    return w;
  }();
  return wave;
}

template <typename T>
std::vector<T> Wave() {
  const std::vector<float>& w = SpeechLikeSignal();
  return std::vector<T>(w.begin(), w.end());
}

void SetAudioCounters(benchmark::State& state) {
  // Seconds of audio per second of processing, and milliseconds per audio second.
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(kSeconds) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["ms_per_audio_s"] =
      benchmark::Counter(1000.0 / kSeconds * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Stands in for the quality checker: reads what it is given.
template <typename T>
class TouchObserver : public SpectrumObserver<T> {
 public:
  void ObserveSpectrum(const T* magnitude, int32_t count) override {
    sum_ += magnitude[count / 2];
    benchmark::DoNotOptimize(sum_);
  }

 private:
  T sum_ = 0;
};

// Argument 1: with a spectrum observer, as in the pipelines (adds the
// magnitude spectrum per frame).
template <typename T>
void BM_MfccDeployment(benchmark::State& state) {
  TouchObserver<T> touch;
  SpectrumObserver<T>* observer = state.range(0) ? &touch : nullptr;
  const MfccOptions o = DeploymentOptions();
  const std::vector<T> wave = Wave<T>();
  MfccComputer<T> computer(o);
  const WindowFunction<T> window = BuildWindowFunction<T>(o.frame_opts);
  DitherEngine engine(kSeed);
  DitherDistribution dist(0.0f, 1.0f);
  const int32_t n = static_cast<int32_t>(wave.size());
  const int32_t frames = static_cast<int32_t>(NumFrames(n, o.frame_opts, true));
  const int32_t dim = computer.CepstralDim();
  std::vector<T> features(static_cast<size_t>(frames) * dim), frame;
  const bool raw = computer.UsesRawEnergy();
  for (auto _ : state) {
    engine.seed(kSeed);
    for (int32_t f = 0; f < frames; ++f) {
      ExtractFrame<T>(0, wave.data(), &n, &f, o.frame_opts, &frame);
      T energy = 0;
      ConditionFrame<T>(o.frame_opts, window, &engine, &dist, frame.data(),
                        &o.frame_opts.window_size, raw ? &energy : nullptr);
      computer.Compute(energy, frame.data(), &o.frame_opts.padded_window_size,
                       &features[static_cast<size_t>(f) * dim], observer);
    }
    benchmark::DoNotOptimize(features.data());
    benchmark::ClobberMemory();
  }
  SetAudioCounters(state);
  state.counters["frames"] = frames;
}
BENCHMARK(BM_MfccDeployment<float>)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MfccDeployment<double>)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Frames after extraction, prepared once so each stage sees realistic data.
struct StageData {
  MfccOptions o = DeploymentOptions();
  int32_t frames = 0;
  std::vector<float> extracted;    // frames x padded, raw samples
  std::vector<float> conditioned;  // frames x padded, after ConditionFrame
  std::vector<float> power;        // frames x (padded / 2 + 1)
  StageData() {
    const std::vector<float>& wave = SpeechLikeSignal();
    const int32_t n = static_cast<int32_t>(wave.size());
    const int32_t p = o.frame_opts.padded_window_size;
    frames = static_cast<int32_t>(NumFrames(n, o.frame_opts, true));
    extracted.resize(static_cast<size_t>(frames) * p);
    conditioned.resize(extracted.size());
    power.resize(static_cast<size_t>(frames) * (p / 2 + 1));
    const WindowFunction<float> window = BuildWindowFunction<float>(o.frame_opts);
    DitherEngine engine(kSeed);
    DitherDistribution dist(0.0f, 1.0f);
    SplitRadixRealFft<float> fft(p);
    std::vector<float> frame;
    for (int32_t f = 0; f < frames; ++f) {
      ExtractFrame<float>(0, wave.data(), &n, &f, o.frame_opts, &frame);
      std::copy(frame.begin(), frame.end(), extracted.begin() + static_cast<size_t>(f) * p);
      float e = 0;
      ConditionFrame<float>(o.frame_opts, window, &engine, &dist, frame.data(),
                            &o.frame_opts.window_size, &e);
      std::copy(frame.begin(), frame.end(), conditioned.begin() + static_cast<size_t>(f) * p);
      fft.Compute(frame.data(), true);
      float* pw = &power[static_cast<size_t>(f) * (p / 2 + 1)];
      pw[0] = frame[0] * frame[0];
      pw[p / 2] = frame[1] * frame[1];
      for (int k = 1; k < p / 2; ++k)
        pw[k] = frame[2 * k] * frame[2 * k] + frame[2 * k + 1] * frame[2 * k + 1];
    }
  }
};

const StageData& Stages() {
  static const StageData data;
  return data;
}

// Dither alone: ConditionFrame with every other step switched off (the
// rectangular window multiply remains).
void BM_StageDither(benchmark::State& state) {
  const StageData& d = Stages();
  MfccOptions o = d.o;
  o.frame_opts.remove_dc_offset = false;
  o.frame_opts.preemph_coeff = 0.0f;
  o.frame_opts.window_type = "rectangular";
  const WindowFunction<float> window = BuildWindowFunction<float>(o.frame_opts);
  const int32_t p = o.frame_opts.padded_window_size;
  std::vector<float> frames = d.extracted;
  DitherEngine engine(kSeed);
  DitherDistribution dist(0.0f, 1.0f);
  for (auto _ : state) {
    engine.seed(kSeed);
    for (int32_t f = 0; f < d.frames; ++f) {
      ConditionFrame<float>(o.frame_opts, window, &engine, &dist,
                            &frames[static_cast<size_t>(f) * p], &o.frame_opts.window_size,
                            nullptr);
    }
    benchmark::DoNotOptimize(frames.data());
  }
  SetAudioCounters(state);
}
BENCHMARK(BM_StageDither)->Unit(benchmark::kMillisecond);

// For scale: the same draws one sample at a time through the distribution.
void BM_DitherPlainLoop(benchmark::State& state) {
  const StageData& d = Stages();
  const int32_t p = d.o.frame_opts.padded_window_size, len = d.o.frame_opts.window_size;
  std::vector<float> frames = d.extracted;
  DitherEngine engine(kSeed);
  DitherDistribution dist(0.0f, 1.0f);
  for (auto _ : state) {
    engine.seed(kSeed);
    for (int32_t f = 0; f < d.frames; ++f) {
      float* x = &frames[static_cast<size_t>(f) * p];
      for (int32_t i = 0; i < len; ++i) x[i] += 1.0f * dist(engine);
    }
    benchmark::DoNotOptimize(frames.data());
  }
  SetAudioCounters(state);
}
BENCHMARK(BM_DitherPlainLoop)->Unit(benchmark::kMillisecond);

// Extraction plus conditioning without dither (DC, energy, pre-emphasis, window).
void BM_StageFraming(benchmark::State& state) {
  const StageData& d = Stages();
  MfccOptions o = d.o;
  o.frame_opts.dither = 0.0f;
  const std::vector<float>& wave = SpeechLikeSignal();
  const int32_t n = static_cast<int32_t>(wave.size());
  const WindowFunction<float> window = BuildWindowFunction<float>(o.frame_opts);
  DitherEngine engine(kSeed);
  DitherDistribution dist(0.0f, 1.0f);
  std::vector<float> frame;
  for (auto _ : state) {
    for (int32_t f = 0; f < d.frames; ++f) {
      ExtractFrame<float>(0, wave.data(), &n, &f, o.frame_opts, &frame);
      float e = 0;
      ConditionFrame<float>(o.frame_opts, window, &engine, &dist, frame.data(),
                            &o.frame_opts.window_size, &e);
      benchmark::DoNotOptimize(e);
    }
    benchmark::DoNotOptimize(frame.data());
  }
  SetAudioCounters(state);
}
BENCHMARK(BM_StageFraming)->Unit(benchmark::kMillisecond);

void BM_StageFft(benchmark::State& state) {
  const StageData& d = Stages();
  const int32_t p = d.o.frame_opts.padded_window_size;
  SplitRadixRealFft<float> fft(p);
  std::vector<float> frames = d.conditioned;
  for (auto _ : state) {
    for (int32_t f = 0; f < d.frames; ++f) fft.Compute(&frames[static_cast<size_t>(f) * p], true);
    benchmark::DoNotOptimize(frames.data());
    state.PauseTiming();
    frames = d.conditioned;
    state.ResumeTiming();
  }
  SetAudioCounters(state);
}
BENCHMARK(BM_StageFft)->Unit(benchmark::kMillisecond);

void BM_StageMel(benchmark::State& state) {
  const StageData& d = Stages();
  const int32_t half = d.o.frame_opts.padded_window_size / 2;
  MelBanks<float> banks(d.o.mel_opts, d.o.frame_opts, 1.0f);
  std::vector<float> out(banks.NumBins());
  for (auto _ : state) {
    for (int32_t f = 0; f < d.frames; ++f) {
      banks.Compute(&d.power[static_cast<size_t>(f) * (half + 1)], &out);
      benchmark::DoNotOptimize(out.data());
    }
  }
  SetAudioCounters(state);
}
BENCHMARK(BM_StageMel)->Unit(benchmark::kMillisecond);

// The whole Compute on conditioned frames (FFT, power, mel, log, DCT, lifter).
void BM_StageCompute(benchmark::State& state) {
  const StageData& d = Stages();
  const int32_t p = d.o.frame_opts.padded_window_size;
  MfccComputer<float> computer(d.o);
  std::vector<float> frames = d.conditioned, feature(computer.CepstralDim());
  for (auto _ : state) {
    for (int32_t f = 0; f < d.frames; ++f) {
      computer.Compute(1.0f, &frames[static_cast<size_t>(f) * p], &p, feature.data(), nullptr);
      benchmark::DoNotOptimize(feature.data());
    }
    state.PauseTiming();
    frames = d.conditioned;
    state.ResumeTiming();
  }
  SetAudioCounters(state);
}
BENCHMARK(BM_StageCompute)->Unit(benchmark::kMillisecond);

void BM_TorchaudioKaldiMfcc(benchmark::State& state) {
  const char* script =
      "/usr/bin/python3 -c \""
      "import time, math, torch, torchaudio\n"
      "torch.set_num_threads(1)\n"
      "t = torch.arange(480000, dtype=torch.float32) / 8000\n"
      "w = (3000 * torch.sin(2 * math.pi * 150 * t) * torch.sin(2 * math.pi * 4 * t).clamp(min=0)"
      " + 30 * torch.randn(480000)).unsqueeze(0)\n"
      "kw = dict(sample_frequency=8000, num_mel_bins=40, num_ceps=40, dither=0.0,"
      " window_type='povey', low_freq=20.0, high_freq=3700.0, snip_edges=False,"
      " use_energy=True, raw_energy=True, cepstral_lifter=22.0)\n"
      "torchaudio.compliance.kaldi.mfcc(w, **kw)\n"
      "best = []\n"
      "for _ in range(15):\n"
      "    s = time.perf_counter(); torchaudio.compliance.kaldi.mfcc(w, **kw);"
      " best.append(time.perf_counter() - s)\n"
      "best.sort(); print(best[len(best) // 2])\n"
      "\" 2>/dev/null";
  FILE* pipe = popen(script, "r");
  double seconds = -1;
  if (pipe != nullptr) {
    if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
    pclose(pipe);
  }
  if (seconds <= 0) {
    state.SkipWithError("torchaudio (python3-torchaudio) not available");
    for (auto _ : state) {
    }
    return;
  }
  for (auto _ : state) state.SetIterationTime(seconds);
  // Rates from the measured time (the process's own CPU time is not it).
  state.counters["x_realtime"] = kSeconds / seconds;
  state.counters["ms_per_audio_s"] = 1000.0 * seconds / kSeconds;
}
BENCHMARK(BM_TorchaudioKaldiMfcc)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
