// Templates on arbitrary bytes through the public library: RecCheckTemplate
// with the input's own length, and RecCompare of the input against itself and
// against a template made from real speech, on the trained test deployment.
// No crash, no read outside the bytes, and every score reported as success
// lies in [0, 100].
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz-util.h"
#include "pellam/pellam.h"

namespace {

#define JOR_FUZZ_BIND(ordinal, role, name) constexpr role k##role = &name;
PELLAM_EXPORTS(JOR_FUZZ_BIND)
#undef JOR_FUZZ_BIND

struct Engine {
  void* handle = nullptr;
  std::vector<char> reference;
  Engine() {
    const bool share = false;
    const std::string dir = std::string(JOR_SOURCE_DIR) + "/tests/data/trained";
    if (kRecInitialize(dir.c_str(), &share) != 0 || kRecCreate(&handle) != 0)
      jor_fuzz::Broken("the trained test deployment does not initialise");
    // A template of two seconds of a real voice.
    const std::string wav = dir + "/conversation/es-f1-enrol.wav";
    std::vector<short> pcm(16000);
    if (std::FILE* f = std::fopen(wav.c_str(), "rb")) {
      std::fseek(f, 44, SEEK_SET);
      pcm.resize(std::fread(pcm.data(), 2, pcm.size(), f));
      std::fclose(f);
    }
    reference.resize(static_cast<size_t>(kRecGetTemplateSize()));
    const size_t samples = pcm.size(), bytes = reference.size();
    float d, v, s;
    if (kRecMakeXvectorTemplate(handle, pcm.data(), &samples, reference.data(), &bytes, &d, &v,
                                &s) != 0)
      jor_fuzz::Broken("no reference template");
  }
};

void CheckCompare(void* handle, const char* a, size_t aBytes, const char* b, size_t bBytes) {
  float score = -1.0f;
  if (kRecCompare(handle, a, &aBytes, b, &bBytes, &score) == 0 &&
      !(std::isfinite(score) && score >= 0.0f && score <= 100.0f))
    jor_fuzz::Broken("a score outside [0, 100] reported as success");
}

Engine* g_engine = nullptr;

}  // namespace

// The deployment loads before the first input, outside its time limit.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_engine = new Engine();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_engine == nullptr) LLVMFuzzerInitialize(nullptr, nullptr);  // the standalone driver
  Engine& engine = *g_engine;
  const char* templ = reinterpret_cast<const char*>(data);
  // A private copy of exactly `size` bytes, so that any read beyond is caught.
  std::vector<char> copy(templ, templ + size);
  char version[80];
  size_t bytes = size;
  (void)kRecCheckTemplate(copy.data(), &bytes, version);
  CheckCompare(engine.handle, copy.data(), size, copy.data(), size);
  CheckCompare(engine.handle, copy.data(), size, engine.reference.data(), engine.reference.size());
  CheckCompare(engine.handle, engine.reference.data(), engine.reference.size(), copy.data(), size);
  return 0;
}
