// Every result code of the kit, in one table.
//
// A result is a 32-bit unsigned value: 0 for success, otherwise
// (status << 20) | detail, the status class in the upper 12 bits and the
// detail code in the lower 20. Exports return the status and keep the detail
// for a later GetDetail call.
//
// Detail ranges: 0x1015-0x1016 model container, 0x19xx vector and matrix
// shapes, 0x2xxx engine interface and deployment consistency, 0x4xxx feature
// extraction and its options, 0x5xxx GMM posteriors, 0x6xxx HTK model reader
// (composed by HtkReadResult, not listed one by one), 0x7xxx i-vector
// extractor and shared model store, 0x8xxx scoring, 0x9xxx x-vector network.
//
// Codes are stored by applications and documented to users: a value never
// changes. JOR_RESULT_CODES is the only place a code is written; the named
// constants, the lookup table and ResultMeaning are all made from it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jor {

using Result = uint32_t;

constexpr Result kOk = 0;

constexpr int StatusOf(Result result) {
  return static_cast<int>(result >> 20);
}
constexpr uint32_t DetailOf(Result result) {
  return result & 0xFFFFFu;
}
constexpr Result MakeResult(uint32_t status, uint32_t detail) {
  return (status << 20) | (detail & 0xFFFFFu);
}

// X(name, value, one-line meaning) for every status class.
#define JOR_STATUS_CLASSES(X)                                                             \
  X(kStatusNoMemory, 256, "out of memory")                                                \
  X(kStatusSharing, 257, "i-vector model sharing failed")                                 \
  X(kStatusInvalidArgument, 768, "invalid argument")                                      \
  X(kStatusNotInitialized, 769, "not initialised")                                        \
  X(kStatusModelData, 1024, "model data unreadable or inconsistent")                      \
  X(kStatusInputRejected, 1280, "input rejected by feature or speaker-vector extraction") \
  X(kStatusScoringArgument, 1536, "scoring argument of the wrong length or null")         \
  X(kStatusTemplate, 1792, "template malformed or of the wrong length")                   \
  X(kStatusTemplateVersion, 1793, "template format version differs from the engine's")    \
  X(kStatusInternal, 4095, "internal error")

#define JOR_DEFINE_STATUS(name, value, meaning) constexpr int name = value;
JOR_STATUS_CLASSES(JOR_DEFINE_STATUS)
#undef JOR_DEFINE_STATUS

