// Framing and per-frame conditioning of a waveform.
//
// Usage (one frame driver):
//   WindowFunction<float> window = BuildWindowFunction<float>(opts);  // may throw
//   boost::random::mt19937 engine(seed);
//   boost::random::normal_distribution<float> dist(0.0f, 1.0f);
//   std::vector<float> frame;
//   int64_t n = NumFrames(num_samples, opts, /*flush=*/true);
//   for (int32_t f = 0; f < n; ++f) {
//     ExtractFrame<float>(0, wave, &num_samples32, &f, opts, &frame);   // padded size
//     float energy = 0;
//     ConditionFrame<float>(opts, window, &engine, &dist, frame.data(), &opts.window_size,
//                           computer.UsesRawEnergy() ? &energy : nullptr);
//     computer.Compute(energy, frame.data(), &opts.padded_window_size, row, observer);
//   }
// The functions read the derived fields window_shift, window_size and
// padded_window_size of the options, never the millisecond values.
#pragma once

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/normal_distribution.hpp>
#include <cstdint>
#include <vector>

#include "IvectorExt/featext/mfcc-options.h"

namespace jor_feat {

// One weight per sample of the frame (window_size entries).
template <typename T>
using WindowFunction = std::vector<T>;

using DitherEngine = boost::random::mt19937;
using DitherDistribution = boost::random::normal_distribution<float>;

// Number of frames in `num_samples` samples. Without snip_edges, `flush`
// counts the frames whose centre lies in the signal; without flush only
// frames that end inside it. Returns 0 for unusable options (shift or size
// below one sample) or a negative count.
int64_t NumFrames(int64_t num_samples, const FrameExtractionOptions& opts, bool flush = true);

// Index of the first sample of `frame`; negative for the first frames
// without snip_edges.
int64_t FrameStartSample(int64_t frame, const FrameExtractionOptions& opts);

// Fills `window` (resized to padded_window_size when it differs) with frame
// `*frame` of `wave`, whose first sample is sample `sample_offset` of the
// stream. Indices outside [0, *num_samples) are reflected at the edges; with
// no samples at all the frame is zero. Samples from window_size on are zero.
template <typename T>
void ExtractFrame(int64_t sample_offset, const T* wave, const int32_t* num_samples,
                  const int32_t* frame, const FrameExtractionOptions& opts, std::vector<T>* window);

// Dither, DC removal, raw log energy (when `raw_log_energy` is not null),
// pre-emphasis and window on the first `*length` samples of `frame`
// (`*length` must not exceed window.size()).
template <typename T>
void ConditionFrame(const FrameExtractionOptions& opts, const WindowFunction<T>& window,
                    DitherEngine* engine, DitherDistribution* distribution, T* frame,
                    const int32_t* length, T* raw_log_energy);

// Window weights for opts.window_type ("hanning", "hamming", "povey",
// "rectangular", "blackman"). Throws std::invalid_argument for a window size
// below one or an unknown name.
template <typename T>
WindowFunction<T> BuildWindowFunction(const FrameExtractionOptions& opts);

}  // namespace jor_feat
