#include "drumlin/speaker-clustering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using drumlin::ClusteringStats;
using drumlin::ClusterSpeakers;

struct Matrix {
  int n;
  std::vector<uint8_t> cells;
  explicit Matrix(int size, uint8_t fill = 0) : n(size), cells(size_t(size) * size, fill) {}
  uint8_t& at(int k, int j) { return cells[size_t(k) * n + j]; }
};

struct Result {
  int status;
  std::vector<int> labels;
  int clusters;
  ClusteringStats stats;
};

Result Cluster(const Matrix& m) {
  Result r;
  r.status = ClusterSpeakers(m.cells.data(), m.n, &r.labels, &r.clusters, &r.stats);
  return r;
}

TEST(SpeakerClustering, FlatMatrices) {
  struct Case {
    int n;
    uint8_t value;
    int clusters;  // 0: every label -1; 1: every label 0
  };
  const Case cases[] = {
      {0, 255, 0},   {1, 255, 0},   {9, 255, 0},   // fewer than 10 pieces
      {10, 255, 1},  {10, 60, 1},   {37, 160, 1},  // equal entries >= 60
      {10, 59, 0},   {40, 0, 0},                   // average below 60
      {512, 200, 1}, {600, 170, 1},                // beyond the old 512 limit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("n=" + std::to_string(c.n) + " value=" + std::to_string(c.value));
    const Result r = Cluster(Matrix(c.n, c.value));
    ASSERT_EQ(r.status, drumlin::kClusteringOk);
    EXPECT_EQ(r.clusters, c.clusters);
    ASSERT_EQ(r.labels.size(), size_t(c.n));
    for (int label : r.labels) EXPECT_EQ(label, c.clusters == 1 ? 0 : -1);
    if (c.n >= 10) {
      EXPECT_EQ(r.stats.maxRowSum, c.n * c.value);
    }
  }
}

TEST(SpeakerClustering, StopRuleUsesIntegerAverage) {
  // Row sums 9 × 60 + diagonal: 599 / 10 = 59 stops, 600 / 10 = 60 goes on.
  for (int diagonal : {59, 60}) {
    Matrix m(10, 60);
    for (int i = 0; i < 10; ++i) m.at(i, i) = uint8_t(diagonal);
    const Result r = Cluster(m);
    EXPECT_EQ(r.stats.maxRowSum, 540 + diagonal);
    EXPECT_EQ(r.clusters, diagonal == 60 ? 1 : 0) << diagonal;
  }
}

// Speakers with noisy in-speaker scores (180..230), rare false matches
// across speakers, and silent pieces that match nothing; pieces are placed
// in time by `order`. Expected labels: speakers by decreasing size.
struct Speakers {
  std::vector<int> sizes;  // decreasing
  int silent;
  int layout;  // 0 in blocks, 1 alternating, 2 shuffled
};

void BuildSpeakers(const Speakers& s, uint32_t seed, Matrix* m, std::vector<int>* expected) {
  std::vector<int> owner;
  for (size_t sp = 0; sp < s.sizes.size(); ++sp) owner.insert(owner.end(), s.sizes[sp], int(sp));
  owner.insert(owner.end(), s.silent, -1);
  std::mt19937 rng(seed);
  if (s.layout == 1) {
    // Round robin over the speakers and the silence.
    std::vector<std::vector<int>> queues(s.sizes.size() + 1);
    for (int o : owner) queues[o + 1].push_back(o);
    owner.clear();
    for (bool any = true; any;) {
      any = false;
      for (auto& q : queues) {
        if (q.empty()) continue;
        owner.push_back(q.back());
        q.pop_back();
        any = true;
      }
    }
  } else if (s.layout == 2) {
    std::shuffle(owner.begin(), owner.end(), rng);
  }
  const int n = int(owner.size());
  *m = Matrix(n);
  std::uniform_int_distribution<int> same(180, 230), chance(0, 99), falseMatch(160, 170);
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < n; ++j) {
      if (owner[k] < 0 || owner[j] < 0) continue;
      if (owner[k] == owner[j]) {
        m->at(k, j) = uint8_t(same(rng));
      } else if (chance(rng) < 5) {
        m->at(k, j) = uint8_t(falseMatch(rng));
      }
    }
  }
  *expected = owner;
}

