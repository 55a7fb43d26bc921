// The 4 kHz low-pass and the sinc resampler, checked against plain
// reimplementations written here.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "drumlin/audec.h"
#include "drumlin/biquad-filter.h"
#include "drumlin/sinc-resampler.h"
#include "tests/drumlin/wav-bytes.h"

namespace {

using namespace drumlin_test;

std::vector<int16_t> DecodeMonoWav(const std::vector<int16_t>& in, int rate, bool lowpass,
                                   bool downsample) {
  const std::vector<uint8_t> wav = Wav(1, rate, 16, Pcm16(in));
  Audec a;
  a.LowpassFilter(lowpass);
  a.DownSampling(downsample);
  std::vector<uint8_t> out;
  EXPECT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &out), 0);
  return Samples16(out);
}

// RBJ low-pass, 4 kHz corner, Q = 1/sqrt(2), evaluated in float as the
// decoder does: y = b1 x[n-1] + b0 x[n] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2],
// truncated and wrapped to 16 bits before it feeds back.
std::vector<int16_t> ReferenceLowpassFloat(const std::vector<int16_t>& x, int fs) {
  const float w = 25132.742f / fs;
  const float sn = sinf(w), cs = cosf(w);
  const float alpha = sn / (2.0f * (1.0f / sqrtf(2.0f)));
  const float a0 = 1.0f + alpha;
  const float b0 = (1.0f - cs) / 2.0f / a0, b1 = (1.0f - cs) / a0, b2 = b0;
  const float a1 = -2.0f * cs / a0, a2 = (1.0f - alpha) / a0;
  std::vector<int16_t> y(x.size());
  for (size_t n = 0; n < x.size(); ++n) {
    const float xn = x[n];
    const float xn1 = n >= 1 ? x[n - 1] : 0.0f, xn2 = n >= 2 ? x[n - 2] : 0.0f;
    const float yn1 = n >= 1 ? y[n - 1] : 0.0f, yn2 = n >= 2 ? y[n - 2] : 0.0f;
    float acc = b1 * xn1;
    acc = acc + b0 * xn;
    acc = acc + b2 * xn2;
    acc = acc - a1 * yn1;
    acc = acc - a2 * yn2;
    y[n] = static_cast<int16_t>(static_cast<int>(acc));
  }
  return y;
}

// The same filter in double precision without truncation.
std::vector<double> ReferenceLowpassDouble(const std::vector<int16_t>& x, int fs) {
  const double w = 2 * std::numbers::pi * 4000 / fs;
  const double alpha = std::sin(w) / (2 / std::sqrt(2.0));
  const double a0 = 1 + alpha, c = std::cos(w);
  const double b0 = (1 - c) / 2 / a0, b1 = (1 - c) / a0, a1 = -2 * c / a0, a2 = (1 - alpha) / a0;
  std::vector<double> y(x.size());
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (size_t n = 0; n < x.size(); ++n) {
    y[n] = b0 * x[n] + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x[n];
    y2 = y1;
    y1 = y[n];
  }
  return y;
}

double Rms(const std::vector<int16_t>& s, size_t from) {
  double e = 0;
  for (size_t i = from; i < s.size(); ++i) e += double(s[i]) * s[i];
  return std::sqrt(e / double(s.size() - from));
}

TEST(AudecLowpass, Coefficients) {
  // fs = 16 kHz puts the corner at fs/4: cos = 0, sin = 1.
  const drumlin::BiquadLowpass f(16000);
  const double alpha = 1 / std::sqrt(2.0), a0 = 1 + alpha;
  EXPECT_NEAR(f.b0(), 0.5 / a0, 1e-6);
  EXPECT_NEAR(f.b1(), 1.0 / a0, 1e-6);
  EXPECT_NEAR(f.b2(), 0.5 / a0, 1e-6);
  EXPECT_NEAR(f.a1(), 0.0, 1e-6);
  EXPECT_NEAR(f.a2(), (1 - alpha) / a0, 1e-6);
}

TEST(AudecLowpass, MatchesIndependentFilter) {
  struct Case {
    int rate;
    double freq, amplitude;
  };
  for (const Case c : {Case{16000, 1000, 20000}, Case{16000, 7000, 30000}, Case{44100, 3000, 32000},
                       Case{22050, 9000, 25000}, Case{11025, 200, 8000}}) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, tone " << c.freq);
    const auto x = Tone(3000, c.freq, c.rate, c.amplitude);
    const auto y = DecodeMonoWav(x, c.rate, true, false);
    ASSERT_EQ(y, ReferenceLowpassFloat(x, c.rate));
    const auto yd = ReferenceLowpassDouble(x, c.rate);
    // Truncation errors (under one unit each) pass through the feedback
    // path, whose gain at low frequencies reaches about 5 at 44.1 kHz.
    for (size_t n = 0; n < y.size(); ++n) ASSERT_NEAR(y[n], yd[n], 8.0) << n;
  }
}

