/*
 * Readable names for Pellam's exports.
 *
 * The library exports its functions under opaque names ("Entry_" and 64 hex
 * digits, see pellam.h). This header gives each one a readable name, so that
 * callers never write the opaque names by hand:
 *
 *   #include <pellam/pellam-names.h>
 *   bool share = false;
 *   PellamInitialize("/usr/share/jor-speaker/models/default", &share);
 *
 * The names are macros for the exports; they cost nothing at run time and
 * the program links the same symbols.
 */
#ifndef PELLAM_PELLAM_NAMES_H_
#define PELLAM_PELLAM_NAMES_H_

#include "pellam.h"

/* X(ordinal, readable name, export name) for every export. */
#define PELLAM_READABLE_NAMES(X)                                                              \
  X(1, PellamInitialize, Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab) \
  X(2, PellamTerminate, Entry_fb7923f791fb19135c1faedc427acd7ff5fee971c577b29513dede24d862df4a)  \
  X(3, PellamDeleteSharedModels,                                                              \
    Entry_c1f6cb9586831830540883db12d9b1cc1b88e37af83088ac8aa29fbe7fe263bd)                    \
  X(4, PellamCreate, Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9)     \
  X(5, PellamDelete, Entry_bc3673082b003145048ccb34e657ffb613b2bd5a94f4b8dcd2a712ebeecf4c66)     \
  X(6, PellamMakeXvectorTemplate,                                                             \
    Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006)                    \
  X(7, PellamPutPcm, Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac)     \
  X(8, PellamMakeIvectorTemplate,                                                             \
    Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754)                    \
  X(9, PellamGetQuality, Entry_7f1b5d1fc589c7c71971ec557eec8fdf0cb0661b441b5deba36c4023bba3757c) \
  X(10, PellamReset, Entry_b1834cb7088341f92c133c088ddb385b8fc218b1d4c594afedc6e8b205c92d82)     \
  X(11, PellamCompare, Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2)   \
  X(12, PellamGetVersion, Entry_3a838772c3507f8e8cf83c1aefedc0a11001820e9dff2a63e9e0d5716f32b57d) \
  X(13, PellamCheckTemplate,                                                                  \
    Entry_75f8712e43cef1ce5badd1f5efda8544bf8dd5e3c5012e25ee078c45aee05bd3)                    \
  X(14, PellamGetDetail, Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1) \
  X(15, PellamGetFeature, Entry_c1d3cf4ee5ec64ed3c5ab1bf523c1d4a4b861e8a3be26071301815f6637d3571) \
  X(16, PellamMakeIvectorTemplateFromFeatures,                                                \
    Entry_e7d28e2588d77d885fd9021df791562ffa9d52dee07661a9cf4e4ef26ad9b80b)                    \
  X(18, PellamGetTemplateSize,                                                                \
    Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8)

/* int PellamInitialize(const char* configDir, const bool* shareModel) */
#define PellamInitialize Entry_cd45c54f57981b6bcdc2efd49e6929c10567ebe7bb1d75e59fe3bae9d39ee7ab
/* int PellamTerminate(void) */
#define PellamTerminate Entry_fb7923f791fb19135c1faedc427acd7ff5fee971c577b29513dede24d862df4a
/* int PellamDeleteSharedModels(void) */
#define PellamDeleteSharedModels \
  Entry_c1f6cb9586831830540883db12d9b1cc1b88e37af83088ac8aa29fbe7fe263bd
/* int PellamCreate(void** handle) */
#define PellamCreate Entry_ffdbf5fe32062761fde21420f31f877d1d705941021673fdf7062fb4ab5ef2c9
/* int PellamDelete(void** handle) */
#define PellamDelete Entry_bc3673082b003145048ccb34e657ffb613b2bd5a94f4b8dcd2a712ebeecf4c66
/* int PellamMakeXvectorTemplate(void* handle, const short* pcm, const size_t* sampleCount,
 *     void* templateOut, const size_t* templateBytes, float* duration, float* volume,
 *     float* snr) */
#define PellamMakeXvectorTemplate \
  Entry_faf73d186b40459db7cfddf2a9c85802e82f0ccedc92f6fba17ed7342dcfd006
/* int PellamPutPcm(void* handle, const short* pcm, const size_t* sampleCount) */
#define PellamPutPcm Entry_589feab40955bf75bce8509064bd0574cd9aa9e3ae59cd5e90357615ea1c88ac
/* int PellamMakeIvectorTemplate(void* handle, void* templateOut, const size_t* templateBytes,
 *     float* duration, float* volume, float* snr) */
#define PellamMakeIvectorTemplate \
  Entry_5c769344bf97836a4c4de07a4fee4819ccc6f7b640bd6c513884f53fba2c6754
/* int PellamGetQuality(void* handle, float* duration, float* volume, float* snr) */
#define PellamGetQuality Entry_7f1b5d1fc589c7c71971ec557eec8fdf0cb0661b441b5deba36c4023bba3757c
/* int PellamReset(void* handle) */
#define PellamReset Entry_b1834cb7088341f92c133c088ddb385b8fc218b1d4c594afedc6e8b205c92d82
/* int PellamCompare(void* handle, const char* templ1, const size_t* bytes1,
 *     const char* templ2, const size_t* bytes2, float* score) */
#define PellamCompare Entry_160c47515f08786e8d27f50a58f8eca7b4b18971a750893f9085ac1ee736bcd2
/* const char* PellamGetVersion(void) */
#define PellamGetVersion Entry_3a838772c3507f8e8cf83c1aefedc0a11001820e9dff2a63e9e0d5716f32b57d
/* int PellamCheckTemplate(const char* templ, const size_t* templateBytes, char* versionOut) */
#define PellamCheckTemplate Entry_75f8712e43cef1ce5badd1f5efda8544bf8dd5e3c5012e25ee078c45aee05bd3
/* int PellamGetDetail(void* handle) */
#define PellamGetDetail Entry_34a0d7eeb8756d45404ab5a6d690cb4fa2a8ef828a51cd8b0c8b8d036afe74d1
/* int PellamGetFeature(void* handle, const std::vector<short>* pcm,
 *     std::vector<float>* features, float* duration, float* volume, float* snr); C++ only */
#define PellamGetFeature Entry_c1d3cf4ee5ec64ed3c5ab1bf523c1d4a4b861e8a3be26071301815f6637d3571
/* int PellamMakeIvectorTemplateFromFeatures(void* handle, const std::vector<float>* features,
 *     float* duration, float* volume, float* snr, std::vector<char>* templ); C++ only */
#define PellamMakeIvectorTemplateFromFeatures \
  Entry_e7d28e2588d77d885fd9021df791562ffa9d52dee07661a9cf4e4ef26ad9b80b
/* int PellamGetTemplateSize(void) */
#define PellamGetTemplateSize Entry_ee8a4b11689d57013760f6094ee7e4e8016ac9e2b3382f778aa7980c49ca9fe8

#endif /* PELLAM_PELLAM_NAMES_H_ */
