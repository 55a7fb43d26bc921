#include "IvectorExt/featext/online-feature-extractor.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "engine/logging.h"

namespace {

constexpr jor::Result kInvalidArgument = jor::kFeatInvalidArgument;
constexpr jor::Result kInputOver = jor::kFeatInputTooLong;
constexpr jor::Result kNoPendingPcm = jor::kFeatNoSamples;
// Initial room for pending samples.
constexpr size_t kPendingReserve = 10000;
// Up-front reservation cap (values); larger limits grow on demand.
constexpr int64_t kReserveCap = int64_t{1} << 24;

template <typename T>
constexpr const char* Name(const char* f, const char* d) {
  return std::is_same_v<T, float> ? f : d;
}

}  // namespace

template <typename T>
OnlineFeatureExtractor<T>::OnlineFeatureExtractor(const jor_feat::MfccOptions& options,
                                                  uint32_t seed)
    : options_(options.Resolved(jor_feat::kModeOnline)) {
  using namespace jor_feat;
  frames_ = std::make_unique<OnlineFeatureTpl<MfccComputer<T>, T>>(options_, seed);
  delta_ = std::make_unique<DeltaComputer<T>>(options_.delta_order, options_.delta_window);
  vad_ = std::make_unique<VoiceActivityDetector<T>>(options_.vad_opts);
  dim_ = frames_->dim();
  normalizer_ = std::make_unique<FeatNormalizer<T>>(options_.cmvn_opts, options_.num_ceps, dim_);
  quality_ = std::make_unique<QualityChecker<T>>(options_.frame_opts);
  // Rows for max_vad_size seconds; a sub-millisecond shift counts as 1 ms.
  const int64_t shift_ms = std::max<int64_t>(
      1, static_cast<int64_t>(std::min(options_.frame_opts.frame_shift_ms, 1e9f)));
  const int64_t rows = std::max<int64_t>(options_.max_vad_size, 0) * 1000 / shift_ms;
  feature_limit_ = rows * dim_;
  feature_buffer_.reserve(static_cast<size_t>(std::min(feature_limit_, kReserveCap)));
  voiced_flags_.reserve(static_cast<size_t>(std::min(rows, kReserveCap)));
  energies_.reserve(static_cast<size_t>(std::min(rows, kReserveCap)));
  pending_pcm_.reserve(kPendingReserve);
}

template <typename T>
OnlineFeatureExtractor<T>::~OnlineFeatureExtractor() = default;

template <typename T>
int OnlineFeatureExtractor<T>::PutPcm(const std::vector<short>& pcm) {
  constexpr const char* kFunction =
      Name<T>("OnlineFeatureExtractor<float>::PutPcm", "OnlineFeatureExtractor<double>::PutPcm");
  if (pcm.empty()) {
    jor_log::LogF(__FILE__, kFunction, 67, jor_log::kError, "Input pcm size 0.");
    return kInvalidArgument;
  }
  const float seconds =
      static_cast<float>(pcm.size()) / 8000.0f + static_cast<float>(pending_pcm_.size()) / 8000.0f;
  if (seconds > static_cast<float>(options_.max_vad_size)) {
    jor_log::LogF(__FILE__, kFunction, 73, jor_log::kError, "Unprocessed pcm size is over. (%ld)",
                  static_cast<long>(pcm.size() + pending_pcm_.size()));
    return kInputOver;
  }
  if (static_cast<int64_t>(feature_buffer_.size()) >= feature_limit_) {
    jor_log::LogF(__FILE__, kFunction, 78, jor_log::kError, "feature size is over. (%ld)",
                  static_cast<long>(feature_buffer_.size()));
    return kInputOver;
  }
  pending_pcm_.insert(pending_pcm_.end(), pcm.begin(), pcm.end());
  return 0;
}

