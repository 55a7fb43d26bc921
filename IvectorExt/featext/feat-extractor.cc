#include "IvectorExt/featext/feat-extractor.h"

#include <cmath>
#include <exception>
#include <limits>
#include <type_traits>

#include "engine/logging.h"

namespace jor_feat {
namespace {

template <typename T>
constexpr const char* ExtractName() {
  return std::is_same_v<T, float> ? "FeatureExtractor<float>::ExtractFeature"
                                  : "FeatureExtractor<double>::ExtractFeature";
}

// Truncates toward zero, saturating instead of overflowing.
int TruncToInt(double v) {
  if (!(v > -2147483648.0)) return std::numeric_limits<int>::min();
  if (!(v < 2147483647.0)) return std::numeric_limits<int>::max();
  return static_cast<int>(v);
}

}  // namespace

template <typename T>
FeatureExtractor<T>::FeatureExtractor(const MfccOptions& options, uint32_t seed)
    : options_(options.Resolved(kModeBatch)) {
  frames_ = std::make_unique<OfflineFeatureTpl<MfccComputer<T>, T>>(options_, seed);
  delta_ = std::make_unique<DeltaComputer<T>>(options_.delta_order, options_.delta_window);
  vad_ = std::make_unique<VoiceActivityDetector<T>>(options_.vad_opts);
  normalizer_ = std::make_unique<FeatNormalizer<T>>(options_.cmvn_opts, options_.num_ceps,
                                                    options_.FeatureDim());
  quality_ = std::make_unique<QualityChecker<T>>(options_.frame_opts);
}

template <typename T>
int FeatureExtractor<T>::ApplyCms(T* features, int num_frames, int dim) {
  if (features == nullptr || num_frames <= 0 || dim <= 0) return 0;
  std::vector<double> sums(dim, 0.0);
  for (int64_t t = 0; t < num_frames; ++t) {
    const T* row = features + t * dim;
    for (int c = 0; c < dim; ++c) sums[c] += static_cast<double>(row[c]);
  }
  const double scale = 1.0 / static_cast<double>(num_frames);
  for (double& s : sums) s *= scale;
  for (int64_t t = 0; t < num_frames; ++t) {
    T* row = features + t * dim;
    for (int c = 0; c < dim; ++c) row[c] = static_cast<T>(static_cast<double>(row[c]) - sums[c]);
  }
  return 0;
}

template <typename T>
void FeatureExtractor<T>::LogVoiceAndAudioLength(const std::vector<T>& flags) const {
  constexpr const char* kFunction = std::is_same_v<T, float>
                                        ? "FeatureExtractor<float>::LogVoiceAndAudioLength"
                                        : "FeatureExtractor<double>::LogVoiceAndAudioLength";
  const double shift_ms = options_.frame_opts.frame_shift_ms;
  const double length_ms = options_.frame_opts.frame_length_ms;
  const int64_t per_first = TruncToInt((1000.0 - length_ms) / shift_ms + 1.0);
  const int64_t per_next = TruncToInt(1000.0 / shift_ms);
  std::vector<int64_t> marks;
  int64_t voiced = 0, target = per_first;
  for (size_t i = 0; i < flags.size() && marks.size() <= 30; ++i) {
    if (flags[i] == T(1)) ++voiced;
    if (voiced > target) {
      marks.push_back(static_cast<int64_t>(i));
      target += per_next;
    }
  }
  for (size_t k = 0; k < marks.size(); ++k) {
    const int64_t i = marks[k];
    const double at = i == 0 ? 0.0 : ((i - 1) * shift_ms + length_ms) / 1000.0;
    jor_log::LogF(__FILE__, kFunction, 258, jor_log::kTrace,
                  "VA %d (sec) Len %.3f (sec) Frame %d (frames)", static_cast<int>(k + 1), at,
                  static_cast<int>(i));
  }
}

template <typename T>
int FeatureExtractor<T>::ExtractFeature(const std::vector<short>& pcm, std::vector<T>* mfcc,
                                        float* duration, float* volume, float* snr,
                                        float* valid_freq_start, float* valid_freq_end,
                                        std::vector<float>* freq_snr,
                                        std::vector<T>* voiced_flags) {
  constexpr const char* kFunction = ExtractName<T>();
  if (pcm.empty() || !mfcc || !duration || !volume || !snr || !valid_freq_start ||
      !valid_freq_end || !freq_snr) {
    jor_log::LogF(__FILE__, kFunction, 89, jor_log::kError,
                  "Invalid argument. pcm size=%d, mfcc=%p, duration=%p, volume=%p, snr=%p, "
                  "valid_freq_start=%p, valid_freq_end=%p, freq_snr=%p",
                  static_cast<int>(pcm.size()), static_cast<void*>(mfcc),
                  static_cast<void*>(duration), static_cast<void*>(volume), static_cast<void*>(snr),
                  static_cast<void*>(valid_freq_start), static_cast<void*>(valid_freq_end),
                  static_cast<void*>(freq_snr));
    return jor::kFeatInvalidArgument;
  }
  if (options_.max_vad_size != 0 &&
      static_cast<float>(pcm.size()) / 8000.0f > static_cast<float>(options_.max_vad_size)) {
    jor_log::LogF(__FILE__, kFunction, 96, jor_log::kError, "Input pcm size is over. (%ld)",
                  static_cast<long>(pcm.size()));
    return jor::kFeatInputTooLong;
  }
  try {
    const std::vector<T> wave(pcm.begin(), pcm.end());
    std::vector<T> features;
    int num_frames = 0, dim = 0;
    int status = frames_->Compute(wave.data(), static_cast<int64_t>(wave.size()), &features,
                                  &num_frames, &dim, quality_.get());
    if (status != 0) {
      jor_log::LogF(__FILE__, kFunction, 114, jor_log::kError,
                    "Failed to create MfCC template. (%d)", status);
      return status;
    }
    QualityMeasures measures;
    status = static_cast<int>(quality_->GetMeasures(&measures));
    if (status != 0) {
      jor_log::LogF(__FILE__, kFunction, 121, jor_log::kError,
                    "Failed to get quality information. (%d)", status);
      return status;
    }
    *volume = measures.speech_level;
    *snr = measures.snr;
    *valid_freq_start = measures.start_valid_freq;
    *valid_freq_end = measures.end_valid_freq;
    freq_snr->assign(measures.freq_snr.begin(), measures.freq_snr.end());

    if (options_.subtract_mean) {
      jor_log::LogF(__FILE__, kFunction, 135, jor_log::kTrace,
                    "Execute cepstrum mean subtraction.");
      ApplyCms(features.data(), num_frames, dim);
    }
    if (options_.use_delta) {
      jor_log::LogF(__FILE__, kFunction, 142, jor_log::kTrace, "Create delta template.");
      const int num_ceps = frames_->computer().CepstralDim();
      for (int t = 0; t < num_frames; ++t)
        delta_->ComputeFrame(features.data(), num_frames, num_ceps, t);
    }
    std::vector<T> flags(num_frames, T(0));
    uint32_t voiced = static_cast<uint32_t>(num_frames);
    if (options_.use_vad) {
      jor_log::LogF(__FILE__, kFunction, 152, jor_log::kTrace, "Calclate vad.");
      vad_->DetectVA(features.data(), num_frames, dim, &flags, &voiced, 0);
    }
    if (voiced_flags != nullptr) {
      if (options_.use_vad) {
        voiced_flags->assign(flags.begin(), flags.begin() + num_frames);
      } else {
        voiced_flags->assign(num_frames, T(1));
      }
    }
    const double shift_ms = options_.frame_opts.frame_shift_ms;
    const double length_ms = options_.frame_opts.frame_length_ms;
    *duration =
        voiced > 0 ? static_cast<float>(((voiced - 1) * shift_ms + length_ms) / 1000.0) : 0.0f;
    LogVoiceAndAudioLength(flags);
    if (options_.use_cmvn_sliding) {
      jor_log::LogF(__FILE__, kFunction, 167, jor_log::kTrace, "Execute cmvn sliding normalize.");
      normalizer_->NormalizeMatrix(features.data(), num_frames, dim);
    }
    mfcc->reserve(mfcc->size() + static_cast<size_t>(voiced) * dim);
    for (int t = 0; t < num_frames; ++t) {
      if (options_.use_vad && flags[t] == T(0)) continue;
      mfcc->insert(mfcc->end(), features.begin() + static_cast<int64_t>(t) * dim,
                   features.begin() + static_cast<int64_t>(t + 1) * dim);
    }
    return 0;
  } catch (const std::exception&) {
    jor_log::LogF(__FILE__, kFunction, 185, jor_log::kError, "Internal error.");
    return jor::kFeatInternalError;
  }
}

template class FeatureExtractor<float>;
template class FeatureExtractor<double>;

}  // namespace jor_feat
