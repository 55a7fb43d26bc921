// Projection of a vector through a row-major matrix: u = M^T x, accumulated
// as whole scaled rows (u += x[i] * row i, i ascending), so the rounding of
// every output coordinate is fixed regardless of vector width.
#pragma once

#include <cstddef>
#include <span>

namespace ivdist {

// `matrix` holds `rows` rows of `cols` values. `u` must already hold `cols`
// values (usually zeros); the projection is added into it. Requires rows and
// cols non-zero, matrix.size() == rows * cols, x.size() == rows and
// u.size() == cols, else jor::kShapeMismatch and nothing is written.
template <typename T>
int ProjectRows(std::span<const T> matrix, size_t rows, size_t cols, std::span<const T> x,
                std::span<T> u);

}  // namespace ivdist
