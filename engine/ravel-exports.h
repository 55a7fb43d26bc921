// Engine exports of libRavel.
//
// C++ linkage with standard-library argument types: callers must be built
// with the same compiler and standard library (the public C face is Pellam).
//
// Every function returns a status code (0 on success, see common/result-codes.h);
// the detail of a failure is read with Ravel_GetDetail: with the handle for
// per-instance failures, with nullptr for initialisation.
//
// Thread safety: Ravel_Initialize and Ravel_Terminate must not overlap any
// other call. Different handles may be used from different threads at once;
// one handle by one thread at a time.
#pragma once

#include <string>
#include <vector>

#include "common/visibility.h"

#if defined(RAVEL_BUILDING)
#define RAVEL_API JOR_EXPORT_SYMBOL
#else
#define RAVEL_API JOR_IMPORT_SYMBOL
#endif

// Loads options, logging, the model container, the verifier and the x-vector
// network. A second call while initialised is a no-op returning 0.
RAVEL_API int Ravel_Initialize(const char* modelPath, int gselectCount, float minPosterior,
                               const char* configDir, const bool& shareModel);
RAVEL_API int Ravel_Create(void** handle);
RAVEL_API int Ravel_PutPCM(void* handle, const std::vector<short>& pcm);
RAVEL_API int Ravel_GetQualityMeasures(void* handle, float* duration, float* volume, float* snr,
                                       float* validFreqStart, float* validFreqEnd,
                                       std::vector<float>* freqSnr);
// Template of everything streamed into the handle since the last reset.
RAVEL_API int Ravel_GetIvector(void* handle, std::vector<char>* templ, const bool& transform);
RAVEL_API int Ravel_GetFeature(void* handle, const std::vector<short>& pcm,
                               std::vector<float>* features, float* duration, float* volume,
                               float* snr, float* validFreqStart, float* validFreqEnd,
                               std::vector<float>* freqSnr);
// Template of a feature matrix from Ravel_GetFeature.
RAVEL_API int Ravel_GetIvector(void* handle, const std::vector<float>& features,
                               const float& duration, const float& volume, const float& snr,
                               std::vector<char>* templ, const bool& transform);
RAVEL_API int Ravel_GetXvector(void* handle, const std::vector<float>& features,
                               const float& duration, const float& volume, const float& snr,
                               std::vector<char>* templ, const bool& transform);
// Score in [0, 100]; the second template's duration drives the adjustment.
RAVEL_API int Ravel_GetScore(void* handle, const std::vector<char>& templ1,
                             const std::vector<char>& templ2, float* score);
RAVEL_API int Ravel_Reset(void* handle);
RAVEL_API int Ravel_GetDetail(void* handle);
RAVEL_API int Ravel_Delete(void** handle);
// -1 before initialisation.
RAVEL_API int Ravel_GetTemplateSize();
RAVEL_API int Ravel_CheckTemplate(const std::vector<char>& templ, std::string* version);
RAVEL_API std::string Ravel_GetVersion();
// Removes the shared i-vector model store of the machine; needs no init.
RAVEL_API int Ravel_DeleteShmem();
RAVEL_API int Ravel_Terminate();
