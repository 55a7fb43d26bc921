// Speaker template bytes: a 256-byte header followed by N little-endian floats.
//
//   off size field
//     0    1 checksum: XOR of every byte from offset 1 to the end
//     1    1 format version, 1
//     2    4 "ULX" and a zero byte
//     6    3 reserved, 0
//     9    4 uint32 payload offset, 256
//    13    1 template major version
//    14    1 template minor version
//    15    4 float duration
//    19    4 float volume
//    23    4 float snr
//    27  229 reserved, 0
//   256  4·N values
//
// Templates are stored by callers, so this layout never changes. Fields from
// offset 9 on are unaligned and always accessed through memcpy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ravel_template {

constexpr size_t kHeaderSize = 256;
constexpr uint8_t kFormatVersion = 1;
constexpr size_t kPayloadOffsetPos = 9;
constexpr size_t kMajorPos = 13;
constexpr size_t kMinorPos = 14;
constexpr size_t kDurationPos = 15;
constexpr size_t kVolumePos = 19;
constexpr size_t kSnrPos = 23;

// XOR of all bytes; wide XORs over 64-byte blocks, identical to a byte loop.
uint8_t TemplateXor(const void* bytes, size_t length);

// Writes header and values into `out` (already sized to 256 + 4·n bytes).
void WriteTemplate(const float* values, size_t n, float duration, float volume, float snr,
                   uint8_t major, uint8_t minor, char* out);

// Internal result of the nine validation tests: 0, jor::kEngineInvalidArgument
// (empty template or null version), jor::kTemplateMalformed or jor::kTemplateVersion.
uint32_t Validate(const std::vector<char>& templ, size_t expectedLength, uint8_t major,
                  uint8_t minor, std::string* version);

uint32_t ReadU32(const char* p);
float ReadF32(const char* p);

}  // namespace ravel_template
