// Element-wise steps of the mean/variance stage on pointer-and-length views.
#pragma once

#include <span>

namespace ivdist {

// out[i] = in[i] - p[i]. All three lengths must be equal and non-zero, else
// jor::kShapeMismatch and nothing is written.
template <typename T>
int SubtractElements(std::span<const T> in, std::span<const T> p, std::span<T> out);

// out[i] = in[i] * p[i], with the same shape rule.
template <typename T>
int MultiplyElements(std::span<const T> in, std::span<const T> p, std::span<T> out);

}  // namespace ivdist