TEST(AudecLowpass, PassesBelowAndCutsAboveTheCorner) {
  const auto low = Tone(4000, 1000, 16000, 10000);
  const auto high = Tone(4000, 7000, 16000, 10000);
  const double gainLow = Rms(DecodeMonoWav(low, 16000, true, false), 200) / Rms(low, 200);
  const double gainHigh = Rms(DecodeMonoWav(high, 16000, true, false), 200) / Rms(high, 200);
  EXPECT_NEAR(gainLow, 1.0, 0.03);
  EXPECT_LT(gainHigh, 0.1);
}

// 25-tap unwindowed sinc written from its definition, in double throughout.
std::vector<double> ReferenceSinc(const std::vector<int16_t>& x, int fs) {
  const double r = fs / 8000.0;
  const long n = static_cast<long>(x.size());
  const long count = static_cast<long>(x.size() / r);
  std::vector<double> y(count);
  for (long i = 0; i < count; ++i) {
    const double t = i * r;
    double sum = 0;
    for (long j = static_cast<long>(t) - 12; j <= static_cast<long>(t) + 12; ++j) {
      if (j < 0 || j >= n) continue;
      const double a = (t - j) * std::numbers::pi;
      sum += (a == 0 ? 1.0 : std::sin(a) / a) * (x[j] / 32768.0);
    }
    y[i] = std::min(std::max(sum * 32768.0, -32768.0), 32767.0);
  }
  return y;
}

TEST(AudecResampler, EverySecondSampleAt16k) {
  const auto x = Tone(4001, 2500, 16000, 30000);
  const auto y = DecodeMonoWav(x, 16000, false, true);
  ASSERT_EQ(y.size(), 2000u);
  for (size_t i = 0; i < y.size(); ++i) ASSERT_NEAR(y[i], x[2 * i], 1) << i;
}

TEST(AudecResampler, MatchesIndependentSinc) {
  for (int rate : {44100, 22050, 11025, 12000, 48000, 6000}) {
    SCOPED_TRACE(rate);
    const auto x = Tone(rate / 4 + 3, 700, rate, 25000);
    const auto y = DecodeMonoWav(x, rate, false, true);
    const auto ref = ReferenceSinc(x, rate);
    ASSERT_EQ(y.size(), ref.size());
    for (size_t i = 0; i < y.size(); ++i) ASSERT_NEAR(y[i], ref[i], 1.0) << i;
  }
}

TEST(AudecResampler, ClampsAtFullScale) {
  // Overshoot of the sinc between full-scale samples is clipped, not wrapped.
  std::vector<int16_t> x(2000);
  for (size_t i = 0; i < x.size(); ++i) x[i] = (i / 3) % 2 ? 32767 : -32768;
  std::vector<int16_t> y(drumlin::SincOutputFrames(x.size(), 22050));
  drumlin::SincResample(x.data(), x.size(), 1, 22050, y.data(), 1);
  const auto ref = ReferenceSinc(x, 22050);
  for (size_t i = 0; i < y.size(); ++i) ASSERT_NEAR(y[i], ref[i], 1.0) << i;
}

TEST(AudecResampler, ToneKeepsItsFrequency) {
  for (double freq : {440.0, 1000.0, 3100.0}) {
    SCOPED_TRACE(freq);
    const int rate = 44100;
    std::vector<int16_t> x(rate);  // one second, pure
    for (int n = 0; n < rate; ++n) {
      x[n] = static_cast<int16_t>(
          std::lround(12000 * std::sin(2 * std::numbers::pi * freq * n / rate)));
    }
    const auto y = DecodeMonoWav(x, rate, false, true);
    ASSERT_EQ(y.size(), 8000u);
    // Magnitude of a DFT bin (1 Hz apart over one second), skipping the edges.
    auto bin = [&](double f) {
      double re = 0, im = 0;
      for (int n = 0; n < 8000; ++n) {
        re += y[n] * std::cos(2 * std::numbers::pi * f * n / 8000);
        im += y[n] * std::sin(2 * std::numbers::pi * f * n / 8000);
      }
      return std::hypot(re, im);
    };
    const double peak = bin(freq);
    EXPECT_NEAR(peak / 4000, 12000, 12000 * 0.03);  // amplitude kept
    for (double off : {-7.0, -3.0, 3.0, 7.0, 100.0}) EXPECT_LT(bin(freq + off), peak * 0.05) << off;
  }
}

}  // namespace
