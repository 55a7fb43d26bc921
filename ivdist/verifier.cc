// PLACEHOLDER: replaced by the scoring facade.
#include "ivdist/verifier.h"

namespace ivdist {
int Verifier::Transform(const std::vector<float>& raw, std::vector<float>* out) {
  *out = raw;
  return 0;
}
int Verifier::Score(const float*, const uint32_t*, const float*, const uint32_t*, const float*,
                    float* result) {
  if (!result) return static_cast<int>(0x60008007u);
  *result = 0.0f;
  return 0;
}
uint32_t Verifier::TemplateSize() { return 0; }
int Verifier::Load(FILE*, FILE*, FILE* splda) { return splda ? 0 : static_cast<int>(0x40008004u); }
}  // namespace ivdist
