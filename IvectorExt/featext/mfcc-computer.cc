#include "IvectorExt/featext/mfcc-computer.h"

#include <cmath>
#if defined(__AVX__)
#include <immintrin.h>
#endif
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "engine/logging.h"

namespace jor_feat {

namespace {

template <typename T>
constexpr const char* ComputeFuncName();
template <>
constexpr const char* ComputeFuncName<float>() {
  return "jor_feat::MfccComputer<float>::Compute";
}
template <>
constexpr const char* ComputeFuncName<double>() {
  return "jor_feat::MfccComputer<double>::Compute";
}

template <typename T>
constexpr T Sqrt2();
template <>
constexpr float Sqrt2<float>() {
  return 1.4142135f;
}
template <>
constexpr double Sqrt2<double>() {
  return 1.4142135623730951;
}

// out[k] = sqrt(in[k]). The square root is correctly rounded either way; the
// vector form only avoids the per-element errno check of std::sqrt, which
// keeps the plain loop scalar.
inline void SqrtArray(const float* in, float* out, int32_t n) {
  int32_t k = 0;
#if defined(__AVX__)
  for (; k + 8 <= n; k += 8) _mm256_storeu_ps(out + k, _mm256_sqrt_ps(_mm256_loadu_ps(in + k)));
#endif
  for (; k < n; ++k) out[k] = std::sqrt(in[k]);
}

inline void SqrtArray(const double* in, double* out, int32_t n) {
  int32_t k = 0;
#if defined(__AVX__)
  for (; k + 4 <= n; k += 4) _mm256_storeu_pd(out + k, _mm256_sqrt_pd(_mm256_loadu_pd(in + k)));
#endif
  for (; k < n; ++k) out[k] = std::sqrt(in[k]);
}

// The frame driver passes a frame length that does not match the FFT.
constexpr jor::Result kBadFrameLength = jor::kFeatInvalidArgument;

}  // namespace

template <typename T>
MfccComputer<T>::MfccComputer(const MfccOptions& options)
    : options_(options),
      num_ceps_(options.num_ceps),
      num_bins_(options.mel_opts.num_bins),
      log_energy_floor_(0) {
  if (num_bins_ < 1) {
    throw std::invalid_argument("num_bins must be at least 1, but is " + std::to_string(num_bins_));
  }
  if (num_ceps_ < 1 || num_ceps_ > num_bins_) {
    throw std::invalid_argument("num_ceps (" + std::to_string(num_ceps_) +
                                ") must be between 1 and num_bins (" + std::to_string(num_bins_) +
                                ")");
  }
  mel_energies_.assign(num_bins_, T(0));

  // Orthonormal DCT-II rows 0 .. num_ceps - 1 of the num_bins-point transform.
  const double n = num_bins_;
  dct_matrix_.resize(static_cast<size_t>(num_ceps_) * num_bins_);
  dct_columns_.resize(dct_matrix_.size());
  for (int32_t k = 0; k < num_ceps_; ++k) {
    for (int32_t j = 0; j < num_bins_; ++j) {
      const double v =
          k == 0 ? std::sqrt(1.0 / n) : std::sqrt(2.0 / n) * std::cos(M_PI / n * (j + 0.5) * k);
      dct_matrix_[static_cast<size_t>(k) * num_bins_ + j] = static_cast<T>(v);
      dct_columns_[static_cast<size_t>(j) * num_ceps_ + k] = static_cast<T>(v);
    }
  }

  const double q = options_.cepstral_lifter;
  if (q != 0.0) {
    lifter_coeffs_.resize(num_ceps_);
    for (int32_t i = 0; i < num_ceps_; ++i) {
      lifter_coeffs_[i] = static_cast<T>(1.0 + 0.5 * q * std::sin(M_PI * i / q));
    }
  }

  if (options_.energy_floor > 0.0f) log_energy_floor_ = std::log(T(options_.energy_floor));

  const int32_t padded = options_.frame_opts.padded_window_size;
  if (padded < 2) {
    throw std::invalid_argument("padded_window_size must be at least 2, but is " +
                                std::to_string(padded));
  }
  if ((padded & (padded - 1)) != 0) {
    throw std::invalid_argument("padded_window_size must be a power of two.");
  }
  fft_ = std::make_unique<SplitRadixRealFft<T>>(padded);
  magnitudes_.assign(padded / 2, T(0));

  // Both banks are built here so that a bad filter bank configuration is
  // refused now rather than on every frame.
  BuildMelBanks(1.0f);
  if (options_.vtln_warp != 1.0f) BuildMelBanks(options_.vtln_warp);
}

template <typename T>
MfccComputer<T>::~MfccComputer() = default;

template <typename T>
const MelBanks<T>* MfccComputer<T>::BuildMelBanks(float warp) {
  auto banks = std::make_unique<MelBanks<T>>(options_.mel_opts, options_.frame_opts, warp);
  if (banks->NumBins() != num_bins_) {
    throw std::invalid_argument("mel bank size does not match num_bins");
  }
  // The bank derives its FFT size from the millisecond options; it must not
  // reach past the power spectrum of this computer's FFT.
  const int32_t half = options_.frame_opts.padded_window_size / 2;
  for (const auto& bin : banks->GetBins()) {
    if (bin.first + static_cast<int32_t>(bin.second.size()) > half) {
      throw std::invalid_argument(
          "mel bank spans more FFT bins than padded_window_size provides (derived frame sizes out "
          "of date)");
    }
  }
  const MelBanks<T>* result = banks.get();
  mel_banks_[warp] = std::move(banks);
  return result;
}

template <typename T>
const MelBanks<T>* MfccComputer<T>::GetMelBanks(float warp) {
  auto it = mel_banks_.find(warp);
  if (it != mel_banks_.end()) return it->second.get();
  try {
    return BuildMelBanks(warp);
  } catch (const std::exception&) {
    return nullptr;
  }
}

template <typename T>
int MfccComputer<T>::Compute(T raw_log_energy, T* frame, const int32_t* frame_length, T* feature,
                             SpectrumObserver<T>* observer) {
  const int32_t padded = fft_->NReal();
  if (frame_length == nullptr || *frame_length != padded || frame == nullptr ||
      feature == nullptr) {
    jor_log::LogF(__FILE__, ComputeFuncName<T>(), __LINE__, jor_log::kError,
                  "Frame length %d does not match the FFT size %d.",
                  frame_length != nullptr ? *frame_length : -1, padded);
    return kBadFrameLength;
  }

  if (options_.use_energy && !options_.raw_energy) {
    T e0 = 0, e1 = 0, e2 = 0, e3 = 0;
    int32_t i = 0;
    for (; i + 4 <= padded; i += 4) {
      e0 += frame[i] * frame[i];
      e1 += frame[i + 1] * frame[i + 1];
      e2 += frame[i + 2] * frame[i + 2];
      e3 += frame[i + 3] * frame[i + 3];
    }
    for (; i < padded; ++i) e0 += frame[i] * frame[i];
    const T energy = (e0 + e1) + (e2 + e3);
    const T floor = std::numeric_limits<T>::min();
    raw_log_energy = std::log(energy > floor ? energy : floor);
  }

  fft_->Compute(frame, true);

  // Power spectrum in place: entries 0 .. padded / 2.
  const int32_t half = padded / 2;
  {
    const T d0 = frame[0] * frame[0];
    const T dh = frame[1] * frame[1];
    for (int32_t k = 1; k < half; ++k) {
      const T re = frame[2 * k], im = frame[2 * k + 1];
      frame[k] = re * re + im * im;
    }
    frame[0] = d0;
    frame[half] = dh;
  }

  if (observer != nullptr) {
    SqrtArray(frame, magnitudes_.data(), half);
    observer->ObserveSpectrum(magnitudes_.data(), half);
  }

  const MelBanks<T>* banks = GetMelBanks(options_.vtln_warp);
  if (banks == nullptr) {
    jor_log::LogF(__FILE__, ComputeFuncName<T>(), 133, jor_log::kError,
                  "Failed to memory allocatoin for mel-filter-bank.");
    return jor::kMelBankFailure;
  }
  banks->Compute(frame, &mel_energies_);

  const T eps = std::numeric_limits<T>::epsilon();
  T* __restrict mel = mel_energies_.data();
  for (int32_t b = 0; b < num_bins_; ++b) mel[b] = std::log(mel[b] < eps ? eps : mel[b]);

  // Column-wise accumulation: each coefficient still sums its terms in bin
  // order, and the inner loop runs across coefficients so it vectorises.
  {
    T* __restrict out = feature;
    const T* __restrict cols = dct_columns_.data();
    const int32_t nc = num_ceps_;
    for (int32_t k = 0; k < nc; ++k) out[k] = T(0);
    for (int32_t j = 0; j < num_bins_; ++j) {
      const T x = mel[j];
      const T* __restrict col = cols + static_cast<size_t>(j) * nc;
      for (int32_t k = 0; k < nc; ++k) out[k] += col[k] * x;
    }
  }

  if (!lifter_coeffs_.empty()) {
    const T* lift = lifter_coeffs_.data();
    for (int32_t k = 0; k < num_ceps_; ++k) feature[k] *= lift[k];
  }

  if (options_.use_energy) {
    if (options_.energy_floor > 0.0f && raw_log_energy < log_energy_floor_) {
      raw_log_energy = log_energy_floor_;
    }
    feature[0] = raw_log_energy;
  }

  if (options_.htk_compat) {
    T e0 = feature[0];
    for (int32_t k = 0; k + 1 < num_ceps_; ++k) feature[k] = feature[k + 1];
    if (!options_.use_energy) e0 *= Sqrt2<T>();
    feature[num_ceps_ - 1] = e0;
  }
  return 0;
}

template class MfccComputer<float>;
template class MfccComputer<double>;

}  // namespace jor_feat
