// Framing, reflection, frame conditioning and window functions.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "IvectorExt/featext/feature-window.h"

namespace jor_feat {
namespace {

FrameExtractionOptions Defaults() {
  FrameExtractionOptions o;
  o.ComputeDerived();
  return o;
}

TEST(WindowFrameCount, FramesAndStarts) {
  struct Case {
    bool snip_edges;
    int64_t num_samples;
    bool flush;
    int64_t expected;
  };
  const Case cases[] = {
      {false, 200, true, 3},   // (200 + 40) / 80
      {false, 200, false, 1},  // last frame ends at 300, then 220, then 140
      {false, 0, true, 0},    {false, 0, false, 0},     {false, 40, true, 1},
      {false, 40, false, 0},  {false, 8000, true, 100}, {false, 8000, false, 99},
      {true, 199, true, 0},   {true, 199, false, 0},    {true, 200, true, 1},
      {true, 280, true, 2},   {true, 279, false, 1},    {true, 8000, true, 98},
  };
  for (const Case& c : cases) {
    FrameExtractionOptions o = Defaults();
    o.snip_edges = c.snip_edges;
    EXPECT_EQ(NumFrames(c.num_samples, o, c.flush), c.expected)
        << "snip=" << c.snip_edges << " n=" << c.num_samples << " flush=" << c.flush;
  }

  FrameExtractionOptions o = Defaults();
  EXPECT_EQ(FrameStartSample(0, o), -60);
  EXPECT_EQ(FrameStartSample(1, o), 20);
  EXPECT_EQ(FrameStartSample(99, o), 7860);
  o.snip_edges = true;
  EXPECT_EQ(FrameStartSample(0, o), 0);
  EXPECT_EQ(FrameStartSample(3, o), 240);

  // Unusable shift: no division by zero, no frames.
  FrameExtractionOptions bad = Defaults();
  bad.window_shift = 0;
  EXPECT_EQ(NumFrames(1000, bad, true), 0);
  bad.snip_edges = true;
  EXPECT_EQ(NumFrames(1000, bad, true), 0);
}

// Index folding as written out step by step: reflect until in range.
int64_t ReflectSlowly(int64_t i, int64_t n) {
  while (i < 0 || i >= n) {
    if (i < 0) {
      i = -i - 1;
    } else {
      i = 2 * n - 1 - i;
    }
  }
  return i;
}

TEST(WindowExtractFrame, ReflectionAtEdges) {
  struct Case {
    int32_t num_samples;
    int32_t frame;
    int64_t offset;
  };
  const Case cases[] = {
      {1000, 0, 0},                             // starts at -60
      {300, 3, 0},                              // ends past the last sample
      {5, 0, 0},                                // shorter than the frame: repeated reflection
      {1, 0, 0},    {7, 2, 0}, {1000, 5, 100},  // sample offset of an online remainder
  };
  for (const Case& c : cases) {
    for (int use_double = 0; use_double < 2; ++use_double) {
      FrameExtractionOptions o = Defaults();
      std::vector<double> wave_d(c.num_samples);
      std::vector<float> wave_f(c.num_samples);
      for (int32_t i = 0; i < c.num_samples; ++i) wave_d[i] = wave_f[i] = static_cast<float>(i);
      const int64_t start = FrameStartSample(c.frame, o) - c.offset;
      std::vector<double> got;
      if (use_double) {
        std::vector<double> frame(3, 7.0);
        ExtractFrame<double>(c.offset, wave_d.data(), &c.num_samples, &c.frame, o, &frame);
        got = frame;
      } else {
        std::vector<float> frame;
        ExtractFrame<float>(c.offset, wave_f.data(), &c.num_samples, &c.frame, o, &frame);
        got.assign(frame.begin(), frame.end());
      }
      ASSERT_EQ(got.size(), 256u);
      for (int s = 0; s < 200; ++s) {
        ASSERT_EQ(got[s], static_cast<double>(ReflectSlowly(start + s, c.num_samples)))
            << "n=" << c.num_samples << " frame=" << c.frame << " s=" << s;
      }
      for (int s = 200; s < 256; ++s) ASSERT_EQ(got[s], 0.0);
    }
  }

  // The first frame of a long wave: wave[59], wave[58], ..., wave[0], wave[0], ...
  FrameExtractionOptions o = Defaults();
  std::vector<float> wave(1000);
  for (int i = 0; i < 1000; ++i) wave[i] = static_cast<float>(i);
  std::vector<float> frame;
  int32_t n = 1000, f = 0;
  ExtractFrame<float>(0, wave.data(), &n, &f, o, &frame);
  EXPECT_EQ(frame[0], 59.0f);
  EXPECT_EQ(frame[59], 0.0f);
  EXPECT_EQ(frame[60], 0.0f);
  EXPECT_EQ(frame[61], 1.0f);
  EXPECT_EQ(frame[199], 139.0f);

  // No samples at all: a silent frame rather than a read out of bounds.
  n = 0;
  ExtractFrame<float>(0, wave.data(), &n, &f, o, &frame);
  for (float v : frame) EXPECT_EQ(v, 0.0f);
}

TEST(WindowFunctions, FormulasAndErrors) {
  const int32_t n = 200;
  const double a = 2.0 * M_PI / (n - 1);
  struct Case {
    const char* name;
    double (*weight)(double a, int i);
  };
  const Case cases[] = {
      {"hanning", [](double a, int i) { return 0.5 - 0.5 * std::cos(a * i); }},
      {"hamming", [](double a, int i) { return 0.54 - 0.46 * std::cos(a * i); }},
      {"povey", [](double a, int i) { return std::pow(0.5 - 0.5 * std::cos(a * i), 0.85); }},
      {"rectangular", [](double, int) { return 1.0; }},
      {"blackman",
       [](double a, int i) {
         const double b = 0.42f;  // the option is a float
         return b - 0.5 * std::cos(a * i) + (0.5 - b) * std::cos(2 * a * i);
       }},
  };
  for (const Case& c : cases) {
    FrameExtractionOptions o = Defaults();
    o.window_type = c.name;
    const std::vector<double> wd = BuildWindowFunction<double>(o);
    const std::vector<float> wf = BuildWindowFunction<float>(o);
    ASSERT_EQ(wd.size(), 200u);
    ASSERT_EQ(wf.size(), 200u);
    for (int i : {0, 1, 37, 99, 100, 150, 199}) {
      const double expected = c.weight(a, i);
      EXPECT_NEAR(wd[i], expected, 1e-15) << c.name << " " << i;
      EXPECT_NEAR(wf[i], expected, 1e-7) << c.name << " " << i;
    }
  }
  // Blackman coefficient is read from the options.
  FrameExtractionOptions o = Defaults();
  o.window_type = "blackman";
  o.blackman_coeff = 0.5f;
  EXPECT_NEAR(BuildWindowFunction<double>(o)[50], 0.5 - 0.5 * std::cos(a * 50), 1e-15);

  struct Bad {
    std::string type;
    int32_t size;
    std::string message;
  };
  const Bad bad[] = {
      {"Povey", 200, "Unknown window type: Povey"},
      {"hamming ", 200, "Unknown window type: hamming "},
      {"", 200, "Unknown window type: "},
      {"povey", 0, "opts.window_size must be > 0, but 0"},
      {"povey", -3, "opts.window_size must be > 0, but -3"},
  };
  for (const Bad& b : bad) {
    FrameExtractionOptions o = Defaults();
    o.window_type = b.type;
    o.window_size = b.size;
    try {
      BuildWindowFunction<float>(o);
      ADD_FAILURE() << "no exception for " << b.type;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), b.message);
    }
  }
}

