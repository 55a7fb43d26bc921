// MFCC of one conditioned frame: real FFT, power spectrum, mel bank, log,
// DCT, lifter and the energy coefficient.
//
// Usage (after ExtractFrame and ConditionFrame, see feature-window.h):
//   MfccComputer<float> computer(options);  // throws std::invalid_argument
//   int32_t padded = options.frame_opts.padded_window_size;
//   int status = computer.Compute(raw_log_energy, frame.data(), &padded, row, observer);
//   // row receives CepstralDim() values; frame is overwritten.
// Pass the raw log energy from ConditionFrame when UsesRawEnergy() is true,
// else 0. `observer` may be null; otherwise it sees padded / 2 magnitudes
// per frame. Compute allocates nothing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "IvectorExt/featext/mel-computations.h"
#include "IvectorExt/featext/mfcc-options.h"
#include "IvectorExt/featext/spectrum-observer.h"
#include "IvectorExt/featext/split-radix-fft.h"
#include "common/result-codes.h"

namespace jor_feat {

// jor::kMelBankFailure: the mel bank for the requested warp factor could not
// be made.

template <typename T>
class MfccComputer {
 public:
  // Throws std::invalid_argument when the padded window size is not a power
  // of two (or below 2), num_ceps is not in 1 .. num_bins, or the mel bank
  // cannot be built (see MelBanks).
  explicit MfccComputer(const MfccOptions& options);
  MfccComputer(const MfccComputer&) = delete;
  MfccComputer& operator=(const MfccComputer&) = delete;

  virtual int32_t CepstralDim() const { return num_ceps_; }
  virtual int32_t DeltaOrder() const { return options_.delta_order; }
  virtual bool UsesRawEnergy() const { return options_.use_energy && options_.raw_energy; }
  // `frame` holds *frame_length (= padded window size) samples and is
  // overwritten; `feature` receives CepstralDim() values. Returns 0 or
  // jor::kMelBankFailure.
  virtual int Compute(T raw_log_energy, T* frame, const int32_t* frame_length, T* feature,
                      SpectrumObserver<T>* observer);
  virtual ~MfccComputer();

  int32_t Dim() const { return num_ceps_; }
  const MfccOptions& GetOptions() const { return options_; }

  // The bank for `warp`, built and cached on first use; null when it cannot
  // be built.
  const MelBanks<T>* GetMelBanks(float warp);

 private:
  // Builds and caches the bank for `warp`; throws std::invalid_argument.
  const MelBanks<T>* BuildMelBanks(float warp);

  MfccOptions options_;
  std::vector<T> lifter_coeffs_;  // empty when cepstral_lifter is 0
  std::vector<T> dct_matrix_;     // num_ceps x num_bins, row-major
  std::vector<T> dct_columns_;    // the same, column-major (used per frame)
  int32_t num_ceps_;
  int32_t num_bins_;
  T log_energy_floor_;
  std::map<float, std::unique_ptr<MelBanks<T>>> mel_banks_;
  std::unique_ptr<SplitRadixRealFft<T>> fft_;
  std::vector<T> mel_energies_;
  std::vector<T> magnitudes_;  // handed to the observer
};

}  // namespace jor_feat
