// Average-linkage clustering and resegmentation against straightforward
// second implementations and hand-made cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "drumlin/agglomerative-clustering.h"
#include "drumlin/viterbi-resegmentation.h"

namespace {

// Textbook agglomerative clustering: always merge the pair of clusters with the
// highest mean pair similarity, recomputed from the items. Returns the labels
// after each number of merges, as partitions (label of each item, numbered by
// first item).
std::vector<std::vector<int>> NaivePartitions(const std::vector<float>& s, int n,
                                              std::vector<double>* heights) {
  std::vector<std::vector<int>> clusters(n);
  for (int i = 0; i < n; ++i) clusters[i] = {i};
  std::vector<std::vector<int>> partitions;
  const auto labelsOf = [&]() {
    std::vector<int> label(n);
    for (size_t c = 0; c < clusters.size(); ++c)
      for (int i : clusters[c]) label[i] = static_cast<int>(c);
    std::vector<int> number(n, -1), out(n);
    int next = 0;
    for (int i = 0; i < n; ++i) {
      if (number[label[i]] < 0) number[label[i]] = next++;
      out[i] = number[label[i]];
    }
    return out;
  };
  partitions.push_back(labelsOf());
  while (clusters.size() > 1) {
    double best = -1e300;
    size_t ba = 0, bb = 1;
    for (size_t a = 0; a < clusters.size(); ++a) {
      for (size_t b = a + 1; b < clusters.size(); ++b) {
        double sum = 0;
        for (int i : clusters[a])
          for (int j : clusters[b]) sum += s[i * n + j];
        const double mean = sum / (clusters[a].size() * clusters[b].size());
        if (mean > best) best = mean, ba = a, bb = b;
      }
    }
    heights->push_back(best);
    clusters[ba].insert(clusters[ba].end(), clusters[bb].begin(), clusters[bb].end());
    clusters.erase(clusters.begin() + bb);
    partitions.push_back(labelsOf());
  }
  return partitions;
}

TEST(AgglomerativeClustering, MatchesNaiveClusteringOnRandomMatrices) {
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  for (int trial = 0; trial < 20; ++trial) {
    const int n = 3 + trial % 12;
    // Items around a few centres, so that the matrix has structure.
    std::vector<std::vector<float>> points(n, std::vector<float>(3));
    for (int i = 0; i < n; ++i)
      for (float& v : points[i]) v = noise(rng) + 4.0f * static_cast<float>(i % 3);
    std::vector<float> s(n * n);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        float d = 0;
        for (int k = 0; k < 3; ++k) d += (points[i][k] - points[j][k]) * (points[i][k] - points[j][k]);
        s[i * n + j] = -d;
      }
    }
    std::vector<double> heights;
    const auto partitions = NaivePartitions(s, n, &heights);
    const auto merges = drumlin::AverageLinkageDendrogram(s, n);
    ASSERT_EQ(merges.size(), static_cast<size_t>(n - 1));
    std::vector<double> got;
    for (const auto& m : merges) got.push_back(m.similarity);
    std::sort(got.begin(), got.end(), std::greater<>());
    for (int k = 0; k < n - 1; ++k) EXPECT_NEAR(got[k], heights[k], 1e-3 * (1 + std::fabs(heights[k])));
    for (int clusters = 1; clusters <= n; ++clusters) {
      drumlin::CutOptions cut;
      cut.clusters = clusters;
      EXPECT_EQ(drumlin::CutDendrogram(merges, n, cut), partitions[n - clusters])
          << "trial " << trial << " clusters " << clusters;
    }
    // A threshold between two heights gives the partition after the merges above it.
    for (int k = 0; k + 1 < n - 1; ++k) {
      if (heights[k] - heights[k + 1] < 1e-2) continue;
      drumlin::CutOptions cut;
      cut.threshold = static_cast<float>(0.5 * (heights[k] + heights[k + 1]));
      EXPECT_EQ(drumlin::CutDendrogram(merges, n, cut), partitions[k + 1]);
      cut.maxClusters = 1;
      EXPECT_EQ(drumlin::CutDendrogram(merges, n, cut), partitions[n - 1]);
    }
  }
}

TEST(AgglomerativeClustering, HandMadeMatrix) {
  // Items 0 and 2 alike (9), 1 and 3 alike (8), across 0 to 1.
  const std::vector<float> s = {0, 1, 9, 0,  //
                                1, 0, 1, 8,  //
                                9, 1, 0, 1,  //
                                0, 8, 1, 0};
  const auto merges = drumlin::AverageLinkageDendrogram(s, 4);
  drumlin::CutOptions cut;
  cut.threshold = 5;
  EXPECT_EQ(drumlin::CutDendrogram(merges, 4, cut), (std::vector<int>{0, 1, 0, 1}));
  cut.threshold = 8.5f;
  EXPECT_EQ(drumlin::CutDendrogram(merges, 4, cut), (std::vector<int>{0, 1, 0, 2}));
  cut.threshold = 0.5f;  // the last merge scores (1 + 0 + 1 + 1) / 4 = 0.75
  EXPECT_EQ(drumlin::CutDendrogram(merges, 4, cut), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_TRUE(drumlin::AverageLinkageDendrogram({}, 0).empty());
  EXPECT_EQ(drumlin::CutDendrogram({}, 1, cut), (std::vector<int>{0}));
}

TEST(ViterbiResegmentation, MovesABoundaryToTheChangeOfSource) {
  // Two sources of 2-D rows, the change at row 600; the labels given put it at
  // 520 and have a stray run inside the second source.
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  const size_t n = 1200;
  std::vector<float> rows(n * 2);
  std::vector<int> frames(n), labels(n);
  for (size_t r = 0; r < n; ++r) {
    const float centre = r < 600 ? -1.5f : 1.5f;
    rows[2 * r] = centre + noise(rng);
    rows[2 * r + 1] = 0.5f * noise(rng);
    frames[r] = static_cast<int>(r);
    labels[r] = r < 520 ? 0 : 1;
  }
  for (size_t r = 900; r < 910; ++r) labels[r] = 0;
  drumlin::ResegmentationOptions options;
  ASSERT_TRUE(drumlin::ResegmentRows(rows.data(), n, 2, frames, 2, options, &labels));
  size_t changes = 0, at = 0;
  for (size_t r = 1; r < n; ++r) {
    if (labels[r] != labels[r - 1]) ++changes, at = r;
  }
  EXPECT_EQ(changes, 1u);
  EXPECT_NEAR(static_cast<double>(at), 600.0, 10.0);
  EXPECT_EQ(labels[0], 0);

  // Shape errors leave the labels alone.
  std::vector<int> bad(n, 2);
  EXPECT_FALSE(drumlin::ResegmentRows(rows.data(), n, 2, frames, 2, options, &bad));
  EXPECT_EQ(bad, std::vector<int>(n, 2));
  std::vector<int> shortFrames(n - 1);
  EXPECT_FALSE(drumlin::ResegmentRows(rows.data(), n, 2, shortFrames, 2, options, &labels));
}

}  // namespace
