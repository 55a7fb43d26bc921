#include "IvectorExt/ivext/utterance-stats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int kMismatch = static_cast<int>(0x40007005u);

struct AccumulateCase {
  const char* name;
  std::vector<double> frame;
  std::vector<int> indices;
  std::vector<double> posteriors;
  int expected;
};

// Two Gaussians, three-dimensional frames.
TEST(UtteranceStatsTest, AccumulateChecksSizesAndIndices) {
  const AccumulateCase cases[] = {
      {"short frame", {1, 2}, {0}, {1}, kMismatch},
      {"long frame", {1, 2, 3, 4}, {0}, {1}, kMismatch},
      {"more indices than posteriors", {1, 2, 3}, {0, 1}, {1}, kMismatch},
      {"more posteriors than indices", {1, 2, 3}, {0}, {0.5, 0.5}, kMismatch},
      {"negative index", {1, 2, 3}, {0, -1}, {0.5, 0.5}, kMismatch},
      {"index past the last Gaussian", {1, 2, 3}, {1, 2}, {0.5, 0.5}, kMismatch},
      {"empty lists", {1, 2, 3}, {}, {}, 0},
      {"valid", {1, 2, 3}, {1, 0}, {0.25, 0.75}, 0},
  };
  for (const AccumulateCase& c : cases) {
    SCOPED_TRACE(c.name);
    UtteranceStats<double> stats(3, 2);
    EXPECT_EQ(stats.Accumulate(c.frame, c.indices, c.posteriors), c.expected);
    EXPECT_EQ(stats.numFrames, c.expected == 0 ? 1 : 0);
    if (c.expected != 0 || c.indices.empty()) {
      // Nothing may be added by a rejected or empty frame.
      EXPECT_EQ(stats.zeroth, std::vector<double>(2, 0.0));
      EXPECT_EQ(stats.first[0], std::vector<double>(3, 0.0));
      EXPECT_EQ(stats.first[1], std::vector<double>(3, 0.0));
    }
  }
}

TEST(UtteranceStatsTest, SumsOccupationsAndWeightedFrames) {
  UtteranceStats<float> stats(2, 3);
  ASSERT_EQ(stats.Accumulate({1.0f, -2.0f}, {0, 2}, {0.5f, 0.25f}), 0);
  ASSERT_EQ(stats.Accumulate({4.0f, 8.0f}, {2}, {1.0f}), 0);
  ASSERT_EQ(stats.Accumulate({3.0f, 3.0f}, {}, {}), 0);
  EXPECT_EQ(stats.numFrames, 3);
  EXPECT_EQ(stats.zeroth, (std::vector<float>{0.5f, 0.0f, 1.25f}));
  EXPECT_EQ(stats.first[0], (std::vector<float>{0.5f, -1.0f}));
  EXPECT_EQ(stats.first[1], (std::vector<float>{0.0f, 0.0f}));
  // 0.25·(1, −2) + 1·(4, 8)
  EXPECT_EQ(stats.first[2], (std::vector<float>{4.25f, 7.5f}));
  EXPECT_EQ(stats.First(2)[1], 7.5f);
}

}  // namespace
