// One loaded GMM with its selection settings: how many Gaussians a frame keeps
// and the posterior floor.
#pragma once

#include <cstdio>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp.h"

namespace gmmpp_ivext {

class GmmppCalculator {
 public:
  GmmppCalculator() = default;
  virtual ~GmmppCalculator();
  GmmppCalculator(const GmmppCalculator&) = delete;
  GmmppCalculator& operator=(const GmmppCalculator&) = delete;

  // Reads model `id` (1 or 2) from `file` with HTKread and prepares it with
  // GMMPP_Init. Returns the first nonzero code (HTKread or GMMPP_Init), else 0.
  virtual int LoadModel(const int& id, FILE* file, const int& outSize, const float& threshold);
  // GMMPP_Calc with the stored outSize and threshold.
  virtual int CalcPosteriors(const float* obs, const int* candidates, int nCandidates, int* outIdx,
                             float* outPost, int* outCount) const;

  // 0 while no model is loaded.
  int NumGaussians() const { return gmmpp != nullptr ? gmmpp->nMix : 0; }
  int FeatureDim() const { return gmmpp != nullptr ? gmmpp->nDim : 0; }
  int OutSize() const { return outSize; }
  float Threshold() const { return threshold; }

 private:
  GMMPP* gmmpp = nullptr;
  int id = 0;
  int outSize = 0;
  float threshold = 0.0f;
};

}  // namespace gmmpp_ivext
