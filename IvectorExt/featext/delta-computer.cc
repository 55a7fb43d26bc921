#include "IvectorExt/featext/delta-computer.h"

#include <algorithm>

namespace jor_feat {

template <typename T>
DeltaComputer<T>::DeltaComputer(int order, int window)
    : order_(std::max(order, 0)), window_(std::max(window, 0)) {
  capacity_ = 2 * static_cast<int64_t>(order_) * window_ + 1;
  scales_.resize(order_ + 1);
  scales_[0].assign(1, T(1));
  for (int i = 1; i <= order_; ++i) {
    const std::vector<T>& prev = scales_[i - 1];
    const int prev_half = static_cast<int>(prev.size() - 1) / 2;
    std::vector<T>& cur = scales_[i];
    cur.assign(prev.size() + 2 * window_, T(0));
    float norm = 0.0f;
    for (int j = -window_; j <= window_; ++j) norm += static_cast<float>(j * j);
    for (int j = -window_; j <= window_; ++j) {
      for (int k = -prev_half; k <= prev_half; ++k) {
        cur[j + k + prev_half + window_] += static_cast<T>(j) * prev[k + prev_half];
      }
    }
    // A zero window has no slope: its deltas stay zero instead of 0/0.
    const T inv = norm > 0.0f ? T(1) / static_cast<T>(norm) : T(0);
    for (T& v : cur) v *= inv;
  }
}

template <typename T>
void DeltaComputer<T>::ComputeFrame(T* features, int num_frames, int num_ceps, int frame) const {
  if (features == nullptr || num_frames <= 0 || num_ceps <= 0 || frame < 0 || frame >= num_frames)
    return;
  const int64_t dim = static_cast<int64_t>(num_ceps) * (order_ + 1);
  T* out_row = features + frame * dim;
  for (int i = 1; i <= order_; ++i) {
    const std::vector<T>& s = scales_[i];
    const int half = static_cast<int>(s.size() - 1) / 2;
    T* out = out_row + static_cast<int64_t>(i) * num_ceps;
    for (int j = -half; j <= half; ++j) {
      const T w = s[j + half];
      if (w == T(0)) continue;
      const int r = std::clamp(frame + j, 0, num_frames - 1);
      const T* in = features + r * dim;
      for (int c = 0; c < num_ceps; ++c) out[c] += w * in[c];
    }
  }
}

template <typename T>
void DeltaComputer<T>::ComputeQueued(T* rows, int64_t pos) {
  const int64_t size = static_cast<int64_t>(queue_.size());
  const int64_t dim = static_cast<int64_t>(base_dim_) * (order_ + 1);
  T* out_row = rows + queue_[pos] * dim;
  for (int i = 1; i <= order_; ++i) {
    const std::vector<T>& s = scales_[i];
    const int half = static_cast<int>(s.size() - 1) / 2;
    T* out = out_row + static_cast<int64_t>(i) * base_dim_;
    for (int j = -half; j <= half; ++j) {
      const T w = s[j + half];
      if (w == T(0)) continue;
      const int64_t q = std::clamp<int64_t>(pos + j, 0, size - 1);
      const T* in = rows + queue_[q] * dim;
      for (int c = 0; c < base_dim_; ++c) out[c] += w * in[c];
    }
  }
}

template <typename T>
int DeltaComputer<T>::PushFrame(T* rows, int64_t row, int num_ceps) {
  if (rows == nullptr || row < 0 || num_ceps <= 0) return 0;
  if (base_dim_ == 0) base_dim_ = num_ceps;
  queue_.push_back(row);
  const int64_t span = static_cast<int64_t>(order_) * window_;
  const int64_t size = static_cast<int64_t>(queue_.size());
  if (size >= span + 1) ComputeQueued(rows, size - span - 1);
  int dropped = 0;
  while (static_cast<int64_t>(queue_.size()) >= capacity_) {
    queue_.pop_front();
    ++dropped;
  }
  return dropped;
}

template <typename T>
int DeltaComputer<T>::Flush(T* rows) {
  flushed_ = true;
  const int64_t span = static_cast<int64_t>(order_) * window_;
  const int64_t size = static_cast<int64_t>(queue_.size());
  if (rows != nullptr && base_dim_ > 0) {
    for (int64_t k = span; k >= 1; --k) {
      if (size - k >= 0) ComputeQueued(rows, size - k);
    }
  }
  return static_cast<int>(size);
}

template <typename T>
void DeltaComputer<T>::Reset() {
  queue_.clear();
  flushed_ = false;
  base_dim_ = 0;
}

template class DeltaComputer<float>;
template class DeltaComputer<double>;

}  // namespace jor_feat