// X(name, status class, detail, one-line meaning) for every named result.
#define JOR_RESULT_CODES(X)                                                                      \
  /* Model container. */                                                                         \
  X(kContainerUnreadable, kStatusModelData, 0x1015,                                              \
    "model container missing, unreadable or shorter than its 76-byte directory")                 \
  X(kContainerMalformed, kStatusModelData, 0x1016,                                               \
    "model container: format version not 1, section count not 6, or a section offset that "      \
    "cannot be sought")                                                                          \
  /* Vector and matrix routines. */                                                              \
  X(kShapeMismatch, kStatusInternal, 0x1900, "vector or matrix dimensions disagree")             \
  X(kSingularMatrix, kStatusInternal, 0x1901, "i-vector precision matrix is singular")           \
  /* Engine interface. */                                                                        \
  X(kEngineInvalidArgument, kStatusInvalidArgument, 0x2020,                                      \
    "invalid argument: null output, empty template or negative duration")                        \
  X(kTemplateMalformed, kStatusTemplate, 0x2030,                                                 \
    "template malformed, damaged or of the wrong length")                                        \
  X(kTemplateVersion, kStatusTemplateVersion, 0x2031,                                            \
    "template format version differs from the engine's")                                         \
  X(kEngineNoMemory, kStatusNoMemory, 0x2100, "memory exhausted inside the engine")              \
  X(kEngineException, kStatusInternal, 0x2FFF, "unexpected exception inside the engine")         \
  /* Window diarizer. */                                                                          \
  X(kWindowNotLoaded, kStatusInvalidArgument, 0x10001,                                           \
    "window diarizer: diarization before its models loaded")                                     \
  X(kWindowBadOptions, kStatusInvalidArgument, 0x10002,                                          \
    "window diarizer: a window, step or speaker count out of range")                             \
  X(kWindowUnreadable, kStatusInvalidArgument, 0x10003,                                          \
    "window diarizer: the audio file cannot be read or decoded")                                 \
  X(kWindowModelsMismatch, kStatusModelData, 0xA001,                                             \
    "window diarizer: the network's embedding differs from the scoring model's dimension")       \
  X(kWindowInternal, kStatusInternal, 0x10FFF, "window diarizer: unexpected internal failure")   \
  /* Deployment consistency, checked once the whole deployment is loaded. */                     \
  X(kFeaturesVsSelectionGmm, kStatusModelData, 0x2040,                                           \
    "feature dimension (num_ceps x (delta_order + 1)) differs from the selection GMM's")         \
  X(kFeaturesVsPosteriorGmm, kStatusModelData, 0x2041,                                           \
    "feature dimension (num_ceps x (delta_order + 1)) differs from the posterior GMM's")         \
  X(kFeaturesVsExtractor, kStatusModelData, 0x2042,                                              \
    "feature dimension (num_ceps x (delta_order + 1)) differs from the i-vector extractor's")    \
  X(kSelectionGmmTooSmall, kStatusModelData, 0x2043,                                             \
    "selection GMM has fewer Gaussians than are selected per frame")                             \
  X(kPosteriorGmmTooSmall, kStatusModelData, 0x2044,                                             \
    "posterior GMM has fewer Gaussians than are selected per frame")                             \
  X(kGmmsDiffer, kStatusModelData, 0x2045,                                                       \
    "selection and posterior GMMs differ in their number of Gaussians")                          \
  X(kExtractorVsPosteriorGmm, kStatusModelData, 0x2046,                                          \
    "i-vector extractor's number of Gaussians differs from the posterior GMM's")                 \
  X(kBackEndInconsistent, kStatusModelData, 0x2047,                                              \
    "mean/variance, whitening and SPLDA sections differ in dimension")                           \
  X(kIvectorVsBackEnd, kStatusModelData, 0x2048,                                                 \
    "i-vector dimension differs from the scoring back-end's (template size)")                    \
  X(kXvectorVsBackEnd, kStatusModelData, 0x2049,                                                 \
    "x-vector embedding dimension of \"xe5.pb\" differs from the scoring back-end's (template "  \
    "size)")                                                                                     \
  X(kXvectorVsFeatures, kStatusModelData, 0x204A,                                                \
    "x-vector network input dimension differs from the feature dimension")                       \
  X(kSelectionSettings, kStatusInvalidArgument, 0x204B,                                          \
    "Gaussians selected per frame below 1, or posterior floor not in [0, 1)")                    \
  /* Feature extraction and its options. */                                                      \
  X(kMelBankFailure, kStatusNoMemory, 0x4001, "mel filter bank could not be made")               \
  X(kFeatInvalidArgument, kStatusInvalidArgument, 0x4002,                                        \
    "feature extraction: empty input, null output or a frame of the wrong length")               \
  X(kInvalidOptions, kStatusModelData, 0x4010,                                                   \
    "feature options cannot drive the feature extraction")                                       \
  X(kOptionWrongType, kStatusModelData, 0x4011,                                                  \
    "a feature option in \"mfcc-options.json\" has a value of the wrong type")                   \
  X(kOptionOutOfRange, kStatusModelData, 0x4012,                                                 \
    "a feature option in \"mfcc-options.json\" is beyond the range the engine supports")         \
  X(kFeatNoFrames, kStatusInputRejected, 0x4101, "the audio yields no frame")                    \
  X(kQualityImpossible, kStatusInputRejected, 0x4102,                                            \
    "quality cannot be measured: frame level out of range")                                      \
  X(kFeatNoSamples, kStatusInputRejected, 0x4301, "no samples to process")                       \
  X(kFeatInputTooLong, kStatusInputRejected, 0x4302,                                             \
    "more samples than the feature pipeline can take")                                           \
  X(kFeatInternalError, kStatusInternal, 0x4FFF, "exception inside the feature pipeline")        \
  /* GMM posteriors. */                                                                          \
  X(kGmmppNoMemory, kStatusNoMemory, 0x5100, "memory exhausted in the GMM posterior stage")      \
  X(kGmmppArgument, kStatusInvalidArgument, 0x5101,                                              \
    "GMM posterior stage: null argument, or more Gaussians asked for than the model has")        \
  X(kGmmppNotReady, kStatusNotInitialized, 0x5301, "GMM and i-vector models not loaded")         \
  X(kGmmppModelShape, kStatusInternal, 0x5FFF,                                                   \
    "GMM unusable: no HMM, not one emitting state, no Gaussian, or sizes that differ")           \
  /* I-vector extractor and shared model store. */                                               \
  X(kExtractorFileError, kStatusModelData, 0x7000,                                               \
    "i-vector extractor section unreadable or cut short")                                        \
  X(kExtractorFormatError, kStatusModelData, 0x7001,                                             \
    "i-vector extractor: wrong element size, dimension out of range, or not loaded")             \
  X(kExtractorNoMemory, kStatusNoMemory, 0x7002, "memory exhausted in the i-vector extractor")   \
  X(kSharedMemoryError, kStatusSharing, 0x7004, "shared i-vector model store failed")            \
  X(kStatsMismatch, kStatusModelData, 0x7005,                                                    \
    "feature frame does not match the statistics (feature dimension or Gaussian index)")         \
  X(kIvectorNoFrames, kStatusInputRejected, 0x7006, "no voiced frame accumulated")               \
  /* Scoring. */                                                                                 \
  X(kMvnUnreadable, kStatusModelData, 0x8000, "mean/variance section unreadable")                \
  X(kMvnBadModel, kStatusModelData, 0x8001, "mean/variance dimension out of range")              \
  X(kNormUnreadable, kStatusModelData, 0x8002, "whitening section unreadable")                   \
  X(kNormBadModel, kStatusModelData, 0x8003,                                                     \
    "whitening dimension out of range or projection not finite")                                 \
  X(kSpldaUnreadable, kStatusModelData, 0x8004, "SPLDA section unreadable or absent")            \
  X(kSpldaBadModel, kStatusModelData, 0x8005,                                                    \
    "SPLDA element size, dimension or eigenvalue block bad")                                     \
  X(kWrongLength, kStatusScoringArgument, 0x8006, "vector or template of the wrong length")      \
  X(kNullResult, kStatusScoringArgument, 0x8007, "null result pointer")                          \
  X(kOutOfRange, kStatusScoringArgument, 0x8008,                                                 \
    "vector cannot be length-normalised, or a value that is not finite")                         \
  /* X-vector network ("xe5.pb", Brindle). */                                                    \
  X(kXvectorFileMissing, kStatusModelData, 0x9001, "x-vector model file missing")                \
  X(kXvectorFileUnreadable, kStatusModelData, 0x9002,                                            \
    "x-vector model file unreadable, not a regular file, or larger than 2 GiB")                  \
  X(kXvectorBadMagic, kStatusModelData, 0x9010, "not an \"xe5.pb\" file")                        \
  X(kXvectorBadVersion, kStatusModelData, 0x9011,                                                \
    "x-vector model: unsupported format version or reserved field set")                          \
  X(kXvectorBadLength, kStatusModelData, 0x9012, "x-vector model file truncated or extended")    \
  X(kXvectorBadChecksum, kStatusModelData, 0x9013, "x-vector model checksum mismatch")           \
  X(kXvectorBadLayerKind, kStatusModelData, 0x9014,                                              \
    "x-vector model: layer count, kind or order bad")                                            \
  X(kXvectorBadDimension, kStatusModelData, 0x9015,                                              \
    "x-vector model: a dimension is 0 or above 65536")                                           \
  X(kXvectorDimensionMismatch, kStatusModelData, 0x9016,                                         \
    "x-vector model: layer dimensions inconsistent")                                             \
  X(kXvectorBadContext, kStatusModelData, 0x9017, "x-vector model: bad frame context")           \
  X(kXvectorBadParameter, kStatusModelData, 0x9018,                                              \
    "x-vector model: parameter not finite or negative variance floor")                           \
  X(kXvectorBadActivation, kStatusModelData, 0x9019,                                             \
    "x-vector model: unknown activation or flag bits")                                           \
  X(kXvectorBadRecordLength, kStatusModelData, 0x901A,                                           \
    "x-vector model: record length wrong or bytes left over")                                    \
  X(kXvectorEmptyInput, kStatusInputRejected, 0x9101, "x-vector: feature input empty")           \
  X(kXvectorInputNotWholeRows, kStatusInputRejected, 0x9102,                                     \
    "x-vector: feature count not a multiple of the input dimension")                             \
  X(kXvectorInputNotFinite, kStatusInputRejected, 0x9103,                                        \
    "x-vector: a feature value is not finite")                                                   \
  X(kXvectorOutputNotFinite, kStatusInputRejected, 0x9104, "x-vector: the embedding overflowed") \
  X(kXvectorNoMemory, kStatusNoMemory, 0x9201, "x-vector: memory exhausted")                     \
  X(kXvectorNotInitialized, kStatusNotInitialized, 0x9301,                                       \
    "x-vector network used before a successful Init")                                            \
  X(kXvectorInternalError, kStatusInternal, 0x9F01, "x-vector: unexpected internal failure")

