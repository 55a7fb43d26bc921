/*
 * Pellam: the public speaker-recognition library.
 *
 * A C face over the engine: handles, plain pointers and byte counts. Every
 * function returns 0 on success or a status code; the detail of the last
 * failure is read with RecGetDetail (with the handle, or NULL for the
 * initialisation).
 *
 * Thread safety: RecInitialize is serialised by the library; no other call
 * may run while RecInitialize or RecTerminate runs. Different handles may be
 * used from different threads at once; one handle by one thread at a time.
 *
 * Buffers: every buffer belongs to the caller; the library copies what it
 * needs and keeps no pointer after a call returns. RecGetVersion returns a
 * string owned by the library.
 *
 * Usage (whole recordings):
 *   bool share = false;
 *   RecInitialize("models/default", &share);
 *   void* h = NULL; RecCreate(&h);
 *   size_t bytes = (size_t)RecGetTemplateSize();
 *   RecMakeXvectorTemplate(h, pcm, &count, templ, &bytes, &dur, &vol, &snr);
 *   RecCompare(h, templ_a, &bytes, templ_b, &bytes, &score);   score in [0, 100]
 *   RecDelete(&h); RecTerminate();
 *
 * The exports have opaque names and fixed ordinals; PELLAM_EXPORTS below is
 * the table from ordinal and role name to export name.
 */
#ifndef PELLAM_PELLAM_H_
#define PELLAM_PELLAM_H_

#include <stddef.h>

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(_WIN32)
#if defined(PELLAM_BUILDING)
#define PELLAM_API __declspec(dllexport)
#else
#define PELLAM_API __declspec(dllimport)
#endif
#else
#define PELLAM_API __attribute__((visibility("default")))
#endif

/* X(ordinal, role name, export name) for every export. */
#define PELLAM_EXPORTS(X)                                                                   \
  X(1, RecInitialize, Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab) \
  X(2, RecTerminate, Entry_fb7923f791fb19135c1faedc427acd7ff5fee971c577b29513dede24d862df4a)  \
  X(3, RecDeleteSharedModels,                                                               \
    Entry_c1f6cb9586831830540883db12d9b1cc1b88e37af83088ac8aa29fbe7fe263bd)                  \
  X(4, RecCreate, Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9)     \
  X(5, RecDelete, Entry_bc3673082b003145048ccb34e657ffb613b2bd5a94f4b8dcd2a712ebeecf4c66)     \
  X(6, RecMakeXvectorTemplate,                                                              \
    Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006)                  \
  X(7, RecPutPcm, Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac)     \
  X(8, RecMakeIvectorTemplate,                                                              \
    Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754)                  \
  X(9, RecGetQuality, Entry_7f1b5d1fc589c7c71971ec557eec8fdf0cb0661b441b5deba36c4023bba3757c) \
  X(10, RecReset, Entry_b1834cb7088341f92c133c088ddb385b8fc218b1d4c594afedc6e8b205c92d82)     \
  X(11, RecCompare, Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2)   \
  X(12, RecGetVersion, Entry_3a838772c3507f8e8cf83c1aefedc0a11001820e9dff2a63e9e0d5716f32b57d) \
  X(13, RecCheckTemplate, Entry_75f8712e43cef1ce5badd1f5efda8544bf8dd5e3c5012e25ee078c45aee05bd3) \
  X(14, RecGetDetail, Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1) \
  X(15, RecGetFeature, Entry_c1d3cf4ee5ec64ed3c5ab1bf523c1d4a4b861e8a3be26071301815f6637d3571) \
  X(16, RecMakeIvectorTemplateFromFeatures,                                                 \
    Entry_e7d28e2588d77d885fd9021df791562ffa9d52dee07661a9cf4e4ef26ad9b80b)                  \
  X(18, RecGetTemplateSize, Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8)

