// Test-side model of "xe5.pb": a minimal reader of the documented layout and a
// plain double-precision forward pass used as the reference, over the random
// networks and the byte-for-byte writer of tools/modelio. Written apart from
// the library on purpose.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tools/modelio/xe5-writer.h"

namespace brindle_test {

using modelio::Crc32;
using modelio::Encode;
using modelio::GetU32;
using modelio::NetSpec;
using modelio::RandomModel;
using modelio::Reseal;
using modelio::SetU32;
using modelio::TLayer;
using modelio::TModel;

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