#define JOR_DEFINE_RESULT(name, status, detail, meaning) \
  constexpr Result name = MakeResult(status, detail);
JOR_RESULT_CODES(JOR_DEFINE_RESULT)
#undef JOR_DEFINE_RESULT

// Result of the HTK model reader for model `id` (1 selection, 2 posterior):
// status 256 with detail 0x6{id}F0 for memory exhaustion (reader code 240),
// else status 1024 with detail 0x6{id}{code}.
constexpr int kHtkReaderNoMemory = 240;
constexpr Result HtkReadResult(int id, int code) {
  const uint32_t base = code == kHtkReaderNoMemory ? (static_cast<uint32_t>(id) | 0x100060u)
                                                   : (static_cast<uint32_t>(id) | 0x400060u);
  return (base << 8) | (static_cast<uint32_t>(code) & 0xFFu);
}

struct StatusInfo {
  int status;
  const char* name;
  const char* meaning;
};

struct ResultInfo {
  uint32_t status;
  uint32_t detail;
  const char* name;
  const char* meaning;
};

#define JOR_STATUS_ROW(name, value, meaning) StatusInfo{value, #name, meaning},
inline constexpr StatusInfo kStatusTable[] = {JOR_STATUS_CLASSES(JOR_STATUS_ROW)};
#undef JOR_STATUS_ROW

