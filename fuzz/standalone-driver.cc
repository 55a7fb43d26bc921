// Runs a libFuzzer-style entry point without libFuzzer (g++ builds):
//   <fuzzer> FILE...        each file once
//   <fuzzer> -runs=N [-seed=S] [FILE...]
//                           N inputs made by mutating the files (or random
//                           bytes), deterministic for a seed
// Built with clang and -fsanitize=fuzzer the entry point is used directly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> Mutate(const std::vector<uint8_t>& seed, std::mt19937& rng) {
  std::vector<uint8_t> out = seed;
  const int edits = 1 + static_cast<int>(rng() % 8);
  for (int e = 0; e < edits; ++e) {
    switch (rng() % 5) {
      case 0:  // flip a byte
        if (!out.empty()) out[rng() % out.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:  // random byte
        if (!out.empty()) out[rng() % out.size()] = static_cast<uint8_t>(rng());
        break;
      case 2:  // truncate
        if (!out.empty()) out.resize(rng() % out.size());
        break;
      case 3:  // insert
        out.insert(out.begin() + static_cast<long>(out.empty() ? 0 : rng() % out.size()),
                   static_cast<uint8_t>(rng()));
        break;
      default:  // interesting values
        if (out.size() >= 4) {
          static const uint32_t kValues[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 256, 65535};
          const uint32_t v = kValues[rng() % (sizeof(kValues) / sizeof(kValues[0]))];
          std::memcpy(&out[rng() % (out.size() - 3)], &v, 4);
        }
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 0;
  unsigned seed = 1;
  std::vector<std::vector<uint8_t>> corpus;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-runs=", 6) == 0) {
      runs = std::atol(argv[i] + 6);
    } else if (std::strncmp(argv[i], "-seed=", 6) == 0) {
      seed = static_cast<unsigned>(std::atol(argv[i] + 6));
    } else {
      std::ifstream in(argv[i], std::ios::binary);
      corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  for (const auto& input : corpus) LLVMFuzzerTestOneInput(input.data(), input.size());
  std::mt19937 rng(seed);
  if (corpus.empty()) corpus.emplace_back();
  for (long r = 0; r < runs; ++r) {
    std::vector<uint8_t> input = corpus[rng() % corpus.size()];
    if (input.empty()) {
      input.resize(rng() % 512);
      for (auto& b : input) b = static_cast<uint8_t>(rng());
    }
    input = Mutate(input, rng);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("%zu files, %ld generated inputs: no crash\n", corpus.size(), runs);
  return 0;
}
