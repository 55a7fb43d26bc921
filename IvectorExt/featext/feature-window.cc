#include "IvectorExt/featext/feature-window.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/logging.h"

namespace jor_feat {

namespace {

constexpr const char* kNumFramesFunc = "jor_feat::NumFrames";

// Single-precision machine epsilon, the floor of the raw log energy in both
// instantiations.
constexpr float kEnergyEpsilon = 1.1920929e-7f;

// Folds `i` into [0, n) by reflection at both edges (-1 -> 0, n -> n - 1);
// the reflection repeats with period 2n, so a modulo does all rounds at once.
inline int64_t Reflect(int64_t i, int64_t n) {
  const int64_t period = 2 * n;
  int64_t r = i % period;
  if (r < 0) r += period;
  return r < n ? r : period - 1 - r;
}

}  // namespace

int64_t NumFrames(int64_t num_samples, const FrameExtractionOptions& opts, bool flush) {
  const int64_t shift = opts.window_shift;
  const int64_t length = opts.window_size;
  if (shift <= 0 || length <= 0 || num_samples < 0) return 0;
  if (opts.snip_edges) {
    jor_log::LogF(__FILE__, kNumFramesFunc, 59, jor_log::kTrace, "snip edge : true");
    if (num_samples < length) {
      jor_log::LogF(__FILE__, kNumFramesFunc, 65, jor_log::kWarning,
                    "num_samples(%d) less than frame_length(%d)", static_cast<int>(num_samples),
                    static_cast<int>(length));
      return 0;
    }
    return (num_samples - length) / shift + 1;
  }
  jor_log::LogF(__FILE__, kNumFramesFunc, 75, jor_log::kTrace, "snip edge: false");
  int64_t num_frames = (num_samples + shift / 2) / shift;
  if (flush) return num_frames;
  int64_t end = FrameStartSample(num_frames - 1, opts) + length;
  while (num_frames > 0 && end > num_samples) {
    --num_frames;
    end -= shift;
  }
  return num_frames;
}

int64_t FrameStartSample(int64_t frame, const FrameExtractionOptions& opts) {
  const int64_t shift = opts.window_shift;
  if (opts.snip_edges) return frame * shift;
  return frame * shift - opts.window_size / 2 + shift / 2;
}

template <typename T>
void ExtractFrame(int64_t sample_offset, const T* wave, const int32_t* num_samples,
                  const int32_t* frame, const FrameExtractionOptions& opts,
                  std::vector<T>* window) {
  const int32_t padded = opts.padded_window_size > 0 ? opts.padded_window_size : 0;
  const int32_t length =
      opts.window_size < padded ? (opts.window_size > 0 ? opts.window_size : 0) : padded;
  if (window->size() != static_cast<size_t>(padded)) window->resize(padded);
  T* out = window->data();
  const int64_t n = (num_samples != nullptr && wave != nullptr) ? *num_samples : 0;
  if (n <= 0) {
    std::fill(out, out + padded, T(0));
    return;
  }
  const int64_t start = FrameStartSample(*frame, opts) - sample_offset;
  if (start >= 0 && start + length <= n) {
    std::memcpy(out, wave + start, sizeof(T) * static_cast<size_t>(length));
  } else {
    for (int32_t s = 0; s < length; ++s) out[s] = wave[Reflect(start + s, n)];
  }
  for (int32_t s = length; s < padded; ++s) out[s] = T(0);
}

template <typename T>
void ConditionFrame(const FrameExtractionOptions& opts, const WindowFunction<T>& window,
                    DitherEngine* engine, DitherDistribution* distribution, T* frame,
                    const int32_t* length, T* raw_log_energy) {
  const int32_t n =
      *length < static_cast<int32_t>(window.size()) ? *length : static_cast<int32_t>(window.size());
  if (n <= 0) {
    if (raw_log_energy != nullptr) *raw_log_energy = std::log(static_cast<T>(kEnergyEpsilon));
    return;
  }

  if (opts.dither != 0.0f) {
    // The product is formed in float and then widened (double frames).
    const float dither = opts.dither;
    DitherDistribution& dist = *distribution;
    DitherEngine& eng = *engine;
    for (int32_t i = 0; i < n; ++i) frame[i] += static_cast<T>(dither * dist(eng));
  }

  if (opts.remove_dc_offset) {
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
      s0 += frame[i];
      s1 += frame[i + 1];
      s2 += frame[i + 2];
      s3 += frame[i + 3];
    }
    for (; i < n; ++i) s0 += frame[i];
    const T mean = static_cast<T>((s0 + s1) + (s2 + s3)) / static_cast<T>(n);
    for (i = 0; i < n; ++i) frame[i] -= mean;
  }