#define JOR_RESULT_ROW(name, status, detail, meaning) \
  ResultInfo{static_cast<uint32_t>(status), detail, #name, meaning},
inline constexpr ResultInfo kResultTable[] = {JOR_RESULT_CODES(JOR_RESULT_ROW)};
#undef JOR_RESULT_ROW

// The row of a status and detail pair; null for a pair the table lacks.
constexpr const ResultInfo* FindResult(uint32_t status, uint32_t detail) {
  for (const ResultInfo& row : kResultTable)
    if (row.status == status && row.detail == detail) return &row;
  return nullptr;
}

// One-line meaning of a status class; null for an unknown class.
constexpr const char* StatusMeaning(uint32_t status) {
  for (const StatusInfo& row : kStatusTable)
    if (static_cast<uint32_t>(row.status) == status) return row.meaning;
  return nullptr;
}

// One-line meaning of a status and detail pair, as an export returns the
// status and GetDetail the detail. HTK reader details (0x61xx, 0x62xx) are
// named by their model; a pair the table lacks yields null (the caller may
// fall back to StatusMeaning).
constexpr const char* ResultMeaning(uint32_t status, uint32_t detail) {
  if (const ResultInfo* row = FindResult(status, detail)) return row->meaning;
  if ((status == kStatusModelData || status == kStatusNoMemory) && (detail >> 8) == 0x61)
    return "selection GMM (HTK definition) unreadable; the low byte is the reader's code";
  if ((status == kStatusModelData || status == kStatusNoMemory) && (detail >> 8) == 0x62)
    return "posterior GMM (HTK definition) unreadable; the low byte is the reader's code";
  return nullptr;
}

constexpr const char* ResultMeaning(Result result) {
  return ResultMeaning(result >> 20, DetailOf(result));
}

}  // namespace jor
