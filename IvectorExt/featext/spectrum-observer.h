// Receives the magnitude spectrum of every analysed frame (the quality checker
// is the one observer in the engine).
#pragma once

#include <cstdint>

namespace jor_feat {

template <typename T>
class SpectrumObserver {
 public:
  virtual ~SpectrumObserver() = default;
  // `magnitude` holds `count` values: padded window size / 2.
  virtual void ObserveSpectrum(const T* magnitude, int32_t count) = 0;
};

}  // namespace jor_feat
