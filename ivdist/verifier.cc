#include "ivdist/verifier.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/result-codes.h"
#include "ivdist/section-reader.h"

namespace ivdist {

Verifier::Verifier()
    : mvn(std::make_unique<mvn::Mvn>()),
      norm(std::make_unique<norm::Norm>()),
      splda(std::make_unique<splda::Splda<float>>()),
      postProcessing(std::make_unique<score::ScorePostProcessing>()) {}

Verifier::~Verifier() {
  postProcessing.reset();
  splda.reset();
  norm.reset();
  mvn.reset();
}

int Verifier::LoadMvn(FILE* stream) {
  if (!stream) {
    mvn.reset();
    return 0;
  }
  if (!mvn) mvn = std::make_unique<mvn::Mvn>();
  return mvn->Load(stream);
}

int Verifier::LoadNorm(FILE* stream) {
  if (!stream) {
    norm.reset();
    return 0;
  }
  if (!norm) norm = std::make_unique<norm::Norm>();
  return norm->Load(stream);
}

int Verifier::LoadSplda(FILE* stream) {
  if (!stream) {
    splda.reset();
    return jor::kSpldaUnreadable;
  }
  if (!splda) splda = std::make_unique<splda::Splda<float>>();
  return splda->Load(stream);
}

int Verifier::Load(FILE* meanVariance, FILE* whitening, FILE* spldaStream) {
  int r = LoadMvn(meanVariance);
  if (r) return r;
  r = LoadNorm(whitening);
  if (r) return r;
  return LoadSplda(spldaStream);
}

int Verifier::Transform(const std::vector<float>& raw, std::vector<float>* out) const {
  if (!out) return jor::kNullResult;
  std::vector<float> f;
  if (mvn) {
    const int r = mvn->Normalize(raw, &f);
    if (r) return r;
  } else {
    f = raw;
  }
  std::vector<double> d(f.begin(), f.end());
  if (norm) {
    const int r = norm->Apply(d, &d);
    if (r) return r;
  }
  const int r = norm::LengthNormalize(d, &d);
  if (r) return r;
  f.resize(d.size());
  for (size_t i = 0; i < d.size(); ++i) f[i] = static_cast<float>(d[i]);
  if (!splda) {
    *out = std::move(f);
    return 0;
  }
  std::vector<float> t;
  const int s = splda->Transform(f, &t);
  if (s) return s;
  // A model with extreme (finite) values can still overflow; such a template
  // could never be scored.
  if (!AllFinite(t.data(), t.size())) return jor::kOutOfRange;
  *out = std::move(t);
  return 0;
}

int Verifier::Score(const float* values1, const uint32_t* count1, const float* values2,
                    const uint32_t* count2, const float* duration, float* result) const {
  if (!result) return jor::kNullResult;
  if (!splda) return jor::kSpldaUnreadable;
  float raw = 0.0f;
  const int r = splda->ScoreTransformed(values1, count1, values2, count2, &raw);
  if (r) return r;
  return Finish(raw, duration, result);
}

int Verifier::ScoreMany(const float* probe, uint32_t probeCount, const float* templates, size_t n,
                        const float* durations, float* results) const {
  if (!results) return jor::kNullResult;
  if (!splda) return jor::kSpldaUnreadable;
  const int r = splda->ScoreTransformedMany(probe, probeCount, templates, n, results);
  if (r) return r;
  for (size_t j = 0; j < n; ++j) {
    if (Finish(results[j], durations ? &durations[j] : nullptr, &results[j]) != 0) {
      results[j] = std::numeric_limits<float>::quiet_NaN();
    }
  }
  return 0;
}

int Verifier::Finish(float raw, const float* duration, float* result) const {
  // Finite templates can still overflow into inf - inf.
  if (std::isnan(raw)) return jor::kOutOfRange;
  double s = static_cast<double>(raw);
  if (duration && *duration > 0.0f && postProcessing) {
    const double thousands = static_cast<double>(*duration / 1000.0f);
    const int a = postProcessing->Adjust(&s, &thousands);
    if (a) return a;
  }
  s = s * 0.4 + 60.0;
  const float v = static_cast<float>(s);
  *result = v < 0.0f ? 0.0f : std::min(100.0f, v);
  return 0;
}

uint32_t Verifier::TemplateSize() const {
  // A model that never loaded has no template size.
  return splda && splda->Dimension() > 0 ? splda->TransformedSize() : 0;
}

int32_t Verifier::InputDimension() const {
  if (!splda || splda->Dimension() <= 0) return 0;
  const int32_t d = splda->Dimension();
  if (mvn && mvn->Dimension() != d) return -1;
  if (norm && norm->Dimension() != d) return -1;
  return d;
}

}  // namespace ivdist
