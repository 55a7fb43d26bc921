#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#if defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>
#define GMMPP_AVX2 1
#endif

#include "engine/logging.h"

#define GMMPP_LOG(function, ...) \
  ::jor_log::LogF(__FILE__, function, __LINE__, ::jor_log::kError, __VA_ARGS__)

namespace {

constexpr int kKindEmpty = 0;
constexpr int kKindDiagonal = 1;
constexpr int kKindFull = 2;

struct GammaWithId {
  float value;  // log-likelihood, then posterior; -1 once sorted out
  int index;
  bool valid;  // evaluated: a Gaussian of the model with a finite value
};

// Work buffers of GMMPP_Calc, kept per thread so that the frame loop does not
// allocate once they have grown to the model's size.
struct CalcScratch {
  std::vector<GammaWithId> gamma;
  std::vector<double> obs;
  std::vector<double> diff;
};

CalcScratch& Scratch() {
  thread_local CalcScratch scratch;
  return scratch;
}

void* AlignedZeroed(size_t count, size_t elemSize) {
  size_t bytes = count * elemSize;
  bytes = (bytes + 63) / 64 * 64;
  if (bytes == 0) bytes = 64;
  void* p = std::aligned_alloc(64, bytes);
  if (p != nullptr) std::memset(p, 0, bytes);
  return p;
}

#if GMMPP_AVX2
inline double HorizontalSum(__m256d v) {
  const __m128d lo = _mm256_castpd256_pd128(v);
  const __m128d hi = _mm256_extractf128_pd(v, 1);
  const __m128d s = _mm_add_pd(lo, hi);
  return _mm_cvtsd_f64(_mm_add_sd(s, _mm_unpackhi_pd(s, s)));
}
#endif

// Σ (x_i - μ_i)² · iv_i over a padded row (n a multiple of 8).
inline double DiagonalDistance(const double* x, const double* mu, const double* iv, int n) {
#if GMMPP_AVX2
  __m256d acc0 = _mm256_setzero_pd();
  __m256d acc1 = _mm256_setzero_pd();
  for (int i = 0; i < n; i += 8) {
    const __m256d d0 = _mm256_sub_pd(_mm256_loadu_pd(x + i), _mm256_loadu_pd(mu + i));
    const __m256d d1 = _mm256_sub_pd(_mm256_loadu_pd(x + i + 4), _mm256_loadu_pd(mu + i + 4));
    acc0 = _mm256_fmadd_pd(_mm256_mul_pd(d0, d0), _mm256_loadu_pd(iv + i), acc0);
    acc1 = _mm256_fmadd_pd(_mm256_mul_pd(d1, d1), _mm256_loadu_pd(iv + i + 4), acc1);
  }
  return HorizontalSum(_mm256_add_pd(acc0, acc1));
#else
  double acc[4] = {0.0, 0.0, 0.0, 0.0};
  for (int i = 0; i < n; i += 4) {
    for (int j = 0; j < 4; ++j) {
      const double d = x[i + j] - mu[i + j];
      acc[j] = std::fma(d * d, iv[i + j], acc[j]);
    }
  }
  return (acc[0] + acc[1]) + (acc[2] + acc[3]);
#endif
}

// Σ a_i · b_i over a padded row (n a multiple of 8).
inline double Dot(const double* a, const double* b, int n) {
#if GMMPP_AVX2
  __m256d acc0 = _mm256_setzero_pd();
  __m256d acc1 = _mm256_setzero_pd();
  for (int i = 0; i < n; i += 8) {
    acc0 = _mm256_fmadd_pd(_mm256_loadu_pd(a + i), _mm256_loadu_pd(b + i), acc0);
    acc1 = _mm256_fmadd_pd(_mm256_loadu_pd(a + i + 4), _mm256_loadu_pd(b + i + 4), acc1);
  }
  return HorizontalSum(_mm256_add_pd(acc0, acc1));
#else
  double acc[4] = {0.0, 0.0, 0.0, 0.0};
  for (int i = 0; i < n; i += 4) {
    for (int j = 0; j < 4; ++j) acc[j] = std::fma(a[i + j], b[i + j], acc[j]);
  }
  return (acc[0] + acc[1]) + (acc[2] + acc[3]);
#endif
}

// (x - μ)ᵀ A (x - μ) from the packed upper triangle of A with doubled
// off-diagonal entries: half the memory traffic of the full matrix, which is
// what bounds this loop. Row r starts at rowOffset[r] and holds columns
// r..nDim-1, zero-padded to a multiple of 4; `diff` has room for nStride + 8
// values.
double FullDistance(const double* x, const double* mu, const double* tri, const int64_t* rowOffset,
                    int nDim, int nStride, double* diff) {
  for (int i = 0; i < nStride; ++i) diff[i] = x[i] - mu[i];
  for (int i = nStride; i < nStride + 8; ++i) diff[i] = 0.0;
#if GMMPP_AVX2
  __m256d acc = _mm256_setzero_pd();
  for (int r = 0; r < nDim; ++r) {
    const double* row = tri + rowOffset[r];
    const double* d = diff + r;
    const int len = static_cast<int>(rowOffset[r + 1] - rowOffset[r]);
    __m256d rv = _mm256_setzero_pd();
    for (int c = 0; c < len; c += 4) {
      rv = _mm256_fmadd_pd(_mm256_loadu_pd(row + c), _mm256_loadu_pd(d + c), rv);
    }
    acc = _mm256_fmadd_pd(_mm256_set1_pd(diff[r]), rv, acc);
  }
  return HorizontalSum(acc);
#else
  double acc = 0.0;
  for (int r = 0; r < nDim; ++r) {
    const double* row = tri + rowOffset[r];
    const double* d = diff + r;
    const int len = static_cast<int>(rowOffset[r + 1] - rowOffset[r]);
    double rv[4] = {0.0, 0.0, 0.0, 0.0};
    for (int c = 0; c < len; c += 4) {
      for (int j = 0; j < 4; ++j) rv[j] = std::fma(row[c + j], d[c + j], rv[j]);
    }
    acc = std::fma(diff[r], (rv[0] + rv[1]) + (rv[2] + rv[3]), acc);
  }
  return acc;
#endif
}

void FreeRecord(GMMPP* g) {
  if (g == nullptr) return;
  if (g->pHmms != nullptr) {
    HTKfree(g->pHmms);
    std::free(g->pHmms);
  }
  std::free(g->panKind);
  std::free(g->panRow);
  std::free(g->panCovIndex);
  std::free(g->pfGconst);
  std::free(g->padWeight);
  std::free(g->padMean);
  std::free(g->padInvVar);
  std::free(g->padInvCov);
  std::free(g->panTriOffset);
  std::free(g);
}

const HtkStream* FirstStream(const HTK_HMMS* set) {
  const HtkHmm* hmm = set->hmmList.first;
  if (hmm == nullptr || hmm->numStates != 3 || hmm->states == nullptr) return nullptr;
  const HtkState* state = hmm->states[0];
  if (state == nullptr || state->nStream < 1 || state->streams == nullptr) return nullptr;
  const HtkStream* stream = &state->streams[0];
  if (stream->nMix < 1 || stream->mixtures == nullptr || stream->mixWeights == nullptr) {
    return nullptr;
  }
  return stream;
}

// Every Gaussian must have a mean and a variance or inverse covariance of the
// model's dimension: the distance loops read nDim values of each.
bool ShapeIsValid(const HtkStream* stream, int* nDim) {
  int dim = -1;
  for (int m = 0; m < stream->nMix; ++m) {
    const HtkMixture* mix = stream->mixtures[m];
    if (mix == nullptr) continue;
    if (mix->mean == nullptr) return false;
    if (dim < 0) dim = mix->mean->size;
    if (mix->mean->size != dim) return false;
    if (mix->var != nullptr) {
      if (mix->var->size != dim) return false;
    } else if (mix->invCovar == nullptr || mix->invCovar->size != dim) {
      return false;
    }
  }
  if (dim < 0) return false;
  *nDim = dim;
  return true;
}

// Inverse covariance from its upper triangle to the full layout.
bool ExpandInvCovar(HtkInvCovar* ic) {
  const int n = ic->size;
  if (n <= 0) return true;
  const size_t nn = static_cast<size_t>(n);
  double* full = static_cast<double*>(std::malloc(nn * nn * sizeof(double)));
  if (full == nullptr) return false;
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      const int lo = r < c ? r : c;
      const int hi = r < c ? c : r;
      full[r * nn + c] = ic->rows[lo][hi - lo];
    }
  }
  std::free(ic->rows[0]);
  for (int r = 0; r < n; ++r) ic->rows[r] = full + r * nn;
  return true;
}

}  // namespace

