// The i-vector extractor the statistics front holds: loads a float model, or
// a double model when the section holds one, and always extracts from float
// statistics into a float i-vector.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "IvectorExt/ivext/extractor.h"
#include "IvectorExt/ivext/utterance-stats.h"

namespace ivext {

class IvExtractor {
 public:
  IvExtractor();
  virtual ~IvExtractor();
  IvExtractor(const IvExtractor&) = delete;
  IvExtractor& operator=(const IvExtractor&) = delete;

  // Tries the float extractor, then the double one from the same file
  // position. A null file is accepted when a shared model can be attached.
  virtual int LoadModel(FILE* file, const bool& shareModel);
  // kIvectorNoFrames without frames, kExtractorFormatError when no model is loaded.
  virtual int Extract(const UtteranceStats<float>& stats, std::vector<float>& ivector) const;
  virtual int NumGaussians() const { return numGaussians; }
  virtual int FeatureDim() const { return featureDim; }
  virtual int IvectorDim() const { return ivectorDim; }

  // 0 before loading, 4 or 8 after.
  int ElemSize() const { return elemSize; }
  // True when the loaded model lives in the shared segment.
  bool IsShared() const;

 private:
  std::unique_ptr<Extractor<float>> floatExtractor;
  std::unique_ptr<Extractor<double>> doubleExtractor;
  int elemSize = 0;
  int numGaussians = 0;
  int featureDim = 0;
  int ivectorDim = 0;
};

}  // namespace ivext
