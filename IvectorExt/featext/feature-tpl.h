// Frame drivers: run framing, conditioning and a per-frame feature computer
// (MfccComputer) over a waveform, writing rows of
// CepstralDim() * (DeltaOrder() + 1) values whose delta blocks are left zero.
//
// OfflineFeatureTpl handles one whole waveform per call and reseeds its
// dither at every call, so equal input gives equal rows. OnlineFeatureTpl
// takes the waveform in pieces, keeps one dither sequence for the stream and
// computes each frame once all of its samples have arrived; the rows of a
// stream therefore do not depend on how it was cut into pieces.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "IvectorExt/featext/feature-window.h"
#include "IvectorExt/featext/mfcc-options.h"
#include "IvectorExt/featext/spectrum-observer.h"
#include "common/result-codes.h"

namespace jor_feat {

// Results: kFeatNoFrames when the waveform yields no frame, kFeatNoSamples
// when AcceptWaveform is given no samples, kFeatInputTooLong for more samples
// than one frame driver call can index (common/result-codes.h).

template <class Computer, typename T>
class OfflineFeatureTpl {
 public:
  // Throws std::invalid_argument for options the computer or the window
  // function reject.
  OfflineFeatureTpl(const MfccOptions& options, uint32_t seed)
      : computer_(std::make_unique<Computer>(options)),
        window_(BuildWindowFunction<T>(options.frame_opts)),
        seed_(seed),
        engine_(seed),
        distribution_(0.0f, 1.0f),
        frame_opts_(options.frame_opts) {}
  virtual ~OfflineFeatureTpl() = default;

  // Replaces *features by num_frames rows of *dim values. Returns 0,
  // jor::kFeatNoFrames (features emptied) or the computer's status.
  virtual int Compute(const T* wave, int64_t num_samples, std::vector<T>* features, int* num_frames,
                      int* dim, SpectrumObserver<T>* observer) {
    *dim = computer_->CepstralDim() * computer_->DeltaOrder() + computer_->CepstralDim();
    *num_frames = 0;
    if (num_samples > std::numeric_limits<int32_t>::max()) {
      features->clear();
      return jor::kFeatInputTooLong;
    }
    const int64_t frames = NumFrames(num_samples, frame_opts_, true);
    if (frames <= 0 || wave == nullptr) {
      features->clear();
      return jor::kFeatNoFrames;
    }
    engine_.seed(seed_);
    distribution_.reset();
    features->assign(static_cast<size_t>(frames) * *dim, T(0));
    *num_frames = static_cast<int>(frames);
    const int32_t samples = static_cast<int32_t>(num_samples);
    const bool raw_energy = computer_->UsesRawEnergy();
    for (int32_t f = 0; f < frames; ++f) {
      ExtractFrame<T>(0, wave, &samples, &f, frame_opts_, &frame_);
      T energy = T(0);
      ConditionFrame<T>(frame_opts_, window_, &engine_, &distribution_, frame_.data(),
                        &frame_opts_.window_size, raw_energy ? &energy : nullptr);
      const int status =
          computer_->Compute(energy, frame_.data(), &frame_opts_.padded_window_size,
                             features->data() + static_cast<int64_t>(f) * *dim, observer);
      if (status != 0) return status;
    }
    return 0;
  }

  const Computer& computer() const { return *computer_; }

 private:
  std::unique_ptr<Computer> computer_;
  WindowFunction<T> window_;
  uint32_t seed_;
  DitherEngine engine_;
  DitherDistribution distribution_;
  FrameExtractionOptions frame_opts_;
  std::vector<T> frame_;  // reused frame buffer
};

template <class Computer, typename T>
class OnlineFeatureTpl {
 public:
  OnlineFeatureTpl(const MfccOptions& options, uint32_t seed)
      : computer_(std::make_unique<Computer>(options)),
        window_(BuildWindowFunction<T>(options.frame_opts)),
        engine_(seed),
        distribution_(0.0f, 1.0f),
        frame_opts_(options.frame_opts) {
    dim_ = computer_->CepstralDim() * computer_->DeltaOrder() + computer_->CepstralDim();
  }
  virtual ~OnlineFeatureTpl() = default;

