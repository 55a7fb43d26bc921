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
void Read(const ptree& tree, const char* key, T* field) {
  if (auto v = tree.get_optional<T>(key)) *field = *v;
}

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
  try {
    boost::property_tree::read_json(path, tree);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read json file (%s)", path.c_str());
    return;
  }
  try {
    const ptree& t = tree.get_child("MfccOptions");
    Read(t, "num_ceps", &num_ceps);
    Read(t, "use_energy", &use_energy);
    Read(t, "energy_floor", &energy_floor);
    Read(t, "raw_energy", &raw_energy);
    Read(t, "cepstral_lifter", &cepstral_lifter);
    Read(t, "htk_compat", &htk_compat);
    Read(t, "delta_order", &delta_order);
    Read(t, "delta_window", &delta_window);
    Read(t, "subtract_mean", &subtract_mean);
    Read(t, "vtln_warp", &vtln_warp);
    Read(t, "min_duration", &min_duration);
    Read(t, "output_format", &output_format);
    Read(t, "use_delta", &use_delta);
    Read(t, "use_vad", &use_vad);
    Read(t, "use_cmvn_sliding", &use_cmvn_sliding);
    Read(t, "max_vad_size_bat", &max_vad_size_bat);
    Read(t, "max_vad_size_real", &max_vad_size_real);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read MfccOptions parameter (%s)",
            path.c_str());
  }
  try {
    const ptree& t = tree.get_child("MfccOptions.FrameExtractionOptions");
    FrameExtractionOptions& f = frame_opts;
    Read(t, "samp_freq", &f.samp_freq);
    Read(t, "frame_shift_ms", &f.frame_shift_ms);
    Read(t, "frame_length_ms", &f.frame_length_ms);
    Read(t, "dither", &f.dither);
    Read(t, "preemph_coeff", &f.preemph_coeff);
    Read(t, "remove_dc_offset", &f.remove_dc_offset);
    Read(t, "window_type", &f.window_type);
    Read(t, "round_to_power_of_two", &f.round_to_power_of_two);
    Read(t, "blackman_coeff", &f.blackman_coeff);
    Read(t, "snip_edges", &f.snip_edges);
    f.ComputeDerived();
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read FrameExtractionOptions parameter (%s)",
            path.c_str());
  }
  try {
    const ptree& t = tree.get_child("MfccOptions.MelBanksOptions");
    MelBanksOptions& m = mel_opts;
    Read(t, "num_bins", &m.num_bins);
    Read(t, "low_freq", &m.low_freq);
    Read(t, "high_freq", &m.high_freq);
    Read(t, "vtln_low", &m.vtln_low);
    Read(t, "vtln_high", &m.vtln_high);
    Read(t, "debug_mel", &m.debug_mel);
    Read(t, "htk_mode", &m.htk_mode);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read MelBanksOptions parameter (%s)",
            path.c_str());
  }
  try {
    const ptree& t = tree.get_child("MfccOptions.SlidingWindowCmvnOptions");
    SlidingWindowCmvnOptions& c = cmvn_opts;
    Read(t, "cmn_window", &c.cmn_window);
    Read(t, "min_window", &c.min_window);
    Read(t, "normalize_variance", &c.normalize_variance);
    Read(t, "center_bat", &c.center_bat);
    Read(t, "center_real", &c.center_real);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__,
            "Failed to read SlidingWindowCmvnOptions parameter (%s)", path.c_str());
  }
  try {
    const ptree& t = tree.get_child("MfccOptions.VadEnergyOptions");
    VadEnergyOptions& v = vad_opts;
    Read(t, "vad_energy_threshold_bat", &v.vad_energy_threshold_bat);
    Read(t, "vad_energy_threshold_real", &v.vad_energy_threshold_real);
    Read(t, "vad_energy_mean_scale_bat", &v.vad_energy_mean_scale_bat);
    Read(t, "vad_energy_mean_scale_real", &v.vad_energy_mean_scale_real);
    Read(t, "vad_frames_context", &v.vad_frames_context);
    Read(t, "vad_proportion_threshold", &v.vad_proportion_threshold);
  } catch (...) {
    JOR_LOG(jor_log::kError, kFunc, __LINE__, "Failed to read VadEnergyOptions parameter (%s)",
            path.c_str());
  }
}

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
  auto fail = [why](const char* text) {
    if (why) *why = text;
    return kInvalidOptions;
  };
  const FrameExtractionOptions& f = frame_opts;
  if (!(f.samp_freq > 0.0f) || !std::isfinite(f.samp_freq)) return fail("samp_freq must be > 0");
  if (f.window_shift < 1) return fail("frame_shift_ms gives a window shift below one sample");
  if (f.window_size < 2) return fail("frame_length_ms gives a window below two samples");
  if (f.padded_window_size < f.window_size || f.padded_window_size > (1 << 16))
    return fail("padded window size out of range (window too long)");
  if (!std::isfinite(f.dither) || !std::isfinite(f.preemph_coeff)) return fail("non-finite frame option");
  if (mel_opts.num_bins < 3) return fail("num_bins must be at least 3");
  if (num_ceps < 1) return fail("num_ceps must be at least 1");
  if (num_ceps > mel_opts.num_bins) return fail("num_ceps must not exceed num_bins");
  if (delta_order < 0 || delta_order > 4) return fail("delta_order must be 0 to 4");
  if (use_delta && delta_window < 1) return fail("delta_window must be at least 1");
  if (delta_window < 0 || delta_window > 50) return fail("delta_window must be 0 to 50");
  if (cmvn_opts.cmn_window < 1) return fail("cmn_window must be at least 1");
  if (cmvn_opts.min_window < 0) return fail("min_window must not be negative");
  if (vad_opts.vad_frames_context < 0) return fail("vad_frames_context must not be negative");
  if (max_vad_size_bat < 0 || max_vad_size_real < 0) return fail("max_vad_size must not be negative");
  return 0;
}

}  // namespace jor_feat
