#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IvectorExt/featext/quality-checker.h"
#include "engine/logging.h"
#include "tests/support/test-dir.h"

namespace jor_feat {
namespace {

constexpr int kSpectrum = 128;  // padded window 256

// Straightforward measures over all spectra: band means, frame levels,
// median bucket of width 10, speech above it, dB per band.
struct Reference {
  float threshold = 0.0f;
  bool failed = false;
  QualityMeasures m;
};

Reference Compute(const std::vector<std::vector<float>>& spectra, float previous_threshold) {
  Reference ref;
  ref.threshold = previous_threshold;
  const size_t n = spectra.size();
  std::vector<std::vector<double>> band(n, std::vector<double>(16));
  std::vector<double> level(n);
  std::vector<int> count(10000, 0);
  for (size_t f = 0; f < n; ++f) {
    double s = 0;
    for (int b = 0; b < 16; ++b) {
      double m = 0;
      for (int i = 0; i < 8; ++i) m += spectra[f][b * 8 + i];
      band[f][b] = static_cast<float>(m / 8);
      s += m / 8;
    }
    level[f] = static_cast<float>(s / 16);
    const int k = level[f] >= 0 && level[f] < 99990 ? static_cast<int>(level[f] / 10) : 9999;
    count[k]++;
  }
  if (n > 0) {
    // Cumulative fractions summed in single precision, as the measure is defined.
    float c = static_cast<float>(count[0]) / static_cast<float>(n);
    for (int k = 1; k < 10000; ++k) {
      c += static_cast<float>(count[k]) / static_cast<float>(n);
      if (c > 0.5f) {
        ref.threshold = 10.0f * k;
        ref.failed = k == 9999;
        break;
      }
    }
  }
  if (ref.failed) return ref;
  double S[16] = {}, N[16] = {};
  int ns = 0, nn = 0;
  for (size_t f = 0; f < n; ++f) {
    const bool speech = level[f] > ref.threshold;
    (speech ? ns : nn)++;
    for (int b = 0; b < 16; ++b) (speech ? S : N)[b] += band[f][b];
  }
  double speech_db[16], snr[16];
  for (int b = 0; b < 16; ++b) {
    speech_db[b] = 20 * std::log10(S[b] / (ns + 1) + 1) - 100;
    snr[b] = speech_db[b] - (20 * std::log10(N[b] / (nn + 1) + 1) - 100);
    ref.m.freq_snr[b] = static_cast<float>(snr[b]);
  }
  double snr_sum = 0, level_sum = 0;
  for (int b = 2; b <= 13; ++b) snr_sum += snr[b], level_sum += speech_db[b];
  ref.m.snr = static_cast<float>(snr_sum / 12);
  ref.m.speech_level = static_cast<float>(level_sum / 12);
  int start = 16, end = -1;
  for (int b = 0; b <= 14 && start == 16; ++b)
    if (snr[b] > 8 && snr[b + 1] > 8) start = b;
  for (int b = 15; b >= 1 && end == -1; --b)
    if (snr[b] > 8 && snr[b - 1] > 8) end = b;
  if (end >= start) {
    ref.m.start_valid_freq = 250.0f * start;
    ref.m.end_valid_freq = 250.0f * (end + 1);
  }
  return ref;
}

void ExpectNear(const QualityMeasures& got, const QualityMeasures& want, const std::string& what) {
  EXPECT_NEAR(got.snr, want.snr, 2e-3) << what;
  EXPECT_NEAR(got.speech_level, want.speech_level, 2e-3) << what;
  EXPECT_EQ(got.start_valid_freq, want.start_valid_freq) << what;
  EXPECT_EQ(got.end_valid_freq, want.end_valid_freq) << what;
  for (int b = 0; b < 16; ++b) EXPECT_NEAR(got.freq_snr[b], want.freq_snr[b], 2e-3) << what << b;
}

std::vector<float> Flat(float v) {
  return std::vector<float>(kSpectrum, v);
}

std::vector<float> Bands(const std::vector<float>& per_band) {
  std::vector<float> s(kSpectrum);
  for (int i = 0; i < kSpectrum; ++i) s[i] = per_band[i / 8];
  return s;
}

TEST(QualityCheckerTest, SyntheticSpectra) {
  FrameExtractionOptions opts;
  {
    // Every frame at level 5: threshold 10, all noise, speech -100 dB.
    QualityChecker<float> q(opts);
    std::vector<std::vector<float>> spectra(30, Flat(5.0f));
    for (auto& s : spectra) q.ObserveSpectrum(s.data(), kSpectrum);
    QualityMeasures m;
    ASSERT_EQ(q.GetMeasures(&m), 0u);
    EXPECT_EQ(q.speech_threshold(), 10.0f);
    EXPECT_FLOAT_EQ(m.speech_level, -100.0f);
    const float noise_db = static_cast<float>(20 * std::log10(150.0 / 31 + 1) - 100);
    EXPECT_NEAR(m.snr, -100.0f - noise_db, 1e-4);
    EXPECT_EQ(m.start_valid_freq, 0.0f);
    EXPECT_EQ(m.end_valid_freq, 0.0f);
  }
  {
    // Only bands 3 and 4 stand out in the loud frames: 750 Hz to 1250 Hz.
    QualityChecker<float> q(opts);
    std::vector<std::vector<float>> spectra;
    for (int i = 0; i < 10; ++i) spectra.push_back(Flat(100.0f));
    std::vector<float> loud(16, 100.0f);
    loud[3] = loud[4] = 50003.0f;
    for (int i = 0; i < 11; ++i) spectra.push_back(Bands(loud));
    for (auto& s : spectra) q.ObserveSpectrum(s.data(), kSpectrum);
    QualityMeasures m;
    ASSERT_EQ(q.GetMeasures(&m), 0u);
    EXPECT_EQ(m.start_valid_freq, 750.0f);
    EXPECT_EQ(m.end_valid_freq, 1250.0f);
    ExpectNear(m, Compute(spectra, 0.0f).m, "bands 3-4");
    // Asking again without new frames gives the same record.
    QualityMeasures again;
    ASSERT_EQ(q.GetMeasures(&again), 0u);
    EXPECT_EQ(again.snr, m.snr);
    EXPECT_EQ(again.speech_level, m.speech_level);
    for (int b = 0; b < 16; ++b) EXPECT_EQ(again.freq_snr[b], m.freq_snr[b]);
  }
  {
    // A frame level exactly on the threshold counts as noise.
    QualityChecker<double> q(opts);
    std::vector<std::vector<float>> spectra = {Flat(20.0f), Flat(20.0f), Flat(20.0f), Flat(55.5f),
                                               Flat(3.0f)};
    for (auto& s : spectra) {
      const std::vector<double> d(s.begin(), s.end());
      q.ObserveSpectrum(d.data(), kSpectrum);
    }
    QualityMeasures m;
    ASSERT_EQ(q.GetMeasures(&m), 0u);
    EXPECT_EQ(q.speech_threshold(), 20.0f);
    ExpectNear(m, Compute(spectra, 0.0f).m, "edge");
  }
  {
    // No frames: every band -100 dB on both sides.
    QualityChecker<float> q(opts);
    QualityMeasures m;
    ASSERT_EQ(q.GetMeasures(&m), 0u);
    EXPECT_FLOAT_EQ(m.speech_level, -100.0f);
    EXPECT_FLOAT_EQ(m.snr, 0.0f);
  }
}

TEST(QualityCheckerTest, MeasuresFollowAGrowingStream) {
  // Levels drift so that the median moves up and down between requests.
  FrameExtractionOptions opts;
  QualityChecker<float> q(opts);
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> u(0.5f, 1.5f);
  std::vector<std::vector<float>> spectra;
  float threshold = 0.0f;
  for (int f = 0; f < 1500; ++f) {
    const bool loud = (f % 7) < (f < 600 ? 2 : 5);
    std::vector<float> s(kSpectrum);
    for (int i = 0; i < kSpectrum; ++i)
      s[i] = (loud ? 3000.0f * (1 + (i / 8 + f) % 5) : 40.0f + (i % 16)) * u(gen);
    if (f % 97 == 0) std::fill(s.begin(), s.end(), 10.0f * (1 + f % 13));  // on an edge
    spectra.push_back(s);
    q.ObserveSpectrum(s.data(), kSpectrum);
    if (f % 37 == 0 || f == 1499) {
      QualityMeasures m;
      ASSERT_EQ(q.GetMeasures(&m), 0u);
      const Reference ref = Compute(spectra, threshold);
      threshold = ref.threshold;
      EXPECT_EQ(q.speech_threshold(), ref.threshold) << f;
      ExpectNear(m, ref.m, "frame " + std::to_string(f));
    }
  }
  // Too short a spectrum is not counted.
  q.ObserveSpectrum(spectra[0].data(), kSpectrum - 1);
  EXPECT_EQ(q.frames_observed(), 1500);
}

TEST(QualityCheckerTest, MedianInLastBucketFails) {
  jor_test::TestDir dir;
  const std::string log = dir.File("q.log");
  jor_test::WriteFile(dir.File("log-options.json"),
                      "{\"LogOptions\": {\"filename\": \"" + log + "\", \"level\": 0}}");
  jor_log::SetupLogging(dir.File("log-options.json"));
  QualityChecker<float> q(FrameExtractionOptions{});
  const std::vector<float> quiet = Flat(10.0f), loud = Flat(120000.0f);
  q.ObserveSpectrum(quiet.data(), kSpectrum);
  q.ObserveSpectrum(loud.data(), kSpectrum);
  q.ObserveSpectrum(loud.data(), kSpectrum);
  QualityMeasures m;
  m.snr = 42.0f;
  EXPECT_EQ(q.GetMeasures(&m), 0x50004102u);
  EXPECT_EQ(m.snr, 42.0f);
  EXPECT_EQ(q.speech_threshold(), 99990.0f);
  const std::string text = jor_test::ReadFile(log);
  EXPECT_NE(text.find(":error: quality-checker.cc:jor_feat::QualityChecker<float>::GetMeasures:114 "
                      ": all power spectrum less than threshold."),
            std::string::npos)
      << text;
  // Quiet frames bring the median back; the measures work again.
  for (int i = 0; i < 3; ++i) q.ObserveSpectrum(quiet.data(), kSpectrum);
  EXPECT_EQ(q.GetMeasures(&m), 0u);
  EXPECT_EQ(q.speech_threshold(), 10.0f);
  m.duration = 1.25f;
  q.GetMeasures(&m);
  EXPECT_NE(
      jor_test::ReadFile(log).find("GetMeasures:151 : Quality information : duration=1.250000, "),
      std::string::npos);
}

}  // namespace
}  // namespace jor_feat
