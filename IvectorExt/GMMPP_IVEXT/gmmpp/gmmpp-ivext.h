// PLACEHOLDER: replaced by the GMM posterior / statistics front.
#pragma once

#include <cstdio>
#include <vector>

namespace gmmpp_ivext {

class GmmppIvext {
 public:
  GmmppIvext() = default;
  virtual ~GmmppIvext() = default;
  virtual int ExtractIvector(std::vector<float>& out);
  virtual int ExtractIvectorFromFeatures(const std::vector<float>& features,
                                         std::vector<float>& out);
  virtual int ResetStats();
  virtual int AccumulateFeatures(const std::vector<float>& features);

  static int InitModels(FILE* model1, FILE* model2, FILE* extractorModel, int gselectCount,
                        float minPosterior, int featureDim, const bool& shareModel);
  static void ReleaseModels();
};

}  // namespace gmmpp_ivext
