// A model container on arbitrary bytes through every section loader: the
// GMMs and the i-vector extractor (sections 0, 1, 2) and the scoring sections
// (4, 5, 3). When everything loads, a few frames go through the i-vector
// extractor and the scoring chain, which must then give a finite template.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "common/model/model_manager.h"
#include "fuzz/fuzz-util.h"
#include "ivdist/verifier.h"

namespace {
// The seed deployments have 6 cepstra and no deltas.
constexpr int kFeatureDim = 6;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  jor_fuzz::InputFile file("container_fuzz", data, size);
  common::model::ModelManager m(file.path().c_str());
  if (m.initialize() != 0) return 0;
  gmmpp_ivext::IvectorModels ivectorModels;
  const int models = gmmpp_ivext::GmmppIvext::InitModels(
      m.Section(0), m.Section(1), m.Section(2), 20, 0.025f, kFeatureDim, false, &ivectorModels);
  ivdist::Verifier verifier;
  const int scoring = verifier.Load(m.Section(4), m.Section(5), m.Section(3));
  if (models == 0 && scoring == 0) {
    gmmpp_ivext::GmmppIvext instance(&ivectorModels);
    std::vector<float> features(static_cast<size_t>(kFeatureDim) * 40);
    for (size_t i = 0; i < features.size(); ++i) features[i] = std::sin(0.37f * i) * 3.0f;
    std::vector<float> ivector;
    if (instance.ExtractIvectorFromFeatures(features, ivector) == 0) {
      std::vector<float> templ;
      if (verifier.Transform(ivector, &templ) == 0) {
        for (float v : templ)
          if (!std::isfinite(v)) jor_fuzz::Broken("a template value that is not finite");
      }
    }
  }
  return 0;
}
