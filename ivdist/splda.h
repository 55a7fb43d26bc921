// Simplified PLDA scoring model with every quadratic form diagonalised in
// advance: a speaker vector x of length D becomes a transformed template of
// 2D+1 values (cross block, self block, linear value), and two templates are
// compared in O(D):
//
//   score = k + c.x + c.y + 2 sum_i a_i (A^T x)_i (A^T y)_i
//             + sum_i b_i ((B^T x)_i^2 + (B^T y)_i^2)
//
// with a_i clamped to >= 0 and b_i to <= 0 at load.
//
// Rounding is part of the result: the projections add whole scaled rows in
// ascending input order, and ScoreTransformed keeps W = 32 / sizeof(T)
// partial sums (8 for float, 4 for double) that are added in lane order, then
// k, then the tail coordinates one by one, then the two linear values. No
// step is contracted into a fused multiply-add, so scores are bit-identical
// on every build.
//
// Immutable after Load; every operation may run on several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace ivdist::splda {

template <typename T>
class Splda {
 public:
  Splda() = default;
  virtual ~Splda() = default;
  Splda(const Splda&) = delete;
  Splda& operator=(const Splda&) = delete;

  // Reads an SPLDA section: 32-byte header, int32 element size (sizeof(T)),
  // int32 D, A (D x D), a (D), B (D x D), b (D), c (D), k, all of type T.
  // kSpldaUnreadable null stream or short read (but a short read of a gives
  // kSpldaBadModel); kSpldaBadModel wrong element size, D outside 1..1,000,000, or a
  // value that is not finite. A failed load leaves the model empty.
  virtual int Load(FILE* stream);
  // Transforms both vectors and scores them. kNullResult null result;
  // kWrongLength either length differs from D.
  virtual int Score(const std::vector<T>& x, const std::vector<T>& y, T* result) const;
  // t = (A^T x * a', B^T x * b', c.x): 2D+1 values. kWrongLength when the
  // length of x differs from D.
  virtual int Transform(const std::vector<T>& x, std::vector<T>* t) const;
  // Scores two transformed templates given as value pointers with counts.
  // The values are read without assuming any alignment. kNullResult null
  // result; kWrongLength a count (or count pointer) other than 2D+1.
  virtual int ScoreTransformed(const T* p, const uint32_t* pCount, const T* q,
                               const uint32_t* qCount, T* result) const;
  virtual int ScoreTransformed(const std::vector<T>& p, const std::vector<T>& q, T* result) const;
  // 2D+1.
  virtual uint32_t TransformedSize() const;

  // Scores one probe template against `n` templates stored back to back
  // (2D+1 values each, any alignment); results[j] equals ScoreTransformed of
  // the probe and template j bit for bit. Several comparisons run
  // interleaved, which hides the latency of the per-lane sums.
  int ScoreTransformedMany(const T* probe, uint32_t probeCount, const T* templates, size_t n,
                           T* results) const;

  int32_t Dimension() const { return dimension; }

 private:
  int Read(FILE* stream);

  int32_t dimension = 0;
  std::vector<T> crossBasis;  // A, D rows of D values
  std::vector<T> selfBasis;   // B, D rows of D values
  std::vector<T> crossScale;  // a' = sqrt(2 max(a, 0))
  std::vector<T> selfScale;   // b' = sqrt(-min(b, 0))
  std::vector<T> linearTerm;  // c
  T constantTerm = 0;         // k
};

extern template class Splda<float>;
extern template class Splda<double>;

}  // namespace ivdist::splda
