#include "engine/ravel.h"

#include <cmath>
#include <cstring>
#include <memory>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "IvectorExt/featext/feat-extractor.h"
#include "brindle/xvext.h"
#include "engine/engine-guard.h"
#include "engine/model-set.h"
#include "engine/template-format.h"
#include "ivdist/verifier.h"

namespace {

constexpr uint32_t kSeed = 6793;

}  // namespace

Ravel::Ravel(const ravel_engine::ModelSet& models, uint64_t generation)
    : models(models), generation(generation) {
  auto features = std::make_unique<OnlineFeatureExtractor<float>>(models.FeatureOptions(), kSeed);
  if (models.HasExtractor()) gmmppIvext = new gmmpp_ivext::GmmppIvext(models.Ivector());
  featureExtractor = features.release();
}

Ravel::~Ravel() {
  std::vector<float>().swap(freqSnr);
  delete gmmppIvext;
  delete featureExtractor;
}

template <typename F>
int Ravel::Run(F&& body) {
  const jor::Result r = ravel_engine::CatchAll(body);
  if (r == 0) return 0;
  detail = jor::DetailOf(r);
  return jor::StatusOf(r);
}

int Ravel::GetFeature(const std::vector<short>& pcm, std::vector<float>* features, float* duration,
                      float* volume, float* snr, float* validFreqStart, float* validFreqEnd,
                      std::vector<float>* outFreqSnr) {
  return Run([&]() -> jor::Result {
    jor_feat::FeatureExtractor<float> extractor(models.FeatureOptions(), kSeed);
    return static_cast<jor::Result>(extractor.ExtractFeature(
        pcm, features, duration, volume, snr, validFreqStart, validFreqEnd, outFreqSnr));
  });
}

int Ravel::PutPCM(const std::vector<short>& pcm) {
  return Run([&]() -> jor::Result {
    jor::Result r = static_cast<jor::Result>(featureExtractor->PutPcm(pcm));
    if (r) return r;
    std::vector<float> newFeatures;
    r = static_cast<jor::Result>(featureExtractor->ExtractFeat(
        &newFeatures, &quality.duration, &quality.volume, &quality.snr, &quality.valid_freq_start,
        &quality.valid_freq_end, &freqSnr));
    if (r) return r;
    if (!newFeatures.empty() && gmmppIvext)
      return static_cast<jor::Result>(gmmppIvext->AccumulateFeatures(newFeatures));
    return 0;
  });
}

int Ravel::GetQualityMeasures(float* duration, float* volume, float* snr, float* validFreqStart,
                              float* validFreqEnd, std::vector<float>* outFreqSnr) {
  return Run([&]() -> jor::Result {
    if (!duration || !volume || !snr || !validFreqStart || !validFreqEnd || !outFreqSnr)
      return jor::kEngineInvalidArgument;
    *duration = quality.duration;
    *volume = quality.volume;
    *snr = quality.snr;
    *validFreqStart = quality.valid_freq_start;
    *validFreqEnd = quality.valid_freq_end;
    *outFreqSnr = freqSnr;
    return 0;
  });
}

jor::Result Ravel::FinishTemplate(const std::vector<float>& raw, float duration, float volume,
                                  float snr, std::vector<char>* templ, bool transform) const {
  if (!transform) return BuildTemplate(raw, duration, volume, snr, templ);
  const ivdist::Verifier* verifier = models.Verifier();
  if (!verifier) return jor::kEngineInvalidArgument;
  std::vector<float> values;
  const jor::Result r = static_cast<jor::Result>(verifier->Transform(raw, &values));
  if (r) return r;
  return BuildTemplate(values, duration, volume, snr, templ);
}

int Ravel::GetIvector(std::vector<char>* templ, const bool& transform) {
  return Run([&]() -> jor::Result {
    if (!templ || !gmmppIvext) return jor::kEngineInvalidArgument;
    std::vector<float> raw;
    const jor::Result r = static_cast<jor::Result>(gmmppIvext->ExtractIvector(raw));
    if (r) return r;
    return FinishTemplate(raw, quality.duration, quality.volume, quality.snr, templ, transform);
  });
}

int Ravel::GetIvector(const std::vector<float>& features, const float& duration,
                      const float& volume, const float& snr, std::vector<char>* templ,
                      const bool& transform) {
  return Run([&]() -> jor::Result {
    if (!gmmppIvext || !templ || duration < 0) return jor::kEngineInvalidArgument;
    std::vector<float> raw;
    const jor::Result r =
        static_cast<jor::Result>(gmmppIvext->ExtractIvectorFromFeatures(features, raw));
    if (r) return r;
    return FinishTemplate(raw, duration, volume, snr, templ, transform);
  });
}

