#include "drumlin/speaker-clustering.h"

#include <algorithm>
#include <new>
#include <numeric>

namespace drumlin {

int SpeakerClustering::Run(const uint8_t* matrix, int n) {
  labels_.clear();
  cuts_.clear();
  clusterCount_ = 0;
  stats_ = ClusteringStats{};
  n_ = 0;
  if (n < 0 || n > kMaxClusterPieces || (n > 0 && matrix == nullptr))
    return kClusteringInvalidArgument;
  try {
    const size_t cells = static_cast<size_t>(n) * static_cast<size_t>(n);
    n_ = n;
    threshold_ = -1;
    start_ = 0;
    cut_ = 0;
    clusterStart_ = 0;
    clusterEnd_ = 0;
    matrix_.assign(matrix, matrix + cells);
    work_.assign(cells, 0);
    records_.assign(n, Record{0, 0, 0});
    pieceAt_.resize(n);
    std::iota(pieceAt_.begin(), pieceAt_.end(), 0);
    perm_.resize(n);
    cuts_.reserve(n / kMinClusterPieces + 1);

    for (int c = 1; OneCluster(c); ++c) {
    }

    labels_.assign(n, -1);
    for (int c = 0; c < clusterCount_; ++c) {
      const int from = c == 0 ? 0 : cuts_[c - 1] + 1;
      const int to = std::min(cuts_[c], n - 1);
      for (int p = from; p <= to; ++p) labels_[pieceAt_[p]] = c;
    }
  } catch (const std::bad_alloc&) {
    labels_.clear();
    clusterCount_ = 0;
    return kClusteringNoMemory;
  }
  return kClusteringOk;
}

int64_t SpeakerClustering::RowSum(int r) const {
  int64_t sum = 0;
  for (int j = start_; j < n_; ++j) sum += Profile(r, j);
  return sum;
}

bool SpeakerClustering::OneCluster(int c) {
  const int n = n_;
  if (n - start_ < kMinClusterPieces) return false;

  // Seed: the first position with the best row sum.
  int64_t maxRowSum = -1;
  int seed = start_;
  for (int r = start_; r < n; ++r) {
    const int64_t sum = RowSum(r);
    if (sum > maxRowSum) {
      maxRowSum = sum;
      seed = r;
    }
  }
  stats_.maxRowSum = static_cast<int>(maxRowSum);
  if (maxRowSum / (n - start_) < kMinSeedAverage) return false;

  for (int r = start_; r < n; ++r) {
    int64_t overlap = 0;
    for (int j = start_; j < n; ++j) overlap += std::min(Profile(seed, j), Profile(r, j));
    records_[r] = Record{static_cast<int32_t>(overlap), r, pieceAt_[r]};
  }
  int cut = FindCut(start_, maxRowSum);
  // A level above every overlap (possible only through the stale plateau
  // below `start`) would open an empty cluster again and again.
  if (cut < start_) return false;
  Reorder(start_);
  cuts_.push_back(cut);
  cut_ = cut;
  clusterCount_ = c;
  start_ = cut + 1;

  // Refinement around the member with the best in-cluster row sum.
  clusterStart_ = c == 1 ? 0 : cuts_[c - 2] + 1;
  clusterEnd_ = std::min(start_, n);
  int64_t maxClusterSum = -1;
  int centre = clusterStart_;
  for (int r = clusterStart_; r < clusterEnd_; ++r) {
    const uint8_t* row = &matrix_[static_cast<size_t>(r) * n];
    int64_t sum = 0;
    for (int k = clusterStart_; k < clusterEnd_; ++k) sum += row[k];
    if (sum > maxClusterSum) {
      maxClusterSum = sum;
      centre = r;
    }
  }
  stats_.maxClusterSum = static_cast<int>(std::max<int64_t>(maxClusterSum, 0));
  // A cluster without any in-cluster similarity gives no level to cut at.
  if (maxClusterSum <= 0) return true;

  const uint8_t* centreRow = &matrix_[static_cast<size_t>(centre) * n];
  for (int r = clusterStart_; r < n; ++r) {
    const uint8_t* row = &matrix_[static_cast<size_t>(r) * n];
    int64_t overlap = 0;
    for (int k = clusterStart_; k < clusterEnd_; ++k) overlap += std::min(centreRow[k], row[k]);
    records_[r] = Record{static_cast<int32_t>(overlap), r, pieceAt_[r]};
  }
  cut = FindCut(clusterStart_, maxClusterSum);
  if (cut < clusterStart_) return true;  // keep the first cut rather than empty the cluster
  Reorder(clusterStart_);
  cuts_[c - 1] = cut;
  cut_ = cut;
  if (cut + 1 < n) {
    std::stable_sort(records_.begin() + (cut + 1), records_.begin() + n,
                     [](const Record& a, const Record& b) { return a.segment < b.segment; });
    Reorder(cut + 1);
  }
  start_ = cut + 1;
  return true;
}

int SpeakerClustering::FindCut(int from, int64_t maxSum) {
  const int n = n_;
  std::stable_sort(records_.begin() + from, records_.begin() + n,
                   [](const Record& a, const Record& b) { return a.score > b.score; });
  // Largest drop between neighbours; the drop after the first record is not
  // looked at, and `a` stays 0 when the overlaps are flat.
  int a = 0;
  int64_t d = 0;
  for (int i = from + 1; i < n - 1; ++i) {
    const int64_t drop = static_cast<int64_t>(records_[i].score) - records_[i + 1].score;
    if (drop > d) {
      d = drop;
      a = i;
    }
  }
  const int64_t hi = records_[(from + 1 + a) / 2].score;
  const int64_t lo = records_[(n + 1 + a) / 2].score;
  const int64_t level = (hi - (hi - lo) / 3) * 100 / maxSum;
  const double levelD = static_cast<double>(level);
  const double maxD = static_cast<double>(maxSum);
  for (int k = from; k < n; ++k) {
    if (records_[k].score * 100.0 / maxD < levelD) {
      if (k - 1 == 0) continue;  // a cut at 0 counts as not set
      return k - 1;
    }
  }
  return n;
}

void SpeakerClustering::Reorder(int from) {
  const int n = n_;
  for (int i = 0; i < from; ++i) perm_[i] = i;
  for (int i = from; i < n; ++i) perm_[i] = records_[i].position;
  for (int i = 0; i < n; ++i) {
    const uint8_t* src = &matrix_[static_cast<size_t>(perm_[i]) * n];
    uint8_t* dst = &work_[static_cast<size_t>(i) * n];
    for (int j = 0; j < n; ++j) dst[j] = src[perm_[j]];
  }
  matrix_.swap(work_);
  for (int i = from; i < n; ++i) {
    pieceAt_[i] = records_[i].segment;
    records_[i].position = i;
  }
}

int ClusterSpeakers(const uint8_t* matrix, int n, std::vector<int>* labels, int* clusterCount,
                    ClusteringStats* stats) {
  SpeakerClustering clustering;
  const int r = clustering.Run(matrix, n);
  if (labels) *labels = clustering.labels();
  if (clusterCount) *clusterCount = clustering.clusterCount();
  if (stats) *stats = clustering.stats();
  return r;
}

}  // namespace drumlin
