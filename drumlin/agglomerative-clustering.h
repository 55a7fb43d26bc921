// Average-linkage agglomerative clustering of a similarity matrix.
//
// The similarity of two clusters is the mean of the pair similarities between
// their members. The whole dendrogram is built by the nearest-neighbour chain
// (O(n^2) time, average linkage being reducible), then cut: merges are applied
// from the most similar down while their similarity reaches `threshold`, or
// until exactly `clusters` remain when that is given; `maxClusters` bounds the
// count either way.
#pragma once

#include <cstddef>
#include <vector>

namespace drumlin {

struct Merge {
  int a = 0;  // a member of each of the two clusters joined
  int b = 0;
  float similarity = 0;  // average linkage at the merge
};

// Dendrogram of `n` items with the symmetric n x n similarity matrix
// `similarity` (row-major, diagonal ignored): n - 1 merges in the order the
// chain found them. Scratch is O(n^2) floats (a copy of the matrix).
std::vector<Merge> AverageLinkageDendrogram(const std::vector<float>& similarity, int n);

struct CutOptions {
  float threshold = 0;  // merge while the linkage is at least this
  int clusters = 0;     // > 0: exactly this many clusters (at most n)
  int maxClusters = 0;  // > 0: at most this many clusters
};

// Cluster label per item, 0..C-1 numbered by each cluster's first item.
std::vector<int> CutDendrogram(const std::vector<Merge>& merges, int n, const CutOptions& cut);

}  // namespace drumlin
