// Delta and higher-order delta columns of feature rows.
//
// A row holds D = num_ceps * (order + 1) values: the static coefficients, then
// one block of num_ceps values per delta order. Deltas are always taken from
// the static block of neighbouring rows and added on top of what the row's
// delta blocks already hold (the pipelines start them at zero).
//
// The online interface queues row indices, not pointers, and every call is
// given the current start of the caller's buffer, so the buffer may grow
// (and move) between calls.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace jor_feat {

template <typename T>
class DeltaComputer {
 public:
  DeltaComputer(int order, int window);
  virtual ~DeltaComputer() = default;

  // Writes the delta blocks of row `frame` of a matrix of `num_frames` rows;
  // neighbours beyond either end are clamped to the first or last row.
  virtual void ComputeFrame(T* features, int num_frames, int num_ceps, int frame) const;

  // Queues row `row` of `rows` (num_ceps static values per row) and computes
  // the row whose right context is now complete. Returns how many of the
  // oldest rows left the queue; their deltas are final.
  virtual int PushFrame(T* rows, int64_t row, int num_ceps);
  // Completes the queued rows, clamping the right context to the newest row.
  // Returns the number of rows that were still queued (all final now).
  virtual int Flush(T* rows);
  virtual void Reset();

  const std::vector<std::vector<T>>& scales() const { return scales_; }
  int order() const { return order_; }
  int Dim(int num_ceps) const { return num_ceps * (order_ + 1); }

 private:
  // Delta blocks of queue entry `pos`, neighbours clamped to the queue.
  void ComputeQueued(T* rows, int64_t pos);

  int order_;
  int window_;
  bool flushed_ = false;
  std::deque<int64_t> queue_;  // row indices, oldest first
  int base_dim_ = 0;           // num_ceps of the pushed rows
  int64_t capacity_;
  std::vector<std::vector<T>> scales_;  // scales_[i]: weights of order i
};

extern template class DeltaComputer<float>;
extern template class DeltaComputer<double>;

}  // namespace jor_feat
