// Per-engine-instance statistics front of the i-vector stage, over the pair
// of GMMs of a deployment (model 1 selects the best Gaussians of a frame,
// model 2 gives the posteriors of those) and its i-vector extractor.
//
// Thread safety: the models are loaded once (InitModels) and only read
// afterwards, so any number of instances may use them at once; one instance
// is used by one thread at a time. The models must outlive every instance
// made on them.
#pragma once

#include <cstdio>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-calculator.h"
#include "IvectorExt/ivext/iv-extractor.h"
#include "IvectorExt/ivext/utterance-stats.h"

namespace gmmpp_ivext {

// The two GMMs and the i-vector extractor of one deployment, with the
// selection settings; written by InitModels, read-only afterwards.
struct IvectorModels {
  GmmppCalculator selectionGmm;
  GmmppCalculator posteriorGmm;
  ivext::IvExtractor extractor;
  int gselectCount = 0;
  int featureDim = 0;
};

class GmmppIvext {
 public:
  // `models` null (no i-vector models loaded): every operation returns
  // jor::kGmmppNotReady.
  explicit GmmppIvext(const IvectorModels* models);
  virtual ~GmmppIvext();
  GmmppIvext(const GmmppIvext&) = delete;
  GmmppIvext& operator=(const GmmppIvext&) = delete;

  virtual int ExtractIvector(std::vector<float>& out);
  // Statistics of `features` alone (the instance's statistics are untouched).
  virtual int ExtractIvectorFromFeatures(const std::vector<float>& features,
                                         std::vector<float>& out);
  virtual int ResetStats();
  virtual int AccumulateFeatures(const std::vector<float>& features);

  // Loads the selection GMM (model 1, floor 0), the posterior GMM (model 2,
  // floor `minPosterior`) and the extractor into `models`, in this order;
  // returns the first nonzero code (the reader's, GMMPP_Init's or the
  // extractor's), else 0. A failed load leaves `models` unusable.
  static int InitModels(FILE* model1, FILE* model2, FILE* extractorModel, int gselectCount,
                        float minPosterior, int featureDim, const bool& shareModel,
                        IvectorModels* models);

  // Null when there were no models, or no memory, at construction.
  const UtteranceStats<float>* Stats() const { return stats; }

  // Adds every whole frame of `features` (rows of featureDim values) to
  // `stats`: `selection` picks its best Gaussians, `posterior` evaluates
  // exactly those. Stops at the first nonzero code; earlier frames stay added.
  static int AccumulateFrames(const GmmppCalculator& selection, const GmmppCalculator& posterior,
                              int featureDim, const std::vector<float>& features,
                              UtteranceStats<float>& stats);

 private:
  const IvectorModels* models = nullptr;
  UtteranceStats<float>* stats = nullptr;
};

}  // namespace gmmpp_ivext