int GMMPP_Init(GMMPP** out, HTK_HMMS* set) {
  static const char* const kFunction = "GMMPP_Init";
  if (out == nullptr || set == nullptr) {
    GMMPP_LOG(kFunction, "GMMPP_Init : argument is null");
    return kGmmppArgument;
  }
  *out = nullptr;
  const HtkStream* source = FirstStream(set);
  int nDim = 0;
  if (source == nullptr || !ShapeIsValid(source, &nDim)) {
    GMMPP_LOG(kFunction, "GMMPP_Init : the model is not a single-state GMM");
    return kGmmppModelShape;
  }

  GMMPP* g = static_cast<GMMPP*>(std::calloc(1, sizeof(GMMPP)));
  if (g == nullptr) {
    GMMPP_LOG(kFunction, "malloc(GMMPP) error (0x%08x)", static_cast<unsigned>(kGmmppNoMemory));
    return kGmmppNoMemory;
  }
  g->pHmms = static_cast<HTK_HMMS*>(std::malloc(sizeof(HTK_HMMS)));
  if (g->pHmms == nullptr) {
    FreeRecord(g);
    GMMPP_LOG(kFunction, "malloc(HTK_HMMS) error (0x%08x)", static_cast<unsigned>(kGmmppNoMemory));
    return kGmmppNoMemory;
  }
  HTKinit(g->pHmms);
  const int rc = HTKcopy(set, g->pHmms);
  if (rc != 0) {
    FreeRecord(g);
    GMMPP_LOG(kFunction, "HTKcopy() error (0x%08x)", static_cast<unsigned>(rc));
    return rc;
  }

  const HtkStream* stream = FirstStream(g->pHmms);
  const int M = stream->nMix;
  g->nMix = M;
  g->nDim = nDim;
  g->nStride = (nDim + 7) / 8 * 8;
  const size_t stride = static_cast<size_t>(g->nStride);

  int filled = 0;
  int nFull = 0;
  for (int m = 0; m < M; ++m) {
    const HtkMixture* mix = stream->mixtures[m];
    if (mix == nullptr) continue;
    ++filled;
    if (mix->var == nullptr) ++nFull;
  }
  g->panKind = static_cast<int*>(AlignedZeroed(M, sizeof(int)));
  g->panRow = static_cast<int*>(AlignedZeroed(M, sizeof(int)));
  g->pfGconst = static_cast<float*>(AlignedZeroed(M, sizeof(float)));
  g->padWeight = static_cast<double*>(AlignedZeroed(M, sizeof(double)));
  g->padMean = static_cast<double*>(AlignedZeroed(filled * stride, sizeof(double)));
  g->padInvVar = static_cast<double*>(AlignedZeroed(filled * stride, sizeof(double)));
  g->panCovIndex = static_cast<int*>(AlignedZeroed(M, sizeof(int)));
  g->panTriOffset =
      static_cast<int64_t*>(AlignedZeroed(static_cast<size_t>(nDim) + 1, sizeof(int64_t)));
  size_t triSize = 0;
  for (int r = 0; r < nDim; ++r) triSize += static_cast<size_t>((nDim - r + 3) / 4 * 4);
  g->padInvCov =
      static_cast<double*>(AlignedZeroed(static_cast<size_t>(nFull) * triSize, sizeof(double)));
  if (g->panTriOffset != nullptr) {
    int64_t offset = 0;
    for (int r = 0; r < nDim; ++r) {
      g->panTriOffset[r] = offset;
      offset += (nDim - r + 3) / 4 * 4;
    }
    g->panTriOffset[nDim] = offset;
    g->nTriSize = offset;
  }
  if (g->panTriOffset == nullptr || g->panKind == nullptr || g->panRow == nullptr ||
      g->pfGconst == nullptr || g->padWeight == nullptr || g->padMean == nullptr ||
      g->padInvVar == nullptr || g->padInvCov == nullptr || g->panCovIndex == nullptr) {
    FreeRecord(g);
    GMMPP_LOG(kFunction, "malloc(sizeof(double)*nDim*nDim) error (0x%08x)",
              static_cast<unsigned>(kGmmppNoMemory));
    return kGmmppNoMemory;
  }

  int row = 0;
  int fullRow = 0;
  for (int m = 0; m < M; ++m) {
    HtkMixture* mix = stream->mixtures[m];
    g->padWeight[m] = stream->mixWeights[m];
    if (mix == nullptr) {
      g->panKind[m] = kKindEmpty;
      g->panRow[m] = -1;
      g->panCovIndex[m] = -1;
      continue;
    }
    g->pfGconst[m] = static_cast<float>(mix->gconst);
    std::memcpy(g->padMean + row * stride, mix->mean->values, nDim * sizeof(double));
    g->panRow[m] = row;
    g->panCovIndex[m] = -1;
    if (mix->var != nullptr) {
      double* v = mix->var->values;
      for (int i = 0; i < nDim; ++i) v[i] = 1.0 / v[i];
      std::memcpy(g->padInvVar + row * stride, v, nDim * sizeof(double));
      g->panKind[m] = kKindDiagonal;
    } else {
      if (!ExpandInvCovar(mix->invCovar)) {
        FreeRecord(g);
        GMMPP_LOG(kFunction, "malloc(sizeof(double)*nDim*nDim) error (0x%08x)",
                  static_cast<unsigned>(kGmmppNoMemory));
        return kGmmppNoMemory;
      }
      double* block = g->padInvCov + static_cast<size_t>(fullRow) * triSize;
      for (int r = 0; r < nDim; ++r) {
        double* dst = block + g->panTriOffset[r];
        const double* src = mix->invCovar->rows[r];
        dst[0] = src[r];
        for (int c = r + 1; c < nDim; ++c) dst[c - r] = 2.0 * src[c];
      }
      g->panKind[m] = kKindFull;
      g->panCovIndex[m] = fullRow++;
    }
    ++row;
  }
  *out = g;
  return 0;
}

