#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"

#include <memory>
#include <new>

#include "common/result-codes.h"

namespace gmmpp_ivext {

GmmppIvext::GmmppIvext(const IvectorModels* models) : models(models) {
  if (models == nullptr) return;
  try {
    stats =
        new UtteranceStats<float>(models->extractor.FeatureDim(), models->extractor.NumGaussians());
  } catch (const std::bad_alloc&) {
    stats = nullptr;
  }
}

GmmppIvext::~GmmppIvext() {
  delete stats;
}

int GmmppIvext::InitModels(FILE* model1, FILE* model2, FILE* extractorModel, int gselectCount,
                           float minPosterior, int featureDim, const bool& shareModel,
                           IvectorModels* models) {
  int rc = models->selectionGmm.LoadModel(1, model1, gselectCount, 0.0f);
  if (rc == 0) rc = models->posteriorGmm.LoadModel(2, model2, gselectCount, minPosterior);
  if (rc == 0) rc = models->extractor.LoadModel(extractorModel, shareModel);
  if (rc != 0) return rc;
  models->gselectCount = gselectCount;
  models->featureDim = featureDim;
  return 0;
}

int GmmppIvext::AccumulateFrames(const GmmppCalculator& selection, const GmmppCalculator& posterior,
                                 int featureDim, const std::vector<float>& features,
                                 UtteranceStats<float>& stats) {
  // A model wider than the frame would read past it.
  if (featureDim < 1 || selection.FeatureDim() > featureDim ||
      posterior.FeatureDim() > featureDim) {
    return jor::kStatsMismatch;
  }
  const size_t dim = static_cast<size_t>(featureDim);
  const size_t numFrames = features.size() / dim;
  if (numFrames == 0) return 0;
  const int selectSize = selection.OutSize() > 0 ? selection.OutSize() : 0;
  const int keepSize = posterior.OutSize() > 0 ? posterior.OutSize() : 0;
  std::vector<int> selIdx;
  std::vector<float> selPost;
  std::vector<int> postIdx;
  std::vector<float> postPost;
  std::vector<float> frame;
  std::vector<int> indices;
  std::vector<float> posteriors;
  try {
    selIdx.resize(static_cast<size_t>(selectSize));
    selPost.resize(static_cast<size_t>(selectSize));
    postIdx.resize(static_cast<size_t>(keepSize));
    postPost.resize(static_cast<size_t>(keepSize));
    frame.resize(dim);
    indices.reserve(static_cast<size_t>(keepSize));
    posteriors.reserve(static_cast<size_t>(keepSize));
  } catch (const std::bad_alloc&) {
    return kGmmppNoMemory;
  }
  for (size_t t = 0; t < numFrames; ++t) {
    const float* obs = features.data() + t * dim;
    int nSelected = 0;
    int rc = selection.CalcPosteriors(obs, nullptr, 0, selIdx.data(), selPost.data(), &nSelected);
    if (rc != 0) return rc;
    int nKept = 0;
    rc = posterior.CalcPosteriors(obs, selIdx.data(), nSelected, postIdx.data(), postPost.data(),
                                  &nKept);
    if (rc != 0) return rc;
    frame.assign(obs, obs + dim);
    indices.assign(postIdx.begin(), postIdx.begin() + nKept);
    posteriors.assign(postPost.begin(), postPost.begin() + nKept);
    rc = stats.Accumulate(frame, indices, posteriors);
    if (rc != 0) return rc;
  }
  return 0;
}

namespace {

// Statistics sized by the loaded extractor; null when memory runs out.
std::unique_ptr<UtteranceStats<float>> EmptyStats(const IvectorModels& m) {
  try {
    return std::make_unique<UtteranceStats<float>>(m.extractor.FeatureDim(),
                                                   m.extractor.NumGaussians());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

int GmmppIvext::ExtractIvector(std::vector<float>& out) {
  if (models == nullptr || stats == nullptr) return jor::kGmmppNotReady;
  return models->extractor.Extract(*stats, out);
}

int GmmppIvext::ExtractIvectorFromFeatures(const std::vector<float>& features,
                                           std::vector<float>& out) {
  if (models == nullptr) return jor::kGmmppNotReady;
  std::unique_ptr<UtteranceStats<float>> fresh = EmptyStats(*models);
  if (!fresh) return kGmmppNoMemory;
  int rc = AccumulateFrames(models->selectionGmm, models->posteriorGmm, models->featureDim,
                            features, *fresh);
  if (rc == 0) rc = models->extractor.Extract(*fresh, out);
  return rc;
}

int GmmppIvext::ResetStats() {
  if (models == nullptr) return jor::kGmmppNotReady;
  std::unique_ptr<UtteranceStats<float>> fresh = EmptyStats(*models);
  if (!fresh) return kGmmppNoMemory;
  delete stats;
  stats = fresh.release();
  return 0;
}

int GmmppIvext::AccumulateFeatures(const std::vector<float>& features) {
  if (models == nullptr || stats == nullptr) return jor::kGmmppNotReady;
  return AccumulateFrames(models->selectionGmm, models->posteriorGmm, models->featureDim, features,
                          *stats);
}

}  // namespace gmmpp_ivext
