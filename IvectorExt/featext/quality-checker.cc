#include "IvectorExt/featext/quality-checker.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "engine/logging.h"

namespace jor_feat {
namespace {

// Histogram bucket of a frame level: k with 10k <= level < 10(k + 1) for k up
// to 9998; everything else (at or above 99990, negative, NaN) goes to 9999.
int BucketOf(float level) {
  const double v = level;
  if (!(v >= 0.0) || v >= 99990.0) return kQualityBuckets - 1;
  int k = static_cast<int>(v / 10.0);
  k = std::clamp(k, 0, kQualityBuckets - 2);
  while (k > 0 && v < static_cast<double>(static_cast<float>(k) * 10.0f)) --k;
  while (k < kQualityBuckets - 2 && v >= static_cast<double>(static_cast<float>(k + 1) * 10.0f))
    ++k;
  return k;
}

}  // namespace

template <typename T>
QualityChecker<T>::QualityChecker(const FrameExtractionOptions& options)
    : spectrum_size_(std::max(options.PaddedWindowSize(), 0) / 2),
      bins_per_band_(spectrum_size_ / kQualityBands),
      histogram_(kQualityBuckets, 0.0f),
      bucket_slot_(kQualityBuckets, -1) {}

template <typename T>
typename QualityChecker<T>::BucketSums& QualityChecker<T>::Bucket(int k) {
  if (bucket_slot_[k] < 0) {
    bucket_slot_[k] = static_cast<int32_t>(bucket_sums_.size());
    bucket_sums_.emplace_back();
  }
  return bucket_sums_[bucket_slot_[k]];
}

template <typename T>
void QualityChecker<T>::ObserveSpectrum(const T* magnitude, int32_t count) {
  if (magnitude == nullptr || count < spectrum_size_) return;
  ++frames_observed_;
  std::array<float, kQualityBands> level;
  double level_sum = 0.0;
  for (int b = 0; b < band_count_; ++b) {
    const T* bins = magnitude + static_cast<int64_t>(b) * bins_per_band_;
    double s = 0.0;
    for (int i = 0; i < bins_per_band_; ++i) s += static_cast<double>(bins[i]);
    // A spectrum too short for 16 bands gives empty bands, taken as silent.
    const double mean = bins_per_band_ > 0 ? s / bins_per_band_ : 0.0;
    level[b] = static_cast<float>(mean);
    band_levels_[b].push_back(level[b]);
    level_sum += mean;
  }
  const float frame_level = static_cast<float>(level_sum / band_count_);
  frame_levels_.push_back(frame_level);
  const int k = BucketOf(frame_level);
  histogram_[k] += 1.0f;

  for (int b = 0; b < band_count_; ++b) total_sum_[b] += level[b];
  const double v = frame_level;
  // Negative or NaN levels are never above any threshold; they stay noise.
  if (!(v >= 0.0)) return;
  if (v > static_cast<double>(static_cast<float>(classified_bucket_) * 10.0f)) {
    for (int b = 0; b < band_count_; ++b) speech_sum_[b] += level[b];
    ++speech_count_;
  }
  BucketSums& sums = Bucket(k);
  const bool at_edge = v == static_cast<double>(static_cast<float>(k) * 10.0f);
  std::array<double, kQualityBands>& dst = at_edge ? sums.edge : sums.above;
  for (int b = 0; b < band_count_; ++b) dst[b] += level[b];
  (at_edge ? sums.edge_count : sums.above_count) += 1;
}

template <typename T>
void QualityChecker<T>::Reclassify(int from, int to) {
  if (from == to) return;
  // Frames with level in (10 lo, 10 hi] change sides.
  const int lo = std::min(from, to), hi = std::max(from, to);
  const double sign = to > from ? -1.0 : 1.0;
  auto move = [&](const std::array<double, kQualityBands>& s, int64_t n) {
    if (n == 0) return;
    for (int b = 0; b < band_count_; ++b) speech_sum_[b] += sign * s[b];
    speech_count_ += static_cast<int64_t>(sign) * n;
  };
  for (int j = lo; j <= hi; ++j) {
    if (bucket_slot_[j] < 0) continue;
    const BucketSums& s = bucket_sums_[bucket_slot_[j]];
    if (j > lo) move(s.edge, s.edge_count);
    if (j < hi) move(s.above, s.above_count);
  }
  classified_bucket_ = to;
  // Pin the sums where they are known exactly, so no rounding drift remains.
  if (speech_count_ == 0) speech_sum_.fill(0.0);
}

template <typename T>
uint32_t QualityChecker<T>::GetMeasures(QualityMeasures* record) {
  constexpr const char* kFunction = std::is_same_v<T, float>
                                        ? "jor_feat::QualityChecker<float>::GetMeasures"
                                        : "jor_feat::QualityChecker<double>::GetMeasures";
  if (frames_observed_ > 0) {
    const float frames = static_cast<float>(frames_observed_);
    float c = histogram_[0] / frames;
    int found = -1;
    for (int k = 1; k < kQualityBuckets; ++k) {
      c = c + histogram_[k] / frames;
      if (c > median_fraction_) {
        found = k;
        break;
      }
    }
    if (found == kQualityBuckets - 1) {
      speech_threshold_ = static_cast<float>(found) * bucket_width_;
      jor_log::LogF(__FILE__, kFunction, 114, jor_log::kError,
                    "all power spectrum less than threshold.");
      return jor::kQualityImpossible;
    }
    if (found >= 1) speech_threshold_ = static_cast<float>(found) * bucket_width_;
  }
  if (record == nullptr) return 0;
  Reclassify(classified_bucket_, static_cast<int>(speech_threshold_ / bucket_width_));

  const int64_t n_speech = speech_count_;
  const int64_t n_noise = frames_observed_ - speech_count_;
  std::array<float, kQualityBands> speech_db, band_snr;
  for (int b = 0; b < band_count_; ++b) {
    const double s = n_speech == frames_observed_ ? total_sum_[b] : speech_sum_[b];
    const double n = n_speech == frames_observed_ ? 0.0 : total_sum_[b] - s;
    speech_db[b] = static_cast<float>(
        20.0 * std::log10(s / static_cast<double>(n_speech + 1) + 1.0) - level_offset_);
    const float noise_db = static_cast<float>(
        20.0 * std::log10(n / static_cast<double>(n_noise + 1) + 1.0) - level_offset_);
    band_snr[b] = speech_db[b] - noise_db;
  }
  float snr_sum = 0.0f, level_sum = 0.0f;
  for (int b = 2; b <= 13; ++b) {
    snr_sum += band_snr[b];
    level_sum += speech_db[b];
  }
  int start_band = 16, end_band = -1;
  for (int b = 0; b <= 14; ++b) {
    if (band_snr[b] > 8.0f && band_snr[b + 1] > 8.0f) {
      start_band = b;
      break;
    }
  }
  for (int b = 15; b >= 1; --b) {
    if (band_snr[b] > 8.0f && band_snr[b - 1] > 8.0f) {
      end_band = b;
      break;
    }
  }
  record->snr = snr_sum / 12.0f;
  record->speech_level = level_sum / 12.0f;
  if (end_band < start_band) {
    record->start_valid_freq = 0.0f;
    record->end_valid_freq = 0.0f;
  } else {
    record->start_valid_freq = static_cast<float>(start_band * 4000.0 * 0.0625);
    record->end_valid_freq = static_cast<float>((end_band + 1) * 4000.0 * 0.0625);
  }
  for (int b = 0; b < kQualityBands; ++b) record->freq_snr[b] = band_snr[b];

  const auto& f = record->freq_snr;
  jor_log::LogF(__FILE__, kFunction, 151, jor_log::kTrace,
                "Quality information : duration=%f, snr=%f, speech_level=%f, "
                "start_valid_freq=%f, end_valid_freq=%f, "
                "freq_snr={%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f}",
                record->duration, record->snr, record->speech_level, record->start_valid_freq,
                record->end_valid_freq, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9],
                f[10], f[11], f[12], f[13], f[14], f[15]);
  return 0;
}

template class QualityChecker<float>;
template class QualityChecker<double>;

}  // namespace jor_feat
