#include "engine/model-set.h"

#include <cmath>

#include "brindle/xvext.h"
#include "common/model/model_manager.h"
#include "engine/logging.h"
#include "ivdist/verifier.h"

namespace ravel_engine {

ModelSet::ModelSet() = default;
ModelSet::~ModelSet() = default;

std::unique_ptr<ModelSet> ModelSet::FromParts(const jor_feat::MfccOptions& options,
                                              std::unique_ptr<ivdist::Verifier> verifier) {
  auto set = std::make_unique<ModelSet>();
  set->featureOptions = options;
  set->verifier = std::move(verifier);
  if (set->verifier)
    set->templateSize = 4 * static_cast<size_t>(set->verifier->TemplateSize()) + 256;
  return set;
}

jor::Result ModelSet::LoadOptions(const std::string& mfccPath) {
  featureOptions = jor_feat::MfccOptions(mfccPath, jor_feat::kModeBatch);
  // Resolve for both pipelines: each must be able to build its machinery.
  std::string why;
  jor::Result r = featureOptions.Validate(&why);
  if (r == 0) r = featureOptions.Resolved(jor_feat::kModeOnline).Validate(&why);
  if (r) {
    JOR_LOG(jor_log::kError, "Ravel_Initialize", __LINE__, "Invalid feature options in %s: %s",
            mfccPath.c_str(), why.c_str());
  }
  return r;
}

jor::Result ModelSet::LoadIvectorModels(FILE* selection, FILE* posterior, FILE* extractor,
                                        int gselectCount, float minPosterior, bool shareModel) {
  hasGmms = hasExtractor = false;
  ivector = std::make_unique<gmmpp_ivext::IvectorModels>();
  const jor::Result r = static_cast<jor::Result>(gmmpp_ivext::GmmppIvext::InitModels(
      selection, posterior, extractor, gselectCount, minPosterior, featureOptions.FeatureDim(),
      shareModel, ivector.get()));
  if (r) {
    ivector.reset();
    return r;
  }
  hasGmms = hasExtractor = true;
  return 0;
}

jor::Result ModelSet::LoadGmms(FILE* selection, FILE* posterior, int gselectCount,
                               float minPosterior) {
  hasGmms = hasExtractor = false;
  ivector = std::make_unique<gmmpp_ivext::IvectorModels>();
  jor::Result r =
      static_cast<jor::Result>(ivector->selectionGmm.LoadModel(1, selection, gselectCount, 0.0f));
  if (r == 0)
    r = static_cast<jor::Result>(
        ivector->posteriorGmm.LoadModel(2, posterior, gselectCount, minPosterior));
  if (r) {
    ivector.reset();
    return r;
  }
  ivector->gselectCount = gselectCount;
  ivector->featureDim = featureOptions.FeatureDim();
  hasGmms = true;
  return 0;
}

jor::Result ModelSet::LoadExtractor(FILE* extractor, bool shareModel) {
  if (!hasGmms) return jor::kGmmppNotReady;
  hasExtractor = false;
  const jor::Result r =
      static_cast<jor::Result>(ivector->extractor.LoadModel(extractor, shareModel));
  if (r == 0) hasExtractor = true;
  return r;
}

jor::Result ModelSet::LoadVerifier(FILE* meanVariance, FILE* whitening, FILE* splda) {
  verifier = std::make_unique<ivdist::Verifier>();
  const jor::Result r = static_cast<jor::Result>(verifier->Load(meanVariance, whitening, splda));
  if (r) {
    verifier.reset();
    templateSize = 0;
    return r;
  }
  templateSize = 4 * static_cast<size_t>(verifier->TemplateSize()) + 256;
  return 0;
}

jor::Result ModelSet::LoadXvectorNet(const std::string& path) {
  xvectorNet = std::make_unique<XVECTOR::C_XVEXT>();
  const jor::Result r = static_cast<jor::Result>(xvectorNet->Init(path, 0));
  if (r) xvectorNet.reset();
  return r;
}

jor::Result ModelSet::Check(std::string* why) const {
  auto fail = [why](jor::Result code, const std::string& text) {
    if (why) *why = text;
    return code;
  };
  auto pair = [](int a, int b) {
    return " (" + std::to_string(a) + " against " + std::to_string(b) + ")";
  };
  const int features = featureOptions.FeatureDim();
  const int backEnd = verifier ? verifier->InputDimension() : 0;
  if (verifier && backEnd <= 0)
    return fail(jor::kBackEndInconsistent,
                "mean/variance, whitening and SPLDA sections differ in dimension");
  if (hasGmms) {
    const gmmpp_ivext::IvectorModels& m = *ivector;
    const int select = m.gselectCount;
    const float floor = m.posteriorGmm.Threshold();
    if (select < 1 || !(floor >= 0.0f && floor < 1.0f))
      return fail(jor::kSelectionSettings, "selected Gaussians " + std::to_string(select) +
                                               ", posterior floor " + std::to_string(floor));
    if (m.selectionGmm.FeatureDim() != features)
      return fail(jor::kFeaturesVsSelectionGmm, "selection GMM dimension against features" +
                                                    pair(m.selectionGmm.FeatureDim(), features));
    if (m.posteriorGmm.FeatureDim() != features)
      return fail(jor::kFeaturesVsPosteriorGmm, "posterior GMM dimension against features" +
                                                    pair(m.posteriorGmm.FeatureDim(), features));
    if (m.selectionGmm.NumGaussians() < select)
      return fail(jor::kSelectionGmmTooSmall, "selection GMM Gaussians against those selected" +
                                                  pair(m.selectionGmm.NumGaussians(), select));
    if (m.posteriorGmm.NumGaussians() < select)
      return fail(jor::kPosteriorGmmTooSmall, "posterior GMM Gaussians against those selected" +
                                                  pair(m.posteriorGmm.NumGaussians(), select));
    if (m.selectionGmm.NumGaussians() != m.posteriorGmm.NumGaussians())
      return fail(jor::kGmmsDiffer,
                  "selection GMM Gaussians against the posterior GMM's" +
                      pair(m.selectionGmm.NumGaussians(), m.posteriorGmm.NumGaussians()));
  }
  if (hasExtractor) {
    const gmmpp_ivext::IvectorModels& m = *ivector;
    if (m.extractor.FeatureDim() != features)
      return fail(jor::kFeaturesVsExtractor, "i-vector extractor dimension against features" +
                                                 pair(m.extractor.FeatureDim(), features));
    if (m.extractor.NumGaussians() != m.posteriorGmm.NumGaussians())
      return fail(jor::kExtractorVsPosteriorGmm,
                  "i-vector extractor Gaussians against the posterior GMM's" +
                      pair(m.extractor.NumGaussians(), m.posteriorGmm.NumGaussians()));
    if (verifier && m.extractor.IvectorDim() != backEnd)
      return fail(jor::kIvectorVsBackEnd, "i-vector dimension against the back-end's" +
                                              pair(m.extractor.IvectorDim(), backEnd));
  }
  if (xvectorNet) {
    if (xvectorNet->InputDim() != features)
      return fail(jor::kXvectorVsFeatures, "x-vector network input against features" +
                                               pair(xvectorNet->InputDim(), features));
    if (verifier && xvectorNet->EmbeddingDim() != backEnd)
      return fail(jor::kXvectorVsBackEnd, "x-vector embedding against the back-end's" +
                                              pair(xvectorNet->EmbeddingDim(), backEnd));
  }
  return 0;
}

jor::Result ModelSet::LoadDeployment(const char* modelPath, const std::string& mfccPath,
                                     const std::string& xvectorPath, int gselectCount,
                                     float minPosterior, bool shareModel,
                                     std::unique_ptr<const ModelSet>* out) {
  auto set = std::make_unique<ModelSet>();
  // The container comes before the option checks: a folder that is missing or
  // holds no models must be reported as such, not as the invalid default
  // options that its missing "mfcc-options.json" leaves. Its streams live
  // until this function returns.
  common::model::ModelManager container(modelPath);
  jor::Result r = container.initialize();
  if (r) {
    JOR_LOG(jor_log::kError, "Ravel_Initialize", __LINE__,
            "Cannot read the model container %s (detail 0x%X)", modelPath ? modelPath : "",
            jor::DetailOf(r));
    return r;
  }
  r = set->LoadOptions(mfccPath);
  if (r) return r;
  r = set->LoadIvectorModels(container.SelectionGmm(), container.PosteriorGmm(),
                             container.IvectorExtractor(), gselectCount, minPosterior, shareModel);
  if (r) return r;
  r = set->LoadVerifier(container.MeanVariance(), container.Whitening(), container.Splda());
  if (r) return r;
  r = set->LoadXvectorNet(xvectorPath);
  if (r) return r;
  std::string why;
  r = set->Check(&why);
  if (r) {
    JOR_LOG(jor_log::kError, "Ravel_Initialize", __LINE__,
            "Inconsistent deployment %s: %s (status %d, detail 0x%x)", modelPath ? modelPath : "",
            why.c_str(), jor::StatusOf(r), jor::DetailOf(r));
    return r;
  }
  *out = std::move(set);
  return 0;
}

}  // namespace ravel_engine
