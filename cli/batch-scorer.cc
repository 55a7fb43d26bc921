#include "cli/batch-scorer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cli/arguments.h"
#include "cli/engine-session.h"
#include "common/model/model_manager.h"
#include "ivdist/score-post-processing.h"
#include "ivdist/splda.h"

namespace ravel_cli {
namespace {

constexpr size_t kHeaderBytes = 256;
constexpr size_t kDurationPos = 15;

int StatusOf(uint32_t r) {
  return static_cast<int>(r >> 20);
}
int DetailOf(uint32_t r) {
  return static_cast<int>(r & 0xFFFFF);
}

}  // namespace

BatchScorer::BatchScorer(const std::string& modelsDir)
    : splda_(std::make_unique<ivdist::splda::Splda<float>>()) {
  const std::string path = modelsDir + "/ulxmodel.dat";
  common::model::ModelManager container(path.c_str());
  uint32_t r = container.initialize();
  if (r == 0) r = static_cast<uint32_t>(splda_->Load(container.Splda()));
  if (r != 0) {
    throw CliError(kExitRefused,
                   "cannot load the scoring model of " + path + ": " +
                       DescribeEngineResult(StatusOf(r), DetailOf(r)),
                   StatusOf(r), DetailOf(r));
  }
}

BatchScorer::~BatchScorer() = default;

std::vector<float> BatchScorer::Score(
    const std::vector<char>& probe, const std::vector<const std::vector<char>*>& references) const {
  const size_t values = splda_->TransformedSize();
  const size_t bytes = kHeaderBytes + 4 * values;
  const auto mismatch = [&] {
    return CliError(kExitRefused,
                    "templates do not fit the deployment's scoring model: " +
                        DescribeEngineResult(1536, 0x8006),
                    1536, 0x8006);
  };
  if (probe.size() != bytes) throw mismatch();
  // The references back to back, as the batch scorer reads them.
  std::vector<float> packed(values * references.size());
  for (size_t j = 0; j < references.size(); ++j) {
    if (references[j]->size() != bytes) throw mismatch();
    std::memcpy(&packed[j * values], references[j]->data() + kHeaderBytes, 4 * values);
  }
  std::vector<float> raw(references.size());
  const int r = splda_->ScoreTransformedMany(
      reinterpret_cast<const float*>(probe.data() + kHeaderBytes), static_cast<uint32_t>(values),
      packed.data(), references.size(), raw.data());
  if (r != 0) {
    throw CliError(kExitRefused,
                   "cannot score: " + DescribeEngineResult(StatusOf(static_cast<uint32_t>(r)),
                                                           DetailOf(static_cast<uint32_t>(r))));
  }
  // The engine's mapping: the reference's duration lowers the raw score,
  // then 0.4 s + 60, clamped to [0, 100].
  const ivdist::score::ScorePostProcessing post;
  std::vector<float> scores(references.size());
  for (size_t j = 0; j < references.size(); ++j) {
    if (std::isnan(raw[j]))
      throw CliError(kExitRefused, "score out of range: " + DescribeEngineResult(1536, 0x8008));
    double s = static_cast<double>(raw[j]);
    float duration = 0;
    std::memcpy(&duration, references[j]->data() + kDurationPos, 4);
    if (duration > 0.0f) {
      const double thousands = static_cast<double>(duration / 1000.0f);
      post.Adjust(&s, &thousands);
    }
    s = s * 0.4 + 60.0;
    const float v = static_cast<float>(s);
    scores[j] = v < 0.0f ? 0.0f : std::min(100.0f, v);
  }
  return scores;
}

}  // namespace ravel_cli
