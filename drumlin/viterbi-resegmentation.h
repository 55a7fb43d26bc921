// Frame-level resegmentation: every speaker found by clustering gets a
// diagonal-covariance GMM trained on the feature rows currently labelled
// with it, and a Viterbi pass over the rows in time order relabels every row,
// paying `switchPenalty` (natural-log units) for each change of speaker;
// training and decoding alternate `rounds` times. So boundaries move to the
// frame where the likelihood of the next speaker takes over, rather than
// staying on the grid of the clustering windows.
//
// Notation: n rows of dimension D, K speakers, G Gaussians per speaker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace drumlin {

struct ResegmentationOptions {
  int gaussians = 8;           // G at most; fewer for speakers with little speech
  int rowsPerGaussian = 100;   // a speaker with r rows gets min(G, r / this) Gaussians (>= 1)
  int emIterations = 4;        // after each split
  int rounds = 2;              // train + decode
  float switchPenalty = 30.0f;  // log-likelihood cost of a change of speaker
  // A change across a pause of at least `pauseFrames` frames costs
  // switchPenalty * pauseDiscount.
  int pauseFrames = 30;
  float pauseDiscount = 0.25f;
  float varianceFloor = 0.01f;  // times the variance of all rows, per dimension
};

// rows: n x dim, row-major; frames: frame index of each row (increasing);
// labels: in the clustering's labels 0..K-1, out the new ones (a speaker may
// lose all its rows). Returns false (labels untouched) on a shape error.
bool ResegmentRows(const float* rows, size_t n, int dim, const std::vector<int>& frames, int K,
                   const ResegmentationOptions& options, std::vector<int>* labels);

}  // namespace drumlin
