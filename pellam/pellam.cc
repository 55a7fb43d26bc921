// Pellam exports: thin wrappers that turn pointers and byte counts into the
// engine's containers, call the engine and copy results back.
#include "pellam/pellam.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "common/join-path.h"
#include "common/result-codes.h"
#include "engine/ravel-exports.h"

namespace {

constexpr int kInvalidArgument = jor::kStatusInvalidArgument;
constexpr int kNoMemory = jor::kStatusNoMemory;
// Largest sample count one call takes (about 74 hours at 8 kHz); see pellam.h.
constexpr size_t kMaxSamples = 0x7FFFFFFF;

std::mutex g_initLock;
char g_version[50] = "";

// The one exception boundary of the library: nothing thrown leaves an export.
template <typename F>
int Guarded(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  } catch (...) {
    return kNoMemory;
  }
}

// Every byte count is checked before anything is allocated or copied for it.
bool SamplesOk(const short* pcm, const size_t* sampleCount) {
  return sampleCount && (pcm || *sampleCount == 0) && *sampleCount <= kMaxSamples;
}

// A template buffer of the engine's template size; false (and nothing made)
// when the caller's count is another. Before initialisation the buffer stays
// empty and the engine answers 769.
bool TemplateBuffer(const size_t* templateBytes, std::vector<char>* templ) {
  const int size = Ravel_GetTemplateSize();
  if (size < 0) return true;
  if (*templateBytes != static_cast<size_t>(size)) return false;
  templ->assign(*templateBytes, 0);
  return true;
}

// The bytes of a template handed in for scoring. A count other than the
// template size is refused by the engine whatever the bytes are, so none is
// read then: a stand-in of the template size plus one byte carries the wrong
// length, the refusal (status and detail) stays the engine's, and a huge
// count allocates and reads nothing.
std::vector<char> TemplateCopy(const char* templ, size_t bytes) {
  if (!templ || bytes == 0) return {};
  const int size = Ravel_GetTemplateSize();
  if (size < 0) return std::vector<char>(1, 0);
  if (bytes != static_cast<size_t>(size))
    return std::vector<char>(static_cast<size_t>(size) + 1, 0);
  return std::vector<char>(templ, templ + bytes);
}

}  // namespace

