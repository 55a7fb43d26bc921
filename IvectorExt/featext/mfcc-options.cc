#include "IvectorExt/featext/mfcc-options.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cmath>
#include <cstdio>

#include "engine/logging.h"

namespace jor_feat {
namespace {

using boost::property_tree::ptree;

template <typename T>
void Read(const ptree& tree, const char* object, const char* key, T* field,
          std::string* wrongType);

}  // namespace

void FrameExtractionOptions::ComputeDerived() {
  window_shift = static_cast<int32_t>(static_cast<double>(samp_freq) * 0.001 *
                                      static_cast<double>(frame_shift_ms));
  window_size = static_cast<int32_t>(static_cast<double>(samp_freq) * 0.001 *
                                     static_cast<double>(frame_length_ms));
  if (round_to_power_of_two) {
    uint32_t n = static_cast<uint32_t>(window_size) - 1;
    n |= n >> 1;
    n |= n >> 2;
    n |= n >> 4;
    n |= n >> 8;
    n |= n >> 16;
    padded_window_size = static_cast<int32_t>(n + 1);
  } else {
    padded_window_size = window_size;
  }
}

MfccOptions::MfccOptions(const std::string& path, int mode) {
  if (!path.empty()) ReadOptions(path);
  ApplyDeltaRule();
  SelectMode(mode);
}

void MfccOptions::ReadOptions(const std::string& path) {
  static const char* kFunc = "MfccOptions::ReadOptions";
  ptree tree;
  std::string* const w = &wrongType;
  try {
    boost::property_tree::read_json(path, tree);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read json file (%s)", path.c_str());
    return;
  }
  try {
    const ptree& t = tree.get_child("MfccOptions");
    Read(t, "MfccOptions", "num_ceps", &num_ceps, w);
    Read(t, "MfccOptions", "use_energy", &use_energy, w);
    Read(t, "MfccOptions", "energy_floor", &energy_floor, w);
    Read(t, "MfccOptions", "raw_energy", &raw_energy, w);
    Read(t, "MfccOptions", "cepstral_lifter", &cepstral_lifter, w);
    Read(t, "MfccOptions", "htk_compat", &htk_compat, w);
    Read(t, "MfccOptions", "delta_order", &delta_order, w);
    Read(t, "MfccOptions", "delta_window", &delta_window, w);
    Read(t, "MfccOptions", "subtract_mean", &subtract_mean, w);
    Read(t, "MfccOptions", "vtln_warp", &vtln_warp, w);
    Read(t, "MfccOptions", "min_duration", &min_duration, w);
    Read(t, "MfccOptions", "output_format", &output_format, w);
    Read(t, "MfccOptions", "use_delta", &use_delta, w);
    Read(t, "MfccOptions", "use_vad", &use_vad, w);
    Read(t, "MfccOptions", "use_cmvn_sliding", &use_cmvn_sliding, w);
    Read(t, "MfccOptions", "max_vad_size_bat", &max_vad_size_bat, w);
    Read(t, "MfccOptions", "max_vad_size_real", &max_vad_size_real, w);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read MfccOptions parameter (%s)",
            path.c_str());
  }
  try {
    const ptree& t = tree.get_child("MfccOptions.FrameExtractionOptions");
    FrameExtractionOptions& f = frame_opts;
    Read(t, "FrameExtractionOptions", "samp_freq", &f.samp_freq, w);
    Read(t, "FrameExtractionOptions", "frame_shift_ms", &f.frame_shift_ms, w);
    Read(t, "FrameExtractionOptions", "frame_length_ms", &f.frame_length_ms, w);
    Read(t, "FrameExtractionOptions", "dither", &f.dither, w);
    Read(t, "FrameExtractionOptions", "preemph_coeff", &f.preemph_coeff, w);
    Read(t, "FrameExtractionOptions", "remove_dc_offset", &f.remove_dc_offset, w);
    Read(t, "FrameExtractionOptions", "window_type", &f.window_type, w);
    Read(t, "FrameExtractionOptions", "round_to_power_of_two", &f.round_to_power_of_two, w);
    Read(t, "FrameExtractionOptions", "blackman_coeff", &f.blackman_coeff, w);
    Read(t, "FrameExtractionOptions", "snip_edges", &f.snip_edges, w);
    f.ComputeDerived();
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read FrameExtractionOptions parameter (%s)",
            path.c_str());
  }
  try {
    const ptree& t = tree.get_child("MfccOptions.MelBanksOptions");
    MelBanksOptions& m = mel_opts;
    Read(t, "MelBanksOptions", "num_bins", &m.num_bins, w);
    Read(t, "MelBanksOptions", "low_freq", &m.low_freq, w);
    Read(t, "MelBanksOptions", "high_freq", &m.high_freq, w);
    Read(t, "MelBanksOptions", "vtln_low", &m.vtln_low, w);
    Read(t, "MelBanksOptions", "vtln_high", &m.vtln_high, w);
    Read(t, "MelBanksOptions", "debug_mel", &m.debug_mel, w);
    Read(t, "MelBanksOptions", "htk_mode", &m.htk_mode, w);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read MelBanksOptions parameter (%s)",
            path.c_str());
  }
  try {
    const ptree& t = tree.get_child("MfccOptions.SlidingWindowCmvnOptions");
    SlidingWindowCmvnOptions& c = cmvn_opts;
    Read(t, "SlidingWindowCmvnOptions", "cmn_window", &c.cmn_window, w);
    Read(t, "SlidingWindowCmvnOptions", "min_window", &c.min_window, w);
    Read(t, "SlidingWindowCmvnOptions", "normalize_variance", &c.normalize_variance, w);
    Read(t, "SlidingWindowCmvnOptions", "center_bat", &c.center_bat, w);
    Read(t, "SlidingWindowCmvnOptions", "center_real", &c.center_real, w);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__,
            "Failed to read SlidingWindowCmvnOptions parameter (%s)", path.c_str());
  }
  try {
    const ptree& t = tree.get_child("MfccOptions.VadEnergyOptions");
    VadEnergyOptions& v = vad_opts;
    Read(t, "VadEnergyOptions", "vad_energy_threshold_bat", &v.vad_energy_threshold_bat, w);
    Read(t, "VadEnergyOptions", "vad_energy_threshold_real", &v.vad_energy_threshold_real, w);
    Read(t, "VadEnergyOptions", "vad_energy_mean_scale_bat", &v.vad_energy_mean_scale_bat, w);
    Read(t, "VadEnergyOptions", "vad_energy_mean_scale_real", &v.vad_energy_mean_scale_real, w);
    Read(t, "VadEnergyOptions", "vad_frames_context", &v.vad_frames_context, w);
    Read(t, "VadEnergyOptions", "vad_proportion_threshold", &v.vad_proportion_threshold, w);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read VadEnergyOptions parameter (%s)",
            path.c_str());
  }
}

