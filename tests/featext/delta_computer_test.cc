#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "IvectorExt/featext/delta-computer.h"

namespace jor_feat {
namespace {

// Weights for window 2: first order [-2..2] / 10; second order is that
// sequence convolved with itself over 100.
const std::vector<double> kScale1 = {-0.2, -0.1, 0.0, 0.1, 0.2};
const std::vector<double> kScale2 = {0.04, 0.04, 0.01, -0.04, -0.10, -0.04, 0.01, 0.04, 0.04};

std::vector<double> RandomStatics(int frames, int ceps, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  std::vector<double> m(static_cast<size_t>(frames) * ceps);
  for (double& v : m) v = u(gen);
  return m;
}

// Plain reference: delta block i of row t = sum_j w_i[j] * static(clamp(t + j)).
std::vector<double> ReferenceDeltas(const std::vector<double>& statics, int frames, int ceps) {
  const int dim = 3 * ceps;
  std::vector<double> out(static_cast<size_t>(frames) * dim, 0.0);
  const std::vector<double>* scales[3] = {nullptr, &kScale1, &kScale2};
  for (int t = 0; t < frames; ++t) {
    for (int c = 0; c < ceps; ++c) out[t * dim + c] = statics[t * ceps + c];
    for (int i = 1; i <= 2; ++i) {
      const std::vector<double>& s = *scales[i];
      const int half = static_cast<int>(s.size()) / 2;
      for (int j = -half; j <= half; ++j) {
        int r = t + j;
        if (r < 0) r = 0;
        if (r > frames - 1) r = frames - 1;
        for (int c = 0; c < ceps; ++c)
          out[t * dim + i * ceps + c] += s[j + half] * statics[r * ceps + c];
      }
    }
  }
  return out;
}

template <typename T>
std::vector<T> ZeroPadded(const std::vector<double>& statics, int frames, int ceps) {
  std::vector<T> m(static_cast<size_t>(frames) * 3 * ceps, T(0));
  for (int t = 0; t < frames; ++t)
    for (int c = 0; c < ceps; ++c) m[t * 3 * ceps + c] = static_cast<T>(statics[t * ceps + c]);
  return m;
}

TEST(DeltaComputerTest, ScalesForWindowTwoOrderTwo) {
  DeltaComputer<double> d(2, 2);
  const auto& s = d.scales();
  ASSERT_EQ(s.size(), 3u);
  ASSERT_EQ(s[0].size(), 1u);
  EXPECT_DOUBLE_EQ(s[0][0], 1.0);
  ASSERT_EQ(s[1].size(), kScale1.size());
  for (size_t i = 0; i < kScale1.size(); ++i) EXPECT_NEAR(s[1][i], kScale1[i], 1e-12) << i;
  ASSERT_EQ(s[2].size(), kScale2.size());
  for (size_t i = 0; i < kScale2.size(); ++i) EXPECT_NEAR(s[2][i], kScale2[i], 1e-12) << i;

  // Window 1 order 1: [-1, 0, 1] / 2.
  DeltaComputer<float> d1(1, 1);
  ASSERT_EQ(d1.scales()[1].size(), 3u);
  EXPECT_FLOAT_EQ(d1.scales()[1][0], -0.5f);
  EXPECT_FLOAT_EQ(d1.scales()[1][1], 0.0f);
  EXPECT_FLOAT_EQ(d1.scales()[1][2], 0.5f);
}

TEST(DeltaComputerTest, BatchDeltasClampAtBothEnds) {
  const int ceps = 3;
  for (int frames : {1, 2, 3, 7, 40}) {
    const std::vector<double> statics = RandomStatics(frames, ceps, 11 + frames);
    std::vector<float> m = ZeroPadded<float>(statics, frames, ceps);
    DeltaComputer<float> d(2, 2);
    for (int t = 0; t < frames; ++t) d.ComputeFrame(m.data(), frames, ceps, t);
    const std::vector<double> expect = ReferenceDeltas(statics, frames, ceps);
    for (size_t i = 0; i < m.size(); ++i) EXPECT_NEAR(m[i], expect[i], 1e-4) << frames << "/" << i;
  }
  // Frame 0 with window 2 uses rows 0, 0, 0, 1, 2 with weights -0.2 .. 0.2.
  const std::vector<double> col = {1.0, 10.0, 100.0, 1000.0};
  std::vector<double> m(4 * 2, 0.0);
  for (int t = 0; t < 4; ++t) m[t * 2] = col[t];
  DeltaComputer<double> d(1, 2);
  d.ComputeFrame(m.data(), 4, 1, 0);
  EXPECT_NEAR(m[1], -0.2 * 1 - 0.1 * 1 + 0.1 * 10 + 0.2 * 100, 1e-12);
  d.ComputeFrame(m.data(), 4, 1, 3);
  EXPECT_NEAR(m[7], -0.2 * 10 - 0.1 * 100 + 0.1 * 1000 + 0.2 * 1000, 1e-12);
}

TEST(DeltaComputerTest, OnlineMatchesBatchWhileBufferGrows) {
  const int ceps = 4, dim = 12;
  for (int frames : {1, 3, 8, 9, 10, 57}) {
    const std::vector<double> statics = RandomStatics(frames, ceps, 100 + frames);
    const std::vector<double> expect = ReferenceDeltas(statics, frames, ceps);
    const std::vector<double> full = ZeroPadded<double>(statics, frames, ceps);
    std::vector<double> buffer;  // grows row by row, so it moves
    DeltaComputer<double> d(2, 2);
    int released = 0;
    for (int t = 0; t < frames; ++t) {
      buffer.insert(buffer.end(), full.begin() + t * dim, full.begin() + (t + 1) * dim);
      buffer.shrink_to_fit();
      released += d.PushFrame(buffer.data(), t, ceps);
      // Released rows are final and have their full context.
      ASSERT_LE(released, t + 1);
      for (int i = 0; i < released * dim; ++i) ASSERT_NEAR(buffer[i], expect[i], 1e-9) << i;
    }
    // Nine-row capacity: a row leaves once eight newer ones follow it.
    EXPECT_EQ(released, frames >= 9 ? frames - 8 : 0);
    const int rest = d.Flush(buffer.data());
    EXPECT_EQ(released + rest, frames);
    for (size_t i = 0; i < buffer.size(); ++i) EXPECT_NEAR(buffer[i], expect[i], 1e-9) << i;

    d.Reset();
    std::vector<double> again = full;
    int total = 0;
    for (int t = 0; t < frames; ++t) total += d.PushFrame(again.data(), t, ceps);
    total += d.Flush(again.data());
    EXPECT_EQ(total, frames);
    for (size_t i = 0; i < again.size(); ++i) EXPECT_NEAR(again[i], expect[i], 1e-9);
  }
}

}  // namespace
}  // namespace jor_feat
