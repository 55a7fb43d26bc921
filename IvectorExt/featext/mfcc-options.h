// Feature extraction options, read from "mfcc-options.json".
//
// One struct per JSON object ("MfccOptions.FrameExtractionOptions", ...), with
// the defaults in the struct. The derived frame fields are recomputed by
// FrameExtractionOptions::ComputeDerived whenever the record is built or read.
// The record is written by engine initialisation only and read afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "common/result-codes.h"

namespace jor_feat {

struct FrameExtractionOptions {
  float samp_freq = 8000.0f;  // Hz
  float frame_shift_ms = 10.0f;
  float frame_length_ms = 25.0f;
  float dither = 1.0f;
  float preemph_coeff = 0.97f;
  bool remove_dc_offset = true;
  std::string window_type = "povey";
  bool round_to_power_of_two = true;
  float blackman_coeff = 0.42f;
  bool snip_edges = false;
  // Derived.
  int32_t window_shift = 80;         // samples per shift
  int32_t window_size = 200;         // samples per frame
  int32_t padded_window_size = 256;  // FFT length

  void ComputeDerived();
  int32_t WindowShift() const { return window_shift; }
  int32_t WindowSize() const { return window_size; }
  int32_t PaddedWindowSize() const { return padded_window_size; }
};

struct MelBanksOptions {
  int32_t num_bins = 23;
  float low_freq = 20.0f;     // Hz
  float high_freq = 3700.0f;  // Hz; <= 0 is an offset from Nyquist
  float vtln_low = 100.0f;
  float vtln_high = -500.0f;
  bool debug_mel = false;
  bool htk_mode = false;
};

struct SlidingWindowCmvnOptions {
  int32_t cmn_window = 300;  // frames
  int32_t min_window = 100;  // frames
  bool normalize_variance = false;
  bool center = true;  // selected from center_bat / center_real
  bool center_bat = true;
  bool center_real = false;
};

struct VadEnergyOptions {
  float vad_energy_threshold = 5.5f;  // selected
  float vad_energy_threshold_bat = 5.5f;
  float vad_energy_threshold_real = 11.0f;
  float vad_energy_mean_scale = 0.5f;  // selected
  float vad_energy_mean_scale_bat = 0.5f;
  float vad_energy_mean_scale_real = 0.0f;
  int32_t vad_frames_context = 2;
  float vad_proportion_threshold = 0.12f;
};

enum OptionsMode : int {
  kModeBatch = 1,
  kModeOnline = 2,
};

struct MfccOptions {
  FrameExtractionOptions frame_opts;
  MelBanksOptions mel_opts;
  SlidingWindowCmvnOptions cmvn_opts;
  VadEnergyOptions vad_opts;

  int32_t num_ceps = 40;
  bool use_energy = true;
  float energy_floor = 0.0f;
  bool raw_energy = true;
  float cepstral_lifter = 22.0f;
  bool htk_compat = false;
  int32_t delta_order = 2;
  int32_t delta_window = 2;
  bool subtract_mean = false;
  float vtln_warp = 1.0f;
  float min_duration = 0.0f;
  std::string output_format = "kaldi";
  bool use_delta = false;
  bool use_vad = true;
  bool use_cmvn_sliding = true;
  int32_t max_vad_size = 0;  // selected; seconds
  int32_t max_vad_size_bat = 0;
  int32_t max_vad_size_real = 180;

  MfccOptions() = default;
  // Defaults, then `path` when it is not empty, then the use_delta rule and
  // the mode selection.
  MfccOptions(const std::string& path, int mode);

  // Reads the JSON file; failures are logged and leave defaults.
  void ReadOptions(const std::string& path);
  // use_delta false forces delta_order and delta_window to 0.
  void ApplyDeltaRule();
  // Mode 1 selects the _bat values, any other mode the _real values.
  void SelectMode(int mode);
  // A copy resolved for a pipeline's own mode.
  MfccOptions Resolved(int mode) const;

  // The first key of the file read whose value did not convert to its
  // field's type, as `object.key = "value"`; empty when every key converted.
  std::string wrongType;

  int32_t FeatureDim() const { return (delta_order + 1) * num_ceps; }

  // Checks the values the feature machinery relies on. Returns 0, or one of
  // jor::kOptionWrongType (a key whose value did not convert), jor::kInvalidOptions
  // (values that cannot drive the features) or jor::kOptionOutOfRange (values
  // beyond what the engine supports, each bound below), with a reason in *why.
  uint32_t Validate(std::string* why) const;
};

// Bounds of the values that drive allocation or cost per call: a
// configuration beyond them is refused rather than run at any price.
constexpr float kMaxSampFreq = 192000.0f;  // Hz
constexpr int32_t kMaxNumBins = 1024;
constexpr int32_t kMaxCmnWindow = 100000;  // frames: 1000 s at a 10-ms shift
constexpr int32_t kMaxVadFramesContext = 1000;
constexpr int32_t kMaxVadSize = 86400;  // seconds


}  // namespace jor_feat
