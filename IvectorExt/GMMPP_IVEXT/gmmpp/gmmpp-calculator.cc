#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-calculator.h"

namespace gmmpp_ivext {

GmmppCalculator::~GmmppCalculator() {
  GMMPP_Free(&gmmpp);
}

int GmmppCalculator::LoadModel(const int& id, FILE* file, const int& outSize,
                               const float& threshold) {
  this->id = id;
  this->outSize = outSize;
  this->threshold = threshold;
  GMMPP_Free(&gmmpp);
  HTK_HMMS scratch;
  HTKinit(&scratch);
  int rc = HTKread(id, file, &scratch);
  if (rc == 0) rc = GMMPP_Init(&gmmpp, &scratch);
  HTKfree(&scratch);
  if (rc != 0) GMMPP_Free(&gmmpp);
  return rc;
}

int GmmppCalculator::CalcPosteriors(const float* obs, const int* candidates, int nCandidates,
                                    int* outIdx, float* outPost, int* outCount) const {
  // GMMPP_Calc only reads the record; its handle argument is not written.
  GMMPP* record = gmmpp;
  return GMMPP_Calc(&record, obs, candidates, nCandidates, outIdx, outSize, outPost,
                    static_cast<double>(threshold), outCount);
}

}  // namespace gmmpp_ivext
