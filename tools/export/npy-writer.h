// Writer of NumPy ".npy" files (format version 1.0): little-endian float32
// arrays in C order, so numpy.load reads them without any other package.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace jor_export {

// The complete header: magic, version 1.0, header length and the dictionary,
// padded with blanks and a final newline to a multiple of 64 bytes.
std::string NpyHeader(const std::vector<size_t>& shape);

// Writes `values` (the product of `shape` elements, row-major) to `path`.
// Returns false when the file cannot be written or the count does not match.
bool WriteNpy(const std::string& path, const std::vector<size_t>& shape, const float* values,
              size_t count);

}  // namespace jor_export
