// Helpers of the HTK reader and GMM posterior tests: in-memory streams and
// reading a definition text into a set.
#pragma once

#include <cstdio>
#include <string>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"

namespace jor_test {

// A read-only stream over a private copy of `bytes`.
class MemFile {
 public:
  explicit MemFile(const std::string& bytes) : data_(bytes) {
    file_ = fmemopen(data_.empty() ? nullptr : data_.data(), data_.size(), "r");
    if (file_ == nullptr) file_ = fmemopen(empty_, 0, "r");
  }
  ~MemFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;
  FILE* get() const { return file_; }

 private:
  std::string data_;
  char empty_[1] = {0};
  FILE* file_ = nullptr;
};

// Owns a set and releases it.
struct ScopedSet {
  ScopedSet() { HTKinit(&set); }
  ~ScopedSet() { HTKfree(&set); }
  ScopedSet(const ScopedSet&) = delete;
  ScopedSet& operator=(const ScopedSet&) = delete;
  HTK_HMMS set;
};

inline int Read3(const std::string& text, HTK_HMMS* set) {
  MemFile f(text);
  return HTKread3(f.get(), set);
}

// First Gaussian stream of the set's first HMM, or null.
inline const HtkStream* FirstStream(const HTK_HMMS& set) {
  const HtkHmm* h = set.hmmList.first;
  if (h == nullptr || h->numStates < 3 || h->states[0] == nullptr) return nullptr;
  return &h->states[0]->streams[0];
}

}  // namespace jor_test
