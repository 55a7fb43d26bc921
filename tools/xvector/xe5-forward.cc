// xe5-forward: the embedding libBrindle computes for a feature matrix, so that
// the trainer's tests can hold the written network to PyTorch's forward pass.
// Input and output are raw little-endian float32 files (row-major, DIM per row).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "brindle/xvext.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("Usage: xe5-forward MODEL.pb IN.f32 OUT.f32\n", stderr);
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  std::vector<float> features(bytes.size() / sizeof(float));
  std::copy(bytes.begin(), bytes.begin() + features.size() * sizeof(float),
            reinterpret_cast<char*>(features.data()));
  XVECTOR::C_XVEXT net;
  if (const int r = net.Init(argv[1], 0); r != 0) {
    std::fprintf(stderr, "Init: 0x%08X\n", static_cast<unsigned>(r));
    return 1;
  }
  std::vector<float> xvector;
  if (const int r = net.GetXvector(features, xvector); r != 0) {
    std::fprintf(stderr, "GetXvector: 0x%08X\n", static_cast<unsigned>(r));
    return 1;
  }
  std::ofstream out(argv[3], std::ios::binary);
  out.write(reinterpret_cast<const char*>(xvector.data()),
            static_cast<std::streamsize>(xvector.size() * sizeof(float)));
  return out ? 0 : 1;
}
