// Writer of HTK HMM definitions of single-state GMMs (diagonal or full
// covariance), in text or binary keyword form, optionally followed by the
// model container's section separator.
#pragma once

#include <string>
#include <vector>

namespace modelio {

extern const char kHtkSeparator[];  // "__KAVOR__SEPARATOR__"

struct HtkGaussian {
  double weight = 1.0;
  std::vector<double> mean;
  std::vector<double> variance;       // diagonal Gaussian when not empty
  std::vector<double> invCovarUpper;  // else: upper triangle, row by row
  bool hasGconst = true;
  double gconst = 0.0;
};

struct HtkGmm {
  std::string name = "ubm";
  std::string parmKind = "MFCC_E_D";  // empty: none written
  int vecSize = 0;
  std::vector<HtkGaussian> gaussians;
};

// "~o" options, one "~h" HMM with three states, numbered "<MIXTURE>" entries
// and a 3x3 transition matrix. Values are written with 17 significant digits.
std::string HtkTextGmm(const HtkGmm& gmm, bool separator = true);
// Same content with binary keywords (":" and the symbol byte), 16-bit counts
// and 4-byte floats; names, macros and the parameter kind stay text.
std::string HtkBinaryGmm(const HtkGmm& gmm, bool separator = true);

// Random models whose values are exactly representable as floats, so that the
// text and binary forms read to identical sets; gconst written when asked.
HtkGmm RandomDiagonalGmm(int numGaussians, int dim, unsigned seed, bool withGconst = true);
HtkGmm RandomFullGmm(int numGaussians, int dim, unsigned seed, bool withGconst = true);

// n ln 2π + Σ ln v.
double DiagonalGconst(const std::vector<double>& variance);
// n ln 2π - ln det A for A given by its upper triangle (Cholesky; A must be
// positive definite).
double FullGconst(const std::vector<double>& upper, int n);
// Full symmetric matrix (row-major n x n) from an upper triangle.
std::vector<double> ExpandUpper(const std::vector<double>& upper, int n);

}  // namespace modelio
