// Batch feature pipeline: one whole utterance of 16-bit PCM in, the voiced
// feature rows (MFCC, optional deltas, sliding CMVN) and the recording's
// quality measures out. Built, used for one ExtractFeature and destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "IvectorExt/featext/delta-computer.h"
#include "IvectorExt/featext/feat-normalizer.h"
#include "IvectorExt/featext/feature-tpl.h"
#include "IvectorExt/featext/mfcc-computer.h"
#include "IvectorExt/featext/mfcc-options.h"
#include "IvectorExt/featext/quality-checker.h"
#include "IvectorExt/featext/voice-activity-detector.h"

namespace jor_feat {

// Results: jor::kFeatInvalidArgument for empty PCM or a null output,
// jor::kFeatInternalError for an exception inside the pipeline.

template <typename T>
class FeatureExtractor {
 public:
  // Copies the options resolved for batch use. Throws std::invalid_argument
  // for options the MFCC machinery rejects.
  FeatureExtractor(const MfccOptions& options, uint32_t seed);

  // Appends the voiced rows (all rows without VAD) to *mfcc and stores the
  // quality measures. Returns 0 or a status code. When `voiced_flags` is given
  // it receives one flag per frame (1 voiced, 0 not; all 1 without VAD), so
  // that a caller can tell the time of every appended row.
  int ExtractFeature(const std::vector<short>& pcm, std::vector<T>* mfcc, float* duration,
                     float* volume, float* snr, float* valid_freq_start, float* valid_freq_end,
                     std::vector<float>* freq_snr, std::vector<T>* voiced_flags = nullptr);

  // Subtracts the column means of all rows.
  static int ApplyCms(T* features, int num_frames, int dim);

  // Trace lines: where in the recording each further second of voiced
  // speech was reached (at most 31).
  void LogVoiceAndAudioLength(const std::vector<T>& flags) const;

  const MfccOptions& options() const { return options_; }

 private:
  MfccOptions options_;
  std::unique_ptr<OfflineFeatureTpl<MfccComputer<T>, T>> frames_;
  std::unique_ptr<DeltaComputer<T>> delta_;
  std::unique_ptr<VoiceActivityDetector<T>> vad_;
  std::unique_ptr<FeatNormalizer<T>> normalizer_;
  std::unique_ptr<QualityChecker<T>> quality_;
};

extern template class FeatureExtractor<float>;
extern template class FeatureExtractor<double>;

}  // namespace jor_feat
