// Results of the x-vector library: (status << 20) | detail, with the library's
// own detail range 0x9xxx. The engine passes them on uninterpreted.
#pragma once

#include <cstdint>

namespace brindle {

// Status classes (shared with the engine's convention).
constexpr uint32_t kStatusNoMemory = 256;
constexpr uint32_t kStatusNotInitialized = 769;
constexpr uint32_t kStatusModelData = 1024;
constexpr uint32_t kStatusInputRejected = 1280;
constexpr uint32_t kStatusInternal = 4095;

constexpr uint32_t MakeResult(uint32_t status, uint32_t detail) {
  return (status << 20) | (detail & 0xFFFFFu);
}

// Model file "xe5.pb" (status 1024).
constexpr uint32_t kFileMissing = MakeResult(kStatusModelData, 0x9001);
constexpr uint32_t kFileUnreadable = MakeResult(kStatusModelData, 0x9002);
constexpr uint32_t kBadMagic = MakeResult(kStatusModelData, 0x9010);
constexpr uint32_t kBadVersion = MakeResult(kStatusModelData, 0x9011);
constexpr uint32_t kBadLength = MakeResult(kStatusModelData, 0x9012);
constexpr uint32_t kBadChecksum = MakeResult(kStatusModelData, 0x9013);
constexpr uint32_t kBadLayerKind = MakeResult(kStatusModelData, 0x9014);
constexpr uint32_t kBadDimension = MakeResult(kStatusModelData, 0x9015);
constexpr uint32_t kDimensionMismatch = MakeResult(kStatusModelData, 0x9016);
constexpr uint32_t kBadContext = MakeResult(kStatusModelData, 0x9017);
constexpr uint32_t kBadParameter = MakeResult(kStatusModelData, 0x9018);
constexpr uint32_t kBadActivation = MakeResult(kStatusModelData, 0x9019);
constexpr uint32_t kBadRecordLength = MakeResult(kStatusModelData, 0x901A);

// Feature input (status 1280).
constexpr uint32_t kEmptyInput = MakeResult(kStatusInputRejected, 0x9101);
constexpr uint32_t kInputNotWholeRows = MakeResult(kStatusInputRejected, 0x9102);
constexpr uint32_t kInputNotFinite = MakeResult(kStatusInputRejected, 0x9103);
constexpr uint32_t kOutputNotFinite = MakeResult(kStatusInputRejected, 0x9104);

constexpr uint32_t kNoMemory = MakeResult(kStatusNoMemory, 0x9201);
constexpr uint32_t kNotInitialized = MakeResult(kStatusNotInitialized, 0x9301);
constexpr uint32_t kInternalError = MakeResult(kStatusInternal, 0x9F01);

}  // namespace brindle
