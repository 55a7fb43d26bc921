#include "IvectorExt/featext/mel-computations.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace jor_feat {

float MelScale(float freq) {
  return 1127.0f * std::log(1.0f + freq / 700.0f);
}

float InverseMelScale(float mel) {
  return 700.0f * (std::exp(mel / 1127.0f) - 1.0f);
}

float VtlnWarpFreq(float vtln_low, float vtln_high, float low, float high, float warp, float freq) {
  if (freq < low || freq > high) return freq;
  const float one = 1.0f;
  const float l = vtln_low * std::max(one, warp);
  const float h = vtln_high * std::min(one, warp);
  const float scale = static_cast<float>(1.0 / warp);
  if (freq < l) return low + (freq - low) * ((scale * l - low) / (l - low));
  if (freq < h) return scale * freq;
  return high + (freq - high) * ((high - scale * h) / (high - h));
}

namespace {

float WarpMel(float vtln_low, float vtln_high, float low, float high, float warp, float mel) {
  return MelScale(VtlnWarpFreq(vtln_low, vtln_high, low, high, warp, InverseMelScale(mel)));
}

[[noreturn]] void Reject(const std::string& why) {
  throw std::invalid_argument("MelBanks: " + why);
}

}  // namespace

template <typename T>
MelBanks<T>::MelBanks(const MelBanksOptions& mel_opts, const FrameExtractionOptions& frame_opts,
                      float warp)
    : debug_(mel_opts.debug_mel), htk_mode_(mel_opts.htk_mode) {
  const int32_t num_bins = mel_opts.num_bins;
  if (num_bins < 1) Reject("num_bins must be at least 1, but is " + std::to_string(num_bins));
  const float samp_freq = frame_opts.samp_freq;
  if (!(samp_freq > 0.0f) || !std::isfinite(samp_freq)) Reject("samp_freq must be > 0");

  FrameExtractionOptions derived = frame_opts;
  derived.ComputeDerived();
  const int32_t padded = derived.padded_window_size;
  if (padded < 2) Reject("the padded window has fewer than two samples");
  const int32_t num_fft_bins = padded / 2;
  const float nyquist = 0.5f * samp_freq;
  const float fft_bin_width = samp_freq / static_cast<float>(padded);

  const float low = mel_opts.low_freq;
  float high = mel_opts.high_freq;
  if (high <= 0.0f) high += nyquist;
  if (!(low >= 0.0f) || !(low < nyquist) || !(high > 0.0f) || !(high <= nyquist) || !(high > low)) {
    Reject("bad frequency range: low_freq " + std::to_string(low) + ", high_freq " +
           std::to_string(high) + " with Nyquist " + std::to_string(nyquist));
  }

  if (!(warp > 0.0f) || !std::isfinite(warp)) Reject("vtln warp factor must be > 0");
  const float vtln_low = mel_opts.vtln_low;
  float vtln_high = mel_opts.vtln_high;
  if (vtln_high < 0.0f) vtln_high += nyquist;
  if (warp != 1.0f) {
    // The warping is piecewise linear between low, l, h and high; each piece
    // must have a positive width.
    const float l = vtln_low * std::max(1.0f, warp);
    const float h = vtln_high * std::min(1.0f, warp);
    if (!(l > low) || !(h < high) || !(h > l)) {
      Reject("vtln_low/vtln_high do not lie inside (low_freq, high_freq) for warp " +
             std::to_string(warp));
    }
  }

  const float mel_low = MelScale(low);
  const float mel_high = MelScale(high);
  const float mel_delta = (mel_high - mel_low) / static_cast<float>(num_bins + 1);

  center_freqs_.resize(num_bins);
  bins_.resize(num_bins);
  std::vector<T> weights(num_fft_bins);
  for (int32_t bin = 0; bin < num_bins; ++bin) {
    float left = mel_low + static_cast<float>(bin) * mel_delta;
    float center = mel_low + static_cast<float>(bin + 1) * mel_delta;
    float right = mel_low + static_cast<float>(bin + 2) * mel_delta;
    if (warp != 1.0f) {
      left = WarpMel(vtln_low, vtln_high, low, high, warp, left);
      center = WarpMel(vtln_low, vtln_high, low, high, warp, center);
      right = WarpMel(vtln_low, vtln_high, low, high, warp, right);
    }
    center_freqs_[bin] = static_cast<T>(InverseMelScale(center));
    int32_t first = -1, last = -1;
    for (int32_t i = 0; i < num_fft_bins; ++i) {
      const float mel = MelScale(fft_bin_width * static_cast<float>(i));
      if (mel > left && mel < right) {
        const float w =
            mel <= center ? (mel - left) / (center - left) : (right - mel) / (right - center);
        weights[i] = static_cast<T>(w);
        if (first == -1) first = i;
        last = i;
      }
    }
    if (first == -1) {
      Reject("mel bin " + std::to_string(bin) + " of " + std::to_string(num_bins) +
             " covers no FFT index (too many bins for a " + std::to_string(padded) +
             "-point FFT over " + std::to_string(low) + "-" + std::to_string(high) + " Hz)");
    }
    bins_[bin].first = first;
    bins_[bin].second.assign(weights.begin() + first, weights.begin() + last + 1);
    // HTK drops the lowest point of the first triangle.
    if (htk_mode_ && bin == 0 && mel_low != 0.0f) bins_[bin].second[0] = T(0);
  }
}

template <typename T>
void MelBanks<T>::Compute(const T* power_spectrum, std::vector<T>* mel_energies) const {
  const int32_t num_bins = NumBins();
  T* out = mel_energies->data();
  for (int32_t b = 0; b < num_bins; ++b) {
    const T* w = bins_[b].second.data();
    const T* p = power_spectrum + bins_[b].first;
    const int32_t n = static_cast<int32_t>(bins_[b].second.size());
    T s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    int32_t j = 0;
    for (; j + 4 <= n; j += 4) {
      s0 += w[j] * p[j];
      s1 += w[j + 1] * p[j + 1];
      s2 += w[j + 2] * p[j + 2];
      s3 += w[j + 3] * p[j + 3];
    }
    for (; j < n; ++j) s0 += w[j] * p[j];
    T energy = (s0 + s1) + (s2 + s3);
    if (htk_mode_ && energy < T(1)) energy = T(1);
    out[b] = energy;
  }
}

template class MelBanks<float>;
template class MelBanks<double>;

}  // namespace jor_feat
