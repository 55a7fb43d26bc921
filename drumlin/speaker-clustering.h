// Greedy speaker clustering on a byte-quantised similarity matrix.
//
// Pieces of a recording are grouped into speakers: a seed with the best row
// sum opens a cluster, the pieces whose similarity profile overlaps most with
// the seed's join it up to a cut one third of the way down from the high to
// the low plateau of the sorted overlaps, and a refinement around the most
// central member takes in or gives back pieces. Clusters are searched until
// fewer than 10 pieces remain or the best remaining average similarity drops
// below 60 of 255.
//
// All state lives in the object; separate objects may run in parallel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace drumlin {

constexpr int kClusteringOk = 0;
constexpr int kClusteringInvalidArgument = -1;  // null matrix or negative size
constexpr int kClusteringNoMemory = -2;

// Fewest unclustered pieces that may open a cluster.
constexpr int kMinClusterPieces = 10;
// Lowest average row entry (integer division) of a seed.
constexpr int kMinSeedAverage = 60;
// Largest matrix accepted (over 36 hours of 4-second pieces); beyond it the
// matrices alone would need gigabytes.
constexpr int kMaxClusterPieces = 32768;

struct ClusteringStats {
  int maxRowSum = 0;      // best row sum of the last seed search
  int maxClusterSum = 0;  // best in-cluster row sum of the last refinement
};

class SpeakerClustering {
 public:
  // `matrix` holds n × n bytes, row-major: entry (k, j) scores piece k's
  // template (first argument) against piece j's. Any size is accepted.
  int Run(const uint8_t* matrix, int n);

  // Cluster of each piece (-1 for none), in piece order.
  const std::vector<int>& labels() const { return labels_; }
  int clusterCount() const { return clusterCount_; }
  const ClusteringStats& stats() const { return stats_; }

 private:
  struct Record {
    int32_t score;
    int32_t position;
    int32_t segment;  // piece at `position`
  };

  int64_t RowSum(int r) const;
  uint8_t Profile(int r, int j) const { return r < j ? At(r, j) : At(j, r); }
  uint8_t At(int row, int col) const { return matrix_[static_cast<size_t>(row) * n_ + col]; }
  // Sorts records[from..n) by descending score and returns the cut (n when
  // none), or -1 when the level leaves no position in the cluster.
  int FindCut(int from, int64_t maxSum);
  // Moves the position of records[i] to i for every i >= from.
  void Reorder(int from);
  bool OneCluster(int c);

  int threshold_ = -1;  // manual cut level; only the automatic level is used
  int n_ = 0;           // segmentCount
  int clusterCount_ = 0;
  int start_ = 0;
  int cut_ = 0;
  int clusterStart_ = 0;
  int clusterEnd_ = 0;
  std::vector<int> cuts_;
  std::vector<uint8_t> matrix_;
  std::vector<uint8_t> work_;
  std::vector<Record> records_;
  std::vector<int32_t> pieceAt_;
  std::vector<int32_t> perm_;
  std::vector<int> labels_;
  ClusteringStats stats_;
};

// Convenience over SpeakerClustering::Run.
int ClusterSpeakers(const uint8_t* matrix, int n, std::vector<int>* labels, int* clusterCount,
                    ClusteringStats* stats = nullptr);

}  // namespace drumlin
