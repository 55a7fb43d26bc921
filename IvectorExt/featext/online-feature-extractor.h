// Online feature pipeline: PCM arrives in pieces (PutPcm), each followed by
// ExtractFeat, which computes the frames the new samples complete and
// appends the rows that became final (deltas with their right context,
// sliding CMVN, voice decision) to the caller's vector. Quality measures
// cover the whole stream so far.
//
// Rows come out in time order, each at most once, and a stream yields the
// same rows however its PCM is cut into pieces as long as the online VAD mean
// scale is 0 (the default): a frame's voice decision waits until the
// vad_frames_context frames after it have arrived, so it always sees its full
// context, taken from the frames' energies before normalisation. Rows are
// referred to by index into the feature buffer, which may grow and move.
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

template <typename T>
class OnlineFeatureExtractor {
 public:
  // Copies the options resolved for online use. Throws std::invalid_argument
  // for options the MFCC machinery rejects.
  OnlineFeatureExtractor(const jor_feat::MfccOptions& options, uint32_t seed);
  virtual ~OnlineFeatureExtractor();

  // Queues samples; no features are computed here. Refuses input beyond
  // max_vad_size seconds pending or once the feature buffer is full.
  virtual int PutPcm(const std::vector<short>& pcm);
  // Consumes the queued samples and appends the newly final rows to *mfcc.
  virtual int ExtractFeat(std::vector<T>* mfcc, float* duration, float* volume, float* snr,
                          float* valid_freq_start, float* valid_freq_end,
                          std::vector<float>* freq_snr);

  int dim() const { return dim_; }
  int64_t rows_computed() const { return dim_ > 0 ? feature_buffer_.size() / dim_ : 0; }
  int64_t output_count() const { return output_count_; }
  const jor_feat::MfccOptions& options() const { return options_; }

 private:
  void ProcessFrames(bool end_of_input);
  void ExecVad(int64_t num_frames, bool end_of_input);
  void ExecDelta(int64_t first_new_row, int64_t num_frames, bool end_of_input);
  void ExecCmvn(int64_t first_row, bool end_of_input);

  jor_feat::MfccOptions options_;
  std::unique_ptr<jor_feat::OnlineFeatureTpl<jor_feat::MfccComputer<T>, T>> frames_;
  std::unique_ptr<jor_feat::DeltaComputer<T>> delta_;
  std::unique_ptr<jor_feat::VoiceActivityDetector<T>> vad_;
  std::unique_ptr<jor_feat::FeatNormalizer<T>> normalizer_;
  int64_t delta_final_ = 0;   // rows whose deltas are final
  int64_t normalised_ = 0;    // rows ready for output
  int64_t output_count_ = 0;  // rows appended to callers' vectors
  int64_t examined_ = 0;      // rows already considered for output
  int dim_ = 0;
  std::vector<T> feature_buffer_;
  int64_t feature_limit_ = 0;  // values; PutPcm refuses input beyond it
  // First column of every row as computed, before CMVN rewrites the rows in
  // place: the voice decisions always see raw energies.
  std::vector<T> energies_;
  std::vector<T> voiced_flags_;
  std::vector<T> vad_scratch_;
  std::vector<T> pending_pcm_;
  std::unique_ptr<jor_feat::QualityChecker<T>> quality_;
  jor_feat::QualityMeasures measures_;  // last successful measures
};

extern template class OnlineFeatureExtractor<float>;
extern template class OnlineFeatureExtractor<double>;
