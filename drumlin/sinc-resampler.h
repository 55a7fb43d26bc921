// Brings 16-bit samples to 8000 Hz with a 25-tap sinc interpolator (no
// window, no extra low-pass): every output sums the 12 input samples on each
// side of its position and the one at it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drumlin {

constexpr int kTargetRate = 8000;

// Output frames for `frames` input frames at `inRate` (> 0): trunc(frames / r)
// with r = inRate / 8000.
uint64_t SincOutputFrames(uint64_t frames, int inRate);

// Resamples one channel: reads `frames` samples `inStride` apart from `in` and
// writes SincOutputFrames(frames, inRate) samples `outStride` apart to `out`.
void SincResample(const int16_t* in, size_t frames, size_t inStride, int inRate, int16_t* out,
                  size_t outStride);

}  // namespace drumlin
