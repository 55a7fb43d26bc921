#include "tools/export/wav-file.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace jor_export {

namespace {

uint32_t U32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t U16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::string ReadWav(const std::string& path, WavAudio* audio) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open file";
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  if (n < 12 || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0)
    return "not a RIFF/WAVE file";
  bool haveFmt = false;
  size_t pos = 12;
  while (pos + 8 <= n) {
    const unsigned char* chunk = b + pos;
    const uint32_t size = U32(chunk + 4);
    const size_t body = pos + 8;
    const size_t avail = n - body;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || avail < 16) return "short fmt chunk";
      uint16_t format = U16(b + body);
      const uint16_t channels = U16(b + body + 2);
      const uint32_t rate = U32(b + body + 4);
      const uint16_t bits = U16(b + body + 14);
      if (format == 0xFFFE && size >= 26 && avail >= 26) format = U16(b + body + 24);
      if (format != 1) return "not PCM";
      if (bits != 16) return "not 16-bit";
      if (channels != 1) return "not mono";
      if (rate == 0 || rate > 1000000) return "bad sampling rate";
      audio->sampleRate = static_cast<int>(rate);
      haveFmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFmt) return "data chunk before fmt chunk";
      const size_t len = (size < avail ? size : avail) / 2;
      audio->samples.resize(len);
      for (size_t i = 0; i < len; ++i)
        audio->samples[i] = static_cast<short>(U16(b + body + 2 * i));
      return "";
    }
    // Chunks are padded to an even length.
    const uint64_t next = static_cast<uint64_t>(body) + size + (size & 1u);
    if (next > n) break;
    pos = static_cast<size_t>(next);
  }
  return haveFmt ? "no data chunk" : "no fmt chunk";
}

}  // namespace jor_export
