#include "engine/ravel-exports.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "IvectorExt/ivext/shmem-manager.h"
#include "brindle/xvext.h"
#include "common/model/model_manager.h"
#include "common/status.h"
#include "engine/config-paths.h"
#include "engine/engine-state.h"
#include "engine/logging.h"
#include "engine/ravel.h"
#include "ivdist/verifier.h"

namespace ravel_engine {

namespace {

constexpr uint32_t kNoMemory = 0x10002100;

uint32_t InitializeSequence(const char* modelPath, int gselectCount, float minPosterior,
                            const char* configDir, bool shareModel) {
  EngineState& s = State();
  std::string mfccPath, logPath, xvectorPath;
  try {
    mfccPath = JoinConfigPath(configDir, "mfcc-options.json");
    logPath = JoinConfigPath(configDir, "log-options.json");
    xvectorPath = JoinConfigPath(configDir, "xe5.pb");
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }

  jor_log::SetupLogging(logPath);

  s.featureOptions = std::make_unique<jor_feat::MfccOptions>(mfccPath, jor_feat::kModeBatch);

  // The container comes before the option checks: a folder that is missing or
  // holds no models must be reported as such, not as the invalid default
  // options that its missing "mfcc-options.json" leaves.
  common::model::ModelManager container(modelPath);
  uint32_t r = container.initialize();
  if (r) {
    JOR_LOG(jor_log::kError, "Ravel_Initialize", __LINE__,
            "Cannot read the model container %s (detail 0x%X)", modelPath ? modelPath : "",
            jor::DetailOf(r));
    return r;
  }

  {
    // Resolve for both pipelines: each must be able to build its machinery.
    std::string why;
    r = s.featureOptions->Validate(&why);
    if (r == 0) r = s.featureOptions->Resolved(jor_feat::kModeOnline).Validate(&why);
    if (r) {
      JOR_LOG(jor_log::kError, "Ravel_Initialize", __LINE__, "Invalid feature options in %s: %s",
              mfccPath.c_str(), why.c_str());
      return r;
    }
  }

  r = static_cast<uint32_t>(gmmpp_ivext::GmmppIvext::InitModels(
      container.SelectionGmm(), container.PosteriorGmm(), container.IvectorExtractor(),
      gselectCount, minPosterior, s.featureOptions->FeatureDim(), shareModel));
  if (r) {
    ReleaseModels();
    return r;
  }
  s.ivectorReady = true;

  delete s.verifier;
  s.verifier = nullptr;
  s.verifier = new ivdist::Verifier();
  r = static_cast<uint32_t>(
      s.verifier->Load(container.MeanVariance(), container.Whitening(), container.Splda()));
  if (r) return r;

  delete s.xvectorNet;
  s.xvectorNet = nullptr;
  s.xvectorNet = new XVECTOR::C_XVEXT();
  r = static_cast<uint32_t>(s.xvectorNet->Init(xvectorPath, 0));
  if (r) return r;

  s.templateSize = 4 * static_cast<size_t>(s.verifier->TemplateSize()) + 256;
  s.templateMajor = 1;
  s.templateMinor = 1;
  return 0;
}

Ravel* Instance(void* handle) { return static_cast<Ravel*>(handle); }

}  // namespace
}  // namespace ravel_engine

using ravel_engine::Instance;
using ravel_engine::State;

int Ravel_Initialize(const char* modelPath, int gselectCount, float minPosterior,
                     const char* configDir, const bool& shareModel) {
  ravel_engine::EngineState& s = State();
  if (s.initialized) return 0;
  uint32_t r;
  try {
    r = ravel_engine::InitializeSequence(modelPath, gselectCount, minPosterior, configDir,
                                         shareModel);
  } catch (const std::bad_alloc&) {
    r = ravel_engine::kNoMemory;
  } catch (...) {
    r = 0xFFF02FFF;
  }
  if (r) {
    s.lastDetail = static_cast<int32_t>(jor::DetailOf(r));
    return jor::StatusOf(r);
  }
  s.initialized = true;
  s.lastDetail = 0;
  return 0;
}

