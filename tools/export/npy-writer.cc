#include "tools/export/npy-writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace jor_export {

std::string NpyHeader(const std::vector<size_t>& shape) {
  std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (";
  for (size_t i = 0; i < shape.size(); ++i) {
    dict += std::to_string(shape[i]);
    if (shape.size() == 1 || i + 1 < shape.size()) dict += ",";
    if (i + 1 < shape.size()) dict += " ";
  }
  dict += "), }";
  // magic (6) + version (2) + length (2) + dict + padding + '\n'
  const size_t unpadded = 10 + dict.size() + 1;
  const size_t total = (unpadded + 63) / 64 * 64;
  dict.append(total - unpadded, ' ');
  dict += '\n';
  const uint16_t len = static_cast<uint16_t>(dict.size());
  std::string out("\x93NUMPY\x01\x00", 8);
  out += static_cast<char>(len & 0xFF);
  out += static_cast<char>(len >> 8);
  return out + dict;
}

bool WriteNpy(const std::string& path, const std::vector<size_t>& shape, const float* values,
              size_t count) {
  size_t expected = 1;
  for (size_t s : shape) expected *= s;
  if (expected != count || (count > 0 && values == nullptr)) return false;
  struct Closer {
    void operator()(FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<FILE, Closer> file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  const std::string header = NpyHeader(shape);
  if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size()) return false;
  // The files are little-endian float32, as is every machine this builds on.
  static_assert(sizeof(float) == 4);
  if (count > 0 && std::fwrite(values, sizeof(float), count, file.get()) != count) return false;
  return std::fflush(file.get()) == 0;
}

}  // namespace jor_export
