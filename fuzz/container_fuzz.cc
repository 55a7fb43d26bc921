// Model container directory and option files on arbitrary bytes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "IvectorExt/featext/mfcc-options.h"
#include "common/model/model_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/jor_container_fuzz_" + std::to_string(::getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  {
    common::model::ModelManager m(path.c_str());
    if (m.initialize() == 0) {
      for (int t = 0; t < 6; ++t) {
        if (FILE* s = m.Section(t)) {
          char buf[16];
          (void)std::fread(buf, 1, sizeof buf, s);
        }
      }
    }
  }
  // The same bytes as an options file.
  jor_feat::MfccOptions o(path, jor_feat::kModeBatch);
  std::string why;
  (void)o.Validate(&why);
  std::remove(path.c_str());
  return 0;
}
