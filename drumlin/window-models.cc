#include "drumlin/window-models.h"

#include <new>

#include "common/model/model_manager.h"
#include "common/join-path.h"

namespace drumlin {

int WindowModels::Load(const char* modelDir) {
  loaded_ = false;
  try {
    const std::string mfccPath = common::JoinPath(modelDir, "mfcc-options.json");
    const std::string containerPath = common::JoinPath(modelDir, "ulxmodel.dat");
    const std::string networkPath = common::JoinPath(modelDir, "xe5.pb");

    auto options = std::make_unique<jor_feat::MfccOptions>(mfccPath, jor_feat::kModeBatch);
    std::string why;
    uint32_t r = options->Validate(&why);
    if (r != 0) return static_cast<int>(r);

    // The verifier consumes its section streams; the batch scorer reads the
    // SPLDA section again from a second opening of the container.
    auto verifier = std::make_unique<ivdist::Verifier>();
    {
      common::model::ModelManager container(containerPath.c_str());
      r = container.initialize();
      if (r != 0) return static_cast<int>(r);
      const int v = verifier->Load(container.MeanVariance(), container.Whitening(),
                                   container.Splda());
      if (v != 0) return v;
    }
    auto splda = std::make_unique<ivdist::splda::Splda<float>>();
    {
      common::model::ModelManager container(containerPath.c_str());
      r = container.initialize();
      if (r != 0) return static_cast<int>(r);
      if (container.Splda() == nullptr) return kWindowModelsNoSplda;
      const int s = splda->Load(container.Splda());
      if (s != 0) return s;
    }
    auto network = std::make_unique<XVECTOR::C_XVEXT>();
    const int n = network->Init(networkPath, 0);
    if (n != 0) return n;

    options_ = std::move(options);
    verifier_ = std::move(verifier);
    splda_ = std::move(splda);
    network_ = std::move(network);
    templateValues_ = splda_->TransformedSize();
    loaded_ = true;
    return 0;
  } catch (const std::bad_alloc&) {
    return kWindowModelsNoMemory;
  }
}

int WindowModels::Embed(const std::vector<float>& rows, std::vector<float>* embedding) const {
  embedding->clear();
  const int r = network_->GetXvector(rows, *embedding);
  if (r != 0) return r;
  if (embedding->size() != static_cast<size_t>(splda_->Dimension())) return kWindowModelsMismatch;
  return 0;
}

int WindowModels::Transform(const std::vector<float>& embedding,
                            std::vector<float>* values) const {
  return verifier_->Transform(embedding, values);
}

int WindowModels::ScoreMany(const float* probe, const float* templates, size_t n,
                            float* results) const {
  return splda_->ScoreTransformedMany(probe, templateValues_, templates, n, results);
}

}  // namespace drumlin
