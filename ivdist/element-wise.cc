#include "ivdist/element-wise.h"

#include <cstddef>

#include "common/result-codes.h"

namespace ivdist {
namespace {

template <typename T>
bool SameShape(std::span<const T> in, std::span<const T> p, std::span<T> out) {
  return !in.empty() && in.size() == p.size() && in.size() == out.size();
}

}  // namespace

template <typename T>
int SubtractElements(std::span<const T> in, std::span<const T> p, std::span<T> out) {
  if (!SameShape(in, p, out)) return jor::kShapeMismatch;
  // Indexing keeps in-place use (out aliasing in) correct.
  for (size_t i = 0; i < in.size(); ++i) out[i] = in[i] - p[i];
  return 0;
}

template <typename T>
int MultiplyElements(std::span<const T> in, std::span<const T> p, std::span<T> out) {
  if (!SameShape(in, p, out)) return jor::kShapeMismatch;
  for (size_t i = 0; i < in.size(); ++i) out[i] = in[i] * p[i];
  return 0;
}

template int SubtractElements<float>(std::span<const float>, std::span<const float>,
                                     std::span<float>);
template int SubtractElements<double>(std::span<const double>, std::span<const double>,
                                      std::span<double>);
template int MultiplyElements<float>(std::span<const float>, std::span<const float>,
                                     std::span<float>);
template int MultiplyElements<double>(std::span<const double>, std::span<const double>,
                                      std::span<double>);

}  // namespace ivdist
