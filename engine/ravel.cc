#include "engine/ravel.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <new>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "IvectorExt/featext/feat-extractor.h"
#include "brindle/xvext.h"
#include "common/status.h"
#include "engine/engine-state.h"
#include "engine/template-format.h"
#include "ivdist/verifier.h"

namespace {

constexpr uint32_t kSeed = 6793;
constexpr uint32_t kInvalidArgument = 0x30002020;  // 768 / 8224
constexpr uint32_t kBadTemplate = 0x70002030;      // 1792 / 8240
constexpr uint32_t kBadVersion = 0x70102031;       // 1793 / 8241
constexpr uint32_t kNoMemory = 0x10002100;         // 256 / 8448

}  // namespace

Ravel::Ravel() {
  ravel_engine::EngineState& engine = ravel_engine::State();
  featureExtractor = new OnlineFeatureExtractor<float>(*engine.featureOptions, kSeed);
  if (engine.ivectorReady) {
    try {
      gmmppIvext = new gmmpp_ivext::GmmppIvext();
    } catch (...) {
      delete featureExtractor;
      throw;
    }
  }
}

Ravel::~Ravel() {
  std::vector<float>().swap(freqSnr);
  delete gmmppIvext;
  delete featureExtractor;
}

int Ravel::Fail(uint32_t result) {
  detail = jor::DetailOf(result);
  return jor::StatusOf(result);
}

int Ravel::GetFeature(const std::vector<short>& pcm, std::vector<float>* features,
                      float* duration, float* volume, float* snr, float* validFreqStart,
                      float* validFreqEnd, std::vector<float>* outFreqSnr) {
  uint32_t r;
  try {
    jor_feat::FeatureExtractor<float> extractor(*ravel_engine::State().featureOptions, kSeed);
    r = static_cast<uint32_t>(extractor.ExtractFeature(pcm, features, duration, volume, snr,
                                                       validFreqStart, validFreqEnd, outFreqSnr));
  } catch (const std::bad_alloc&) {
    r = kNoMemory;
  }
  return r ? Fail(r) : 0;
}

int Ravel::PutPCM(const std::vector<short>& pcm) {
  uint32_t r = static_cast<uint32_t>(featureExtractor->PutPcm(pcm));
  if (r) return Fail(r);
  std::vector<float> newFeatures;
  r = static_cast<uint32_t>(featureExtractor->ExtractFeat(
      &newFeatures, &quality.duration, &quality.volume, &quality.snr, &quality.valid_freq_start,
      &quality.valid_freq_end, &freqSnr));
  if (r) return Fail(r);
  if (!newFeatures.empty() && gmmppIvext) {
    r = static_cast<uint32_t>(gmmppIvext->AccumulateFeatures(newFeatures));
    if (r) return Fail(r);
  }
  return 0;
}

int Ravel::GetQualityMeasures(float* duration, float* volume, float* snr, float* validFreqStart,
                              float* validFreqEnd, std::vector<float>* outFreqSnr) {
  if (!duration || !volume || !snr || !validFreqStart || !validFreqEnd || !outFreqSnr)
    return Fail(kInvalidArgument);
  *duration = quality.duration;
  *volume = quality.volume;
  *snr = quality.snr;
  *validFreqStart = quality.valid_freq_start;
  *validFreqEnd = quality.valid_freq_end;
  try {
    *outFreqSnr = freqSnr;
  } catch (const std::bad_alloc&) {
    return Fail(kNoMemory);
  }
  return 0;
}

int Ravel::FinishTemplate(const std::vector<float>& raw, float duration, float volume, float snr,
                          std::vector<char>* templ, bool transform) {
  if (!transform) return BuildTemplate(raw, duration, volume, snr, templ);
  ivdist::Verifier* verifier = ravel_engine::State().verifier;
  if (!verifier) return Fail(kInvalidArgument);
  std::vector<float> values;
  uint32_t r;
  try {
    r = static_cast<uint32_t>(verifier->Transform(raw, &values));
  } catch (const std::bad_alloc&) {
    r = kNoMemory;
  }
  if (r) return Fail(r);
  return BuildTemplate(values, duration, volume, snr, templ);
}

int Ravel::GetIvector(std::vector<char>* templ, const bool& transform) {
  if (!templ || !gmmppIvext) return Fail(kInvalidArgument);
  std::vector<float> raw;
  uint32_t r;
  try {
    r = static_cast<uint32_t>(gmmppIvext->ExtractIvector(raw));
  } catch (const std::bad_alloc&) {
    r = kNoMemory;
  }
  if (r) return Fail(r);
  return FinishTemplate(raw, quality.duration, quality.volume, quality.snr, templ, transform);
}