  // Appends `count` samples and computes every frame they complete.
  virtual int AcceptWaveform(const T* samples, int64_t count, SpectrumObserver<T>* observer) {
    if (samples == nullptr || count <= 0) return jor::kFeatNoSamples;
    if (static_cast<int64_t>(remainder_.size()) + count > std::numeric_limits<int32_t>::max())
      return jor::kFeatInputTooLong;
    remainder_.insert(remainder_.end(), samples, samples + count);
    return ComputeNewFrames(observer);
  }
  // No more input: the last frames are computed with reflected samples.
  virtual int InputFinished(SpectrumObserver<T>* observer) {
    input_finished_ = true;
    return ComputeNewFrames(observer);
  }
  // Appends rows first_row .. NumFramesReady() - 1 to *out; *num_frames gets
  // the number of rows computed so far and *dim the row length.
  virtual void GetFeatures(int64_t first_row, std::vector<T>* out, int64_t* num_frames,
                           int* dim) const {
    const int64_t rows = NumFramesReady();
    if (num_frames) *num_frames = rows;
    if (dim) *dim = dim_;
    if (out == nullptr || first_row >= rows) return;
    first_row = std::max<int64_t>(first_row, 0);
    out->insert(out->end(), features_.begin() + first_row * dim_, features_.end());
  }

  int64_t NumFramesReady() const {
    return dim_ > 0 ? static_cast<int64_t>(features_.size()) / dim_ : 0;
  }
  int dim() const { return dim_; }
  const Computer& computer() const { return *computer_; }

 private:
  int ComputeNewFrames(SpectrumObserver<T>* observer) {
    const int64_t total = waveform_offset_ + static_cast<int64_t>(remainder_.size());
    const int64_t old_frames = NumFramesReady();
    const int64_t new_frames = NumFrames(total, frame_opts_, input_finished_);
    if (new_frames > old_frames) {
      features_.resize(static_cast<size_t>(new_frames) * dim_, T(0));
      const int32_t samples = static_cast<int32_t>(remainder_.size());
      const bool raw_energy = computer_->UsesRawEnergy();
      for (int64_t f = old_frames; f < new_frames; ++f) {
        const int32_t frame = static_cast<int32_t>(f);
        ExtractFrame<T>(waveform_offset_, remainder_.data(), &samples, &frame, frame_opts_,
                        &frame_);
        T energy = T(0);
        ConditionFrame<T>(frame_opts_, window_, &engine_, &distribution_, frame_.data(),
                          &frame_opts_.window_size, raw_energy ? &energy : nullptr);
        const int status =
            computer_->Compute(energy, frame_.data(), &frame_opts_.padded_window_size,
                               features_.data() + f * dim_, observer);
        if (status != 0) {
          // Rows not computed are not reported as computed.
          features_.resize(static_cast<size_t>(f) * dim_);
          return status;
        }
      }
    }
    // Samples before the next frame's start are no longer needed.
    int64_t drop =
        FrameStartSample(std::max(new_frames, old_frames), frame_opts_) - waveform_offset_;
    drop = std::min<int64_t>(drop, static_cast<int64_t>(remainder_.size()));
    if (drop > 0) {
      remainder_.erase(remainder_.begin(), remainder_.begin() + drop);
      waveform_offset_ += drop;
    }
    return 0;
  }

  bool input_finished_ = false;
  int64_t waveform_offset_ = 0;  // samples already discarded
  std::vector<T> remainder_;
  std::vector<T> features_;
  int dim_ = 0;
  std::unique_ptr<Computer> computer_;
  WindowFunction<T> window_;
  DitherEngine engine_;
  DitherDistribution distribution_;
  FrameExtractionOptions frame_opts_;
  std::vector<T> frame_;
};

}  // namespace jor_feat
