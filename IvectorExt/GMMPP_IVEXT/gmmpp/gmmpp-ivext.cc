#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-calculator.h"
#include "IvectorExt/ivext/iv-extractor.h"

namespace gmmpp_ivext {
namespace {

constexpr int kNotReady = static_cast<int>(0x30105301u);
constexpr int kStatsMismatch = static_cast<int>(0x40007005u);

struct SharedModels {
  std::mutex modelMutex;
  std::atomic<bool> modelsReady{false};
  GmmppCalculator* selectionGmm = nullptr;
  GmmppCalculator* posteriorGmm = nullptr;
  ivext::IvExtractor* extractor = nullptr;
  int gselectCount = 0;
  int featureDim = 0;
};

SharedModels& Models() {
  static SharedModels* models = new SharedModels();  // outlives static destruction
  return *models;
}

template <typename T>
void Renew(T*& object) {
  delete object;
  object = nullptr;
  object = new T();
}

}  // namespace

GmmppIvext::GmmppIvext() {
  SharedModels& s = Models();
  std::lock_guard<std::mutex> lock(s.modelMutex);
  if (!s.modelsReady) return;
  try {
    stats = new UtteranceStats<float>(s.extractor->FeatureDim(), s.extractor->NumGaussians());
  } catch (const std::bad_alloc&) {
    stats = nullptr;
  }
}

GmmppIvext::~GmmppIvext() {
  delete stats;
}

int GmmppIvext::InitModels(FILE* model1, FILE* model2, FILE* extractorModel, int gselectCount,
                           float minPosterior, int featureDim, const bool& shareModel) {
  SharedModels& s = Models();
  std::lock_guard<std::mutex> lock(s.modelMutex);
  try {
    if (s.selectionGmm == nullptr) s.selectionGmm = new GmmppCalculator();
    if (s.posteriorGmm == nullptr) s.posteriorGmm = new GmmppCalculator();
    if (s.extractor == nullptr) s.extractor = new ivext::IvExtractor();

    int rc = s.selectionGmm->LoadModel(1, model1, gselectCount, 0.0f);
    if (rc != 0) {
      Renew(s.selectionGmm);
      return rc;
    }
    rc = s.posteriorGmm->LoadModel(2, model2, gselectCount, minPosterior);
    if (rc != 0) {
      Renew(s.selectionGmm);
      Renew(s.posteriorGmm);
      return rc;
    }
    rc = s.extractor->LoadModel(extractorModel, shareModel);
    if (rc != 0) {
      Renew(s.selectionGmm);
      Renew(s.posteriorGmm);
      Renew(s.extractor);
      return rc;
    }
  } catch (const std::bad_alloc&) {
    return kGmmppNoMemory;
  }
  s.gselectCount = gselectCount;
  s.featureDim = featureDim;
  s.modelsReady = true;
  return 0;
}

void GmmppIvext::ReleaseModels() {
  SharedModels& s = Models();
  std::lock_guard<std::mutex> lock(s.modelMutex);
  s.modelsReady = false;
  delete s.selectionGmm;
  s.selectionGmm = nullptr;
  delete s.posteriorGmm;
  s.posteriorGmm = nullptr;
  delete s.extractor;
  s.extractor = nullptr;
}

int GmmppIvext::AccumulateFrames(GmmppCalculator& selection, GmmppCalculator& posterior,
                                 int featureDim, const std::vector<float>& features,
                                 UtteranceStats<float>& stats) {
  // A model wider than the frame would read past it.
  if (featureDim < 1 || selection.FeatureDim() > featureDim ||
      posterior.FeatureDim() > featureDim) {
    return kStatsMismatch;
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
std::unique_ptr<UtteranceStats<float>> EmptyStats(const SharedModels& s) {
  try {
    return std::make_unique<UtteranceStats<float>>(s.extractor->FeatureDim(),
                                                   s.extractor->NumGaussians());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

int GmmppIvext::ExtractIvector(std::vector<float>& out) {
  SharedModels& s = Models();
  if (!s.modelsReady || stats == nullptr) return kNotReady;
  return s.extractor->Extract(*stats, out);
}

int GmmppIvext::ExtractIvectorFromFeatures(const std::vector<float>& features,
                                           std::vector<float>& out) {
  SharedModels& s = Models();
  if (!s.modelsReady) return kNotReady;
  std::unique_ptr<UtteranceStats<float>> fresh = EmptyStats(s);
  if (!fresh) return kGmmppNoMemory;
  int rc = AccumulateFrames(*s.selectionGmm, *s.posteriorGmm, s.featureDim, features, *fresh);
  if (rc == 0) rc = s.extractor->Extract(*fresh, out);
  return rc;
}

int GmmppIvext::ResetStats() {
  SharedModels& s = Models();
  if (!s.modelsReady) return kNotReady;
  std::unique_ptr<UtteranceStats<float>> fresh = EmptyStats(s);
  if (!fresh) return kGmmppNoMemory;
  delete stats;
  stats = fresh.release();
  return 0;
}

int GmmppIvext::AccumulateFeatures(const std::vector<float>& features) {
  SharedModels& s = Models();
  if (!s.modelsReady || stats == nullptr) return kNotReady;
  return AccumulateFrames(*s.selectionGmm, *s.posteriorGmm, s.featureDim, features, *stats);
}

}  // namespace gmmpp_ivext
