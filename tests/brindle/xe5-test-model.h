// Test-side model of "xe5.pb": random networks, a byte-for-byte writer of the
// documented layout, a minimal reader, and a plain double-precision forward
// pass used as the reference. Written apart from the library on purpose.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace brindle_test {

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

inline TModel RandomModel(const NetSpec& spec, uint32_t seed) {
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

// Bitwise CRC-32 (IEEE, reflected), no table.
inline uint32_t Crc32(const std::string& bytes, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= static_cast<uint8_t>(bytes[i]);
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

inline void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void PutU64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
inline void PutF32(std::string& s, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  PutU32(s, v);
}
inline void SetU32(std::string& s, size_t pos, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[pos + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline uint32_t GetU32(const std::string& s, size_t pos) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<uint32_t>(static_cast<uint8_t>(s[pos + i])) << (8 * i);
  return v;
}

// Rewrites the length field and the closing checksum after an edit, so that
// the reader gets past the envelope to the structure.
inline void Reseal(std::string& s) {
  if (s.size() < 36) return;
  const uint64_t len = s.size();
  for (int i = 0; i < 8; ++i) s[8 + i] = static_cast<char>((len >> (8 * i)) & 0xFF);
  SetU32(s, s.size() - 4, Crc32(s, s.size() - 4));
}

// The file image; `recordStarts` (optional) receives the offset of each layer record.
inline std::string Encode(const TModel& m, std::vector<size_t>* recordStarts = nullptr) {
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

// Reads a well-formed image (no validation: the library's job).
inline TModel Decode(const std::string& s) {
  TModel m;
  m.inputDim = GetU32(s, 16);
  m.embeddingDim = GetU32(s, 20);
  const uint32_t count = GetU32(s, 24);
  size_t pos = 32;
  auto f32 = [&](size_t p) {
    const uint32_t v = GetU32(s, p);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
  };
  for (uint32_t i = 0; i < count; ++i) {
    TLayer l;
    l.kind = GetU32(s, pos);
    l.in = GetU32(s, pos + 4);
    l.out = GetU32(s, pos + 8);
    const uint32_t context = GetU32(s, pos + 12);
    l.activation = GetU32(s, pos + 16);
    l.flags = GetU32(s, pos + 20);
    size_t p = pos + 32;
    for (uint32_t c = 0; c < context; ++c, p += 4)
      l.offsets.push_back(static_cast<int32_t>(GetU32(s, p)));
    if (l.kind == 2) {
      l.varianceFloor = f32(p);
      p += 4;
    } else {
      const size_t cols = (l.kind == 1 ? context : 1) * l.in;
      auto take = [&](std::vector<float>& v, size_t n) {
        for (size_t k = 0; k < n; ++k, p += 4) v.push_back(f32(p));
      };
      take(l.weight, l.out * cols);
      take(l.bias, l.out);
      if (l.flags & 1) {
        take(l.scale, l.out);
        take(l.shift, l.out);
      }
    }
    pos = p;
    m.layers.push_back(std::move(l));
  }
  return m;
}

// Plain forward pass in double precision. Frames carry absolute times: a frame
// layer's output at time t reads its input at t + offset, for every offset.
inline std::vector<double> Reference(const TModel& m, const std::vector<float>& features) {
  const size_t dim = m.inputDim;
  const long frames = static_cast<long>(features.size() / dim);
  long lead = 0, span = 0;
  for (const TLayer& l : m.layers)
    if (l.kind == 1) {
      lead -= l.offsets.front();
      span += l.offsets.back() - l.offsets.front();
    }
  lead = std::clamp(lead, 0L, span);
  std::vector<std::vector<double>> x;
  long first = 0;  // time of x[0]
  if (frames <= span) {
    for (long i = 0; i < frames + span; ++i) {
      const long src = std::clamp(i - lead, 0L, frames - 1);
      x.emplace_back(features.begin() + src * dim, features.begin() + (src + 1) * dim);
    }
  } else {
    for (long i = 0; i < frames; ++i)
      x.emplace_back(features.begin() + i * dim, features.begin() + (i + 1) * dim);
  }
  size_t li = 0;
  for (; m.layers[li].kind == 1; ++li) {
    const TLayer& l = m.layers[li];
    const long last = first + static_cast<long>(x.size()) - 1;
    const long outFirst = first - l.offsets.front();
    const long outLast = last - l.offsets.back();
    std::vector<std::vector<double>> y;
    for (long t = outFirst; t <= outLast; ++t) {
      std::vector<double> v(l.out);
      for (uint32_t o = 0; o < l.out; ++o) {
        double acc = l.bias[o];
        for (size_t j = 0; j < l.offsets.size(); ++j) {
          const std::vector<double>& in = x[t + l.offsets[j] - first];
          for (uint32_t d = 0; d < l.in; ++d)
            acc += static_cast<double>(l.weight[(o * l.offsets.size() + j) * l.in + d]) * in[d];
        }
        if (l.activation == 1 && acc < 0) acc = 0;
        if (l.flags & 1) acc = acc * l.scale[o] + l.shift[o];
        v[o] = acc;
      }
      y.push_back(std::move(v));
    }
    x = std::move(y);
    first = outFirst;
  }
  const TLayer& pool = m.layers[li];
  std::vector<double> pooled(2 * pool.in, 0.0);
  for (uint32_t d = 0; d < pool.in; ++d) {
    double mean = 0;
    for (const auto& v : x) mean += v[d];
    mean /= static_cast<double>(x.size());
    double var = 0;
    for (const auto& v : x) var += (v[d] - mean) * (v[d] - mean);
    var = std::max(var / static_cast<double>(x.size()), static_cast<double>(pool.varianceFloor));
    pooled[d] = mean;
    pooled[pool.in + d] = std::sqrt(var);
  }
  const TLayer& seg = m.layers[li + 1];
  std::vector<double> e(seg.out);
  for (uint32_t o = 0; o < seg.out; ++o) {
    double acc = seg.bias[o];
    for (uint32_t d = 0; d < seg.in; ++d)
      acc += static_cast<double>(seg.weight[o * seg.in + d]) * pooled[d];
    e[o] = acc;
  }
  return e;
}

inline std::vector<float> RandomFeatures(size_t frames, size_t dim, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::vector<float> f(frames * dim);
  for (float& v : f) v = normal(rng);
  return f;
}

}  // namespace brindle_test
