// The model container "ulxmodel.dat": a 76-byte directory of six typed
// sections, each handed to its loader as an independent FILE* positioned at
// the section's start.
//
// Layout (little-endian): byte 0 format version (1), bytes 1..2 uint16 (kept,
// not interpreted), byte 3 section count (6), then six 12-byte entries
// {int32 offset, uint32 unused, uint32 type}. Types: 0 selection GMM,
// 1 posterior GMM, 2 i-vector extractor, 3 SPLDA, 4 mean/variance,
// 5 whitening.
//
// Not thread-safe; lives for the duration of engine initialisation.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/result-codes.h"

namespace common::model {

constexpr int kSectionCount = 6;
constexpr int kHeaderSize = 76;

enum SectionType : int {
  kSelectionGmm = 0,
  kPosteriorGmm = 1,
  kIvectorExtractor = 2,
  kSplda = 3,
  kMeanVariance = 4,
  kWhitening = 5,
};

class ModelManager {
 public:
  explicit ModelManager(const char* path);
  virtual ~ModelManager();
  ModelManager(const ModelManager&) = delete;
  ModelManager& operator=(const ModelManager&) = delete;

  // 0, jor::kContainerUnreadable or jor::kContainerMalformed.
  uint32_t initialize();

  // Borrowed streams; null for a type the directory does not name.
  FILE* SelectionGmm() const { return sections_[kSelectionGmm]; }
  FILE* PosteriorGmm() const { return sections_[kPosteriorGmm]; }
  FILE* IvectorExtractor() const { return sections_[kIvectorExtractor]; }
  FILE* Splda() const { return sections_[kSplda]; }
  FILE* MeanVariance() const { return sections_[kMeanVariance]; }
  FILE* Whitening() const { return sections_[kWhitening]; }
  FILE* Section(int type) const {
    return type >= 0 && type < kSectionCount ? sections_[type] : nullptr;
  }
  uint16_t Reserved() const { return reserved_; }

 private:
  const char* path_;
  FILE* header_stream_ = nullptr;
  FILE* sections_[kSectionCount] = {};
  unsigned char header_[kHeaderSize] = {};
  uint16_t reserved_ = 0;
};

}  // namespace common::model
