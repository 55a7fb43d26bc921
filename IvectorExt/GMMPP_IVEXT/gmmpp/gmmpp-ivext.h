// Per-engine-instance statistics front of the i-vector stage, over the
// process-wide pair of GMMs (model 1 selects the best Gaussians of a frame,
// model 2 gives the posteriors of those) and the i-vector extractor.
//
// Thread safety: InitModels, ReleaseModels and construction serialise on one
// mutex. Frame work reads the shared models without locking, so instances may
// run in parallel while nobody releases the models; one instance is used by
// one thread at a time.
#pragma once

#include <cstdio>
#include <vector>

#include "IvectorExt/ivext/utterance-stats.h"

namespace gmmpp_ivext {

class GmmppCalculator;

class GmmppIvext {
 public:
  GmmppIvext();
  virtual ~GmmppIvext();
  GmmppIvext(const GmmppIvext&) = delete;
  GmmppIvext& operator=(const GmmppIvext&) = delete;

  // Each instance operation returns 0x30105301 while the models are not ready.
  virtual int ExtractIvector(std::vector<float>& out);
  // Statistics of `features` alone (the instance's statistics are untouched).
  virtual int ExtractIvectorFromFeatures(const std::vector<float>& features,
                                         std::vector<float>& out);
  virtual int ResetStats();
  virtual int AccumulateFeatures(const std::vector<float>& features);

  static int InitModels(FILE* model1, FILE* model2, FILE* extractorModel, int gselectCount,
                        float minPosterior, int featureDim, const bool& shareModel);
  static void ReleaseModels();

  // Null when the models were not ready at construction.
  const UtteranceStats<float>* Stats() const { return stats; }

  // Adds every whole frame of `features` (rows of featureDim values) to
  // `stats`: `selection` picks its best Gaussians, `posterior` evaluates
  // exactly those. Stops at the first nonzero code; earlier frames stay added.
  static int AccumulateFrames(GmmppCalculator& selection, GmmppCalculator& posterior,
                              int featureDim, const std::vector<float>& features,
                              UtteranceStats<float>& stats);

 private:
  UtteranceStats<float>* stats = nullptr;
};

}  // namespace gmmpp_ivext