// Straightforward conditioning in double, without dither.
std::vector<double> ConditionReference(const FrameExtractionOptions& o, std::vector<double> x,
                                       const std::vector<double>& window, double* energy) {
  const int n = static_cast<int>(window.size());
  if (o.remove_dc_offset) {
    double sum = 0;
    for (int i = 0; i < n; ++i) sum += x[i];
    for (int i = 0; i < n; ++i) x[i] -= sum / n;
  }
  double e = 0;
  for (int i = 0; i < n; ++i) e += x[i] * x[i];
  *energy = std::log(std::max(e, static_cast<double>(1.1920929e-7f)));
  std::vector<double> y = x;
  const double q = o.preemph_coeff;
  for (int i = 1; i < n; ++i) y[i] = x[i] - q * x[i - 1];
  y[0] = x[0] - q * x[0];
  for (int i = 0; i < n; ++i) y[i] *= window[i];
  return y;
}

TEST(WindowConditionFrame, StepsAgainstReference) {
  struct Case {
    bool remove_dc;
    float preemph;
    const char* window;
    double offset;  // added to every sample
    double scale;   // of the varying part
  };
  const Case cases[] = {
      {true, 0.97f, "povey", 100.0, 1000.0},  {false, 0.97f, "hamming", 0.0, 1.0},
      {true, 0.0f, "rectangular", 5.0, 20.0}, {false, 0.0f, "hanning", -3.0, 0.5},
      {true, 0.5f, "blackman", 0.0, 0.0},  // silence: energy hits the floor
  };
  for (const Case& c : cases) {
    FrameExtractionOptions o = Defaults();
    o.dither = 0.0f;
    o.remove_dc_offset = c.remove_dc;
    o.preemph_coeff = c.preemph;
    o.window_type = c.window;
    std::vector<double> x(256, 0.0);
    for (int i = 0; i < 200; ++i) x[i] = c.offset + c.scale * std::sin(0.3 * i + 0.01 * i * i);
    std::vector<double> wd(200);
    const std::vector<float> wf = BuildWindowFunction<float>(o);
    const std::vector<double> wdd = BuildWindowFunction<double>(o);
    for (int i = 0; i < 200; ++i) wd[i] = wdd[i];
    double ref_energy = 0;
    const std::vector<double> ref = ConditionReference(o, x, wd, &ref_energy);

    DitherEngine engine(6793);
    DitherDistribution dist(0.0f, 1.0f);
    const int32_t len = 200;
    std::vector<double> d = x;
    double energy_d = 0;
    ConditionFrame<double>(o, wdd, &engine, &dist, d.data(), &len, &energy_d);
    std::vector<float> f(x.begin(), x.end());
    float energy_f = 0;
    ConditionFrame<float>(o, wf, &engine, &dist, f.data(), &len, &energy_f);
    EXPECT_NEAR(energy_d, ref_energy, 1e-9);
    EXPECT_NEAR(energy_f, ref_energy, 1e-4);
    const double mag = std::max(1.0, std::abs(c.offset) + c.scale);
    for (int i = 0; i < 256; ++i) {
      const double r = i < 200 ? ref[i] : 0.0;  // the padding is left alone
      ASSERT_NEAR(d[i], r, 1e-10 * mag) << c.window << " " << i;
      ASSERT_NEAR(f[i], r, 2e-5 * mag) << c.window << " " << i;
    }
  }

  // Pre-emphasis of a constant frame leaves v(1 - q) everywhere, sample 0 included.
  FrameExtractionOptions o = Defaults();
  o.dither = 0.0f;
  o.remove_dc_offset = false;
  o.window_type = "rectangular";
  const std::vector<float> w = BuildWindowFunction<float>(o);
  std::vector<float> frame(256, 10.0f);
  DitherEngine engine(1);
  DitherDistribution dist(0.0f, 1.0f);
  const int32_t len = 200;
  ConditionFrame<float>(o, w, &engine, &dist, frame.data(), &len, nullptr);
  for (int i = 0; i < 200; ++i) ASSERT_NEAR(frame[i], 10.0 * (1.0 - 0.97), 1e-5) << i;

  // Silence with raw energy: the single-precision epsilon floor, also for double.
  o.remove_dc_offset = true;
  std::vector<double> zeros(256, 0.0);
  const std::vector<double> wd = BuildWindowFunction<double>(o);
  double e = 0;
  ConditionFrame<double>(o, wd, &engine, &dist, zeros.data(), &len, &e);
  EXPECT_DOUBLE_EQ(e, std::log(static_cast<double>(1.1920929e-7f)));
}

