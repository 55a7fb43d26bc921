#include "engine/ravel-exports.h"

#include <cstdio>
#include <memory>

#include "IvectorExt/ivext/shmem-manager.h"
#include "common/result-codes.h"
#include "common/join-path.h"
#include "engine/engine-guard.h"
#include "engine/engine-state.h"
#include "engine/logging.h"
#include "engine/model-set.h"
#include "engine/ravel.h"

namespace ravel_engine {
namespace {

// The process's engine: exports are free functions, so their state lives here
// and nowhere else.
EngineState g_engine;

// The one boundary of every export: runs `body` (an internal result) through
// CatchAll and returns its status; the detail of a failure goes to
// `*detail` when the export keeps one.
template <typename F>
int Export(int32_t* detail, F&& body) {
  const jor::Result r = CatchAll(body);
  if (r != 0 && detail != nullptr) *detail = static_cast<int32_t>(jor::DetailOf(r));
  return jor::StatusOf(r);
}

// Per-instance exports: not initialised (769), then no handle (768), then an
// instance made under an earlier initialisation (769: its models are gone);
// otherwise the instance operation, which keeps its own detail.
template <typename F>
int Forward(void* handle, F&& call) {
  if (!g_engine.initialized) return jor::kStatusNotInitialized;
  if (!handle) return jor::kStatusInvalidArgument;
  Ravel* instance = static_cast<Ravel*>(handle);
  if (instance->Generation() != g_engine.generation) return jor::kStatusNotInitialized;
  return Export(nullptr, [&] { return jor::MakeResult(call(*instance), 0); });
}

jor::Result InitializeSequence(const char* modelPath, int gselectCount, float minPosterior,
                               const char* configDir, bool shareModel) {
  const std::string mfccPath = common::JoinPath(configDir, "mfcc-options.json");
  const std::string logPath = common::JoinPath(configDir, "log-options.json");
  const std::string xvectorPath = common::JoinPath(configDir, "xe5.pb");
  jor_log::SetupLogging(logPath);
  // A failed attempt leaves nothing of an earlier one behind.
  g_engine.models.reset();
  return ModelSet::LoadDeployment(modelPath, mfccPath, xvectorPath, gselectCount, minPosterior,
                                  shareModel, &g_engine.models);
}

}  // namespace
}  // namespace ravel_engine

using ravel_engine::Export;
using ravel_engine::Forward;
using ravel_engine::g_engine;

int Ravel_Initialize(const char* modelPath, int gselectCount, float minPosterior,
                     const char* configDir, const bool& shareModel) {
  if (g_engine.initialized) return 0;
  const int status = Export(&g_engine.lastDetail, [&] {
    return ravel_engine::InitializeSequence(modelPath, gselectCount, minPosterior, configDir,
                                            shareModel);
  });
  if (status) {
    g_engine.models.reset();
    return status;
  }
  ++g_engine.generation;
  g_engine.initialized = true;
  g_engine.lastDetail = 0;
  return 0;
}

int Ravel_Create(void** handle) {
  if (!g_engine.initialized) return jor::kStatusNotInitialized;
  if (!handle) return jor::kStatusInvalidArgument;
  return Export(nullptr, [&] {
    *handle = new Ravel(*g_engine.models, g_engine.generation);
    return jor::kOk;
  });
}

int Ravel_PutPCM(void* handle, const std::vector<short>& pcm) {
  return Forward(handle, [&](Ravel& r) { return r.PutPCM(pcm); });
}

int Ravel_GetQualityMeasures(void* handle, float* duration, float* volume, float* snr,
                             float* validFreqStart, float* validFreqEnd,
                             std::vector<float>* freqSnr) {
  return Forward(handle, [&](Ravel& r) {
    return r.GetQualityMeasures(duration, volume, snr, validFreqStart, validFreqEnd, freqSnr);
  });
}

int Ravel_GetIvector(void* handle, std::vector<char>* templ, const bool& transform) {
  return Forward(handle, [&](Ravel& r) { return r.GetIvector(templ, transform); });
}

int Ravel_GetFeature(void* handle, const std::vector<short>& pcm, std::vector<float>* features,
                     float* duration, float* volume, float* snr, float* validFreqStart,
                     float* validFreqEnd, std::vector<float>* freqSnr) {
  return Forward(handle, [&](Ravel& r) {
    return r.GetFeature(pcm, features, duration, volume, snr, validFreqStart, validFreqEnd,
                        freqSnr);
  });
}

int Ravel_GetIvector(void* handle, const std::vector<float>& features, const float& duration,
                     const float& volume, const float& snr, std::vector<char>* templ,
                     const bool& transform) {
  return Forward(handle, [&](Ravel& r) {
    return r.GetIvector(features, duration, volume, snr, templ, transform);
  });
}

int Ravel_GetXvector(void* handle, const std::vector<float>& features, const float& duration,
                     const float& volume, const float& snr, std::vector<char>* templ,
                     const bool& transform) {
  return Forward(handle, [&](Ravel& r) {
    return r.GetXvector(features, duration, volume, snr, templ, transform);
  });
}

int Ravel_GetScore(void* handle, const std::vector<char>& templ1, const std::vector<char>& templ2,
                   float* score) {
  return Forward(handle, [&](Ravel& r) { return r.GetScore(templ1, templ2, score); });
}

int Ravel_Reset(void* handle) {
  return Forward(handle, [](Ravel& r) { return r.Reset(); });
}

int Ravel_GetDetail(void* handle) {
  if (!handle) return g_engine.lastDetail;
  return static_cast<Ravel*>(handle)->GetDetail();
}

int Ravel_Delete(void** handle) {
  // A handle that outlived Ravel_Terminate still owns its memory: it is freed
  // (an instance keeps its own objects, never the models), and the answer
  // stays 769 as for every export after termination.
  const bool initialized = g_engine.initialized;
  if (!handle) return initialized ? jor::kStatusInvalidArgument : jor::kStatusNotInitialized;
  delete static_cast<Ravel*>(*handle);
  *handle = nullptr;
  return initialized ? 0 : jor::kStatusNotInitialized;
}

int Ravel_GetTemplateSize() {
  if (!g_engine.initialized || !g_engine.models || !g_engine.models->Verifier()) return -1;
  return static_cast<int>(g_engine.models->TemplateSize());
}

int Ravel_CheckTemplate(const std::vector<char>& templ, std::string* version) {
  if (!g_engine.initialized) return jor::kStatusNotInitialized;
  return Export(nullptr, [&] { return Ravel::ValidateTemplate(*g_engine.models, templ, version); });
}

std::string Ravel_GetVersion() {
  char banner[256];
  std::snprintf(banner, sizeof(banner), "ULX CoreLibraryIF %d.%d.%d", 1, 0, 0);
  return banner;
}

int Ravel_DeleteShmem() {
  return Export(nullptr, [] { return ivext::ShmemManager::RemoveShared(); });
}

int Ravel_Terminate() {
  if (!g_engine.initialized) return jor::kStatusNotInitialized;
  g_engine.models.reset();
  g_engine.initialized = false;
  g_engine.lastDetail = 33;
  return 0;
}
