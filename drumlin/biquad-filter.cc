#include "drumlin/biquad-filter.h"

#include <cmath>

namespace drumlin {

BiquadLowpass::BiquadLowpass(int sampleRate) {
  const float omega = 25132.742f / static_cast<float>(sampleRate);  // 2*pi*4000 / fs
  const float s = std::sin(omega);
  const float c = std::cos(omega);
  const float alpha = s / (2.0f * (1.0f / std::sqrt(2.0f)));
  const float a0 = 1.0f + alpha;
  b0_ = (1.0f - c) / 2.0f / a0;
  b1_ = (1.0f - c) / a0;
  b2_ = b0_;
  a1_ = -2.0f * c / a0;
  a2_ = (1.0f - alpha) / a0;
}

namespace {

// Truncation toward zero, wrapped to 16 bits. A non-finite or huge value
// (never produced from 16-bit input by a finite filter) becomes 0 rather
// than an undefined conversion.
inline int16_t ToInt16(float y) {
  if (!(std::fabs(y) < 2147483520.0f)) return 0;
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(y)));
}

}  // namespace

void BiquadLowpass::Run(int16_t* samples, size_t frames, size_t stride) const {
  float x1 = 0.0f, x2 = 0.0f, y1 = 0.0f, y2 = 0.0f;
  for (size_t n = 0; n < frames; ++n) {
    int16_t& v = samples[n * stride];
    const float x0 = v;
    const float y = b1_ * x1 + b0_ * x0 + b2_ * x2 - a1_ * y1 - a2_ * y2;
    const int16_t out = ToInt16(y);
    x2 = x1;
    x1 = x0;
    y2 = y1;
    y1 = out;
    v = out;
  }
}

}  // namespace drumlin
