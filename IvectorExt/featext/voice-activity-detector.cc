#include "IvectorExt/featext/voice-activity-detector.h"

#include <algorithm>
#include <type_traits>

#include "engine/logging.h"

namespace jor_feat {

template <typename T>
void VoiceActivityDetector<T>::DetectVA(const T* features, int num_frames, int row_stride,
                                        std::vector<T>* flags, uint32_t* voiced_count,
                                        uint64_t start_frame) const {
  uint32_t voiced = 0;
  if (voiced_count) *voiced_count = 0;
  if (features == nullptr || flags == nullptr || num_frames <= 0 || row_stride <= 0) return;
  const int64_t n = num_frames;
  if (static_cast<int64_t>(flags->size()) < n) flags->resize(n, T(0));

  T threshold = static_cast<T>(options_.vad_energy_threshold);
  const T scale = static_cast<T>(options_.vad_energy_mean_scale);
  int64_t first = static_cast<int64_t>(std::min<uint64_t>(start_frame, static_cast<uint64_t>(n)));
  if (scale != T(0)) {
    T sum = T(0);
    for (int64_t t = 0; t < n; ++t) sum += features[t * row_stride];
    threshold = threshold + scale * sum / static_cast<T>(n);
    constexpr const char* kFunction = std::is_same_v<T, float>
                                          ? "jor_feat::VoiceActivityDetector<float>::DetectVA"
                                          : "jor_feat::VoiceActivityDetector<double>::DetectVA";
    jor_log::LogF(__FILE__, kFunction, 54, jor_log::kInfo, "Updated threshold: (%f)",
                  static_cast<double>(threshold));
    first = 0;
  }

  const int64_t r = std::max(options_.vad_frames_context, 0);
  const float proportion = options_.vad_proportion_threshold;
  T* out = flags->data();
  // Count of frames above the threshold in [lo, hi], slid along with t.
  int64_t lo = std::max<int64_t>(first - r, 0), hi = lo - 1, above = 0;
  for (int64_t t = first; t < n; ++t) {
    const int64_t want_lo = std::max<int64_t>(t - r, 0);
    const int64_t want_hi = std::min<int64_t>(t + r, n - 1);
    for (; hi < want_hi; ++hi) above += features[(hi + 1) * row_stride] > threshold;
    for (; lo < want_lo; ++lo) above -= features[lo * row_stride] > threshold;
    const int64_t den = hi - lo + 1;
    if (static_cast<float>(above) >= static_cast<float>(den) * proportion) {
      out[t] = T(1);
      ++voiced;
    } else {
      out[t] = T(0);
    }
  }
  if (voiced_count) *voiced_count = voiced;
}

template class VoiceActivityDetector<float>;
template class VoiceActivityDetector<double>;

}  // namespace jor_feat