void GMMPP_Free(GMMPP** gmmpp) {
  if (gmmpp == nullptr) return;
  FreeRecord(*gmmpp);
  *gmmpp = nullptr;
}

int GMMPP_Calc(GMMPP** gmmpp, const float* obs, const int* candidates, int nCandidates, int* outIdx,
               int outSize, float* outPost, double threshold, int* outCount) {
  static const char* const kFunction = "GMMPP_Calc";
  if (gmmpp == nullptr || *gmmpp == nullptr || obs == nullptr || outPost == nullptr ||
      outCount == nullptr) {
    GMMPP_LOG(kFunction, "ULX_ERR_GMMPP_ARGUMENT-1\n");
    return kGmmppArgument;
  }
  const GMMPP* g = *gmmpp;
  const int M = g->nMix;
  if (outIdx == nullptr && outSize != M) {
    GMMPP_LOG(kFunction, "ULX_ERR_GMMPP_ARGUMENT-2\n");
    return kGmmppArgument;
  }
  if (outSize < 0 || outSize > M) {
    GMMPP_LOG(kFunction, "ULX_ERR_GMMPP_ARGUMENT-3\n");
    return kGmmppArgument;
  }
  if (candidates != nullptr && (nCandidates < 0 || nCandidates > M)) return kGmmppArgument;
  const int N = candidates != nullptr ? nCandidates : M;
  const int nDim = g->nDim;
  const int nStride = g->nStride;

  CalcScratch& s = Scratch();
  try {
    s.gamma.resize(static_cast<size_t>(N));
    s.obs.resize(static_cast<size_t>(nStride));
    s.diff.resize(static_cast<size_t>(nStride) + 8);
  } catch (const std::bad_alloc&) {
    GMMPP_LOG(kFunction, "malloc() to pGammaWithID error (0x%08x)",
              static_cast<unsigned>(kGmmppNoMemory));
    return kGmmppNoMemory;
  }
  GammaWithId* gamma = s.gamma.data();
  double* x = s.obs.data();
  for (int i = 0; i < nDim; ++i) x[i] = obs[i];
  for (int i = nDim; i < nStride; ++i) x[i] = 0.0;

  // Log-likelihoods; records that cannot be evaluated are marked with -1.
  bool any = false;
  float best = 0.0f;
  for (int k = 0; k < N; ++k) {
    const int m = candidates != nullptr ? candidates[k] : k;
    gamma[k].index = m;
    gamma[k].value = -1.0f;
    gamma[k].valid = false;
    if (m < 0 || m >= M) continue;
    const int kind = g->panKind[m];
    if (kind == kKindEmpty) continue;
    const size_t row = static_cast<size_t>(g->panRow[m]) * nStride;
    double d;
    if (kind == kKindDiagonal) {
      d = DiagonalDistance(x, g->padMean + row, g->padInvVar + row, nStride);
    } else {
      const double* tri =
          g->padInvCov + static_cast<size_t>(g->panCovIndex[m]) * static_cast<size_t>(g->nTriSize);
      d = FullDistance(x, g->padMean + row, tri, g->panTriOffset, nDim, nStride, s.diff.data());
    }
    const float ll = -0.5f * (g->pfGconst[m] + static_cast<float>(d));
    if (!std::isfinite(ll)) continue;
    gamma[k].value = ll;
    gamma[k].valid = true;
    if (!any || ll > best) best = ll;
    any = true;
  }

  // Likelihoods relative to the best, times the weights.
  double total = 0.0;
  if (any) {
    for (int k = 0; k < N; ++k) {
      GammaWithId& r = gamma[k];
      if (!r.valid) continue;
      const double e = std::exp(static_cast<double>(r.value) - static_cast<double>(best)) *
                       g->padWeight[r.index];
      const float v = static_cast<float>(e);
      if (!(v >= 0.0f) || !std::isfinite(v)) {
        r.valid = false;
        r.value = -1.0f;
        continue;
      }
      r.value = v;
      total += v;
    }
  }

  if (outIdx == nullptr) std::fill(outPost, outPost + outSize, 0.0f);
  *outCount = 0;
  if (!(total > 0.0) || !std::isfinite(total)) return 0;

  const int K = outSize < N ? outSize : N;
  std::partial_sort(gamma, gamma + K, gamma + N,
                    [](const GammaWithId& a, const GammaWithId& b) { return a.value > b.value; });
  double kept = 0.0;
  int count = 0;
  for (; count < K; ++count) {
    GammaWithId& r = gamma[count];
    if (!r.valid) break;
    const float p = static_cast<float>(r.value / total);
    if (!(p >= threshold)) break;
    r.value = p;
    kept += p;
  }
  for (int k = 0; k < count; ++k) {
    const float p = static_cast<float>(gamma[k].value / kept);
    if (outIdx != nullptr) {
      outPost[k] = p;
      outIdx[k] = gamma[k].index;
    } else {
      outPost[gamma[k].index] = p;
    }
  }
  *outCount = count;
  return 0;
}
