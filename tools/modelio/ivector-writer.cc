#include "tools/modelio/ivector-writer.h"

#include <cstring>
#include <random>

#include "tools/modelio/file-bytes.h"

namespace modelio {

namespace {

template <class V>
void Append(std::string& out, V value) {
  char bytes[sizeof(V)];
  std::memcpy(bytes, &value, sizeof(V));
  out.append(bytes, sizeof(V));
}

void AppendValues(std::string& out, const std::vector<double>& values, int elemSize) {
  for (double v : values) {
    if (elemSize == 8)
      Append<double>(out, v);
    else
      Append<float>(out, static_cast<float>(v));
  }
}

}  // namespace

void IvectorModel::RoundToFloat() {
  priorOffset = static_cast<float>(priorOffset);
  for (double& v : t) v = static_cast<float>(v);
  for (double& v : sigmaInv) v = static_cast<float>(v);
}

IvectorModel RandomIvectorModel(int numGaussians, int featureDim, int ivectorDim, uint32_t seed,
                                double priorOffset, double scale) {
  IvectorModel m;
  m.numGaussians = numGaussians;
  m.featureDim = featureDim;
  m.ivectorDim = ivectorDim;
  m.priorOffset = priorOffset;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  const size_t c = static_cast<size_t>(numGaussians), f = static_cast<size_t>(featureDim),
               r = static_cast<size_t>(ivectorDim);
  m.t.resize(c * f * r);
  for (double& v : m.t) v = scale * uni(rng);
  m.sigmaInv.reserve(c * f * (f + 1) / 2);
  for (size_t g = 0; g < c; ++g) {
    for (size_t i = 0; i < f; ++i) {
      for (size_t j = 0; j < i; ++j) m.sigmaInv.push_back(0.3 * uni(rng) / static_cast<double>(f));
      m.sigmaInv.push_back(1.0 + 0.5 * (uni(rng) + 1.0));
    }
  }
  return m;
}

std::string IvectorHeaderBytes(int32_t elemSize, int32_t c, int32_t f, int32_t r) {
  std::string out = "IVECTOR EXTRACTOR MODEL";
  out.resize(32, '\0');
  Append<int32_t>(out, elemSize);
  Append<int32_t>(out, c);
  Append<int32_t>(out, f);
  Append<int32_t>(out, r);
  return out;
}

std::string IvectorModelBytes(const IvectorModel& model, int elemSize) {
  std::string out =
      IvectorHeaderBytes(elemSize, model.numGaussians, model.featureDim, model.ivectorDim);
  AppendValues(out, {model.priorOffset}, elemSize);
  AppendValues(out, model.t, elemSize);
  AppendValues(out, model.sigmaInv, elemSize);
  return out;
}

void WriteIvectorModel(const std::string& path, const IvectorModel& model, int elemSize) {
  WriteFile(path, IvectorModelBytes(model, elemSize));
}

}  // namespace modelio
