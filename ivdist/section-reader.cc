#include "ivdist/section-reader.h"

#include <algorithm>

namespace ivdist {

bool ReadExact(FILE* stream, void* data, size_t size) {
  return size == 0 || std::fread(data, 1, size, stream) == size;
}

bool SkipSectionHeader(FILE* stream) {
  unsigned char header[32];
  return ReadExact(stream, header, sizeof(header));
}

size_t RemainingBytes(FILE* stream) {
  const long here = std::ftell(stream);
  if (here < 0 || std::fseek(stream, 0, SEEK_END) != 0) return SIZE_MAX;
  const long end = std::ftell(stream);
  if (std::fseek(stream, here, SEEK_SET) != 0) return 0;  // unusable stream: reads fail
  return end > here ? static_cast<size_t>(end - here) : 0;
}

template <typename T>
bool ReadValues(FILE* stream, size_t count, std::vector<T>* out) {
  // Chunks bound the allocation ahead of the data; the reservation is exact
  // when the stream knows its length.
  constexpr size_t kChunk = size_t{1} << 16;
  out->clear();
  const size_t remaining = RemainingBytes(stream);
  out->reserve(std::min(count, remaining == SIZE_MAX ? kChunk : remaining / sizeof(T)));
  while (out->size() < count) {
    const size_t done = out->size();
    const size_t n = std::min(kChunk, count - done);
    out->resize(done + n);
    if (!ReadExact(stream, out->data() + done, n * sizeof(T))) return false;
  }
  return true;
}

template bool ReadValues<float>(FILE*, size_t, std::vector<float>*);
template bool ReadValues<double>(FILE*, size_t, std::vector<double>*);

}  // namespace ivdist
