// Helpers shared by the fuzz targets: inputs that must live in a file, and a
// way to stop on a broken promise that every sanitizer reports.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace jor_fuzz {

// A per-process scratch file holding the input; removed again on destruction.
class InputFile {
 public:
  InputFile(const char* tag, const uint8_t* data, size_t size)
      : path_("/tmp/jor_" + std::string(tag) + "_" + std::to_string(::getpid())) {
    if (std::FILE* f = std::fopen(path_.c_str(), "wb")) {
      if (size > 0) std::fwrite(data, 1, size, f);
      std::fclose(f);
    }
  }
  ~InputFile() { std::remove(path_.c_str()); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A result the code promised not to give.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

}  // namespace jor_fuzz
