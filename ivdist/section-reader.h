// Counted reads from a model section stream. Storage grows only as far as
// the stream actually delivers data, so a section that declares a huge
// dimension but is truncated fails on its short read without first
// allocating the declared size.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace ivdist {

// Largest dimension a model section may declare.
constexpr uint32_t kMaxDimension = 1000000;

// Reads exactly `size` bytes; false on a short read.
bool ReadExact(FILE* stream, void* data, size_t size);

// Skips the 32-byte section header (its content belongs to the container).
bool SkipSectionHeader(FILE* stream);

// Bytes left between the stream position and the end of the file, or
// SIZE_MAX where the stream cannot tell.
size_t RemainingBytes(FILE* stream);

// Replaces `out` with exactly `count` values read from the stream.
template <typename T>
bool ReadValues(FILE* stream, size_t count, std::vector<T>* out);

template <typename T>
bool AllFinite(const T* values, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!std::isfinite(values[i])) return false;
  return true;
}

}  // namespace ivdist
