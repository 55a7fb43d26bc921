// One engine instance: the recognition object behind an engine handle.
//
// It owns an online feature pipeline and the i-vector statistics of the PCM
// streamed into it, the stream's quality values and the detail code of its
// last failure. One instance must be used by one thread at a time; instances
// share the deployment's model set read-only, which must outlive them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IvectorExt/featext/online-feature-extractor.h"
#include "common/result-codes.h"

namespace gmmpp_ivext {
class GmmppIvext;
}
namespace ravel_engine {
class ModelSet;
}

class Ravel {
 public:
  // `generation` tells the engine which initialisation made the instance.
  explicit Ravel(const ravel_engine::ModelSet& models, uint64_t generation = 0);
  virtual ~Ravel();
  Ravel(const Ravel&) = delete;
  Ravel& operator=(const Ravel&) = delete;

  // Every operation returns a status code and keeps the detail in `detail`;
  // none throws (memory exhaustion and other exceptions become
  // jor::kEngineNoMemory and jor::kEngineException, see engine-guard.h).
  virtual int GetFeature(const std::vector<short>& pcm, std::vector<float>* features,
                         float* duration, float* volume, float* snr, float* validFreqStart,
                         float* validFreqEnd, std::vector<float>* freqSnr);
  virtual int GetIvector(std::vector<char>* templ, const bool& transform);
  virtual int GetIvector(const std::vector<float>& features, const float& duration,
                         const float& volume, const float& snr, std::vector<char>* templ,
                         const bool& transform);
  virtual int GetXvector(const std::vector<float>& features, const float& duration,
                         const float& volume, const float& snr, std::vector<char>* templ,
                         const bool& transform);
  virtual int GetScore(const std::vector<char>& templ1, const std::vector<char>& templ2,
                       float* score);
  virtual int PutPCM(const std::vector<short>& pcm);
  virtual int GetQualityMeasures(float* duration, float* volume, float* snr, float* validFreqStart,
                                 float* validFreqEnd, std::vector<float>* freqSnr);
  virtual int Reset();
  virtual int GetDetail();

  // Internal result of the nine template tests; *version = "major.minor".
  static jor::Result ValidateTemplate(const ravel_engine::ModelSet& models,
                                      const std::vector<char>& templ, std::string* version);

  const ravel_engine::ModelSet& Models() const { return models; }
  uint64_t Generation() const { return generation; }

 private:
  struct Quality {
    float duration = 0, volume = 0, snr = 0, valid_freq_start = 0, valid_freq_end = 0;
  };

  // The one boundary of every operation: runs `body` (an internal result)
  // through CatchAll, keeps a failure's detail and returns its status.
  template <typename F>
  int Run(F&& body);
  jor::Result BuildTemplate(const std::vector<float>& values, float duration, float volume,
                            float snr, std::vector<char>* templ) const;
  jor::Result FinishTemplate(const std::vector<float>& raw, float duration, float volume, float snr,
                             std::vector<char>* templ, bool transform) const;

  const ravel_engine::ModelSet& models;
  const uint64_t generation;
  uint32_t detail = 0;
  OnlineFeatureExtractor<float>* featureExtractor = nullptr;
  gmmpp_ivext::GmmppIvext* gmmppIvext = nullptr;
  Quality quality;
  std::vector<float> freqSnr;
};
