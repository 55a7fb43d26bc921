// Result encoding shared by every library of the kit.
//
// An internal result is a 32-bit value: 0 for success, otherwise
// (status << 20) | detail. Exports return the status (upper 12 bits) and keep
// the detail (lower 20 bits) for a later GetDetail call.
#pragma once

#include <cstdint>

namespace jor {

constexpr uint32_t kOk = 0;

constexpr int StatusOf(uint32_t result) { return static_cast<int>(result >> 20); }
constexpr uint32_t DetailOf(uint32_t result) { return result & 0xFFFFFu; }
constexpr uint32_t MakeResult(uint32_t status, uint32_t detail) {
  return (status << 20) | (detail & 0xFFFFFu);
}

// Status classes.
constexpr int kStatusNoMemory = 256;
constexpr int kStatusSharing = 257;
constexpr int kStatusInvalidArgument = 768;
constexpr int kStatusNotInitialized = 769;
constexpr int kStatusModelData = 1024;
constexpr int kStatusInputRejected = 1280;
constexpr int kStatusScoringArgument = 1536;
constexpr int kStatusTemplate = 1792;
constexpr int kStatusTemplateVersion = 1793;
constexpr int kStatusInternal = 4095;

}  // namespace jor
