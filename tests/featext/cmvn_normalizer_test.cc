#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "IvectorExt/featext/feat-normalizer.h"

namespace jor_feat {
namespace {

TEST(CmvnWindowTest, CentredAndTrailingWindowsNearBothEnds) {
  struct Case {
    bool center;
    int w, m;
    int64_t t, n, start, end;
  };
  const Case cases[] = {
      // Centred, W = 300: first 151 frames share [0, 300), then it slides.
      {true, 300, 100, 0, 1000, 0, 300},
      {true, 300, 100, 150, 1000, 0, 300},
      {true, 300, 100, 151, 1000, 1, 301},
      {true, 300, 100, 500, 1000, 350, 650},
      {true, 300, 100, 850, 1000, 700, 1000},
      {true, 300, 100, 999, 1000, 700, 1000},
      {true, 300, 100, 0, 200, 0, 200},  // shorter than the window
      {true, 301, 100, 200, 1000, 50, 351},
      // Trailing, W = 300, M = 100: at least 100 frames at the start.
      {false, 300, 100, 0, 1000, 0, 100},
      {false, 300, 100, 99, 1000, 0, 100},
      {false, 300, 100, 100, 1000, 0, 101},
      {false, 300, 100, 300, 1000, 0, 301},
      {false, 300, 100, 301, 1000, 1, 302},
      {false, 300, 100, 999, 1000, 699, 1000},
      {false, 300, 100, 10, 50, 0, 50},  // minimum window cut at the end
      {false, 300, 0, 0, 10, 0, 1},
  };
  for (const Case& c : cases) {
    const CmvnRange r = CmvnWindow(c.w, c.m, c.center, c.t, c.n);
    EXPECT_EQ(r.start, c.start) << c.center << " t=" << c.t << " n=" << c.n;
    EXPECT_EQ(r.end, c.end) << c.center << " t=" << c.t << " n=" << c.n;
  }
}

std::vector<double> RandomMatrix(int frames, int dim, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> g(0.0, 3.0);
  std::vector<double> m(static_cast<size_t>(frames) * dim);
  for (int t = 0; t < frames; ++t)
    for (int c = 0; c < dim; ++c) m[t * dim + c] = g(gen) + 5.0 * c + 0.01 * t;
  return m;
}

// Mean (and variance) of every frame's window computed afresh.
std::vector<double> BruteForce(const std::vector<double>& in, int frames, int dim,
                               const SlidingWindowCmvnOptions& o) {
  std::vector<double> out(in.size());
  for (int t = 0; t < frames; ++t) {
    const CmvnRange w = CmvnWindow(o.cmn_window, o.min_window, o.center, t, frames);
    const double n = static_cast<double>(w.end - w.start);
    for (int c = 0; c < dim; ++c) {
      double mean = 0.0;
      for (int64_t r = w.start; r < w.end; ++r) mean += in[r * dim + c];
      mean /= n;
      double v = in[t * dim + c] - mean;
      if (o.normalize_variance) {
        if (n == 1) {
          v = 0.0;
        } else {
          double var = 0.0;
          for (int64_t r = w.start; r < w.end; ++r)
            var += (in[r * dim + c] - mean) * (in[r * dim + c] - mean);
          var /= n;
          if (var < 1e-10) var = 1e-10;
          v /= std::sqrt(var);
        }
      }
      out[t * dim + c] = v;
    }
  }
  return out;
}

SlidingWindowCmvnOptions Options(int w, int m, bool center, bool var) {
  SlidingWindowCmvnOptions o;
  o.cmn_window = w;
  o.min_window = m;
  o.center = center;
  o.normalize_variance = var;
  return o;
}

TEST(FeatNormalizerTest, BatchMatchesBruteForce) {
  const int dim = 5;
  for (bool center : {true, false}) {
    for (bool var : {false, true}) {
      for (int frames : {2, 3, 17, 120, 333}) {
        const SlidingWindowCmvnOptions o = Options(60, 25, center, var);
        const std::vector<double> in = RandomMatrix(frames, dim, frames);
        const std::vector<double> expect = BruteForce(in, frames, dim, o);
        std::vector<float> m(in.begin(), in.end());
        const std::vector<double> in_f(m.begin(), m.end());
        const std::vector<double> expect_f = BruteForce(in_f, frames, dim, o);
        FeatNormalizer<float> norm(o, dim, dim);
        EXPECT_EQ(norm.NormalizeMatrix(m.data(), frames, dim), 0);
        for (size_t i = 0; i < m.size(); ++i)
          ASSERT_NEAR(m[i], expect_f[i], 1e-4) << center << var << frames << " " << i;
        std::vector<double> md = in;
        FeatNormalizer<double> normd(o, dim, dim);
        normd.NormalizeMatrix(md.data(), frames, dim);
        for (size_t i = 0; i < md.size(); ++i) ASSERT_NEAR(md[i], expect[i], 1e-9);
      }
    }
  }
}

TEST(FeatNormalizerTest, EdgeRowsAndVarianceFloor) {
  // One frame: left as it is.
  std::vector<double> one = {3.0, -4.0};
  FeatNormalizer<double> n1(Options(300, 100, true, true), 2, 2);
  n1.NormalizeMatrix(one.data(), 1, 2);
  EXPECT_EQ(one[0], 3.0);
  EXPECT_EQ(one[1], -4.0);

  // A one-row window with variance normalisation gives zeros.
  std::vector<double> m = {3.0, -4.0, 7.0, 1.0};
  FeatNormalizer<double> n2(Options(1, 0, true, true), 2, 2);
  n2.NormalizeMatrix(m.data(), 2, 2);
  for (double v : m) EXPECT_EQ(v, 0.0);

  // Variance below 1e-10 is floored: deviations are scaled by 1e5.
  std::vector<double> tiny = {1.0, 1.0 + 1e-6};
  FeatNormalizer<double> n3(Options(2, 0, true, true), 1, 1);
  n3.NormalizeMatrix(tiny.data(), 2, 1);
  EXPECT_NEAR(tiny[0], -0.5e-6 * 1e5, 1e-9);
  EXPECT_NEAR(tiny[1], 0.5e-6 * 1e5, 1e-9);
}

struct OnlineRun {
  std::vector<int> counts;  // per push
  int flushed = 0;
  std::vector<double> rows;
};

OnlineRun RunOnline(const std::vector<double>& in, int frames, int dim,
                    const SlidingWindowCmvnOptions& o) {
  OnlineRun run;
  FeatNormalizer<double> norm(o, dim, dim);
  for (int t = 0; t < frames; ++t) {
    run.rows.insert(run.rows.end(), in.begin() + t * dim, in.begin() + (t + 1) * dim);
    run.rows.shrink_to_fit();  // the buffer moves between pushes
    run.counts.push_back(norm.PushFrame(run.rows.data(), t));
  }
  run.flushed = norm.Flush(run.rows.data());
  return run;
}

TEST(FeatNormalizerTest, OnlineCountsAndValues) {
  const int dim = 3;
  {
    // Centred, W = 300, 1000 frames: 151 at frame 300, one per frame, 149 at flush.
    const auto o = Options(300, 100, true, false);
    const std::vector<double> in = RandomMatrix(1000, dim, 7);
    const OnlineRun run = RunOnline(in, 1000, dim, o);
    for (int t = 0; t < 299; ++t) ASSERT_EQ(run.counts[t], 0) << t;
    EXPECT_EQ(run.counts[299], 151);
    for (int t = 300; t < 1000; ++t) ASSERT_EQ(run.counts[t], 1) << t;
    EXPECT_EQ(run.flushed, 149);
    const std::vector<double> expect = BruteForce(in, 1000, dim, o);
    for (size_t i = 0; i < expect.size(); ++i) ASSERT_NEAR(run.rows[i], expect[i], 1e-9) << i;
  }
  {
    // Centred, 250 frames: nothing, not even at flush.
    const std::vector<double> in = RandomMatrix(250, dim, 8);
    const OnlineRun run = RunOnline(in, 250, dim, Options(300, 100, true, false));
    for (int c : run.counts) EXPECT_EQ(c, 0);
    EXPECT_EQ(run.flushed, 0);
  }
  {
    // Trailing, M = 100, 50 frames: nothing.
    const std::vector<double> in = RandomMatrix(50, dim, 9);
    const OnlineRun run = RunOnline(in, 50, dim, Options(300, 100, false, false));
    for (int c : run.counts) EXPECT_EQ(c, 0);
    EXPECT_EQ(run.flushed, 0);
  }
  for (bool var : {false, true}) {
    // Trailing: 100 rows at frame 100, then one per frame; values as in batch.
    const auto o = Options(300, 100, false, var);
    const std::vector<double> in = RandomMatrix(700, dim, 10);
    const OnlineRun run = RunOnline(in, 700, dim, o);
    EXPECT_EQ(run.counts[98], 0);
    EXPECT_EQ(run.counts[99], 100);
    for (int t = 100; t < 700; ++t) ASSERT_EQ(run.counts[t], 1);
    EXPECT_EQ(run.flushed, 0);
    const std::vector<double> expect = BruteForce(in, 700, dim, o);
    for (size_t i = 0; i < expect.size(); ++i) ASSERT_NEAR(run.rows[i], expect[i], 1e-8) << i;
  }
  for (int w : {31, 32}) {
    // Odd and even centred windows: every row exactly once, as in batch.
    const auto o = Options(w, 10, true, true);
    const std::vector<double> in = RandomMatrix(200, dim, 11);
    const OnlineRun run = RunOnline(in, 200, dim, o);
    int total = run.flushed;
    for (int c : run.counts) total += c;
    EXPECT_EQ(total, 200) << w;
    const std::vector<double> expect = BruteForce(in, 200, dim, o);
    for (size_t i = 0; i < expect.size(); ++i) ASSERT_NEAR(run.rows[i], expect[i], 1e-8) << w;
  }
  {
    // A minimum window longer than the trailing window still gives output.
    const auto o = Options(20, 50, false, false);
    const std::vector<double> in = RandomMatrix(60, dim, 12);
    const OnlineRun run = RunOnline(in, 60, dim, o);
    int total = 0;
    for (int c : run.counts) total += c;
    EXPECT_EQ(run.counts[20], 21);
    EXPECT_EQ(total, 60);
  }
}

}  // namespace
}  // namespace jor_feat
