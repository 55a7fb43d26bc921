// jor-export-engine-check: the features, raw i-vectors and raw x-vectors of
// WAV files taken through the engine's public exports (Ravel_GetFeature,
// Ravel_GetIvector and Ravel_GetXvector without transform), written like
// jor-export's, so that tests can hold jor-export to the engine.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/ravel-exports.h"
#include "tools/export/npy-writer.h"
#include "tools/wavio/wav-reader.h"

namespace {

// The values after the 256-byte template header.
bool WritePayload(const std::vector<char>& templ, const std::string& path) {
  if (templ.size() < 256) return false;
  const size_t n = (templ.size() - 256) / 4;
  std::vector<float> values(n);
  for (size_t k = 0; k < n; ++k) std::memcpy(&values[k], templ.data() + 256 + 4 * k, 4);
  return jor_export::WriteNpy(path, {n}, values.data(), n);
}

}  // namespace

int main(int argc, char** argv) {
  // Ravel_GetFeature does not say its row width; the caller does.
  size_t dim = 40;
  if (argc > 2 && std::string(argv[1]) == "--dim") {
    dim = static_cast<size_t>(std::max(1, std::atoi(argv[2])));
    argv += 2;
    argc -= 2;
  }
  if (argc < 4 || std::string(argv[1]) == "--help") {
    std::fputs(
        "Usage: jor-export-engine-check [--dim F (40)] DEPLOYMENT_DIR OUT_DIR WAV...\n"
        "Writes OUT_DIR/ID.feats.npy (Ravel_GetFeature), OUT_DIR/ID.ivector.npy and\n"
        "OUT_DIR/ID.xvector.npy (the payloads of Ravel_GetIvector's and\n"
        "Ravel_GetXvector's untransformed templates) per WAV file.\n",
        argc < 4 ? stderr : stdout);
    return argc < 4 ? 2 : 0;
  }
  const std::string dir = argv[1];
  const std::string out = argv[2];
  const std::string container = dir + "/ulxmodel.dat";
  int rc = Ravel_Initialize(container.c_str(), 20, 0.025f, dir.c_str(), false);
  if (rc != 0) {
    std::fprintf(stderr, "Ravel_Initialize: %d (detail 0x%x)\n", rc, Ravel_GetDetail(nullptr));
    return 2;
  }
  void* handle = nullptr;
  if (Ravel_Create(&handle) != 0) return 2;
  int failed = 0;
  for (int i = 3; i < argc; ++i) {
    const std::string path = argv[i];
    std::string id = path.substr(path.find_last_of('/') + 1);
    id = id.substr(0, id.find_last_of('.'));
    std::vector<short> samples;
    if (!wavio::ReadWav(path, &samples).empty()) {
      ++failed;
      continue;
    }
    std::vector<float> feats, freqSnr;
    float duration, volume, snr, start, end;
    rc =
        Ravel_GetFeature(handle, samples, &feats, &duration, &volume, &snr, &start, &end, &freqSnr);
    if (rc != 0 || feats.size() % dim != 0) {
      ++failed;
      continue;
    }
    jor_export::WriteNpy(out + "/" + id + ".feats.npy", {feats.size() / dim, dim}, feats.data(),
                         feats.size());
    std::vector<char> ivector, xvector;
    if (Ravel_GetIvector(handle, feats, duration, volume, snr, &ivector, false) != 0 ||
        Ravel_GetXvector(handle, feats, duration, volume, snr, &xvector, false) != 0 ||
        !WritePayload(ivector, out + "/" + id + ".ivector.npy") ||
        !WritePayload(xvector, out + "/" + id + ".xvector.npy")) {
      ++failed;
    }
  }
  Ravel_Delete(&handle);
  Ravel_Terminate();
  return failed ? 1 : 0;
}
