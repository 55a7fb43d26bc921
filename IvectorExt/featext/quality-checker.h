// Recording quality: overall and per-band SNR, speech level and the usable
// frequency range, from the magnitude spectra seen while MFCCs are computed.
//
// Frames whose level lies above the median level (to the histogram's 10-unit
// resolution) count as speech, the others as noise. The speech/noise band
// sums are kept up to date per frame and, when the median moves, moved only
// by the histogram buckets it crossed, so asking for the measures after every
// chunk of a long stream costs no more late in the stream than early.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "IvectorExt/featext/mfcc-options.h"
#include "IvectorExt/featext/spectrum-observer.h"
#include "common/result-codes.h"

namespace jor_feat {

constexpr int kQualityBands = 16;
constexpr int kQualityBuckets = 10000;

struct QualityMeasures {
  float duration = 0.0f;          // not written by GetMeasures; shown in its trace line
  float snr = 0.0f;               // dB
  float speech_level = 0.0f;      // dB
  float start_valid_freq = 0.0f;  // Hz
  float end_valid_freq = 0.0f;    // Hz
  std::array<float, kQualityBands> freq_snr{};  // dB, band 0 first
};

template <typename T>
class QualityChecker : public SpectrumObserver<T> {
 public:
  explicit QualityChecker(const FrameExtractionOptions& options);
  ~QualityChecker() override = default;

  // `count` is the spectrum size (padded window size / 2); a shorter
  // spectrum cannot fill the bands and is not counted.
  void ObserveSpectrum(const T* magnitude, int32_t count) override;
  // Measures over every frame seen so far: 0, or jor::kQualityImpossible (the
  // median frame level out of range) with the record left as it was.
  virtual uint32_t GetMeasures(QualityMeasures* record);

  int64_t frames_observed() const { return frames_observed_; }
  float speech_threshold() const { return speech_threshold_; }
  const std::vector<float>& frame_levels() const { return frame_levels_; }

 private:
  // Band sums of the frames of one bucket: those exactly at the bucket's
  // lower edge and those above it.
  struct BucketSums {
    std::array<double, kQualityBands> edge{};
    std::array<double, kQualityBands> above{};
    int64_t edge_count = 0;
    int64_t above_count = 0;
  };
  BucketSums& Bucket(int k);
  // Moves the speech sums from the classification at bucket edge `from` to
  // the one at `to` (threshold = 10 * bucket).
  void Reclassify(int from, int to);

  int spectrum_size_;
  int band_count_ = kQualityBands;
  int bins_per_band_;
  float bucket_width_ = 10.0f;
  float median_fraction_ = 0.5f;
  float level_offset_ = 100.0f;
  std::vector<float> frame_levels_;
  std::vector<float> histogram_;
  std::array<std::vector<float>, kQualityBands> band_levels_;
  float speech_threshold_ = 0.0f;
  int64_t frames_observed_ = 0;

  // Incremental classification, at threshold 10 * classified_bucket_.
  int classified_bucket_ = 0;
  std::array<double, kQualityBands> speech_sum_{};
  std::array<double, kQualityBands> total_sum_{};
  int64_t speech_count_ = 0;
  std::vector<int32_t> bucket_slot_;  // index into bucket_sums_, -1 if unused
  std::vector<BucketSums> bucket_sums_;
};

extern template class QualityChecker<float>;
extern template class QualityChecker<double>;

}  // namespace jor_feat
