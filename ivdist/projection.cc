#include "ivdist/projection.h"

#include "common/result-codes.h"

namespace ivdist {

template <typename T>
int ProjectRows(std::span<const T> matrix, size_t rows, size_t cols, std::span<const T> x,
                std::span<T> u) {
  if (rows == 0 || cols == 0 || matrix.size() / cols != rows || matrix.size() % cols != 0 ||
      x.size() != rows || u.size() != cols)
    return jor::kShapeMismatch;
  T* __restrict acc = u.data();
  for (size_t i = 0; i < rows; ++i) {
    const T xi = x[i];
    const T* __restrict row = matrix.data() + i * cols;
    // A product then a sum per element: no contraction (the build forbids it).
    for (size_t j = 0; j < cols; ++j) acc[j] += xi * row[j];
  }
  return 0;
}

template int ProjectRows<float>(std::span<const float>, size_t, size_t, std::span<const float>,
                                std::span<float>);
template int ProjectRows<double>(std::span<const double>, size_t, size_t, std::span<const double>,
                                 std::span<double>);

}  // namespace ivdist
