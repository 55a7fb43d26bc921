#include "tools/modelio/scoring-writer.h"

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

namespace modelio {
namespace {

template <typename V>
void Append(std::string* out, V value) {
  char bytes[sizeof(V)];
  std::memcpy(bytes, &value, sizeof(V));
  out->append(bytes, sizeof(V));
}

template <typename V>
void AppendAll(std::string* out, const std::vector<double>& values) {
  for (double v : values) Append<V>(out, static_cast<V>(v));
}

std::string WithHeader(uint32_t type, const std::string& payload) {
  std::string out;
  Append<uint32_t>(&out, type);
  Append<uint64_t>(&out, payload.size());
  out.resize(32, '\0');
  return out + payload;
}

}  // namespace

std::string MeanVarianceSection(const MvnModel& model) {
  if (model.mean.size() != model.scale.size())
    throw std::invalid_argument("mean and scale lengths differ");
  std::string payload;
  Append<int32_t>(&payload, static_cast<int32_t>(model.mean.size()));
  for (float v : model.mean) Append<float>(&payload, v);
  for (float v : model.scale) Append<float>(&payload, v);
  return WithHeader(kMeanVarianceSectionType, payload);
}

std::string WhiteningSection(const WhiteningModel& model) {
  const size_t d = static_cast<size_t>(model.dim);
  if (model.basis.size() != d * d || model.variances.size() != d)
    throw std::invalid_argument("whitening model of inconsistent shape");
  std::string payload;
  Append<int32_t>(&payload, model.dim);
  AppendAll<double>(&payload, model.basis);
  AppendAll<double>(&payload, model.variances);
  return WithHeader(kWhiteningSectionType, payload);
}

std::string SpldaSection(const SpldaModel& model, int32_t elementSize) {
  const size_t d = static_cast<size_t>(model.dim);
  if (model.cross.size() != d * d || model.self.size() != d * d || model.crossEigen.size() != d ||
      model.selfEigen.size() != d || model.linear.size() != d)
    throw std::invalid_argument("SPLDA model of inconsistent shape");
  if (elementSize != 4 && elementSize != 8) throw std::invalid_argument("element size 4 or 8");
  std::string payload;
  Append<int32_t>(&payload, elementSize);
  Append<int32_t>(&payload, model.dim);
  const std::vector<double> constant{model.constant};
  for (const std::vector<double>* block :
       {&model.cross, &model.crossEigen, &model.self, &model.selfEigen, &model.linear, &constant}) {
    if (elementSize == 4)
      AppendAll<float>(&payload, *block);
    else
      AppendAll<double>(&payload, *block);
  }
  return WithHeader(kSpldaSectionType, payload);
}

std::vector<double> RandomOrthogonal(int32_t dim, uint32_t seed) {
  const size_t d = static_cast<size_t>(dim);
  std::mt19937 rng(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> m(d * d);
  // Modified Gram-Schmidt on the rows of a Gaussian matrix; a row that
  // collapses (practically never) is redrawn.
  for (size_t i = 0; i < d; ++i) {
    double* row = &m[i * d];
    for (;;) {
      for (size_t j = 0; j < d; ++j) row[j] = normal(rng);
      for (size_t k = 0; k < i; ++k) {
        const double* prev = &m[k * d];
        double dot = 0.0;
        for (size_t j = 0; j < d; ++j) dot += row[j] * prev[j];
        for (size_t j = 0; j < d; ++j) row[j] -= dot * prev[j];
      }
      double norm = 0.0;
      for (size_t j = 0; j < d; ++j) norm += row[j] * row[j];
      norm = std::sqrt(norm);
      if (norm > 1e-6) {
        for (size_t j = 0; j < d; ++j) row[j] /= norm;
        break;
      }
    }
  }
  return m;
}

MvnModel RandomMvn(int32_t dim, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal(0.0f, 0.1f);
  std::uniform_real_distribution<float> uniform(0.5f, 1.5f);
  MvnModel model;
  for (int32_t i = 0; i < dim; ++i) {
    model.mean.push_back(normal(rng));
    model.scale.push_back(uniform(rng));
  }
  return model;
}

WhiteningModel RandomWhitening(int32_t dim, uint32_t seed) {
  WhiteningModel model;
  model.dim = dim;
  model.basis = RandomOrthogonal(dim, seed);
  std::mt19937 rng(seed ^ 0x9e3779b9u);
  std::uniform_real_distribution<double> uniform(0.5, 2.0);
  for (int32_t i = 0; i < dim; ++i) model.variances.push_back(uniform(rng));
  return model;
}

SpldaModel RandomSplda(int32_t dim, uint32_t seed) {
  const size_t d = static_cast<size_t>(dim);
  SpldaModel model;
  model.dim = dim;
  // Columns of A and B are the eigenvectors: A[j][i] = V[j][i].
  const std::vector<double> rows = RandomOrthogonal(dim, seed);
  model.cross.resize(d * d);
  for (size_t i = 0; i < d; ++i)
    for (size_t j = 0; j < d; ++j) model.cross[j * d + i] = rows[i * d + j];
  model.self = model.cross;
  std::mt19937 rng(seed ^ 0x85ebca6bu);
  std::uniform_real_distribution<double> between(0.5, 3.0);
  std::normal_distribution<double> meanDist(0.0, 0.02);
  std::vector<double> mu(d);
  model.constant = 0.0;
  for (size_t i = 0; i < d; ++i) {
    const double phi = between(rng);
    const double p = phi / (1.0 + 2.0 * phi);
    const double q = -phi * phi / ((1.0 + phi) * (1.0 + 2.0 * phi));
    model.crossEigen.push_back(p / 2.0);
    model.selfEigen.push_back(q / 2.0);
    model.constant += std::log(1.0 + phi) - 0.5 * std::log(1.0 + 2.0 * phi);
    mu[i] = meanDist(rng);
  }
  // (P + Q) mu = V diag(p + q) V^T mu, and the matching constant.
  model.linear.assign(d, 0.0);
  for (size_t i = 0; i < d; ++i) {
    const double* v = &rows[i * d];  // eigenvector i
    double proj = 0.0;
    for (size_t j = 0; j < d; ++j) proj += v[j] * mu[j];
    const double w = 2.0 * (model.crossEigen[i] + model.selfEigen[i]);
    for (size_t j = 0; j < d; ++j) model.linear[j] -= w * proj * v[j];
    model.constant += w * proj * proj;
  }
  return model;
}

ScoringSections RandomScoringSections(int32_t dim, uint32_t seed) {
  ScoringSections s;
  s.meanVariance = MeanVarianceSection(RandomMvn(dim, seed));
  s.whitening = WhiteningSection(RandomWhitening(dim, seed + 1));
  s.splda = SpldaSection(RandomSplda(dim, seed + 2), 4);
  return s;
}

}  // namespace modelio
