// Baum-Welch statistics of one stream or recording: per-Gaussian occupation
// counts and uncentred first-order sums, filled frame by frame from the
// posteriors of the selected Gaussians.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/result-codes.h"

template <typename T>
class UtteranceStats {
 public:
  // Negative sizes give empty statistics rather than a failed allocation.
  UtteranceStats(int featureDim, int numGaussians)
      : numGaussians(numGaussians),
        featureDim(featureDim),
        zeroth(numGaussians > 0 ? static_cast<size_t>(numGaussians) : 0, T(0)),
        first(numGaussians > 0 ? static_cast<size_t>(numGaussians) : 0,
              std::vector<T>(featureDim > 0 ? static_cast<size_t>(featureDim) : 0, T(0))) {}

  // kStatsMismatch when the frame does not have featureDim values, the two lists
  // differ in length or an index lies outside 0..numGaussians-1; nothing is
  // added then. An empty list still counts the frame.
  int Accumulate(const std::vector<T>& frame, const std::vector<int>& indices,
                 const std::vector<T>& posteriors) {
    if (featureDim < 0 || frame.size() != static_cast<size_t>(featureDim) ||
        indices.size() != posteriors.size())
      return static_cast<int>(jor::kStatsMismatch);
    // Validate first so that a bad index leaves the sums untouched.
    for (int c : indices)
      if (c < 0 || c >= numGaussians || static_cast<size_t>(c) >= first.size())
        return static_cast<int>(jor::kStatsMismatch);
    const size_t dim = frame.size();
    const T* x = frame.data();
    for (size_t k = 0; k < indices.size(); ++k) {
      const size_t c = static_cast<size_t>(indices[k]);
      const T g = posteriors[k];
      zeroth[c] += g;
      T* f = first[c].data();
      for (size_t d = 0; d < dim; ++d) f[d] += g * x[d];
    }
    ++numFrames;
    return 0;
  }

  // First-order sums of Gaussian c (featureDim values).
  const T* First(int c) const { return first[static_cast<size_t>(c)].data(); }

  int numFrames = 0;
  int numGaussians;
  int featureDim;
  std::vector<T> zeroth;
  std::vector<std::vector<T>> first;
};
