// Results of the scoring stages: (status << 20) | detail, 0 for success.
#pragma once

#include <cstdint>

namespace ivdist {

constexpr int kOk = 0;

// Model data (status 1024).
constexpr int kMvnUnreadable = static_cast<int>(0x40008000u);
constexpr int kMvnBadModel = static_cast<int>(0x40008001u);
constexpr int kNormUnreadable = static_cast<int>(0x40008002u);
constexpr int kNormBadModel = static_cast<int>(0x40008003u);
constexpr int kSpldaUnreadable = static_cast<int>(0x40008004u);
constexpr int kSpldaBadModel = static_cast<int>(0x40008005u);

// Arguments (status 1536).
constexpr int kWrongLength = static_cast<int>(0x60008006u);
constexpr int kNullResult = static_cast<int>(0x60008007u);
// A vector that cannot be scaled to unit length (all zero, or not finite),
// or a result that is not a number.
constexpr int kOutOfRange = static_cast<int>(0x60008008u);

// Internal (status 4095): shapes of the vector and matrix routines disagree.
constexpr int kShapeMismatch = static_cast<int>(0xFFF01900u);

// Largest dimension a model section may declare.
constexpr uint32_t kMaxDimension = 1000000;

}  // namespace ivdist
