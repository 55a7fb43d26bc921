#include "ivdist/mvn.h"

#include "ivdist/element-wise.h"
#include "common/result-codes.h"
#include "ivdist/section-reader.h"

namespace ivdist::mvn {

int Mvn::Load(FILE* stream) {
  const int r = Read(stream);
  // A half-read model must not be usable: leave it empty.
  if (r) Clear();
  return r;
}

int Mvn::Read(FILE* stream) {
  if (!stream) return jor::kMvnUnreadable;
  int32_t d = 0;
  if (!SkipSectionHeader(stream) || !ReadExact(stream, &d, sizeof(d))) return jor::kMvnUnreadable;
  if (static_cast<uint32_t>(d) - 1u > kMaxDimension - 1u) return jor::kMvnBadModel;
  dimension = d;
  if (!ReadValues(stream, static_cast<size_t>(d), &mean)) return jor::kMvnUnreadable;
  if (!ReadValues(stream, static_cast<size_t>(d), &scale)) return jor::kMvnUnreadable;
  meanView = mean;
  scaleView = scale;
  // A value that is not finite would make every template not finite.
  if (!AllFinite(mean.data(), mean.size()) || !AllFinite(scale.data(), scale.size()))
    return jor::kMvnBadModel;
  return 0;
}

void Mvn::Clear() {
  dimension = 0;
  mean.clear();
  scale.clear();
  meanView = {};
  scaleView = {};
}

int Mvn::SubtractMean(const std::vector<float>& in, std::vector<float>* out) const {
  if (!out) return jor::kNullResult;
  out->resize(in.size());
  return SubtractElements<float>(in, meanView, *out);
}

int Mvn::Normalize(const std::vector<float>& in, std::vector<float>* out) const {
  if (!out) return jor::kNullResult;
  std::vector<float> centred(in.size());
  const int r = SubtractElements<float>(in, meanView, centred);
  if (r) return r;
  out->resize(centred.size());
  return MultiplyElements<float>(centred, scaleView, *out);
}

}  // namespace ivdist::mvn
