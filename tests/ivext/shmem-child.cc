// Second process of the shared model store tests.
//
//   ivext_shmem_child extract <model path> <result path> <seed>
//     Loads the model with sharing (a missing file is passed on as a null
//     file), extracts an i-vector from ivext_test::RandomStats(C, F, seed) and
//     writes: int32 load result, int32 extract result, int32 element size,
//     int32 shared flag, int32 R, R floats.
//   ivext_shmem_child die-writing <ready path>
//     Takes the writer's lock, half-fills a segment, creates <ready path> and
//     sleeps until it is killed.
//   ivext_shmem_child attach-and-wait <model path> <ready path>
//     Loads the model with sharing, creates <ready path> and sleeps until it
//     is killed (a reader that dies holding the sharable lock).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IvectorExt/ivext/iv-extractor.h"
#include "IvectorExt/ivext/shmem-manager.h"
#include "tests/ivext/ivector-reference.h"

namespace {

int Extract(const char* modelPath, const char* resultPath, uint32_t seed) {
  FILE* file = std::fopen(modelPath, "rb");
  ivext::IvExtractor iv;
  const bool share = true;
  int32_t out[5] = {iv.LoadModel(file, share), 0, 0, 0, 0};
  if (file != nullptr) std::fclose(file);
  std::vector<float> w;
  if (out[0] == 0) {
    const ivext_test::Stats s = ivext_test::RandomStats(iv.NumGaussians(), iv.FeatureDim(), seed);
    UtteranceStats<float> stats(iv.FeatureDim(), iv.NumGaussians());
    stats.numFrames = 1;
    for (size_t c = 0; c < s.zeroth.size(); ++c) {
      stats.zeroth[c] = static_cast<float>(s.zeroth[c]);
      for (size_t d = 0; d < s.first[c].size(); ++d)
        stats.first[c][d] = static_cast<float>(s.first[c][d]);
    }
    out[1] = iv.Extract(stats, w);
  }
  out[2] = iv.ElemSize();
  out[3] = iv.IsShared() ? 1 : 0;
  out[4] = static_cast<int32_t>(w.size());
  FILE* result = std::fopen(resultPath, "wb");
  if (result == nullptr) return 2;
  std::fwrite(out, sizeof out, 1, result);
  if (!w.empty()) std::fwrite(w.data(), sizeof(float), w.size(), result);
  std::fclose(result);
  return 0;
}

int DieWriting(const char* readyPath) {
  ivext::ShmemManager manager;
  void* base = manager.CreateForWrite(4096);
  if (base == nullptr) return 3;
  std::memset(base, 0x5A, 1000);  // header fields half written, no completion mark
  ivext::shared_layout::PublishElemSize(base, 0);
  FILE* ready = std::fopen(readyPath, "wb");
  if (ready == nullptr) return 2;
  std::fclose(ready);
  for (;;) ::pause();
}

int AttachAndWait(const char* modelPath, const char* readyPath) {
  FILE* file = std::fopen(modelPath, "rb");
  ivext::IvExtractor iv;
  const bool share = true;
  const int rc = iv.LoadModel(file, share);
  if (file != nullptr) std::fclose(file);
  if (rc != 0 || !iv.IsShared()) return 3;
  FILE* ready = std::fopen(readyPath, "wb");
  if (ready == nullptr) return 2;
  std::fclose(ready);
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 5 && std::strcmp(argv[1], "extract") == 0)
      return Extract(argv[2], argv[3], static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)));
    if (argc == 3 && std::strcmp(argv[1], "die-writing") == 0) return DieWriting(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "attach-and-wait") == 0)
      return AttachAndWait(argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ivext_shmem_child: %s\n", e.what());
    return 4;
  }
  std::fprintf(stderr, "usage: ivext_shmem_child extract|die-writing|attach-and-wait ...\n");
  return 1;
}
