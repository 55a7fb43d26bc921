// Writer of i-vector extractor model sections (the bytes the engine finds at
// the extractor's place in the model container), float or double, and a
// generator of small well-conditioned random models for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modelio {

struct IvectorModel {
  int numGaussians = 0;  // C
  int featureDim = 0;    // F
  int ivectorDim = 0;    // R
  double priorOffset = 0.0;
  // For each Gaussian, F rows of R values.
  std::vector<double> t;
  // For each Gaussian, the lower triangle of the symmetric inverse
  // covariance: rows f = 0..F-1 holding f+1 values each.
  std::vector<double> sigmaInv;

  // Rounds every value to float, so that a reference computed from this
  // model sees exactly what a float model file holds.
  void RoundToFloat();
};

// Random model: T entries in [-scale, scale], inverse covariances symmetric
// positive definite (diagonally dominant). Deterministic for a seed.
IvectorModel RandomIvectorModel(int numGaussians, int featureDim, int ivectorDim, uint32_t seed,
                                double priorOffset = 100.0, double scale = 0.5);

// Section bytes: 32 header bytes, int32 element size (4 or 8), C, F, R, the
// prior offset, T, then the packed inverse covariances, little-endian.
// Values are written as float for elemSize 4 and as double for 8.
std::string IvectorModelBytes(const IvectorModel& model, int elemSize);

// The 48-byte start of a section with arbitrary field values, for
// malformed-input tests.
std::string IvectorHeaderBytes(int32_t elemSize, int32_t c, int32_t f, int32_t r);

void WriteIvectorModel(const std::string& path, const IvectorModel& model, int elemSize);

}  // namespace modelio
