// Second-order low-pass with its corner at 4 kHz (Q = 1/sqrt(2)), run in
// single precision over 16-bit samples before they are brought to 8 kHz.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drumlin {

class BiquadLowpass {
 public:
  explicit BiquadLowpass(int sampleRate);

  // Filters `frames` samples spaced `stride` apart, in place, from zero state.
  // Each output is truncated toward zero and wrapped to 16 bits; the wrapped
  // value is what feeds back.
  void Run(int16_t* samples, size_t frames, size_t stride) const;

  float b0() const { return b0_; }
  float b1() const { return b1_; }
  float b2() const { return b2_; }
  float a1() const { return a1_; }
  float a2() const { return a2_; }

 private:
  float b0_, b1_, b2_, a1_, a2_;
};

}  // namespace drumlin
