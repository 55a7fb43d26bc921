// Scoring facade of the engine: turns a raw speaker vector into a transformed
// template (mean/variance normalisation, whitening, length normalisation,
// SPLDA transform) and a pair of transformed templates into a similarity on
// a 0 to 100 scale.
//
// One verifier serves the whole process. Load runs once during engine
// initialisation; afterwards Transform, Score and TemplateSize only read and
// may run on several threads at once.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "ivdist/mvn.h"
#include "ivdist/norm.h"
#include "ivdist/score-post-processing.h"
#include "ivdist/splda.h"

namespace ivdist {

class Verifier {
 public:
  Verifier();
  virtual ~Verifier();
  Verifier(const Verifier&) = delete;
  Verifier& operator=(const Verifier&) = delete;

  // mvn (float) -> whitening (double) -> LengthNormalize (double) -> float
  // -> SPLDA transform (float): 2D+1 values. A stage whose section was absent
  // is skipped. kOutOfRange when the vector cannot be length-normalised or
  // the result would hold a value that is not finite; otherwise the status of
  // the failing stage.
  virtual int Transform(const std::vector<float>& raw, std::vector<float>* out) const;
  // Raw SPLDA score of two templates (values read in place, any alignment),
  // lowered by 0.08 per 1000 units of `duration` (at most 60000) when the
  // duration is positive, then mapped by 0.4 s + 60 and clamped to [0, 100].
  // kNullResult null result; kWrongLength a count other than 2D+1; kOutOfRange
  // a raw score that is not a number; kSpldaUnreadable no SPLDA model.
  virtual int Score(const float* values1, const uint32_t* count1, const float* values2,
                    const uint32_t* count2, const float* duration, float* result) const;
  // Scores one probe against `n` templates stored back to back (2D+1 values
  // each, any alignment), durations[j] belonging to template j (null: no
  // adjustment). results[j] equals Score(probe, template j, durations[j]) bit
  // for bit; where Score would fail with kOutOfRange it is NaN. kNullResult
  // null results; kWrongLength a probe count other than 2D+1; kSpldaUnreadable
  // no SPLDA model.
  int ScoreMany(const float* probe, uint32_t probeCount, const float* templates, size_t n,
                const float* durations, float* results) const;
  // Values of a transformed template (2D+1); 0 without a loaded SPLDA model.
  virtual uint32_t TemplateSize() const;
  // Dimension of the speaker vectors Transform takes: that of every loaded
  // stage (SPLDA, and mean/variance and whitening when present); -1 when the
  // loaded stages disagree, 0 without a loaded SPLDA model.
  int32_t InputDimension() const;

  // Streams of the mean/variance, whitening and SPLDA sections. The first two
  // are optional (null drops the stage); the SPLDA section is required
  // (kSpldaUnreadable without it). Returns the first failing stage's status.
  int Load(FILE* meanVariance, FILE* whitening, FILE* splda);
  int LoadMvn(FILE* stream);
  int LoadNorm(FILE* stream);
  int LoadSplda(FILE* stream);

 private:
  // The duration adjustment and the 0..100 mapping of a raw score.
  int Finish(float raw, const float* duration, float* result) const;

  std::unique_ptr<mvn::Mvn> mvn;
  std::unique_ptr<norm::Norm> norm;
  std::unique_ptr<splda::Splda<float>> splda;
  std::unique_ptr<score::ScorePostProcessing> postProcessing;
};

}  // namespace ivdist
