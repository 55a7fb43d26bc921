// Builders of WAV files and PCM byte strings for the decoder tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace drumlin_test {

inline void PutLe(std::vector<uint8_t>* v, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) v->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void PutTag(std::vector<uint8_t>* v, const char* tag) {
  for (int i = 0; tag[i] != 0; ++i) v->push_back(static_cast<uint8_t>(tag[i]));
}

// A canonical 44-byte header followed by `data`, fields written by hand.
inline std::vector<uint8_t> Wav(int channels, int rate, int bits,
                                const std::vector<uint8_t>& data) {
  std::vector<uint8_t> w;
  const int blockAlign = channels * bits / 8;
  PutTag(&w, "RIFF");
  PutLe(&w, data.size() + 36, 4);
  PutTag(&w, "WAVEfmt ");
  PutLe(&w, 16, 4);
  PutLe(&w, 1, 2);
  PutLe(&w, channels, 2);
  PutLe(&w, rate, 4);
  PutLe(&w, static_cast<uint64_t>(rate) * blockAlign, 4);
  PutLe(&w, blockAlign, 2);
  PutLe(&w, bits, 2);
  PutTag(&w, "data");
  PutLe(&w, data.size(), 4);
  w.insert(w.end(), data.begin(), data.end());
  return w;
}

inline std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> b;
  for (int16_t s : samples) PutLe(&b, static_cast<uint16_t>(s), 2);
  return b;
}

inline std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return s;
}

inline uint32_t Le32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (static_cast<uint32_t>(v[at + 3]) << 24);
}
inline uint16_t Le16(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint16_t>(v[at] | (v[at + 1] << 8));
}

// amplitude * sin(2 pi f n / rate) plus a small deterministic wobble so that
// neighbouring samples differ in their low bits.
inline std::vector<int16_t> Tone(int count, double freq, int rate, double amplitude) {
  std::vector<int16_t> s(static_cast<size_t>(count));
  for (int n = 0; n < count; ++n) {
    const double v =
        amplitude * std::sin(2 * std::numbers::pi * freq * n / rate) + ((n * 7919) % 97) - 48;
    s[static_cast<size_t>(n)] = static_cast<int16_t>(std::lround(v));
  }
  return s;
}

inline std::vector<int16_t> Interleave(const std::vector<int16_t>& l,
                                       const std::vector<int16_t>& r) {
  std::vector<int16_t> s;
  for (size_t i = 0; i < l.size(); ++i) {
    s.push_back(l[i]);
    s.push_back(r[i]);
  }
  return s;
}

inline std::string AsString(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}
inline std::vector<uint8_t> AsBytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace drumlin_test
