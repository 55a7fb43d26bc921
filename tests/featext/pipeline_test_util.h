// Shared pieces of the pipeline tests: synthetic speech, plain reference
// versions of VAD and sliding CMVN, and log capture.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "IvectorExt/featext/feature-tpl.h"
#include "IvectorExt/featext/mfcc-computer.h"
#include "engine/logging.h"
#include "tests/support/test-dir.h"

namespace jor_feat_test {

// Defaults, with as many mel bins as cepstra (the default 23 bins cannot
// carry the default 40 cepstra).
inline jor_feat::MfccOptions Options() {
  jor_feat::MfccOptions o;
  o.mel_opts.num_bins = 40;
  return o;
}

// Loud voiced-like stretches (two of every three 0.5 s blocks) and near
// silence in between.
inline std::vector<short> Speechy(int samples, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<short> pcm(samples);
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < samples; ++i) {
    const bool loud = (i / 4000) % 3 != 2;
    double v = 0;
    if (loud) {
      const double env = 0.6 + 0.4 * std::sin(2 * pi * i / 2500.0);
      v = env * (2500 * std::sin(2 * pi * 310 * i / 8000.0) +
                 1200 * std::sin(2 * pi * 1130 * i / 8000.0) +
                 600 * std::sin(2 * pi * 2470 * i / 8000.0)) +
          150 * noise(gen);
    } else {
      v = 4 * noise(gen);
    }
    pcm[i] = static_cast<short>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
  }
  return pcm;
}

// MFCC rows (delta blocks zero) as the whole-utterance driver computes them.
inline std::vector<double> RawRows(const jor_feat::MfccOptions& resolved,
                                   const std::vector<short>& pcm, int* frames, int* dim) {
  jor_feat::OfflineFeatureTpl<jor_feat::MfccComputer<float>, float> driver(resolved, 6793);
  const std::vector<float> wave(pcm.begin(), pcm.end());
  std::vector<float> rows;
  driver.Compute(wave.data(), static_cast<int64_t>(wave.size()), &rows, frames, dim, nullptr);
  return std::vector<double>(rows.begin(), rows.end());
}

// Voice decisions over in-range context frames.
inline std::vector<bool> ReferenceVad(const std::vector<double>& energy, double threshold,
                                      int context, double proportion) {
  const int n = static_cast<int>(energy.size());
  std::vector<bool> voiced(n);
  for (int t = 0; t < n; ++t) {
    int num = 0, den = 0;
    for (int u = t - context; u <= t + context; ++u) {
      if (u < 0 || u >= n) continue;
      ++den;
      num += energy[u] > threshold;
    }
    voiced[t] = num >= den * proportion;
  }
  return voiced;
}

// Row t minus the mean of its window [start, end) of rows.
inline std::vector<double> SubtractWindowMean(const std::vector<double>& rows, int dim, int t,
                                              int start, int end) {
  std::vector<double> out(dim);
  for (int c = 0; c < dim; ++c) {
    double mean = 0;
    for (int r = start; r < end; ++r) mean += rows[r * dim + c];
    out[c] = rows[t * dim + c] - mean / (end - start);
  }
  return out;
}

// Delta blocks for window 2, order 2, neighbours clamped to [0, last].
inline void AddDeltas(std::vector<double>* rows, int frames, int ceps, int last) {
  const double s1[5] = {-0.2, -0.1, 0.0, 0.1, 0.2};
  const double s2[9] = {0.04, 0.04, 0.01, -0.04, -0.10, -0.04, 0.01, 0.04, 0.04};
  const int dim = 3 * ceps;
  for (int t = 0; t < frames; ++t) {
    for (int j = -4; j <= 4; ++j) {
      const int r = std::min(std::max(t + j, 0), last);
      for (int c = 0; c < ceps; ++c) {
        if (j >= -2 && j <= 2) (*rows)[t * dim + ceps + c] += s1[j + 2] * (*rows)[r * dim + c];
        (*rows)[t * dim + 2 * ceps + c] += s2[j + 4] * (*rows)[r * dim + c];
      }
    }
  }
}

// Sends the engine log at trace level to a file of `dir`.
inline std::string CaptureLog(const jor_test::TestDir& dir) {
  const std::string log = dir.File("engine.log");
  jor_test::WriteFile(dir.File("log-options.json"),
                      "{\"LogOptions\": {\"filename\": \"" + log + "\", \"level\": 0}}");
  jor_log::SetupLogging(dir.File("log-options.json"));
  return log;
}

// Turns the engine log off again (later tests run at full speed).
inline void StopLog(const jor_test::TestDir& dir) {
  jor_test::WriteFile(dir.File("log-off.json"), "{\"LogOptions\": {\"filename\": \"" +
                                                    dir.File("off.log") + "\", \"level\": 6}}");
  jor_log::SetupLogging(dir.File("log-off.json"));
}

inline bool Contains(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

}  // namespace jor_feat_test
