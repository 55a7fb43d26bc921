// PLACEHOLDER interface: replaced by the i-vector extractor work.
// Baum-Welch statistics of one stream or recording: per-Gaussian occupation
// counts and uncentred first-order sums.
#pragma once

#include <cstdint>
#include <vector>

template <typename T>
class UtteranceStats {
 public:
  UtteranceStats(int featureDim, int numGaussians)
      : numGaussians(numGaussians),
        featureDim(featureDim),
        zeroth(static_cast<size_t>(numGaussians), T(0)),
        first(static_cast<size_t>(numGaussians), std::vector<T>(static_cast<size_t>(featureDim), T(0))) {}

  // 0x40007005 when the frame length or the list lengths do not match.
  int Accumulate(const std::vector<T>& frame, const std::vector<int>& indices,
                 const std::vector<T>& posteriors) {
    if (static_cast<int>(frame.size()) != featureDim || indices.size() != posteriors.size())
      return static_cast<int>(0x40007005u);
    for (size_t k = 0; k < indices.size(); ++k) {
      const int c = indices[k];
      if (c < 0 || c >= numGaussians) return static_cast<int>(0x40007005u);
      zeroth[static_cast<size_t>(c)] += posteriors[k];
      std::vector<T>& f = first[static_cast<size_t>(c)];
      for (int d = 0; d < featureDim; ++d) f[static_cast<size_t>(d)] += posteriors[k] * frame[static_cast<size_t>(d)];
    }
    ++numFrames;
    return 0;
  }

  int numFrames = 0;
  int numGaussians;
  int featureDim;
  std::vector<T> zeroth;
  std::vector<std::vector<T>> first;
};
