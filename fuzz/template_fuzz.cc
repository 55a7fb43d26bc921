// Template validation and scoring on arbitrary bytes: no crash, no read
// outside the bytes, no score outside [0, 100] reported as success.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/model-set.h"
#include "engine/ravel.h"
#include "engine/template-format.h"
#include "ivdist/verifier.h"

namespace {

class SumVerifier : public ivdist::Verifier {
 public:
  int Score(const float* v1, const uint32_t* c1, const float* v2, const uint32_t* c2,
            const float*, float* result) const override {
    if (*c1 != 3 || *c2 != 3) return static_cast<int>(0x60008006u);
    volatile float sink = 0;
    for (uint32_t i = 0; i < 3; ++i) {
      float a, b;
      std::memcpy(&a, reinterpret_cast<const char*>(v1) + 4 * i, 4);
      std::memcpy(&b, reinterpret_cast<const char*>(v2) + 4 * i, 4);
      sink = sink + a * b;
    }
    *result = 50.0f;
    return 0;
  }
  uint32_t TemplateSize() const override { return 3; }
};

Ravel* Instance() {
  static Ravel* instance = [] {
    jor_feat::MfccOptions options;
    options.mel_opts.num_bins = 40;
    static auto models =
        ravel_engine::ModelSet::FromParts(options, std::make_unique<SumVerifier>());
    return new Ravel(*models);
  }();
  return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Ravel* r = Instance();
  std::vector<char> templ(reinterpret_cast<const char*>(data),
                          reinterpret_cast<const char*>(data) + size);
  std::string version;
  Ravel::ValidateTemplate(r->Models(), templ, &version);
  // Force the right length now and then so the deeper tests run.
  if (size > 0 && data[0] % 2 == 0) templ.resize(268);
  float score = -1;
  if (r->GetScore(templ, templ, &score) == 0 && !(score >= 0.0f && score <= 100.0f)) std::abort();
  return 0;
}
