// Mean and variance normalisation of a speaker vector: out = (in - m) * s,
// in single precision, with m and s read from the model container.
//
// Immutable after Load; the operations may run on several threads at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace ivdist::mvn {

class Mvn {
 public:
  Mvn() = default;
  virtual ~Mvn() = default;
  Mvn(const Mvn&) = delete;
  Mvn& operator=(const Mvn&) = delete;

  // Reads a mean/variance section: 32-byte header, int32 D, D float mean,
  // D float scale. kMvnUnreadable null stream or short read; kMvnBadModel D outside
  // 1..1,000,000 or a value that is not finite. A failed load leaves the
  // model empty.
  virtual int Load(FILE* stream);
  // out = in - m; kShapeMismatch when in is empty or its length differs from D.
  virtual int SubtractMean(const std::vector<float>& in, std::vector<float>* out) const;
  // out = (in - m) * s; same shape rule, `out` untouched on failure.
  virtual int Normalize(const std::vector<float>& in, std::vector<float>* out) const;

  int32_t Dimension() const { return dimension; }

 private:
  int Read(FILE* stream);
  void Clear();

  int32_t dimension = 0;
  std::vector<float> mean;
  std::vector<float> scale;  // multiplied, never divided by
  std::span<const float> meanView;
  std::span<const float> scaleView;
};

}  // namespace ivdist::mvn
