// PLACEHOLDER interface: replaced by the i-vector extractor work.
#pragma once

#include <cstdio>
#include <vector>

#include "IvectorExt/ivext/utterance-stats.h"

namespace ivext {

class IvExtractor {
 public:
  IvExtractor();
  virtual ~IvExtractor();
  virtual int LoadModel(FILE* file, const bool& shareModel);
  virtual int Extract(const UtteranceStats<float>& stats, std::vector<float>& ivector);
  virtual int NumGaussians();
  virtual int FeatureDim();
  virtual int IvectorDim();
};

}  // namespace ivext
