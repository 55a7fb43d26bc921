// Per-frame Gaussian posteriors against a GMM read by the HTK reader: the
// first HMM of the set, its single emitting state, first stream.
//
// GMMPP_Calc only reads the record, so one record may serve many threads.
#pragma once

#include <cstdint>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"
#include "common/result-codes.h"

using jor::kGmmppArgument;
using jor::kGmmppModelShape;
using jor::kGmmppNoMemory;

struct GMMPP {
  // Private copy of the set: variances replaced by their reciprocals, inverse
  // covariances expanded to full nDim x nDim blocks.
  HTK_HMMS* pHmms;
  int nMix;     // M, Gaussian slots of the stream (some may be empty)
  int nDim;     // size of the first Gaussian's mean
  int nStride;  // nDim rounded up to a multiple of 8

  // Contiguous copies for the distance loops; rows are nStride long and
  // zero beyond nDim.
  int* panKind;       // per slot: 0 empty, 1 inverse variances, 2 inverse covariance
  int* panRow;        // per slot: row of padMean and padInvVar, -1 when empty
  int* panCovIndex;   // per slot: block of padInvCov, -1 unless full
  float* pfGconst;    // per slot, rounded to float as the likelihood uses it
  double* padWeight;  // per slot
  double* padMean;    // rows of filled slots
  double* padInvVar;  // inverse variances (zero rows for full Gaussians)
  // Full Gaussians: per Gaussian nTriSize values, the upper triangle of the
  // inverse covariance with off-diagonal entries doubled; row r starts at
  // panTriOffset[r] and holds columns r..nDim-1 zero-padded to a multiple of 4.
  // Offsets are 64-bit: the triangle of a legal vector size (up to the
  // reader's limit) passes 2^31 values long before its dimension does.
  double* padInvCov;
  int64_t* panTriOffset;  // nDim + 1 offsets
  int64_t nTriSize;
};

// 0, kGmmppArgument (null argument), kGmmppModelShape (no HMM, numStates != 3,
// no Gaussian in the emitting state's first stream, or Gaussians whose sizes
// differ from nDim), kGmmppNoMemory (memory), or the HTKcopy code. The caller
// keeps `set`. On failure *out is null.
int GMMPP_Init(GMMPP** out, HTK_HMMS* set);

// Posteriors of one frame of nDim values. candidates null: all M Gaussians;
// outIdx null: outPost is a dense vector of M (outSize must be M). Kept are
// at most outSize (and nCandidates) of the best posteriors, each at least
// `threshold`, renormalised to sum to 1. Candidates outside 0..M-1, empty
// slots and non-finite likelihoods are never kept. When nothing can be
// evaluated the result is 0 with *outCount 0.
int GMMPP_Calc(GMMPP** gmmpp, const float* obs, const int* candidates, int nCandidates, int* outIdx,
               int outSize, float* outPost, double threshold, int* outCount);

// Releases the record and its set and nulls the handle.
void GMMPP_Free(GMMPP** gmmpp);