int Ravel_Create(void** handle) {
  if (!State().initialized) return jor::kStatusNotInitialized;
  if (!handle) return jor::kStatusInvalidArgument;
  try {
    *handle = new Ravel();
  } catch (...) {
    return jor::kStatusNoMemory;
  }
  return 0;
}

#define RAVEL_FORWARD(handle, call)                                   \
  do {                                                                \
    if (!State().initialized) return jor::kStatusNotInitialized;      \
    if (!(handle)) return jor::kStatusInvalidArgument;                \
    try {                                                             \
      return Instance(handle)->call;                                  \
    } catch (...) {                                                   \
      return jor::kStatusNoMemory;                                    \
    }                                                                 \
  } while (0)

int Ravel_PutPCM(void* handle, const std::vector<short>& pcm) {
  RAVEL_FORWARD(handle, PutPCM(pcm));
}

int Ravel_GetQualityMeasures(void* handle, float* duration, float* volume, float* snr,
                             float* validFreqStart, float* validFreqEnd,
                             std::vector<float>* freqSnr) {
  RAVEL_FORWARD(handle,
                GetQualityMeasures(duration, volume, snr, validFreqStart, validFreqEnd, freqSnr));
}

int Ravel_GetIvector(void* handle, std::vector<char>* templ, const bool& transform) {
  RAVEL_FORWARD(handle, GetIvector(templ, transform));
}

int Ravel_GetFeature(void* handle, const std::vector<short>& pcm, std::vector<float>* features,
                     float* duration, float* volume, float* snr, float* validFreqStart,
                     float* validFreqEnd, std::vector<float>* freqSnr) {
  RAVEL_FORWARD(handle, GetFeature(pcm, features, duration, volume, snr, validFreqStart,
                                   validFreqEnd, freqSnr));
}

int Ravel_GetIvector(void* handle, const std::vector<float>& features, const float& duration,
                     const float& volume, const float& snr, std::vector<char>* templ,
                     const bool& transform) {
  RAVEL_FORWARD(handle, GetIvector(features, duration, volume, snr, templ, transform));
}

int Ravel_GetXvector(void* handle, const std::vector<float>& features, const float& duration,
                     const float& volume, const float& snr, std::vector<char>* templ,
                     const bool& transform) {
  RAVEL_FORWARD(handle, GetXvector(features, duration, volume, snr, templ, transform));
}

int Ravel_GetScore(void* handle, const std::vector<char>& templ1, const std::vector<char>& templ2,
                   float* score) {
  RAVEL_FORWARD(handle, GetScore(templ1, templ2, score));
}

int Ravel_Reset(void* handle) { RAVEL_FORWARD(handle, Reset()); }

int Ravel_GetDetail(void* handle) {
  if (!handle) return State().lastDetail;
  return Instance(handle)->GetDetail();
}

int Ravel_Delete(void** handle) {
  if (!State().initialized) return jor::kStatusNotInitialized;
  if (!handle) return jor::kStatusInvalidArgument;
  delete Instance(*handle);
  *handle = nullptr;
  return 0;
}

int Ravel_GetTemplateSize() {
  const ravel_engine::EngineState& s = State();
  if (!s.initialized || !s.verifier) return -1;
  return static_cast<int>(4 * s.verifier->TemplateSize() + 256);
}

int Ravel_CheckTemplate(const std::vector<char>& templ, std::string* version) {
  if (!State().initialized) return jor::kStatusNotInitialized;
  try {
    return jor::StatusOf(Ravel::ValidateTemplate(templ, version));
  } catch (...) {
    return jor::kStatusNoMemory;
  }
}

std::string Ravel_GetVersion() {
  char banner[256];
  std::snprintf(banner, sizeof(banner), "ULX CoreLibraryIF %d.%d.%d", 1, 0, 0);
  return banner;
}

int Ravel_DeleteShmem() {
  try {
    return jor::StatusOf(ivext::ShmemManager::RemoveShared());
  } catch (...) {
    return jor::StatusOf(0x10107004u);
  }
}

int Ravel_Terminate() {
  ravel_engine::EngineState& s = State();
  if (!s.initialized) return jor::kStatusNotInitialized;
  ravel_engine::ReleaseModels();
  s.ivectorReady = false;
  s.initialized = false;
  s.lastDetail = 33;
  return 0;
}
