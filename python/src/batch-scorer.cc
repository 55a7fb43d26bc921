#include "python/src/batch-scorer.h"

#include "common/model/model_manager.h"
#include "common/result-codes.h"
#include "ivdist/verifier.h"
#include "python/src/engine-error.h"

namespace ravel_py {

namespace {

[[noreturn]] void Fail(uint32_t result, const char* operation) {
  throw EngineError(jor::StatusOf(result), static_cast<int>(jor::DetailOf(result)), operation);
}

}  // namespace

BatchScorer::BatchScorer(const std::string& modelsDir) : verifier_(new ivdist::Verifier()) {
  const std::string path = (modelsDir.empty() ? std::string(".") : modelsDir) + "/ulxmodel.dat";
  common::model::ModelManager container(path.c_str());
  uint32_t r = container.initialize();
  if (r) Fail(r, "model container");
  r = static_cast<uint32_t>(
      verifier_->Load(container.MeanVariance(), container.Whitening(), container.Splda()));
  if (r) Fail(r, "scoring model");
  values_ = verifier_->TemplateSize();
}

BatchScorer::~BatchScorer() = default;

void BatchScorer::Score(const float* probe, const float* rows, size_t n, const float* durations,
                        float* results) const {
  const uint32_t r =
      static_cast<uint32_t>(verifier_->ScoreMany(probe, values_, rows, n, durations, results));
  if (r) Fail(r, "ScoreMany");
}

}  // namespace ravel_py