TEST(WindowConditionFrame, DitherSequence) {
  FrameExtractionOptions o = Defaults();
  o.dither = 2.0f;
  o.remove_dc_offset = false;
  o.preemph_coeff = 0.0f;
  o.window_type = "rectangular";
  const std::vector<float> wf = BuildWindowFunction<float>(o);
  const std::vector<double> wd = BuildWindowFunction<double>(o);
  const int32_t len = 200;

  // The noise is dither * g with g drawn in order from mt19937 / normal<float>.
  DitherEngine ref_engine(6793);
  DitherDistribution ref_dist(0.0f, 1.0f);
  std::vector<float> expected_f(400);
  std::vector<double> expected_d(200);
  for (int i = 0; i < 400; ++i) {
    const float g = ref_dist(ref_engine);
    expected_f[i] = 5.0f + 2.0f * g;
    if (i < 200) expected_d[i] = 5.0 + static_cast<double>(2.0f * g);
  }
  double sum = 0, sum2 = 0;
  for (int i = 0; i < 400; ++i) {
    const double g = (expected_f[i] - 5.0) / 2.0;
    sum += g;
    sum2 += g * g;
  }
  EXPECT_NEAR(sum / 400, 0.0, 0.2);
  EXPECT_NEAR(sum2 / 400, 1.0, 0.25);

  DitherEngine engine(6793);
  DitherDistribution dist(0.0f, 1.0f);
  std::vector<float> f1(256, 5.0f), f2(256, 5.0f);
  ConditionFrame<float>(o, wf, &engine, &dist, f1.data(), &len, nullptr);
  ConditionFrame<float>(o, wf, &engine, &dist, f2.data(), &len, nullptr);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(f1[i], expected_f[i]) << i;
    ASSERT_EQ(f2[i], expected_f[200 + i]) << i;  // the sequence continues
  }

  // Reseeding repeats the sequence; the double instantiation widens the product.
  engine.seed(6793);
  std::vector<double> d(256, 5.0);
  ConditionFrame<double>(o, wd, &engine, &dist, d.data(), &len, nullptr);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(d[i], expected_d[i]) << i;

  // A different seed gives different noise.
  DitherEngine other(6794);
  std::vector<float> f3(256, 5.0f);
  ConditionFrame<float>(o, wf, &other, &dist, f3.data(), &len, nullptr);
  int same = 0;
  for (int i = 0; i < 200; ++i) same += f3[i] == f1[i];
  EXPECT_LT(same, 5);
}

