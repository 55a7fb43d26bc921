#include "engine/template-format.h"

#include <cstdio>
#include <cstring>

#include "common/result-codes.h"

namespace ravel_template {

uint8_t TemplateXor(const void* bytes, size_t length) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  uint64_t lanes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  size_t i = 0;
  for (; i + 64 <= length; i += 64) {
    uint64_t block[8];
    std::memcpy(block, p + i, 64);
    for (int k = 0; k < 8; ++k) lanes[k] ^= block[k];
  }
  uint64_t folded = lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3] ^ lanes[4] ^ lanes[5] ^ lanes[6] ^
                    lanes[7];
  folded ^= folded >> 32;
  folded ^= folded >> 16;
  folded ^= folded >> 8;
  uint8_t x = static_cast<uint8_t>(folded);
  for (; i < length; ++i) x ^= p[i];
  return x;
}

uint32_t ReadU32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

float ReadF32(const char* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}

void WriteTemplate(const float* values, size_t n, float duration, float volume, float snr,
                   uint8_t major, uint8_t minor, char* out) {
  std::memset(out, 0, kHeaderSize);
  out[1] = static_cast<char>(kFormatVersion);
  out[2] = 'U';
  out[3] = 'L';
  out[4] = 'X';
  const uint32_t payload = static_cast<uint32_t>(kHeaderSize);
  std::memcpy(out + kPayloadOffsetPos, &payload, 4);
  out[kMajorPos] = static_cast<char>(major);
  out[kMinorPos] = static_cast<char>(minor);
  std::memcpy(out + kDurationPos, &duration, 4);
  std::memcpy(out + kVolumePos, &volume, 4);
  std::memcpy(out + kSnrPos, &snr, 4);
  if (n) std::memcpy(out + kHeaderSize, values, 4 * n);
  out[0] = static_cast<char>(TemplateXor(out + 1, kHeaderSize - 1 + 4 * n));
}

uint32_t Validate(const std::vector<char>& templ, size_t expectedLength, uint8_t major,
                  uint8_t minor, std::string* version) {
  if (templ.empty() || version == nullptr) return jor::kEngineInvalidArgument;
  if (templ.size() != expectedLength) return jor::kTemplateMalformed;
  const unsigned char* b = reinterpret_cast<const unsigned char*>(templ.data());
  if (TemplateXor(b + 1, templ.size() - 1) != b[0]) return jor::kTemplateMalformed;
  if (b[1] != kFormatVersion) return jor::kTemplateVersion;
  if (b[2] != 'U' || b[3] != 'L' || b[4] != 'X' || b[5] != 0) return jor::kTemplateMalformed;
  if (b[6] != 0 || b[7] != 0) return jor::kTemplateMalformed;
  if (b[8] != 0) return jor::kTemplateMalformed;
  if (b[kMajorPos] != major || b[kMinorPos] != minor) return jor::kTemplateVersion;
  char text[32];
  std::snprintf(text, sizeof(text), "%d.%d", major, minor);
  *version = text;
  return 0;
}

}  // namespace ravel_template