int Ravel::GetXvector(const std::vector<float>& features, const float& duration,
                      const float& volume, const float& snr, std::vector<char>* templ,
                      const bool& transform) {
  return Run([&]() -> jor::Result {
    if (!templ || duration < 0) return jor::kEngineInvalidArgument;
    XVECTOR::C_XVEXT* net = models.XvectorNet();
    if (!net) return jor::kEngineInvalidArgument;
    std::vector<float> raw;
    const jor::Result r = static_cast<jor::Result>(net->GetXvector(features, raw));
    if (r) return r;
    return FinishTemplate(raw, duration, volume, snr, templ, transform);
  });
}

jor::Result Ravel::BuildTemplate(const std::vector<float>& values, float duration, float volume,
                                 float snr, std::vector<char>* templ) const {
  const size_t n = values.size();
  templ->resize(ravel_template::kHeaderSize + 4 * n);
  ravel_template::WriteTemplate(values.data(), n, duration, volume, snr, models.TemplateMajor(),
                                models.TemplateMinor(), templ->data());
  return 0;
}

namespace {

// Values of a template read in place: payload offset from the header, count
// of the whole floats that follow it.
struct TemplateValues {
  const float* values;
  uint32_t count;
};

TemplateValues ValuesOf(const std::vector<char>& templ) {
  const uint32_t offset = ravel_template::ReadU32(templ.data() + ravel_template::kPayloadOffsetPos);
  const uint32_t length = static_cast<uint32_t>(templ.size());
  // An offset past the end leaves no values (the verifier then refuses the count).
  const uint32_t count = offset <= length ? (length - offset) / 4 : 0;
  return {reinterpret_cast<const float*>(templ.data() + (offset <= length ? offset : 0)), count};
}

bool AllFinite(const TemplateValues& t) {
  const char* p = reinterpret_cast<const char*>(t.values);
  for (uint32_t i = 0; i < t.count; ++i) {
    float v;
    std::memcpy(&v, p + 4 * static_cast<size_t>(i), 4);
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace

int Ravel::GetScore(const std::vector<char>& templ1, const std::vector<char>& templ2,
                    float* score) {
  return Run([&]() -> jor::Result {
    if (!score || templ1.empty() || templ2.empty()) return jor::kEngineInvalidArgument;
    const size_t size = models.TemplateSize();
    if (templ1.size() != size || templ2.size() != size) return jor::kTemplateMalformed;
    const auto* b1 = reinterpret_cast<const unsigned char*>(templ1.data());
    const auto* b2 = reinterpret_cast<const unsigned char*>(templ2.data());
    const uint8_t major = models.TemplateMajor();
    const uint8_t minor = models.TemplateMinor();
    if (b1[ravel_template::kMajorPos] != major || b2[ravel_template::kMajorPos] != major ||
        b1[ravel_template::kMinorPos] != minor || b2[ravel_template::kMinorPos] != minor)
      return jor::kTemplateVersion;
    const TemplateValues t1 = ValuesOf(templ1);
    const TemplateValues t2 = ValuesOf(templ2);
    // Templates come back from callers' storage: values that are not finite
    // would make a score that is not a number.
    if (!AllFinite(t1) || !AllFinite(t2)) return jor::kTemplateMalformed;
    const float duration2 = ravel_template::ReadF32(templ2.data() + ravel_template::kDurationPos);
    const ivdist::Verifier* verifier = models.Verifier();
    if (!verifier) return jor::kEngineInvalidArgument;
    return static_cast<jor::Result>(
        verifier->Score(t1.values, &t1.count, t2.values, &t2.count, &duration2, score));
  });
}

int Ravel::Reset() {
  return Run([&]() -> jor::Result {
    auto* fresh = new OnlineFeatureExtractor<float>(models.FeatureOptions(), kSeed);
    delete featureExtractor;
    featureExtractor = fresh;
    detail = 0;
    // A reset stream reports nothing of the previous one.
    quality = Quality{};
    freqSnr.clear();
    if (gmmppIvext) return static_cast<jor::Result>(gmmppIvext->ResetStats());
    return 0;
  });
}

int Ravel::GetDetail() {
  return static_cast<int>(detail);
}

jor::Result Ravel::ValidateTemplate(const ravel_engine::ModelSet& models,
                                    const std::vector<char>& templ, std::string* version) {
  return ravel_template::Validate(templ, models.TemplateSize(), models.TemplateMajor(),
                                  models.TemplateMinor(), version);
}
