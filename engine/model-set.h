// The models of one deployment, loaded once and then read-only: the feature
// options, the two GMMs with the i-vector extractor, the scoring back-end
// (verifier) and the x-vector network, checked against each other as a whole.
//
// Engine initialisation builds one set (LoadDeployment) and hands every
// engine instance a const reference to it; termination destroys it. A const
// ModelSet only reads, so any number of threads may use it at once. Tools
// that need part of a deployment run the load steps they need, then Check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "IvectorExt/featext/mfcc-options.h"
#include "common/result-codes.h"

namespace ivdist {
class Verifier;
}
namespace XVECTOR {
class C_XVEXT;
}

namespace ravel_engine {

class ModelSet {
 public:
  ModelSet();
  ~ModelSet();
  ModelSet(const ModelSet&) = delete;
  ModelSet& operator=(const ModelSet&) = delete;

  // The engine's whole load, in order: options from `mfccPath` (batch mode,
  // checked for both pipelines), the container at `modelPath`, its sections
  // 0, 1 and 2 (InitModels), 4, 5 and 3 (the verifier), the network at
  // `xvectorPath`, then Check. Returns 0 with the set in *out, or the first
  // failure (options and cross-section failures log one error line; the
  // section readers log their own).
  static jor::Result LoadDeployment(const char* modelPath, const std::string& mfccPath,
                                    const std::string& xvectorPath, int gselectCount,
                                    float minPosterior, bool shareModel,
                                    std::unique_ptr<const ModelSet>* out);

  // A set of the given options and verifier, without GMMs, extractor or
  // network, for tests and tools that build their parts themselves.
  static std::unique_ptr<ModelSet> FromParts(const jor_feat::MfccOptions& options,
                                             std::unique_ptr<ivdist::Verifier> verifier);

  // Load steps. LoadOptions runs first (the others size themselves by it).
  jor::Result LoadOptions(const std::string& mfccPath);
  // Both GMMs and the extractor, as GmmppIvext::InitModels.
  jor::Result LoadIvectorModels(FILE* selection, FILE* posterior, FILE* extractor, int gselectCount,
                                float minPosterior, bool shareModel);
  // The GMMs alone (tools that want statistics without i-vectors).
  jor::Result LoadGmms(FILE* selection, FILE* posterior, int gselectCount, float minPosterior);
  // The extractor, after LoadGmms.
  jor::Result LoadExtractor(FILE* extractor, bool shareModel);
  jor::Result LoadVerifier(FILE* meanVariance, FILE* whitening, FILE* splda);
  jor::Result LoadXvectorNet(const std::string& path);

  // Cross-section dimensions of the parts loaded: features against the GMMs,
  // the extractor and the network input; the selected Gaussians against both
  // GMMs; the extractor against the posterior GMM; the i-vector and the
  // embedding against the back-end. Returns 0 or the first mismatch's code,
  // with the reason in *why.
  jor::Result Check(std::string* why) const;

  const jor_feat::MfccOptions& FeatureOptions() const { return featureOptions; }
  // Null where a part was not loaded.
  const gmmpp_ivext::IvectorModels* Ivector() const { return ivector.get(); }
  const ivdist::Verifier* Verifier() const { return verifier.get(); }
  // GetXvector may run on many threads at once; the object is not changed
  // after loading.
  XVECTOR::C_XVEXT* XvectorNet() const { return xvectorNet.get(); }
  bool HasGmms() const { return hasGmms; }
  bool HasExtractor() const { return hasExtractor; }

  // Bytes of every template: 4 × the verifier's template size + 256.
  size_t TemplateSize() const { return templateSize; }
  uint8_t TemplateMajor() const { return 1; }
  uint8_t TemplateMinor() const { return 1; }

 private:
  jor_feat::MfccOptions featureOptions;
  std::unique_ptr<gmmpp_ivext::IvectorModels> ivector;
  std::unique_ptr<ivdist::Verifier> verifier;
  std::unique_ptr<XVECTOR::C_XVEXT> xvectorNet;
  bool hasGmms = false;
  bool hasExtractor = false;
  size_t templateSize = 0;
};

}  // namespace ravel_engine