namespace {

// A missing key keeps its field. A key whose value does not convert keeps its
// field too, and the first such key of the file is remembered in
// `wrongType` ("object.key = \"value\"") so that validation refuses the file
// rather than run with a value the file did not ask for.
template <typename T>
void Read(const ptree& tree, const char* object, const char* key, T* field,
          std::string* wrongType) {
  const auto node = tree.get_child_optional(key);
  if (!node) return;
  if (auto v = node->get_value_optional<T>()) {
    *field = *v;
  } else if (wrongType->empty()) {
    *wrongType = std::string(object) + "." + key + " = \"" + node->data() + "\"";
  }
}


}  // namespace

void MfccOptions::ApplyDeltaRule() {
  if (!use_delta) {
    delta_order = 0;
    delta_window = 0;
  }
}

void MfccOptions::SelectMode(int mode) {
  if (mode == kModeBatch) {
    cmvn_opts.center = cmvn_opts.center_bat;
    vad_opts.vad_energy_threshold = vad_opts.vad_energy_threshold_bat;
    vad_opts.vad_energy_mean_scale = vad_opts.vad_energy_mean_scale_bat;
    max_vad_size = max_vad_size_bat;
  } else {
    cmvn_opts.center = cmvn_opts.center_real;
    vad_opts.vad_energy_threshold = vad_opts.vad_energy_threshold_real;
    vad_opts.vad_energy_mean_scale = vad_opts.vad_energy_mean_scale_real;
    max_vad_size = max_vad_size_real;
  }
}

