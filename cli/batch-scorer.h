// Scores one template against many at once with the deployment's SPLDA
// model, the batch form of the engine's comparison: every score equals the
// library's compare of the probe (first) and that template (second), bit
// for bit, duration adjustment and 0..100 mapping included.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace ivdist::splda {
template <typename T>
class Splda;
}

namespace ravel_cli {

class BatchScorer {
 public:
  // Loads the SPLDA section of "ulxmodel.dat" in `modelsDir`; throws
  // CliError(kExitRefused) with the engine's status and detail.
  explicit BatchScorer(const std::string& modelsDir);
  ~BatchScorer();

  // Scores (0..100) of `probe` against each of `references`, which must be
  // valid templates of the deployment. Throws CliError on a length mismatch.
  std::vector<float> Score(const std::vector<char>& probe,
                           const std::vector<const std::vector<char>*>& references) const;

 private:
  std::unique_ptr<ivdist::splda::Splda<float>> splda_;
};

}  // namespace ravel_cli
