#include "drumlin/sinc-resampler.h"

#include <cmath>
#include <numbers>

namespace drumlin {

namespace {

constexpr int64_t kHalfTaps = 12;

inline int16_t Quantise(double sum) {
  double e = (sum + 1.0) * 0.5 * 65536.0;
  if (e < 0.0) e = 0.0;
  if (e > 65535.0) e = 65535.0;
  return static_cast<int16_t>(static_cast<int32_t>(e + 0.5) - 32768);
}

}  // namespace

uint64_t SincOutputFrames(uint64_t frames, int inRate) {
  const double r = inRate / static_cast<double>(kTargetRate);
  return static_cast<uint64_t>(static_cast<double>(frames) / r);
}

void SincResample(const int16_t* in, size_t frames, size_t inStride, int inRate, int16_t* out,
                  size_t outStride) {
  const double r = inRate / static_cast<double>(kTargetRate);
  const uint64_t count = SincOutputFrames(frames, inRate);
  const int64_t n = static_cast<int64_t>(frames);
  constexpr double kScale = 1.0 / 32768.0;
  for (uint64_t i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) * r;
    const int64_t k0 = static_cast<int64_t>(t);
    const int64_t lo = k0 - kHalfTaps < 0 ? 0 : k0 - kHalfTaps;
    const int64_t hi = k0 + kHalfTaps >= n ? n - 1 : k0 + kHalfTaps;
    double sum = 0.0;
    for (int64_t j = lo; j <= hi; ++j) {
      const double a = (t - static_cast<double>(j)) * std::numbers::pi;
      const double w = a == 0.0 ? 1.0 : std::sin(static_cast<float>(a)) / a;
      sum += w * (in[j * inStride] * kScale);
    }
    out[i * outStride] = Quantise(sum);
  }
}

}  // namespace drumlin