#ifdef __cplusplus
#include <vector>
extern "C" {
#endif

/* Role-name typedefs, for callers that bind the exports at run time. */
typedef int (*RecInitialize)(const char* configDir, const bool* shareModel);
typedef int (*RecTerminate)(void);
typedef int (*RecDeleteSharedModels)(void);
typedef int (*RecCreate)(void** handle);
typedef int (*RecDelete)(void** handle);
typedef int (*RecMakeXvectorTemplate)(void* handle, const short* pcm, const size_t* sampleCount,
                                      void* templateOut, const size_t* templateBytes,
                                      float* duration, float* volume, float* snr);
typedef int (*RecPutPcm)(void* handle, const short* pcm, const size_t* sampleCount);
typedef int (*RecMakeIvectorTemplate)(void* handle, void* templateOut,
                                      const size_t* templateBytes, float* duration,
                                      float* volume, float* snr);
typedef int (*RecGetQuality)(void* handle, float* duration, float* volume, float* snr);
typedef int (*RecReset)(void* handle);
typedef int (*RecCompare)(void* handle, const char* templ1, const size_t* bytes1,
                          const char* templ2, const size_t* bytes2, float* score);
typedef const char* (*RecGetVersion)(void);
typedef int (*RecCheckTemplate)(const char* templ, const size_t* templateBytes,
                                char* versionOut);
typedef int (*RecGetDetail)(void* handle);
typedef int (*RecGetTemplateSize)(void);

/* 1 RecInitialize: loads "ulxmodel.dat", "mfcc-options.json", "log-options.json"
 * and "xe5.pb" from configDir (NULL or "" for the working directory). */
PELLAM_API int Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab(
    const char* configDir, const bool* shareModel);
/* 2 RecTerminate */
PELLAM_API int Entry_fb7923f791fb19135c1faedc427acd7ff5fee971c577b29513dede24d862df4a(void);
/* 3 RecDeleteSharedModels: removes the machine's shared i-vector model. */
PELLAM_API int Entry_c1f6cb9586831830540883db12d9b1cc1b88e37af83088ac8aa29fbe7fe263bd(void);
/* 4 RecCreate */
PELLAM_API int Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9(
    void** handle);
/* 5 RecDelete: *handle becomes NULL. A handle still alive after RecTerminate
 * is freed too, and the answer is 769 (not initialised). */
PELLAM_API int Entry_bc3673082b003145048ccb34e657ffb613b2bd5a94f4b8dcd2a712ebeecf4c66(
    void** handle);
/* 6 RecMakeXvectorTemplate: x-vector template of a whole recording into
 * templateOut (*templateBytes must equal RecGetTemplateSize(), else 768 and
 * templateOut is untouched). Does not touch the handle's stream. */
PELLAM_API int Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006(
    void* handle, const short* pcm, const size_t* sampleCount, void* templateOut,
    const size_t* templateBytes, float* duration, float* volume, float* snr);
/* 7 RecPutPcm: appends PCM to the handle's stream. Sample counts above
 * 2^31 - 1 (here and in ordinal 6) are refused with 768 before anything is
 * copied. */
PELLAM_API int Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac(
    void* handle, const short* pcm, const size_t* sampleCount);
/* 8 RecMakeIvectorTemplate: i-vector template of the stream so far
 * (*templateBytes must equal RecGetTemplateSize(), else 768 before any work). */
PELLAM_API int Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754(
    void* handle, void* templateOut, const size_t* templateBytes, float* duration,
    float* volume, float* snr);
/* 9 RecGetQuality: quality of the stream so far. */
PELLAM_API int Entry_7f1b5d1fc589c7c71971ec557eec8fdf0cb0661b441b5deba36c4023bba3757c(
    void* handle, float* duration, float* volume, float* snr);
/* 10 RecReset: starts a new stream on the handle. */
PELLAM_API int Entry_b1834cb7088341f92c133c088ddb385b8fc218b1d4c594afedc6e8b205c92d82(
    void* handle);
/* 11 RecCompare: score in [0, 100]; the second template's duration counts.
 * It checks lengths and versions but not the checksum: validate templates
 * taken back from storage with RecCheckTemplate first. A byte count other
 * than RecGetTemplateSize() is refused (1792) without reading the template. */
PELLAM_API int Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2(
    void* handle, const char* templ1, const size_t* bytes1, const char* templ2,
    const size_t* bytes2, float* score);
/* 12 RecGetVersion: "" before the first RecInitialize, then "1.1.0.0". */
PELLAM_API const char* Entry_3a838772c3507f8e8cf83c1aefedc0a11001820e9dff2a63e9e0d5716f32b57d(
    void);
/* 13 RecCheckTemplate: versionOut must hold 80 bytes. */
PELLAM_API int Entry_75f8712e43cef1ce5badd1f5efda8544bf8dd5e3c5012e25ee078c45aee05bd3(
    const char* templ, const size_t* templateBytes, char* versionOut);
/* 14 RecGetDetail */
PELLAM_API int Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1(
    void* handle);
/* 18 RecGetTemplateSize: -1 before initialisation. */
PELLAM_API int Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8(void);

#ifdef __cplusplus
}  // extern "C"

/* Ordinals 15 and 16 pass standard-library containers: C++ callers built with
 * the same standard library only. */
typedef int (*RecGetFeature)(void* handle, const std::vector<short>* pcm,
                             std::vector<float>* features, float* duration, float* volume,
                             float* snr);
typedef int (*RecMakeIvectorTemplateFromFeatures)(void* handle,
                                                  const std::vector<float>* features,
                                                  float* duration, float* volume, float* snr,
                                                  std::vector<char>* templ);
extern "C" {
/* 15 RecGetFeature */
PELLAM_API int Entry_c1d3cf4ee5ec64ed3c5ab1bf523c1d4a4b861e8a3be26071301815f6637d3571(
    void* handle, const std::vector<short>* pcm, std::vector<float>* features, float* duration,
    float* volume, float* snr);
/* 16 RecMakeIvectorTemplateFromFeatures */
PELLAM_API int Entry_e7d28e2588d77d885fd9021df791562ffa9d52dee07661a9cf4e4ef26ad9b80b(
    void* handle, const std::vector<float>* features, float* duration, float* volume,
    float* snr, std::vector<char>* templ);
}
#endif

#endif /* PELLAM_PELLAM_H_ */
