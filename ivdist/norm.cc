#include "ivdist/norm.h"

#include <cmath>
#include <span>

#include "ivdist/projection.h"
#include "common/result-codes.h"
#include "ivdist/section-reader.h"

namespace ivdist::norm {

int Norm::Load(FILE* stream) {
  const int r = Read(stream);
  // A half-read model must not be usable: leave it empty.
  if (r) {
    dimension = 0;
    variances.clear();
    whitening.clear();
    rows = cols = size = 0;
  }
  return r;
}

int Norm::Read(FILE* stream) {
  if (!stream) return jor::kNormUnreadable;
  int32_t d = 0;
  if (!SkipSectionHeader(stream) || !ReadExact(stream, &d, sizeof(d))) return jor::kNormUnreadable;
  if (static_cast<uint32_t>(d) - 1u > kMaxDimension - 1u) return jor::kNormBadModel;
  dimension = d;
  const size_t n = static_cast<size_t>(d);
  if (!ReadValues(stream, n * n, &whitening)) return jor::kNormUnreadable;
  if (!ReadValues(stream, n, &variances)) return jor::kNormUnreadable;
  if (!AllFinite(whitening.data(), whitening.size())) return jor::kNormBadModel;
  // A variance that is zero, negative or not finite has no usable square
  // root: refuse it rather than fill every template with infinities.
  for (double v : variances)
    if (!(v > 0.0) || !std::isfinite(v)) return jor::kNormBadModel;
  std::vector<double> root(n);
  for (size_t j = 0; j < n; ++j) root[j] = std::sqrt(variances[j]);
  for (size_t i = 0; i < n; ++i) {
    double* row = whitening.data() + i * n;
    for (size_t j = 0; j < n; ++j) row[j] = row[j] / root[j];
  }
  if (!AllFinite(whitening.data(), whitening.size())) return jor::kNormBadModel;
  rows = n;
  cols = n;
  size = rows * cols;
  return 0;
}

int Norm::Apply(const std::vector<double>& in, std::vector<double>* out) const {
  const size_t n = in.size();
  if (n == 0 || n != rows) return jor::kWrongLength;
  if (!out) return jor::kNullResult;
  if (out == &in) {
    std::vector<double> result(n, 0.0);
    const int r = ProjectRows<double>(whitening, rows, cols, in, result);
    if (r == 0) *out = std::move(result);
    return r;
  }
  out->assign(n, 0.0);
  return ProjectRows<double>(whitening, rows, cols, in, *out);
}

int LengthNormalize(const std::vector<double>& in, std::vector<double>* out) {
  const size_t n = in.size();
  if (n == 0) return jor::kWrongLength;
  if (!out) return jor::kNullResult;
  float sum = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    const double square = in[i] * in[i];
    sum += static_cast<float>(square);
  }
  if (!(sum > 0.0f) || !std::isfinite(sum)) return jor::kOutOfRange;
  const float factor = 1.0f / std::sqrt(sum);
  const double scale = static_cast<double>(factor);
  *out = in;
  for (double& v : *out) v = v * scale;
  return 0;
}

}  // namespace ivdist::norm
