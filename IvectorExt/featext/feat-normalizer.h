// Sliding-window cepstral mean (and optionally variance) normalisation.
//
// The batch form normalises a whole matrix in place. The online form keeps
// the rows of its window in a queue together with running sums that always
// cover exactly the queued rows; it refers to the caller's rows by index, and
// each call is given the current start of the caller's buffer.
// All arithmetic is in double precision for both instantiations.
#pragma once

#include <cstdint>
#include <vector>

#include "IvectorExt/featext/mfcc-options.h"

namespace jor_feat {

struct CmvnRange {
  int64_t start;  // first row of the window
  int64_t end;    // one past the last row
};

// Window of frame t among n frames for a window of `cmn_window` frames,
// centred or trailing (then at least `min_window` frames where available).
CmvnRange CmvnWindow(int cmn_window, int min_window, bool center, int64_t t, int64_t n);

template <typename T>
class FeatNormalizer {
 public:
  // `center` picks the window shape: the pipelines pass the effective value of
  // the resolved options (center_bat for batch, center_real for online).
  FeatNormalizer(const SlidingWindowCmvnOptions& options, int num_ceps, int dim);
  virtual ~FeatNormalizer() = default;

  // Normalises all rows in place; fewer than two rows are left as they are.
  virtual int NormalizeMatrix(T* features, int num_frames, int dim);
  // Queues row `row` of `rows` (dim values per row) and normalises the rows
  // whose window is now known. Returns how many were normalised.
  virtual int PushFrame(T* rows, int64_t row);
  // End of stream: normalises the rows still waiting for right context.
  virtual int Flush(T* rows);
  virtual void Reset();

  CmvnRange Window(int64_t t, int64_t n) const {
    return CmvnWindow(cmn_window_, min_window_, center_, t, n);
  }
  int dim() const { return dim_; }

 private:
  // Normalises queue entry `pos` with a window of n rows from the running sums.
  void NormalizeQueued(T* rows, int64_t pos, int64_t n);
  // Variance step on one row already mean-subtracted.
  static void ScaleVariance(double* row, const double* sum, const double* sumsq, int dim,
                            int64_t n);

  int cmn_window_;
  int min_window_;
  bool normalize_variance_;
  bool center_;
  bool center_bat_;
  bool center_real_;
  bool flushed_ = false;
  // Queue as a ring over `capacity_` slots: row index and the row as it came.
  std::vector<int64_t> queue_rows_;
  std::vector<double> queue_data_;
  int64_t head_ = 0;  // slot of the oldest entry
  int64_t size_ = 0;
  int base_dim_;
  int dim_;
  int64_t capacity_;
  bool first_output_pending_ = true;
  std::vector<double> sum_;
  std::vector<double> sumsq_;
  std::vector<double> scratch_;
};

extern template class FeatNormalizer<float>;
extern template class FeatNormalizer<double>;

}  // namespace jor_feat
