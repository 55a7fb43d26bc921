// Energy voice activity detection over the first column of feature rows.
#pragma once

#include <cstdint>
#include <vector>

#include "IvectorExt/featext/mfcc-options.h"

namespace jor_feat {

template <typename T>
class VoiceActivityDetector {
 public:
  // Copies the record; the effective threshold and mean scale are the ones
  // selected when the options were resolved for the pipeline's mode.
  explicit VoiceActivityDetector(const VadEnergyOptions& options) : options_(options) {}
  virtual ~VoiceActivityDetector() = default;

  // Decides frames from start_frame (from 0 when the mean scale is not 0,
  // with a threshold raised by the scaled mean energy of all frames) up to
  // num_frames - 1, writing flags (1 voiced, 0 not) and the voiced count of
  // this call. The energy of frame t is features[t * row_stride]. Frames near
  // either end count only the neighbours that exist.
  virtual void DetectVA(const T* features, int num_frames, int row_stride, std::vector<T>* flags,
                        uint32_t* voiced_count, uint64_t start_frame) const;

  const VadEnergyOptions& options() const { return options_; }

 private:
  VadEnergyOptions options_;
};

extern template class VoiceActivityDetector<float>;
extern template class VoiceActivityDetector<double>;

}  // namespace jor_feat
