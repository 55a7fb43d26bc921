// Any byte string as a model section for the HTK reader, text or binary. The
// reader must neither crash, leak, read out of bounds nor loop; a set it
// accepts must also survive a deep copy and the posterior preparation, and
// the posteriors of an accepted model must be finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp.h"
#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"
#include "fuzz/fuzz-util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> copy(data, data + size);
  FILE* file = fmemopen(size > 0 ? copy.data() : nullptr, size, "r");
  if (file == nullptr) return 0;
  HTK_HMMS set;
  HTKinit(&set);
  if (HTKread(1, file, &set) == 0) {
    HTK_HMMS dup;
    HTKinit(&dup);
    if (HTKcopy(&set, &dup) == 0) HTKfree(&dup);
    GMMPP* gmm = nullptr;
    // Large full covariances are legal but cost seconds per input.
    if (GMMPP_Init(&gmm, &set) == 0 && static_cast<int64_t>(gmm->nDim) * gmm->nMix <= 1 << 20) {
      std::vector<float> obs(static_cast<size_t>(gmm->nDim), 0.5f);
      std::vector<float> post(static_cast<size_t>(gmm->nMix));
      int count = 0;
      if (GMMPP_Calc(&gmm, obs.data(), nullptr, 0, nullptr, gmm->nMix, post.data(), 0.0, &count) ==
          0) {
        for (int k = 0; k < count; ++k)
          if (!std::isfinite(post[k])) jor_fuzz::Broken("a posterior that is not finite");
      }
    }
    GMMPP_Free(&gmm);
  }
  HTKfree(&set);
  std::fclose(file);
  return 0;
}