// Many frames, so that the rarer branches of the normal generator (rejections
// and the tail, about one draw in eighty) occur many times, also for frame
// lengths that are not a multiple of anything and for a non-standard
// distribution.
TEST(WindowConditionFrame, DitherMatchesDistributionOverLongRuns) {
  struct Case {
    int32_t length;
    float mean, sigma, dither;
  };
  const Case cases[] = {{200, 0.0f, 1.0f, 1.0f},
                        {37, 0.0f, 1.0f, 0.5f},
                        {300, 0.5f, 2.0f, 3.0f},
                        {1, 0.0f, 1.0f, 1.0f}};
  for (const Case& c : cases) {
    FrameExtractionOptions o = Defaults();
    o.window_size = c.length;
    o.dither = c.dither;
    o.remove_dc_offset = false;
    o.preemph_coeff = 0.0f;
    o.window_type = "rectangular";
    const std::vector<float> w = BuildWindowFunction<float>(o);
    DitherEngine engine(99), ref_engine(99);
    DitherDistribution dist(c.mean, c.sigma), ref_dist(c.mean, c.sigma);
    std::vector<float> frame(c.length);
    for (int f = 0; f < 20000 / c.length + 1; ++f) {
      std::fill(frame.begin(), frame.end(), 0.0f);
      ConditionFrame<float>(o, w, &engine, &dist, frame.data(), &c.length, nullptr);
      for (int i = 0; i < c.length; ++i) {
        ASSERT_EQ(frame[i], 0.0f + c.dither * ref_dist(ref_engine))
            << "length " << c.length << " frame " << f << " sample " << i;
      }
    }
    // The engines end in the same state.
    EXPECT_EQ(engine(), ref_engine());
  }
}

}  // namespace
}  // namespace jor_feat
