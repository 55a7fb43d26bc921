// Whitening projection and length normalisation of a speaker vector, both in
// double precision.
//
// Immutable after Load; the operations may run on several threads at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace ivdist::norm {

class Norm {
 public:
  Norm() = default;
  virtual ~Norm() = default;
  Norm(const Norm&) = delete;
  Norm& operator=(const Norm&) = delete;

  // Reads a whitening section: 32-byte header, int32 D, D x D float64 basis E
  // (row-major), D float64 variances. Builds W[i][j] = E[i][j] / sqrt(var[j]).
  // kNormUnreadable null stream or short read; kNormBadModel D outside 1..1,000,000,
  // a variance that is not positive and finite, or any other value (stored or
  // derived) that is not finite. A failed load leaves the model empty.
  virtual int Load(FILE* stream);
  // out = W^T in, accumulated over input coordinates in ascending order.
  // kWrongLength when in is empty or its length differs from D.
  virtual int Apply(const std::vector<double>& in, std::vector<double>* out) const;

  uint64_t Rows() const { return rows; }
  int32_t Dimension() const { return dimension; }

 private:
  int Read(FILE* stream);

  int32_t dimension = 0;
  std::vector<double> variances;
  std::vector<double> whitening;  // D rows of D values; the basis is scaled in place
  uint64_t rows = 0;
  uint64_t cols = 0;
  uint64_t size = 0;
};

// Scales `in` to unit length: the sum of squares is accumulated in single
// precision (each square computed in double, then rounded), the factor
// 1 / sqrt(sum) is a float, and each element is multiplied in double by it.
// kWrongLength for an empty input; kOutOfRange when the sum is zero or not
// finite (an all-zero vector, or one with values that are not finite or
// whose squares overflow), in which case `out` is untouched.
int LengthNormalize(const std::vector<double>& in, std::vector<double>* out);

}  // namespace ivdist::norm
