// Writer of x-vector network files ("xe5.pb"): random networks of a given
// shape and the byte-for-byte image of the documented layout (little-endian
// header, one record per layer, CRC-32 at the end).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modelio {

struct TLayer {
  uint32_t kind = 1;  // 1 frame, 2 pooling, 3 segment
  uint32_t in = 0;
  uint32_t out = 0;
  std::vector<int32_t> offsets;
  uint32_t activation = 1;    // 0 none, 1 ReLU
  uint32_t flags = 0;         // 1: scale and shift follow
  std::vector<float> weight;  // out rows of (offsets.size() or 1) * in
  std::vector<float> bias, scale, shift;
  float varianceFloor = 1e-10f;
};

struct TModel {
  uint32_t inputDim = 0;
  uint32_t embeddingDim = 0;
  std::vector<TLayer> layers;
};

struct NetSpec {
  uint32_t inputDim;
  std::vector<uint32_t> frameDims;
  std::vector<std::vector<int32_t>> contexts;
  uint32_t embeddingDim;
  std::vector<uint32_t> laterSegmentDims;
  bool scaled = true;
  uint32_t activation = 1;
  float varianceFloor = 1e-10f;
};

// A network of `spec`'s shape with normal random weights, deterministic for a seed.
TModel RandomModel(const NetSpec& spec, uint32_t seed);

// Bitwise CRC-32 (IEEE, reflected) of the first `n` bytes.
uint32_t Crc32(const std::string& bytes, size_t n);

void SetU32(std::string& s, size_t pos, uint32_t v);
uint32_t GetU32(const std::string& s, size_t pos);

// Rewrites the length field and the closing checksum after an edit, so that
// the reader gets past the envelope to the structure.
void Reseal(std::string& s);

// The file image; `recordStarts` (optional) receives the offset of each layer record.
std::string Encode(const TModel& m, std::vector<size_t>* recordStarts = nullptr);

}  // namespace modelio