MfccOptions MfccOptions::Resolved(int mode) const {
  MfccOptions copy = *this;
  copy.ApplyDeltaRule();
  copy.SelectMode(mode);
  return copy;
}

uint32_t MfccOptions::Validate(std::string* why) const {
  auto fail = [why](jor::Result code, const std::string& text) {
    if (why) *why = text;
    return code;
  };
  auto invalid = [&](const char* text) { return fail(jor::kInvalidOptions, text); };
  auto beyond = [&](const char* text) { return fail(jor::kOptionOutOfRange, text); };
  if (!wrongType.empty())
    return fail(jor::kOptionWrongType, "value of the wrong type: " + wrongType);
  const FrameExtractionOptions& f = frame_opts;
  if (!(f.samp_freq > 0.0f) || !std::isfinite(f.samp_freq)) return invalid("samp_freq must be > 0");
  if (f.window_shift < 1) return invalid("frame_shift_ms gives a window shift below one sample");
  if (f.window_size < 2) return invalid("frame_length_ms gives a window below two samples");
  if (f.padded_window_size < f.window_size || f.padded_window_size > (1 << 16))
    return invalid("padded window size out of range (window too long)");
  if (!std::isfinite(f.dither) || !std::isfinite(f.preemph_coeff))
    return invalid("non-finite frame option");
  if (mel_opts.num_bins < 3) return invalid("num_bins must be at least 3");
  if (num_ceps < 1) return invalid("num_ceps must be at least 1");
  if (num_ceps > mel_opts.num_bins) return invalid("num_ceps must not exceed num_bins");
  if (delta_order < 0 || delta_order > 4) return invalid("delta_order must be 0 to 4");
  if (use_delta && delta_window < 1) return invalid("delta_window must be at least 1");
  if (delta_window < 0 || delta_window > 50) return invalid("delta_window must be 0 to 50");
  if (cmvn_opts.cmn_window < 1) return invalid("cmn_window must be at least 1");
  if (cmvn_opts.min_window < 0) return invalid("min_window must not be negative");
  if (vad_opts.vad_frames_context < 0) return invalid("vad_frames_context must not be negative");
  if (max_vad_size_bat < 0 || max_vad_size_real < 0)
    return invalid("max_vad_size must not be negative");

  if (f.samp_freq > kMaxSampFreq) return beyond("samp_freq above 192000 Hz");
  if (mel_opts.num_bins > kMaxNumBins) return beyond("num_bins above 1024");
  if (cmvn_opts.cmn_window > kMaxCmnWindow || cmvn_opts.min_window > kMaxCmnWindow)
    return beyond("cmn_window or min_window above 100000 frames");
  if (vad_opts.vad_frames_context > kMaxVadFramesContext)
    return beyond("vad_frames_context above 1000 frames");
  if (max_vad_size_bat > kMaxVadSize || max_vad_size_real > kMaxVadSize)
    return beyond("max_vad_size above 86400 seconds");
  const float finite[] = {mel_opts.low_freq,
                          mel_opts.high_freq,
                          mel_opts.vtln_low,
                          mel_opts.vtln_high,
                          f.blackman_coeff,
                          energy_floor,
                          cepstral_lifter,
                          vtln_warp,
                          min_duration,
                          vad_opts.vad_energy_threshold_bat,
                          vad_opts.vad_energy_threshold_real,
                          vad_opts.vad_energy_mean_scale_bat,
                          vad_opts.vad_energy_mean_scale_real,
                          vad_opts.vad_proportion_threshold};
  for (float v : finite)
    if (!std::isfinite(v)) return beyond("a frequency, energy, lifter or VAD option is not finite");
  return 0;
}

}  // namespace jor_feat
