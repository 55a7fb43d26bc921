// A section's bytes behind a C stream, as the model container hands them to
// the loaders.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "tests/support/test-dir.h"

namespace ivdist_test {

class SectionStream {
 public:
  SectionStream(const jor_test::TestDir& dir, const std::string& bytes) {
    static std::atomic<int> counter{0};
    const std::string path = dir.File("section" + std::to_string(counter++) + ".bin");
    jor_test::WriteFile(path, bytes);
    stream_ = std::fopen(path.c_str(), "rb");
  }
  ~SectionStream() {
    if (stream_) std::fclose(stream_);
  }
  SectionStream(const SectionStream&) = delete;
  SectionStream& operator=(const SectionStream&) = delete;

  FILE* get() const { return stream_; }

 private:
  FILE* stream_ = nullptr;
};

// Bytes of a trivially copyable value, for patching sections.
template <typename V>
std::string Bytes(V value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof(V));
}

}  // namespace ivdist_test