int Ravel::GetIvector(const std::vector<float>& features, const float& duration,
                      const float& volume, const float& snr, std::vector<char>* templ,
                      const bool& transform) {
  if (!gmmppIvext || !templ || duration < 0) return Fail(kInvalidArgument);
  std::vector<float> raw;
  uint32_t r;
  try {
    r = static_cast<uint32_t>(gmmppIvext->ExtractIvectorFromFeatures(features, raw));
  } catch (const std::bad_alloc&) {
    r = kNoMemory;
  }
  if (r) return Fail(r);
  return FinishTemplate(raw, duration, volume, snr, templ, transform);
}

int Ravel::GetXvector(const std::vector<float>& features, const float& duration,
                      const float& volume, const float& snr, std::vector<char>* templ,
                      const bool& transform) {
  if (!templ || duration < 0) return Fail(kInvalidArgument);
  XVECTOR::C_XVEXT* net = ravel_engine::State().xvectorNet;
  if (!net) return Fail(kInvalidArgument);
  std::vector<float> raw;
  uint32_t r;
  try {
    r = static_cast<uint32_t>(net->GetXvector(features, raw));
  } catch (const std::bad_alloc&) {
    r = kNoMemory;
  }
  if (r) return Fail(r);
  return FinishTemplate(raw, duration, volume, snr, templ, transform);
}

int Ravel::BuildTemplate(const std::vector<float>& values, float duration, float volume,
                         float snr, std::vector<char>* templ) {
  const size_t n = values.size();
  try {
    templ->resize(ravel_template::kHeaderSize + 4 * n);
  } catch (const std::bad_alloc&) {
    return Fail(kNoMemory);
  }
  const ravel_engine::EngineState& engine = ravel_engine::State();
  ravel_template::WriteTemplate(values.data(), n, duration, volume, snr, engine.templateMajor,
                                engine.templateMinor, templ->data());
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
  if (!score || templ1.empty() || templ2.empty()) return Fail(kInvalidArgument);
  const ravel_engine::EngineState& engine = ravel_engine::State();
  if (templ1.size() != engine.templateSize || templ2.size() != engine.templateSize)
    return Fail(kBadTemplate);
  const auto* b1 = reinterpret_cast<const unsigned char*>(templ1.data());
  const auto* b2 = reinterpret_cast<const unsigned char*>(templ2.data());
  if (b1[ravel_template::kMajorPos] != engine.templateMajor ||
      b2[ravel_template::kMajorPos] != engine.templateMajor ||
      b1[ravel_template::kMinorPos] != engine.templateMinor ||
      b2[ravel_template::kMinorPos] != engine.templateMinor)
    return Fail(kBadVersion);
  const TemplateValues t1 = ValuesOf(templ1);
  const TemplateValues t2 = ValuesOf(templ2);
  // Templates come back from callers' storage: values that are not finite
  // would make a score that is not a number.
  if (!AllFinite(t1) || !AllFinite(t2)) return Fail(kBadTemplate);
  const float duration2 = ravel_template::ReadF32(templ2.data() + ravel_template::kDurationPos);
  if (!engine.verifier) return Fail(kInvalidArgument);
  const uint32_t r = static_cast<uint32_t>(
      engine.verifier->Score(t1.values, &t1.count, t2.values, &t2.count, &duration2, score));
  return r ? Fail(r) : 0;
}

int Ravel::Reset() {
  try {
    auto* fresh = new OnlineFeatureExtractor<float>(*ravel_engine::State().featureOptions, kSeed);
    delete featureExtractor;
    featureExtractor = fresh;
  } catch (const std::bad_alloc&) {
    return Fail(kNoMemory);
  }
  detail = 0;
  // A reset stream reports nothing of the previous one.
  quality = Quality{};
  freqSnr.clear();
  if (gmmppIvext) {
    const uint32_t r = static_cast<uint32_t>(gmmppIvext->ResetStats());
    if (r) return Fail(r);
  }
  return 0;
}

int Ravel::GetDetail() { return static_cast<int>(detail); }

uint32_t Ravel::ValidateTemplate(const std::vector<char>& templ, std::string* version) {
  const ravel_engine::EngineState& engine = ravel_engine::State();
  return ravel_template::Validate(templ, engine.templateSize, engine.templateMajor,
                                  engine.templateMinor, version);
}