template <typename T>
int OnlineFeatureExtractor<T>::ExtractFeat(std::vector<T>* mfcc, float* duration, float* volume,
                                           float* snr, float* valid_freq_start,
                                           float* valid_freq_end, std::vector<float>* freq_snr) {
  constexpr const char* kFunction = Name<T>("OnlineFeatureExtractor<float>::ExtractFeat",
                                            "OnlineFeatureExtractor<double>::ExtractFeat");
  if (!mfcc || !duration || !volume || !snr || !valid_freq_start || !valid_freq_end || !freq_snr) {
    jor_log::LogF(__FILE__, kFunction, 138, jor_log::kError,
                  "Invalid argument. duration=%p, volume=%p, snr=%p, valid_freq_start=%p, "
                  "valid_freq_end=%p, freq_snr=%p",
                  static_cast<void*>(duration), static_cast<void*>(volume), static_cast<void*>(snr),
                  static_cast<void*>(valid_freq_start), static_cast<void*>(valid_freq_end),
                  static_cast<void*>(freq_snr));
    return kInvalidArgument;
  }
  if (pending_pcm_.empty()) {
    jor_log::LogF(__FILE__, kFunction, 157, jor_log::kError, "Invalid unprocessed pcm size (%ld)",
                  static_cast<long>(pending_pcm_.size()));
    return kNoPendingPcm;
  }
  const int status = frames_->AcceptWaveform(
      pending_pcm_.data(), static_cast<int64_t>(pending_pcm_.size()), quality_.get());
  if (status != 0) {
    jor_log::LogF(__FILE__, kFunction, 149, jor_log::kError, "Failed to create MfCC template. (%d)",
                  status);
    // The frame driver keeps samples it took; offering them again would
    // repeat them in the stream.
    if (static_cast<jor::Result>(status) != kNoPendingPcm &&
        static_cast<jor::Result>(status) != kInputOver)
      pending_pcm_.clear();
    return status;
  }
  ProcessFrames(false);
  pending_pcm_.clear();

  // Rows are final once normalised and, with VAD, once their voice is decided.
  int64_t ready = normalised_;
  if (options_.use_vad) ready = std::min<int64_t>(ready, voiced_flags_.size());
  for (int64_t r = examined_; r < ready; ++r) {
    if (options_.use_vad && voiced_flags_[r] != T(1)) continue;
    const auto row = feature_buffer_.begin() + r * dim_;
    mfcc->insert(mfcc->end(), row, row + dim_);
    ++output_count_;
  }
  examined_ = std::max(examined_, ready);

  const double shift_ms = options_.frame_opts.frame_shift_ms;
  const double length_ms = options_.frame_opts.frame_length_ms;
  *duration = output_count_ > 0
                  ? static_cast<float>(((output_count_ - 1) * shift_ms + length_ms) / 1000.0)
                  : 0.0f;
  jor_feat::QualityMeasures measures = measures_;
  measures.duration = *duration;
  // A failure keeps the last good measures (the stream goes on).
  if (quality_->GetMeasures(&measures) == 0) measures_ = measures;
  *volume = measures_.speech_level;
  *snr = measures_.snr;
  *valid_freq_start = measures_.start_valid_freq;
  *valid_freq_end = measures_.end_valid_freq;
  freq_snr->assign(measures_.freq_snr.begin(), measures_.freq_snr.end());
  return 0;
}

template <typename T>
void OnlineFeatureExtractor<T>::ProcessFrames(bool end_of_input) {
  const int64_t old_rows = rows_computed();
  int64_t num_frames = 0;
  int dim = 0;
  frames_->GetFeatures(old_rows, &feature_buffer_, &num_frames, &dim);
  for (int64_t r = old_rows; r < num_frames; ++r) energies_.push_back(feature_buffer_[r * dim_]);
  ExecVad(num_frames, end_of_input);
  const int64_t previous_final = delta_final_;
  ExecDelta(old_rows, num_frames, end_of_input);
  ExecCmvn(previous_final, end_of_input);
}

template <typename T>
void OnlineFeatureExtractor<T>::ExecVad(int64_t num_frames, bool end_of_input) {
  constexpr const char* kFunction =
      Name<T>("OnlineFeatureExtractor<float>::ExecVad", "OnlineFeatureExtractor<double>::ExecVad");
  if (!options_.use_vad) return;
  // Decide a frame only once its right context has arrived.
  const int64_t context = std::max(options_.vad_opts.vad_frames_context, 0);
  const int64_t decidable = end_of_input ? num_frames : num_frames - context;
  const int64_t held = static_cast<int64_t>(voiced_flags_.size());
  if (held >= decidable) return;
  jor_log::LogF(__FILE__, kFunction, 239, jor_log::kTrace, "Calclate vad.");
  uint32_t voiced = 0;
  vad_->DetectVA(energies_.data(), static_cast<int>(num_frames), 1, &vad_scratch_, &voiced,
                 static_cast<uint64_t>(held));
  voiced_flags_.insert(voiced_flags_.end(), vad_scratch_.begin() + held,
                       vad_scratch_.begin() + decidable);
}

template <typename T>
void OnlineFeatureExtractor<T>::ExecDelta(int64_t first_new_row, int64_t num_frames,
                                          bool end_of_input) {
  constexpr const char* kFunction = Name<T>("OnlineFeatureExtractor<float>::ExecDelta",
                                            "OnlineFeatureExtractor<double>::ExecDelta");
  int64_t count = 0;
  if (options_.use_delta) {
    jor_log::LogF(__FILE__, kFunction, 265, jor_log::kTrace, "Create delta template.");
    const int num_ceps = frames_->computer().CepstralDim();
    for (int64_t f = first_new_row; f < num_frames; ++f)
      count += delta_->PushFrame(feature_buffer_.data(), f, num_ceps);
    if (end_of_input) count += delta_->Flush(feature_buffer_.data());
  } else {
    count = num_frames - delta_final_;
  }
  delta_final_ += count;
}

template <typename T>
void OnlineFeatureExtractor<T>::ExecCmvn(int64_t first_row, bool end_of_input) {
  constexpr const char* kFunction = Name<T>("OnlineFeatureExtractor<float>::ExecCmvn",
                                            "OnlineFeatureExtractor<double>::ExecCmvn");
  int64_t count = 0;
  if (options_.use_cmvn_sliding) {
    jor_log::LogF(__FILE__, kFunction, 293, jor_log::kTrace, "Execute cmvn sliding normalize.");
    for (int64_t f = first_row; f < delta_final_; ++f)
      count += normalizer_->PushFrame(feature_buffer_.data(), f);
    if (end_of_input) count += normalizer_->Flush(feature_buffer_.data());
  } else {
    count = delta_final_ - first_row;
  }
  normalised_ += count;
}

template class OnlineFeatureExtractor<float>;
template class OnlineFeatureExtractor<double>;
