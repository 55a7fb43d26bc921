#include "tools/modelio/xe5-writer.h"

#include <cmath>
#include <cstring>
#include <random>

namespace modelio {

TModel RandomModel(const NetSpec& spec, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::uniform_real_distribution<float> uniform(0.5f, 1.5f);
  TModel m;
  m.inputDim = spec.inputDim;
  m.embeddingDim = spec.embeddingDim;
  auto affine = [&](uint32_t kind, uint32_t in, uint32_t out, std::vector<int32_t> offsets) {
    TLayer l;
    l.kind = kind;
    l.in = in;
    l.out = out;
    l.offsets = std::move(offsets);
    l.activation = spec.activation;
    l.flags = spec.scaled ? 1 : 0;
    const size_t cols = (kind == 1 ? l.offsets.size() : 1) * in;
    const float gain = std::sqrt(2.0f / static_cast<float>(cols));
    for (size_t i = 0; i < out * cols; ++i) l.weight.push_back(gain * normal(rng));
    for (uint32_t i = 0; i < out; ++i) l.bias.push_back(0.1f * normal(rng));
    if (spec.scaled) {
      for (uint32_t i = 0; i < out; ++i) l.scale.push_back(uniform(rng));
      for (uint32_t i = 0; i < out; ++i) l.shift.push_back(0.1f * normal(rng));
    }
    return l;
  };
  uint32_t dim = spec.inputDim;
  for (size_t k = 0; k < spec.frameDims.size(); ++k) {
    m.layers.push_back(affine(1, dim, spec.frameDims[k], spec.contexts[k]));
    dim = spec.frameDims[k];
  }
  TLayer pool;
  pool.kind = 2;
  pool.in = dim;
  pool.out = 2 * dim;
  pool.activation = 0;
  pool.varianceFloor = spec.varianceFloor;
  m.layers.push_back(pool);
  dim *= 2;
  m.layers.push_back(affine(3, dim, spec.embeddingDim, {}));
  dim = spec.embeddingDim;
  for (uint32_t d : spec.laterSegmentDims) {
    m.layers.push_back(affine(3, dim, d, {}));
    dim = d;
  }
  return m;
}

uint32_t Crc32(const std::string& bytes, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= static_cast<uint8_t>(bytes[i]);
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

namespace {

void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutU64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void PutF32(std::string& s, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  PutU32(s, v);
}
}  // namespace

void SetU32(std::string& s, size_t pos, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[pos + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint32_t GetU32(const std::string& s, size_t pos) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<uint32_t>(static_cast<uint8_t>(s[pos + i])) << (8 * i);
  return v;
}

void Reseal(std::string& s) {
  if (s.size() < 36) return;
  const uint64_t len = s.size();
  for (int i = 0; i < 8; ++i) s[8 + i] = static_cast<char>((len >> (8 * i)) & 0xFF);
  SetU32(s, s.size() - 4, Crc32(s, s.size() - 4));
}

std::string Encode(const TModel& m, std::vector<size_t>* recordStarts) {
  std::string s = "XE5N";
  PutU32(s, 1);
  PutU64(s, 0);  // length, set by Reseal
  PutU32(s, m.inputDim);
  PutU32(s, m.embeddingDim);
  PutU32(s, static_cast<uint32_t>(m.layers.size()));
  PutU32(s, 0);
  for (const TLayer& l : m.layers) {
    if (recordStarts) recordStarts->push_back(s.size());
    std::string params;
    for (int32_t o : l.offsets) PutU32(params, static_cast<uint32_t>(o));
    if (l.kind == 2) {
      PutF32(params, l.varianceFloor);
    } else {
      for (float f : l.weight) PutF32(params, f);
      for (float f : l.bias) PutF32(params, f);
      for (float f : l.scale) PutF32(params, f);
      for (float f : l.shift) PutF32(params, f);
    }
    PutU32(s, l.kind);
    PutU32(s, l.in);
    PutU32(s, l.out);
    PutU32(s, static_cast<uint32_t>(l.offsets.size()));
    PutU32(s, l.activation);
    PutU32(s, l.flags);
    PutU64(s, 32 + params.size());
    s += params;
  }
  PutU32(s, 0);  // checksum, set by Reseal
  Reseal(s);
  return s;
}

}  // namespace modelio
