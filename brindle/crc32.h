// CRC-32 (IEEE 802.3, reflected, polynomial 0xEDB88320): the checksum that
// closes an "xe5.pb" file; equal to Python's zlib.crc32.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brindle {

uint32_t Crc32(const uint8_t* data, size_t size);

}  // namespace brindle