extern "C" {

// 1 RecInitialize
int Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab(const char* configDir,
                                                                           const bool* shareModel) {
  return Guarded([&] {
    std::lock_guard<std::mutex> lock(g_initLock);
    const std::string modelPath = common::JoinPath(configDir, "ulxmodel.dat");
    std::snprintf(g_version, sizeof(g_version), "%d.%d.%d.%d", 1, 1, 0, 0);
    if (shareModel == nullptr) return kInvalidArgument;
    return Ravel_Initialize(modelPath.c_str(), 20, 0.025f, configDir, *shareModel);
  });
}

// 2 RecTerminate
int Entry_fb7923f791fb19135c1faedc427acd7ff5fee971c577b29513dede24d862df4a(void) {
  return Guarded([] { return Ravel_Terminate(); });
}

// 3 RecDeleteSharedModels
int Entry_c1f6cb9586831830540883db12d9b1cc1b88e37af83088ac8aa29fbe7fe263bd(void) {
  return Guarded([] { return Ravel_DeleteShmem(); });
}

// 4 RecCreate
int Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9(void** handle) {
  return Guarded([&] { return Ravel_Create(handle); });
}

// 5 RecDelete
int Entry_bc3673082b003145048ccb34e657ffb613b2bd5a94f4b8dcd2a712ebeecf4c66(void** handle) {
  return Guarded([&] { return Ravel_Delete(handle); });
}

// 6 RecMakeXvectorTemplate
int Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006(
    void* handle, const short* pcm, const size_t* sampleCount, void* templateOut,
    const size_t* templateBytes, float* duration, float* volume, float* snr) {
  return Guarded([&] {
    if (!SamplesOk(pcm, sampleCount) || !templateOut || !templateBytes || !duration || !volume ||
        !snr)
      return kInvalidArgument;
    std::vector<char> templ;
    if (!TemplateBuffer(templateBytes, &templ)) return kInvalidArgument;
    const std::vector<short> samples(pcm, pcm + (pcm ? *sampleCount : 0));
    std::vector<float> features, freqSnr;
    float validFreqStart = 0, validFreqEnd = 0;
    int r = Ravel_GetFeature(handle, samples, &features, duration, volume, snr, &validFreqStart,
                             &validFreqEnd, &freqSnr);
    if (r) return r;
    r = Ravel_GetXvector(handle, features, *duration, *volume, *snr, &templ, true);
    if (r) return r;
    if (templ.size() != *templateBytes) return kInvalidArgument;
    std::memcpy(templateOut, templ.data(), templ.size());
    return 0;
  });
}

// 7 RecPutPcm
int Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac(
    void* handle, const short* pcm, const size_t* sampleCount) {
  return Guarded([&] {
    if (!SamplesOk(pcm, sampleCount)) return kInvalidArgument;
    const std::vector<short> samples(pcm, pcm + (pcm ? *sampleCount : 0));
    return Ravel_PutPCM(handle, samples);
  });
}

// 8 RecMakeIvectorTemplate
int Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754(
    void* handle, void* templateOut, const size_t* templateBytes, float* duration, float* volume,
    float* snr) {
  return Guarded([&] {
    if (!templateOut || !templateBytes || !duration || !volume || !snr) return kInvalidArgument;
    std::vector<char> templ;
    if (!TemplateBuffer(templateBytes, &templ)) return kInvalidArgument;
    int r = Ravel_GetIvector(handle, &templ, true);
    if (r) return r;
    if (templ.size() != *templateBytes) return kInvalidArgument;
    std::memcpy(templateOut, templ.data(), templ.size());
    float validFreqStart = 0, validFreqEnd = 0;
    std::vector<float> freqSnr;
    return Ravel_GetQualityMeasures(handle, duration, volume, snr, &validFreqStart, &validFreqEnd,
                                    &freqSnr);
  });
}

// 9 RecGetQuality
int Entry_7f1b5d1fc589c7c71971ec557eec8fdf0cb0661b441b5deba36c4023bba3757c(void* handle,
                                                                           float* duration,
                                                                           float* volume,
                                                                           float* snr) {
  return Guarded([&] {
    if (!duration || !volume || !snr) return kInvalidArgument;
    float validFreqStart = 0, validFreqEnd = 0;
    std::vector<float> freqSnr;
    return Ravel_GetQualityMeasures(handle, duration, volume, snr, &validFreqStart, &validFreqEnd,
                                    &freqSnr);
  });
}

// 10 RecReset
int Entry_b1834cb7088341f92c133c088ddb385b8fc218b1d4c594afedc6e8b205c92d82(void* handle) {
  return Guarded([&] { return Ravel_Reset(handle); });
}

// 11 RecCompare
int Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2(
    void* handle, const char* templ1, const size_t* bytes1, const char* templ2,
    const size_t* bytes2, float* score) {
  return Guarded([&] {
    if (!bytes1 || !bytes2 || !score || (!templ1 && *bytes1) || (!templ2 && *bytes2))
      return kInvalidArgument;
    const std::vector<char> first = TemplateCopy(templ1, *bytes1);
    const std::vector<char> second = TemplateCopy(templ2, *bytes2);
    return Ravel_GetScore(handle, first, second, score);
  });
}

// 12 RecGetVersion
const char* Entry_3a838772c3507f8e8cf83c1aefedc0a11001820e9dff2a63e9e0d5716f32b57d(void) {
  return g_version;
}

// 13 RecCheckTemplate
int Entry_75f8712e43cef1ce5badd1f5efda8544bf8dd5e3c5012e25ee078c45aee05bd3(
    const char* templ, const size_t* templateBytes, char* versionOut) {
  return Guarded([&] {
    if (!templateBytes) return kInvalidArgument;
    const int size = Ravel_GetTemplateSize();
    if (size < 0 || static_cast<size_t>(size) != *templateBytes) return kInvalidArgument;
    if (!templ || !versionOut) return kInvalidArgument;
    const std::vector<char> copy(templ, templ + *templateBytes);
    std::string version;
    const int r = Ravel_CheckTemplate(copy, &version);
    if (r) return r;
    std::strncpy(versionOut, version.c_str(), 80);
    return 0;
  });
}

// 14 RecGetDetail
int Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1(void* handle) {
  return Ravel_GetDetail(handle);
}

// 15 RecGetFeature
int Entry_c1d3cf4ee5ec64ed3c5ab1bf523c1d4a4b861e8a3be26071301815f6637d3571(
    void* handle, const std::vector<short>* pcm, std::vector<float>* features, float* duration,
    float* volume, float* snr) {
  return Guarded([&] {
    if (!pcm) return kInvalidArgument;
    float validFreqStart = 0, validFreqEnd = 0;
    std::vector<float> freqSnr;
    return Ravel_GetFeature(handle, *pcm, features, duration, volume, snr, &validFreqStart,
                            &validFreqEnd, &freqSnr);
  });
}

// 16 RecMakeIvectorTemplateFromFeatures
int Entry_e7d28e2588d77d885fd9021df791562ffa9d52dee07661a9cf4e4ef26ad9b80b(
    void* handle, const std::vector<float>* features, float* duration, float* volume, float* snr,
    std::vector<char>* templ) {
  return Guarded([&] {
    if (!features || !duration || !volume || !snr) return kInvalidArgument;
    return Ravel_GetIvector(handle, *features, *duration, *volume, *snr, templ, true);
  });
}

// 18 RecGetTemplateSize
int Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8(void) {
  return Ravel_GetTemplateSize();
}

}  // extern "C"
