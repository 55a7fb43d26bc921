// Mel filter bank: triangle edges and weights, htk mode, VTLN warping, errors.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "IvectorExt/featext/mel-computations.h"

namespace jor_feat {
namespace {

double Mel(double f) {
  return 1127.0 * std::log(1.0 + f / 700.0);
}
double InvMel(double m) {
  return 700.0 * (std::exp(m / 1127.0) - 1.0);
}

// Dense triangles (num_bins x P/2) written out in double precision.
struct RefBank {
  std::vector<std::vector<double>> weights;
  std::vector<double> centers;
};

double RefWarp(double f, double low, double high, double vl, double vh, double w) {
  if (f < low || f > high) return f;
  const double l = vl * std::max(1.0, w), h = vh * std::min(1.0, w), s = 1.0 / w;
  if (f < l) return low + (f - low) * (s * l - low) / (l - low);
  if (f < h) return s * f;
  return high + (f - high) * (high - s * h) / (high - h);
}

FrameExtractionOptions FrameOptions(float samp_freq) {
  FrameExtractionOptions f;
  f.samp_freq = samp_freq;
  f.ComputeDerived();
  return f;
}

MelBanksOptions BankOptions(int num_bins, float low, float high) {
  MelBanksOptions m;
  m.num_bins = num_bins;
  m.low_freq = low;
  m.high_freq = high;
  return m;
}

RefBank Reference(const MelBanksOptions& m, double samp_freq, int padded, double warp) {
  const double nyq = samp_freq / 2;
  const double low = m.low_freq;
  const double high = m.high_freq <= 0 ? m.high_freq + nyq : m.high_freq;
  const double vl = m.vtln_low;
  const double vh = m.vtln_high < 0 ? m.vtln_high + nyq : m.vtln_high;
  const double ml = Mel(low), mh = Mel(high), delta = (mh - ml) / (m.num_bins + 1);
  RefBank r;
  for (int b = 0; b < m.num_bins; ++b) {
    double e[3] = {ml + b * delta, ml + (b + 1) * delta, ml + (b + 2) * delta};
    if (warp != 1.0) {
      for (double& v : e) v = Mel(RefWarp(InvMel(v), low, high, vl, vh, warp));
    }
    r.centers.push_back(InvMel(e[1]));
    std::vector<double> w(padded / 2, 0.0);
    for (int i = 0; i < padded / 2; ++i) {
      const double mel = Mel(i * samp_freq / padded);
      if (mel > e[0] && mel < e[2]) {
        w[i] = mel <= e[1] ? (mel - e[0]) / (e[1] - e[0]) : (e[2] - mel) / (e[2] - e[1]);
      }
    }
    r.weights.push_back(w);
  }
  return r;
}

template <typename T>
std::vector<double> Dense(const MelBanks<T>& bank, int b, int half) {
  std::vector<double> w(half, 0.0);
  const auto& bin = bank.GetBins()[b];
  EXPECT_GE(bin.first, 0);
  EXPECT_LE(bin.first + static_cast<int>(bin.second.size()), half);
  for (size_t j = 0; j < bin.second.size(); ++j) w[bin.first + j] = bin.second[j];
  return w;
}

TEST(MelBanksLayout, AgainstReference) {
  struct Case {
    float samp_freq;
    int num_bins;
    float low, high;
    float warp;
    int first_index_bin0;  // -1: not checked
    double top_edge_hz;    // right edge of the last triangle; 0: not checked
  };
  const Case cases[] = {
      {8000, 23, 20, 3700, 1.0f, 1, 3700},  // defaults: bin width 31.25 Hz
      {8000, 23, 20, 0, 1.0f, 1, 4000},     // 0 means Nyquist
      {8000, 23, 20, -200, 1.0f, 1, 3800},  // 200 Hz below Nyquist
      {8000, 40, 20, 3700, 1.0f, 1, 3700}, {16000, 40, 100, -400, 1.0f, -1, 7600},
      {8000, 23, 20, 3700, 0.9f, -1, 0},   {8000, 23, 20, 3700, 1.1f, -1, 0},
  };
  for (const Case& c : cases) {
    const FrameExtractionOptions f = FrameOptions(c.samp_freq);
    MelBanksOptions m = BankOptions(c.num_bins, c.low, c.high);
    const int half = f.padded_window_size / 2;
    const RefBank ref = Reference(m, c.samp_freq, f.padded_window_size, c.warp);
    MelBanks<float> bf(m, f, c.warp);
    MelBanks<double> bd(m, f, c.warp);
    ASSERT_EQ(bf.NumBins(), c.num_bins);
    ASSERT_EQ(bd.NumBins(), c.num_bins);
    if (c.first_index_bin0 >= 0) {
      EXPECT_EQ(bf.GetBins()[0].first, c.first_index_bin0);
      EXPECT_EQ(bd.GetBins()[0].first, c.first_index_bin0);
    }
    if (c.top_edge_hz > 0) {
      // The last triangle reaches the FFT indices just below the top edge, no further.
      const auto& last = bd.GetBins().back();
      const int last_index = last.first + static_cast<int>(last.second.size()) - 1;
      const double bin_width = c.samp_freq / f.padded_window_size;
      EXPECT_LT(last_index * bin_width, c.top_edge_hz);
      EXPECT_GE((last_index + 1) * bin_width, c.top_edge_hz - 1e-3);
    }
    for (int b = 0; b < c.num_bins; ++b) {
      const std::vector<double> wf = Dense(bf, b, half), wd = Dense(bd, b, half);
      for (int i = 0; i < half; ++i) {
        ASSERT_NEAR(wf[i], ref.weights[b][i], 2e-4) << "bin " << b << " index " << i;
        ASSERT_NEAR(wd[i], ref.weights[b][i], 2e-4) << "bin " << b << " index " << i;
      }
      EXPECT_NEAR(bd.GetCenterFreqs()[b], ref.centers[b], 0.05);
    }

    // Compute: the weighted sums over the stored spans.
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(0.0, 1000.0);
    std::vector<double> pd(half + 1);
    std::vector<float> pf(half + 1);
    for (int i = 0; i <= half; ++i) pd[i] = pf[i] = static_cast<float>(u(rng));
    std::vector<double> od(c.num_bins);
    std::vector<float> of(c.num_bins);
    bd.Compute(pd.data(), &od);
    bf.Compute(pf.data(), &of);
    for (int b = 0; b < c.num_bins; ++b) {
      double s = 0;
      for (int i = 0; i < half; ++i) s += ref.weights[b][i] * pd[i];
      // Weight differences of 2e-4 on a few powers of up to 1000.
      EXPECT_NEAR(od[b], s, 0.6);
      EXPECT_NEAR(of[b], s, 0.6);
    }
  }
}

TEST(MelBanksLayout, HtkMode) {
  FrameExtractionOptions f;
  f.ComputeDerived();
  MelBanksOptions m;
  m.htk_mode = true;
  MelBanks<float> bank(m, f, 1.0f);
  MelBanksOptions plain = m;
  plain.htk_mode = false;
  MelBanks<float> plain_bank(plain, f, 1.0f);
  EXPECT_EQ(bank.GetBins()[0].second[0], 0.0f);
  EXPECT_GT(plain_bank.GetBins()[0].second[0], 0.0f);
  EXPECT_EQ(bank.GetBins()[1].second, plain_bank.GetBins()[1].second);

  // Energies below 1.0 are raised to 1.0 (log 0 after the logarithm).
  std::vector<float> power(129, 0.3f / 20.0f);
  std::vector<float> out(23), plain_out(23);
  bank.Compute(power.data(), &out);
  plain_bank.Compute(power.data(), &plain_out);
  for (int b = 0; b < 23; ++b) {
    EXPECT_EQ(out[b], 1.0f);
    EXPECT_LT(plain_out[b], 1.0f);
  }
  // Low frequency 0: the first point is kept.
  m.low_freq = 0.0f;
  MelBanks<double> zero_low(m, f, 1.0f);
  EXPECT_EQ(zero_low.GetBins()[0].first, 1);
  EXPECT_GT(zero_low.GetBins()[0].second[0], 0.0);
}

TEST(MelBanksLayout, VtlnWarpFrequency) {
  struct Case {
    float warp, freq;
    double expected;
  };
  // low 20, high 3700, vtln cut-offs 100 and 3500; values worked by hand.
  const Case cases[] = {
      {0.9f, 10.0f, 10.0},            // below low: unchanged
      {0.9f, 3750.0f, 3750.0},        // above high: unchanged
      {0.9f, 1000.0f, 1000.0 / 0.9},  // middle piece: f / w
      {0.9f, 60.0f, 20.0 + 40.0 * (100.0 / 0.9 - 20.0) / 80.0},
      {0.9f, 3400.0f, 3700.0 - 300.0 * (3700.0 - 3150.0 / 0.9) / (3700.0 - 3150.0)},
      {1.2f, 100.0f, 20.0 + 80.0 * (100.0 - 20.0) / 100.0},  // l = 120: lower piece
      {1.2f, 2000.0f, 2000.0 / 1.2},
      {1.0f, 1234.5f, 1234.5},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(VtlnWarpFreq(100.0f, 3500.0f, 20.0f, 3700.0f, c.warp, c.freq), c.expected,
                1e-3 * std::max(1.0, c.expected))
        << c.warp << " " << c.freq;
  }
  EXPECT_NEAR(MelScale(700.0f), 1127.0 * std::log(2.0), 1e-3);
  EXPECT_NEAR(InverseMelScale(MelScale(1500.0f)), 1500.0, 1e-2);
}

TEST(MelBanksLayout, RejectsUnusableConfigurations) {
  struct Case {
    int num_bins;
    float low, high;
    float samp_freq;
    float warp;
    float vtln_low;
  };
  const Case cases[] = {
      {128, 20, 3700, 8000, 1.0f, 100},   // narrow low triangles cover no FFT index
      {23, 1000, 1010, 8000, 1.0f, 100},  // range narrower than one FFT bin
      {0, 20, 3700, 8000, 1.0f, 100},    {23, 3700, 20, 8000, 1.0f, 100},
      {23, 20, 4500, 8000, 1.0f, 100},   {23, -5, 3700, 8000, 1.0f, 100},
      {23, 20, 3700, 0, 1.0f, 100},      {23, 20, 3700, 8000, 0.0f, 100},
      {23, 20, 3700, 8000, -1.0f, 100},  {23, 20, 3700, 8000, NAN, 100},
      {23, 20, 3700, 8000, 0.9f, 10},  // vtln_low below low_freq
  };
  for (const Case& c : cases) {
    const FrameExtractionOptions f = FrameOptions(c.samp_freq);
    MelBanksOptions m = BankOptions(c.num_bins, c.low, c.high);
    m.vtln_low = c.vtln_low;
    EXPECT_THROW((MelBanks<float>(m, f, c.warp)), std::invalid_argument)
        << c.num_bins << " " << c.low << " " << c.high << " " << c.warp;
  }
}

}  // namespace
}  // namespace jor_feat
