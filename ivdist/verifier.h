// PLACEHOLDER: replaced by the scoring facade.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace ivdist {

class Verifier {
 public:
  Verifier() = default;
  virtual ~Verifier() = default;
  virtual int Transform(const std::vector<float>& raw, std::vector<float>* out);
  virtual int Score(const float* values1, const uint32_t* count1, const float* values2,
                    const uint32_t* count2, const float* duration, float* result);
  virtual uint32_t TemplateSize();
  int Load(FILE* meanVariance, FILE* whitening, FILE* splda);
};

}  // namespace ivdist
