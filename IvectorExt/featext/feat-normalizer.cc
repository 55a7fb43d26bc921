#include "IvectorExt/featext/feat-normalizer.h"

#include <algorithm>
#include <cmath>

namespace jor_feat {

CmvnRange CmvnWindow(int cmn_window, int min_window, bool center, int64_t t, int64_t n) {
  const int64_t w = cmn_window;
  int64_t start, end;
  if (center) {
    start = t - w / 2;
    end = start + w;
  } else {
    start = t - w;
    end = t + 1;
  }
  if (start < 0) {
    end -= start;
    start = 0;
  }
  if (!center && end > t) end = std::max<int64_t>(t + 1, min_window);
  if (end > n) {
    start -= end - n;
    end = n;
    start = std::max<int64_t>(start, 0);
  }
  return {start, end};
}

template <typename T>
FeatNormalizer<T>::FeatNormalizer(const SlidingWindowCmvnOptions& options, int num_ceps, int dim)
    : cmn_window_(std::max(options.cmn_window, 1)),
      min_window_(std::max(options.min_window, 0)),
      normalize_variance_(options.normalize_variance),
      center_(options.center),
      center_bat_(options.center_bat),
      center_real_(options.center_real),
      base_dim_(num_ceps),
      dim_(std::max(dim, 0)) {
  capacity_ = center_ ? cmn_window_ : static_cast<int64_t>(cmn_window_) + 1;
  sum_.assign(dim_, 0.0);
  sumsq_.assign(dim_, 0.0);
  scratch_.assign(dim_, 0.0);
}

template <typename T>
void FeatNormalizer<T>::ScaleVariance(double* row, const double* sum, const double* sumsq, int dim,
                                      int64_t n) {
  if (n == 1) {
    std::fill(row, row + dim, 0.0);
    return;
  }
  const double inv_n = 1.0 / static_cast<double>(n);
  const double inv_n2 = 1.0 / static_cast<double>(n * n);
  for (int c = 0; c < dim; ++c) {
    double var = sumsq[c] * inv_n - sum[c] * sum[c] * inv_n2;
    if (!(var >= 1e-10)) var = 1e-10;
    row[c] *= 1.0 / std::sqrt(var);
  }
}

template <typename T>
int FeatNormalizer<T>::NormalizeMatrix(T* features, int num_frames, int dim) {
  if (features == nullptr || num_frames < 2 || dim <= 0) return 0;
  const int64_t frames = num_frames;
  std::vector<double> in(features, features + frames * dim);
  std::vector<double> y(dim);
  std::vector<double> sum(dim, 0.0), sumsq(dim, 0.0);
  int64_t last_start = -1, last_end = -1;
  auto add = [&](int64_t r, double sign) {
    const double* x = &in[r * dim];
    for (int c = 0; c < dim; ++c) sum[c] += sign * x[c];
    if (normalize_variance_)
      for (int c = 0; c < dim; ++c) sumsq[c] += sign * (x[c] * x[c]);
  };
  for (int64_t t = 0; t < frames; ++t) {
    const CmvnRange w = Window(t, frames);
    if (last_start == -1) {
      for (int64_t r = w.start; r < w.end; ++r) add(r, 1.0);
    } else {
      // The window only moves forward.
      for (; last_start < w.start; ++last_start) add(last_start, -1.0);
      for (; last_end < w.end; ++last_end) add(last_end, 1.0);
    }
    last_start = w.start;
    last_end = w.end;
    const int64_t n = w.end - w.start;
    const double inv_n = 1.0 / static_cast<double>(n);
    // Rows are read from the double copy, so the output can go straight back.
    const double* x = &in[t * dim];
    for (int c = 0; c < dim; ++c) y[c] = x[c] - sum[c] * inv_n;
    if (normalize_variance_) ScaleVariance(y.data(), sum.data(), sumsq.data(), dim, n);
    T* out = features + t * dim;
    for (int c = 0; c < dim; ++c) out[c] = static_cast<T>(y[c]);
  }
  return 0;
}

template <typename T>
void FeatNormalizer<T>::NormalizeQueued(T* rows, int64_t pos, int64_t n) {
  const int64_t slot = (head_ + pos) % capacity_;
  const double* x = &queue_data_[slot * dim_];
  double* y = scratch_.data();
  const double inv_n = 1.0 / static_cast<double>(n);
  for (int c = 0; c < dim_; ++c) y[c] = x[c] - sum_[c] * inv_n;
  if (normalize_variance_) ScaleVariance(y, sum_.data(), sumsq_.data(), dim_, n);
  T* out = rows + queue_rows_[slot] * dim_;
  for (int c = 0; c < dim_; ++c) out[c] = static_cast<T>(y[c]);
}

template <typename T>
int FeatNormalizer<T>::PushFrame(T* rows, int64_t row) {
  if (rows == nullptr || row < 0 || dim_ == 0) return 0;
  while (size_ >= capacity_) {
    const double* x = &queue_data_[head_ * dim_];
    for (int c = 0; c < dim_; ++c) sum_[c] -= x[c];
    if (normalize_variance_)
      for (int c = 0; c < dim_; ++c) sumsq_[c] -= x[c] * x[c];
    head_ = (head_ + 1) % capacity_;
    --size_;
  }
  const int64_t slot = (head_ + size_) % capacity_;
  if (slot >= static_cast<int64_t>(queue_rows_.size())) {
    // The ring grows on demand: a long window costs memory only once used.
    const int64_t slots = std::min<int64_t>(capacity_, std::max<int64_t>(64, 2 * slot));
    queue_rows_.resize(slots, 0);
    queue_data_.resize(slots * dim_, 0.0);
  }
  double* x = &queue_data_[slot * dim_];
  const T* in = rows + row * dim_;
  for (int c = 0; c < dim_; ++c) x[c] = static_cast<double>(in[c]);
  queue_rows_[slot] = row;
  ++size_;
  for (int c = 0; c < dim_; ++c) sum_[c] += x[c];
  if (normalize_variance_)
    for (int c = 0; c < dim_; ++c) sumsq_[c] += x[c] * x[c];

  if (center_) {
    if (size_ < cmn_window_) return 0;
    if (first_output_pending_) {
      const int64_t count = cmn_window_ / 2 + 1;
      for (int64_t t = 0; t < count; ++t) {
        const CmvnRange w = Window(t, size_);
        NormalizeQueued(rows, t, w.end - w.start);
      }
      first_output_pending_ = false;
      return static_cast<int>(count);
    }
    // The entry with (cmn_window - 1) / 2 rows after it: for an even window
    // this is size - cmn_window / 2; for an odd one it keeps the output
    // contiguous with the first batch of rows.
    const int64_t t = size_ - 1 - (cmn_window_ - 1) / 2;
    const CmvnRange w = Window(t, size_);
    NormalizeQueued(rows, t, w.end - w.start);
    return 1;
  }
  // A minimum window longer than the queue could ever hold would keep every
  // row back for good; the full queue is the most that can be waited for.
  const int64_t min_rows = std::min<int64_t>(min_window_, capacity_);
  if (size_ < min_rows) return 0;
  if (first_output_pending_) {
    for (int64_t t = 0; t < size_; ++t) {
      const CmvnRange w = Window(t, size_);
      NormalizeQueued(rows, t, w.end - w.start);
    }
    first_output_pending_ = false;
    return static_cast<int>(size_);
  }
  const CmvnRange w = Window(size_ - 1, size_);
  NormalizeQueued(rows, size_ - 1, w.end - w.start);
  return 1;
}

template <typename T>
int FeatNormalizer<T>::Flush(T* rows) {
  if (flushed_) return 0;
  flushed_ = true;
  if (!center_ || first_output_pending_ || rows == nullptr) return 0;
  int count = 0;
  for (int64_t t = size_ - (cmn_window_ - 1) / 2; t < size_; ++t) {
    if (t < 0) continue;
    const CmvnRange w = Window(t, size_);
    NormalizeQueued(rows, t, w.end - w.start);
    ++count;
  }
  return count;
}

template <typename T>
void FeatNormalizer<T>::Reset() {
  head_ = 0;
  size_ = 0;
  flushed_ = false;
  first_output_pending_ = true;
  std::fill(sum_.begin(), sum_.end(), 0.0);
  std::fill(sumsq_.begin(), sumsq_.end(), 0.0);
}

template class FeatNormalizer<float>;
template class FeatNormalizer<double>;

}  // namespace jor_feat
