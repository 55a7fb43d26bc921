// The canonical 44-byte RIFF/WAVE header (one "fmt " chunk of 16 bytes
// followed directly by the "data" chunk) and little-endian field access.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace drumlin {

constexpr size_t kWaveHeaderBytes = 44;

// Byte offsets of the header fields.
constexpr size_t kWaveRiffSizeOffset = 4;
constexpr size_t kWaveChannelsOffset = 22;
constexpr size_t kWaveSampleRateOffset = 24;
constexpr size_t kWaveByteRateOffset = 28;
constexpr size_t kWaveBitsOffset = 34;
constexpr size_t kWaveDataSizeOffset = 40;

inline uint16_t ReadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// A 16-bit linear PCM header for `pcmBytes` data bytes.
std::vector<uint8_t> MakeWaveHeader(uint16_t channels, uint32_t sampleRate, uint32_t pcmBytes);

// Rewrites the RIFF and data size fields of a 44-byte header.
void SetWaveDataSize(uint8_t* header, uint32_t pcmBytes);

}  // namespace drumlin
