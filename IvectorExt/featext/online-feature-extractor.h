// PLACEHOLDER: replaced by the online feature pipeline.
#pragma once

#include <cstdint>
#include <vector>

#include "IvectorExt/featext/mfcc-options.h"

template <typename T>
class OnlineFeatureExtractor {
 public:
  OnlineFeatureExtractor(const jor_feat::MfccOptions& options, uint32_t seed)
      : options_(options.Resolved(jor_feat::kModeOnline)) {
    (void)seed;
  }
  virtual ~OnlineFeatureExtractor() = default;
  virtual int PutPcm(const std::vector<short>& pcm) {
    (void)pcm;
    return static_cast<int>(0xFFF04FFFu);
  }
  virtual int ExtractFeat(std::vector<T>* mfcc, float* duration, float* volume, float* snr,
                          float* valid_freq_start, float* valid_freq_end,
                          std::vector<float>* freq_snr) {
    (void)mfcc, (void)duration, (void)volume, (void)snr, (void)valid_freq_start,
        (void)valid_freq_end, (void)freq_snr;
    return static_cast<int>(0xFFF04FFFu);
  }

 private:
  jor_feat::MfccOptions options_;
};