TEST(SpeakerClustering, FindsBlockSpeakers) {
  const Speakers cases[] = {
      {{14, 10}, 3, 0},     {{14, 10}, 3, 1},     {{14, 10}, 3, 2},
      {{16, 12, 10}, 4, 0}, {{16, 12, 10}, 4, 1}, {{16, 12, 10}, 4, 2},
      {{30, 20, 11}, 6, 2}, {{400, 250}, 20, 2},  // 670 pieces
  };
  for (const Speakers& c : cases) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE("speakers=" + std::to_string(c.sizes.size()) +
                   " first=" + std::to_string(c.sizes[0]) + " layout=" + std::to_string(c.layout) +
                   " seed=" + std::to_string(seed));
      Matrix m(0);
      std::vector<int> expected;
      BuildSpeakers(c, seed, &m, &expected);
      const Result r = Cluster(m);
      ASSERT_EQ(r.status, drumlin::kClusteringOk);
      EXPECT_EQ(r.clusters, int(c.sizes.size()));
      EXPECT_EQ(r.labels, expected);
    }
  }
}

TEST(SpeakerClustering, CutAtZeroCountsAsNotSet) {
  // Flat 100s with one piece scoring itself 255: every other piece overlaps
  // the seed equally, so the first piece after the seed falls below the
  // level and the cut computes as 0. Taken as set, the seed would stand
  // alone; not set, the next position closes a two-piece cluster. The ten
  // others form the second cluster.
  Matrix m(12, 100);
  m.at(0, 0) = 255;
  const Result r = Cluster(m);
  ASSERT_EQ(r.clusters, 2);
  EXPECT_EQ(r.labels[0], 0);
  EXPECT_EQ(std::count(r.labels.begin(), r.labels.end(), 0), 2);
  EXPECT_EQ(std::count(r.labels.begin(), r.labels.end(), 1), 10);
}

TEST(SpeakerClustering, RefinementTakesInAndGivesBack) {
  // Pieces 0-9 one speaker; 10-13 silent. Piece 14 is matched by the speaker
  // (its column) but matches nobody (its row): the seed's upper-triangle
  // profile takes it in, its own row gives it back. Piece 15 matches the
  // speaker (its row) but nobody matches it (its column): left out by the
  // profile, taken in by the refinement on stored rows.
  Matrix m(16);
  for (int i = 0; i < 10; ++i) {
    for (int j = 0; j < 10; ++j) m.at(i, j) = 200;
    m.at(i, 14) = 200;
    m.at(15, i) = 200;
  }
  const Result r = Cluster(m);
  std::vector<int> expected(16, -1);
  for (int i = 0; i < 10; ++i) expected[i] = 0;
  expected[15] = 0;
  EXPECT_EQ(r.clusters, 1);
  EXPECT_EQ(r.labels, expected);
  EXPECT_EQ(r.stats.maxRowSum, 2200);      // 10 × 200 + the column of piece 14
  EXPECT_EQ(r.stats.maxClusterSum, 2200);  // row over pieces 0-9 and 14
}

TEST(SpeakerClustering, RefusesBadArguments) {
  std::vector<int> labels{7};
  int clusters = 5;
  EXPECT_EQ(ClusterSpeakers(nullptr, 12, &labels, &clusters), drumlin::kClusteringInvalidArgument);
  EXPECT_TRUE(labels.empty());
  EXPECT_EQ(clusters, 0);
  uint8_t one = 0;
  EXPECT_EQ(ClusterSpeakers(&one, -1, &labels, &clusters), drumlin::kClusteringInvalidArgument);
  EXPECT_EQ(ClusterSpeakers(&one, drumlin::kMaxClusterPieces + 1, &labels, &clusters),
            drumlin::kClusteringInvalidArgument);
}

TEST(SpeakerClustering, NoDiagonalNoCrash) {
  // Scores only above the diagonal: refinement rows may sum to nothing; the
  // run must end with sane labels whatever it finds.
  for (int n : {10, 25, 60}) {
    Matrix m(n);
    for (int k = 0; k < n; ++k)
      for (int j = k + 1; j < n; ++j) m.at(k, j) = 255;
    const Result r = Cluster(m);
    ASSERT_EQ(r.status, drumlin::kClusteringOk);
    ASSERT_EQ(r.labels.size(), size_t(n));
    for (int label : r.labels) EXPECT_TRUE(label >= -1 && label < r.clusters);
  }
}

}  // namespace
