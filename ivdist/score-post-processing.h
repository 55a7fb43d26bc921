// Duration adjustment of a raw SPLDA score.
#pragma once

namespace ivdist::score {

class ScorePostProcessing {
 public:
  ScorePostProcessing() = default;
  virtual ~ScorePostProcessing() = default;

  // score -= 0.08 * min(60, max(0, parameter)), in double; the parameter is
  // a duration in thousands of units. kNullResult for a null pointer.
  virtual int Adjust(double* score, const double* parameter) const;
};

}  // namespace ivdist::score
