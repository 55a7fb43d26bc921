// Triangular mel filter bank over the power spectrum of one frame.
//
// Usage:
//   MelBanks<float> banks(opts.mel_opts, opts.frame_opts, /*warp=*/1.0f);  // may throw
//   std::vector<float> energies(banks.NumBins());
//   banks.Compute(power, &energies);  // power: padded_window_size / 2 (+1) values
// Each bin keeps only the span of FFT indices its triangle covers.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "IvectorExt/featext/mfcc-options.h"

namespace jor_feat {

// Mel scale in single precision, as the banks use it.
float MelScale(float freq);
float InverseMelScale(float mel);

// VTLN warping of `freq` (Hz) by `warp`; frequencies outside [low, high] are
// returned unchanged.
float VtlnWarpFreq(float vtln_low, float vtln_high, float low, float high, float warp, float freq);

template <typename T>
class MelBanks {
 public:
  // Throws std::invalid_argument for an unusable configuration: no bins, a
  // frequency range outside (0, Nyquist], a warp factor that is not positive,
  // or a bin whose triangle covers no FFT index.
  MelBanks(const MelBanksOptions& mel_opts, const FrameExtractionOptions& frame_opts, float warp);
  virtual ~MelBanks() = default;

  // mel_energies->size() must be NumBins(); nothing is allocated.
  virtual void Compute(const T* power_spectrum, std::vector<T>* mel_energies) const;

  int32_t NumBins() const { return static_cast<int32_t>(bins_.size()); }
  // Centre frequency of each bin in Hz.
  const std::vector<T>& GetCenterFreqs() const { return center_freqs_; }
  // (first FFT index, weights) per bin.
  const std::vector<std::pair<int32_t, std::vector<T>>>& GetBins() const { return bins_; }

 private:
  std::vector<T> center_freqs_;
  std::vector<std::pair<int32_t, std::vector<T>>> bins_;
  bool debug_;
  bool htk_mode_;
};

}  // namespace jor_feat
