// Total-variability i-vector extractor over one sample type.
//
// The model section (32 uninterpreted bytes, int32 E, C, F, R, the prior
// offset, T as C blocks of F×R, then the packed lower triangles of the C
// inverse covariances) is read once; Σ⁻¹T (F×R per Gaussian) and TᵀΣ⁻¹T
// (packed lower R×R per Gaussian) are precomputed and kept in private memory
// or in the shared model segment. Extraction then only reads the model, so
// one loaded extractor serves any number of threads.
//
// With sharing, the model file is always read: a published segment is used
// only when the hash in its trailer is this file's (ShmemManager). A segment
// of another model (another file, shape or element size, or one written
// before segments carried the hash) is left alone and this process keeps a
// private copy, with a warning in the log; removing the shared model lets
// the next load publish the new one. A segment whose writer died half way is
// written again by the next process that loads.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "IvectorExt/ivext/shmem-manager.h"
#include "IvectorExt/ivext/utterance-stats.h"
#include "common/result-codes.h"

namespace ivext {

// Element type of the model arrays. A double model in the shared segment
// starts at offset 28, which is only 4-byte aligned; reading it through this
// type keeps the loads well defined.
template <class T>
struct ModelElem;
template <>
struct ModelElem<float> {
  typedef float type;
};
template <>
struct ModelElem<double> {
  typedef double type __attribute__((aligned(4)));
};

template <class T>
class Extractor {
 public:
  using Elem = typename ModelElem<T>::type;

  Extractor();
  virtual ~Extractor();
  Extractor(const Extractor&) = delete;
  Extractor& operator=(const Extractor&) = delete;

  virtual int LoadModel(FILE* file, const bool& shareModel);
  virtual int Extract(const UtteranceStats<T>& stats, std::vector<T>& ivector) const;
  virtual int NumGaussians() const { return numGaussians; }
  virtual int FeatureDim() const { return featureDim; }
  virtual int IvectorDim() const { return ivectorDim; }

  // True when the model lives in the shared segment.
  bool IsShared() const { return sharedHeader != nullptr; }
  T PriorOffset() const { return priorOffset; }

 private:
  // Result of Attach for a segment that holds another model than the file's.
  static constexpr int kSegmentOfAnotherModel = 1;

  void Unload();
  // Attaches the published model; with `expectedHash`, only when the segment
  // holds the model of that hash (else kSegmentOfAnotherModel, nothing held).
  int Attach(const uint64_t* expectedHash);
  int LoadPrivate(int c, int f, int r, T prior, const T* t, const T* sigmaInv);
  int Precompute(int c, int f, int r, const T* t, const T* sigmaInvPacked,
                 unsigned char* sigmaInvTOut, unsigned char* quadTermsOut);

  int numGaussians = 0;
  int featureDim = 0;
  int ivectorDim = 0;
  T priorOffset = T(0);
  const Elem* sigmaInvT = nullptr;
  const Elem* quadTerms = nullptr;
  struct FreeArray {
    void operator()(T* p) const { std::free(p); }
  };
  std::unique_ptr<T[], FreeArray> privateSigmaInvT;
  std::unique_ptr<T[], FreeArray> privateQuadTerms;
  std::unique_ptr<ShmemManager> shmem;
  const void* sharedHeader = nullptr;
};

extern template class Extractor<float>;
extern template class Extractor<double>;

}  // namespace ivext
