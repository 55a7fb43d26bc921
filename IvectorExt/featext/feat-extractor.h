// PLACEHOLDER: replaced by the batch feature pipeline.
#pragma once

#include <cstdint>
#include <vector>

#include "IvectorExt/featext/mfcc-options.h"

namespace jor_feat {

template <typename T>
class FeatureExtractor {
 public:
  FeatureExtractor(const MfccOptions& options, uint32_t seed) : options_(options.Resolved(kModeBatch)) {
    (void)seed;
  }
  int ExtractFeature(const std::vector<short>& pcm, std::vector<T>* mfcc, float* duration,
                     float* volume, float* snr, float* valid_freq_start, float* valid_freq_end,
                     std::vector<float>* freq_snr) {
    (void)pcm, (void)mfcc, (void)duration, (void)volume, (void)snr, (void)valid_freq_start,
        (void)valid_freq_end, (void)freq_snr;
    return static_cast<int>(0xFFF04FFFu);
  }

 private:
  MfccOptions options_;
};

}  // namespace jor_feat
