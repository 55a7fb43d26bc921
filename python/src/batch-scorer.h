// Scores one template against many stored ones with the engine's verifier,
// read from the model container of a deployment folder: the scores equal
// RecCompare(probe, stored) bit for bit, but a whole block of stored
// templates is scored in one interleaved pass.
//
// Immutable after construction; Score may run on several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ivdist {
class Verifier;
}

namespace ravel_py {

class BatchScorer {
 public:
  // Loads the normalisation, whitening and SPLDA sections of
  // "<modelsDir>/ulxmodel.dat"; throws EngineError when they cannot be read.
  explicit BatchScorer(const std::string& modelsDir);
  ~BatchScorer();
  BatchScorer(const BatchScorer&) = delete;
  BatchScorer& operator=(const BatchScorer&) = delete;

  // Values of a transformed template, 2D+1.
  uint32_t Values() const { return values_; }

  // results[j] = score of `probe` (Values() floats) against stored row j of
  // `rows` (n rows of Values() floats) with the stored template's duration.
  // NaN where the scores overflow.
  void Score(const float* probe, const float* rows, size_t n, const float* durations,
             float* results) const;

 private:
  std::unique_ptr<ivdist::Verifier> verifier_;
  uint32_t values_ = 0;
};

}  // namespace ravel_py