  if (raw_log_energy != nullptr) {
    T e0 = 0, e1 = 0, e2 = 0, e3 = 0;
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
      e0 += frame[i] * frame[i];
      e1 += frame[i + 1] * frame[i + 1];
      e2 += frame[i + 2] * frame[i + 2];
      e3 += frame[i + 3] * frame[i + 3];
    }
    for (; i < n; ++i) e0 += frame[i] * frame[i];
    const T energy = (e0 + e1) + (e2 + e3);
    const T floor = static_cast<T>(kEnergyEpsilon);
    *raw_log_energy = std::log(energy > floor ? energy : floor);
  }

  if (opts.preemph_coeff != 0.0f) {
    const T q = static_cast<T>(opts.preemph_coeff);
    for (int32_t i = n - 1; i > 0; --i) frame[i] -= q * frame[i - 1];
    frame[0] -= q * frame[0];
  }

  const T* w = window.data();
  for (int32_t i = 0; i < n; ++i) frame[i] *= w[i];
}

template <typename T>
WindowFunction<T> BuildWindowFunction(const FrameExtractionOptions& opts) {
  const int32_t n = opts.window_size;
  if (n <= 0) {
    throw std::invalid_argument("opts.window_size must be > 0, but " + std::to_string(n));
  }
  const std::string& type = opts.window_type;
  enum { kHanning, kHamming, kPovey, kRectangular, kBlackman } kind;
  if (type == "hanning") {
    kind = kHanning;
  } else if (type == "hamming") {
    kind = kHamming;
  } else if (type == "povey") {
    kind = kPovey;
  } else if (type == "rectangular") {
    kind = kRectangular;
  } else if (type == "blackman") {
    kind = kBlackman;
  } else {
    throw std::invalid_argument("Unknown window type: " + type);
  }
  WindowFunction<T> window(n);
  // A one-sample window would divide by zero below; its only weight is 1.
  const double a = n > 1 ? 2.0 * M_PI / (n - 1) : 0.0;
  const double b = opts.blackman_coeff;
  for (int32_t i = 0; i < n; ++i) {
    const double c = std::cos(a * i);
    double v = 1.0;
    switch (kind) {
      case kHanning:
        v = 0.5 - 0.5 * c;
        break;
      case kHamming:
        v = 0.54 - 0.46 * c;
        break;
      case kPovey:
        v = std::pow(0.5 - 0.5 * c, 0.85);
        break;
      case kRectangular:
        v = 1.0;
        break;
      case kBlackman:
        v = b - 0.5 * c + (0.5 - b) * std::cos(2.0 * a * i);
        break;
    }
    window[i] = static_cast<T>(v);
  }
  return window;
}

#define JOR_INSTANTIATE_FEATURE_WINDOW(T)                                                      \
  template void ExtractFrame<T>(int64_t, const T*, const int32_t*, const int32_t*,             \
                                const FrameExtractionOptions&, std::vector<T>*);               \
  template void ConditionFrame<T>(const FrameExtractionOptions&, const WindowFunction<T>&,     \
                                  DitherEngine*, DitherDistribution*, T*, const int32_t*, T*); \
  template WindowFunction<T> BuildWindowFunction<T>(const FrameExtractionOptions&);

JOR_INSTANTIATE_FEATURE_WINDOW(float)
JOR_INSTANTIATE_FEATURE_WINDOW(double)

#undef JOR_INSTANTIATE_FEATURE_WINDOW

}  // namespace jor_feat
