// The feature options file on arbitrary bytes, read in both modes and
// validated: nothing may crash, hang or allocate without bound.
#include <cstdint>
#include <string>

#include "IvectorExt/featext/mfcc-options.h"
#include "fuzz/fuzz-util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  jor_fuzz::InputFile file("options_fuzz", data, size);
  for (int mode : {jor_feat::kModeBatch, jor_feat::kModeOnline}) {
    jor_feat::MfccOptions o(file.path(), mode);
    std::string why;
    (void)o.Validate(&why);
  }
  return 0;
}
