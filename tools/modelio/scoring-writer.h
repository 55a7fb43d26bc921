// Writers of the scoring sections of a model container (mean/variance,
// whitening, SPLDA) and random but valid scoring models to put in them.
//
// Each section starts with a 32-byte header that the loaders skip; the
// writers fill it with the section type and the payload length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modelio {

// Container section types of the scoring stages.
constexpr uint32_t kSpldaSectionType = 3;
constexpr uint32_t kMeanVarianceSectionType = 4;
constexpr uint32_t kWhiteningSectionType = 5;

struct MvnModel {
  std::vector<float> mean;
  std::vector<float> scale;  // multiplied after subtracting the mean
};

struct WhiteningModel {
  int32_t dim = 0;
  std::vector<double> basis;      // E, dim rows of dim values, row-major
  std::vector<double> variances;  // one per output coordinate
};

// Parameters of the diagonalised SPLDA score (see ivdist/splda.h), kept in
// double; the section writer rounds them to the requested element size.
struct SpldaModel {
  int32_t dim = 0;
  std::vector<double> cross;       // A, dim rows of dim values, row-major
  std::vector<double> crossEigen;  // a
  std::vector<double> self;        // B, dim rows of dim values, row-major
  std::vector<double> selfEigen;   // b
  std::vector<double> linear;      // c
  double constant = 0.0;           // k
};

// Section type 4: header, int32 D, D float mean, D float scale.
std::string MeanVarianceSection(const MvnModel& model);
// Section type 5: header, int32 D, D x D float64 basis, D float64 variances.
std::string WhiteningSection(const WhiteningModel& model);
// Section type 3: header, int32 element size (4 or 8), int32 D, A, a, B, b,
// c, k as float32 (element size 4) or float64 (8).
std::string SpldaSection(const SpldaModel& model, int32_t elementSize = 4);

// dim x dim random orthogonal matrix, row-major, reproducible from `seed`.
std::vector<double> RandomOrthogonal(int32_t dim, uint32_t seed);

// Mean around 0 (sd 0.1), scale in [0.5, 1.5].
MvnModel RandomMvn(int32_t dim, uint32_t seed);
// Random orthogonal basis, variances in [0.5, 2].
WhiteningModel RandomWhitening(int32_t dim, uint32_t seed);
// SPLDA model derived from a two-covariance PLDA model with identity
// within-speaker covariance, a random between-speaker covariance V diag(phi)
// V^T (phi in [0.5, 3]) and a small random mean mu: A = B = V,
// a = phi / (2 (1 + 2 phi)) >= 0, b = -phi^2 / (2 (1 + phi)(1 + 2 phi)) <= 0,
// c = -(P + Q) mu and k = sum(log(1 + phi) - log(1 + 2 phi) / 2) + mu^T (P + Q) mu,
// where P = V diag(2a) V^T and Q = V diag(2b) V^T. Same-speaker pairs score
// higher than different-speaker pairs on average.
SpldaModel RandomSplda(int32_t dim, uint32_t seed);

struct ScoringSections {
  std::string meanVariance;
  std::string whitening;
  std::string splda;
};

// The three sections of a random valid scoring model of dimension `dim`
// (SPLDA in float, as the engine's verifier expects).
ScoringSections RandomScoringSections(int32_t dim, uint32_t seed);

}  // namespace modelio
