#include "ivdist/score-post-processing.h"

#include <algorithm>

#include "common/result-codes.h"

namespace ivdist::score {

int ScorePostProcessing::Adjust(double* score, const double* parameter) const {
  if (!score || !parameter) return jor::kNullResult;
  constexpr double kPerThousand = 0.08;
  constexpr double kMaxThousands = 60.0;
  // max(0, NaN) is 0: an unusable duration does not adjust.
  const double thousands = std::min(kMaxThousands, std::max(0.0, *parameter));
  *score = *score - kPerThousand * thousands;
  return 0;
}

}  // namespace ivdist::score
