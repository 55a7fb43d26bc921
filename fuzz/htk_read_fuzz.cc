// libFuzzer entry: any byte string as a model section for the HTK reader.
// The reader must neither crash, leak, read out of bounds nor loop; a set it
// accepts must also survive a deep copy and the posterior preparation.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp.h"
#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"

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
    if (GMMPP_Init(&gmm, &set) == 0 && gmm->nDim <= 4096) {
      std::vector<float> obs(static_cast<size_t>(gmm->nDim), 0.5f);
      std::vector<float> post(static_cast<size_t>(gmm->nMix));
      int count = 0;
      GMMPP_Calc(&gmm, obs.data(), nullptr, 0, nullptr, gmm->nMix, post.data(), 0.0, &count);
    }
    GMMPP_Free(&gmm);
  }
  HTKfree(&set);
  std::fclose(file);
  return 0;
}
