// The deep copy of an HTK set.
#include <cstdlib>
#include <cstring>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"
#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-records.h"

namespace {

using namespace htk_records;

// False when memory runs out.
bool CopyName(const char* from, char** to) {
  return from == nullptr || (*to = DupString(from)) != nullptr;
}

HtkVector* CopyVector(const HtkVector* src, HtkList<HtkVector>* list) {
  HtkVector* v = NewRecord(list);
  if (v == nullptr) return nullptr;
  const size_t n = src->size > 0 ? static_cast<size_t>(src->size) : 0;
  v->values = static_cast<double*>(std::malloc((n > 0 ? n : 1) * sizeof(double)));
  if (v->values == nullptr) return nullptr;
  if (n > 0) std::memcpy(v->values, src->values, n * sizeof(double));
  v->size = src->size;
  return CopyName(src->name, &v->name) ? v : nullptr;
}

// Inverse covariance (upper triangle) or transition matrix (square), in a
// block of its own.
template <typename Matrix>
Matrix* CopyMatrix(const Matrix* src, HtkList<Matrix>* list, bool triangle) {
  Matrix* m = NewRecord(list);
  if (m == nullptr) return nullptr;
  const int n = src->size > 0 ? src->size : 0;
  const size_t count = BlockSize(n, triangle ? BlockShape::kTriangle : BlockShape::kSquare);
  double* block = static_cast<double*>(std::malloc((count > 0 ? count : 1) * sizeof(double)));
  if (block == nullptr) return nullptr;
  double** rows = MakeRows(block, n, triangle);
  if (rows == nullptr) {
    std::free(block);
    return nullptr;
  }
  for (int i = 0; i < n; ++i) {
    std::memcpy(rows[i], src->rows[i], static_cast<size_t>(triangle ? n - i : n) * sizeof(double));
  }
  m->size = n;
  m->rows = rows;
  return CopyName(src->name, &m->name) ? m : nullptr;
}

HtkMixture* CopyMixture(const HtkMixture* src, HTK_HMMS* dst) {
  HtkMixture* mix = NewRecord(&dst->mixList);
  if (mix == nullptr) return nullptr;
  mix->gconst = src->gconst;
  if (!CopyName(src->name, &mix->name)) return nullptr;
  if (src->mean != nullptr && (mix->mean = CopyVector(src->mean, &dst->meanList)) == nullptr) {
    return nullptr;
  }
  if (src->var != nullptr && (mix->var = CopyVector(src->var, &dst->varList)) == nullptr) {
    return nullptr;
  }
  if (src->invCovar != nullptr &&
      (mix->invCovar = CopyMatrix(src->invCovar, &dst->invCovarList, true)) == nullptr) {
    return nullptr;
  }
  return mix;
}

HtkState* CopyState(const HtkState* src, HTK_HMMS* dst) {
  HtkState* state = NewRecord(&dst->stateList);
  if (state == nullptr) return nullptr;
  const size_t ns = src->nStream > 0 ? static_cast<size_t>(src->nStream) : 0;
  state->streamWeights = static_cast<double*>(std::malloc((ns > 0 ? ns : 1) * sizeof(double)));
  state->streams = static_cast<HtkStream*>(std::calloc(ns > 0 ? ns : 1, sizeof(HtkStream)));
  if (state->streamWeights == nullptr || state->streams == nullptr) return nullptr;
  state->nStream = static_cast<int>(ns);
  if (ns > 0) std::memcpy(state->streamWeights, src->streamWeights, ns * sizeof(double));
  if (!CopyName(src->name, &state->name)) return nullptr;
  for (size_t s = 0; s < ns; ++s) {
    const HtkStream& from = src->streams[s];
    HtkStream& to = state->streams[s];
    const size_t nm = from.nMix > 0 ? static_cast<size_t>(from.nMix) : 0;
    to.mixWeights = static_cast<double*>(std::calloc(nm > 0 ? nm : 1, sizeof(double)));
    to.mixtures = static_cast<HtkMixture**>(std::calloc(nm > 0 ? nm : 1, sizeof(HtkMixture*)));
    if (to.mixWeights == nullptr || to.mixtures == nullptr) return nullptr;
    to.nMix = static_cast<int>(nm);
    for (size_t m = 0; m < nm; ++m) {
      to.mixWeights[m] = from.mixWeights[m];
      if (from.mixtures[m] != nullptr &&
          (to.mixtures[m] = CopyMixture(from.mixtures[m], dst)) == nullptr) {
        return nullptr;
      }
    }
  }
  return state;
}

bool CopyHmm(const HtkHmm* src, HTK_HMMS* dst) {
  HtkHmm* hmm = NewRecord(&dst->hmmList);
  if (hmm == nullptr) return false;
  const int emitting = src->numStates > 2 ? src->numStates - 2 : 0;
  hmm->states = static_cast<HtkState**>(
      std::calloc(static_cast<size_t>(emitting > 0 ? emitting : 1), sizeof(HtkState*)));
  if (hmm->states == nullptr) return false;
  hmm->numStates = src->numStates;
  if (!CopyName(src->name, &hmm->name)) return false;
  for (int i = 0; i < emitting; ++i) {
    if (src->states[i] != nullptr && (hmm->states[i] = CopyState(src->states[i], dst)) == nullptr) {
      return false;
    }
  }
  if (src->transP != nullptr &&
      (hmm->transP = CopyMatrix(src->transP, &dst->transList, false)) == nullptr) {
    return false;
  }
  return true;
}

}  // namespace

int HTKcopy(const HTK_HMMS* src, HTK_HMMS* dst) {
  static const char* const kFunction = "HTKcopy";
  if (dst == nullptr) return kHtkNoMemory;
  HTKinit(dst);
  if (src == nullptr) return 0;
  bool ok = true;
  dst->nStream = src->nStream;
  dst->nVecSize = src->nVecSize;
  if (src->nStream > 0 && src->panStreamWidth != nullptr) {
    const size_t n = static_cast<size_t>(src->nStream);
    dst->panStreamWidth = static_cast<int*>(std::malloc(n * sizeof(int)));
    if (dst->panStreamWidth != nullptr) {
      std::memcpy(dst->panStreamWidth, src->panStreamWidth, n * sizeof(int));
    } else {
      ok = false;
    }
  }
  if (ok && src->szParmKind != nullptr) {
    dst->szParmKind = DupString(src->szParmKind);
    ok = dst->szParmKind != nullptr;
  }
  for (const HtkHmm* h = src->hmmList.first; ok && h != nullptr; h = h->next) {
    ok = CopyHmm(h, dst);
  }
  if (ok) {
    dst->hmmTable = HashCreate(1024, HashName, HashNameEqual);
    ok = dst->hmmTable != nullptr;
    HtkHmm* first = dst->hmmList.first;
    if (ok && first != nullptr && first->name != nullptr) {
      ok = HashInsert(dst->hmmTable, first->name, first) >= 0;
    }
  }
  if (!ok) {
    HTKfree(dst);
    HTK_LOG(kFunction, "CHECK_MALLOC() Error (0x%08x)", kHtkNoMemory);
    return kHtkNoMemory;
  }
  return 0;
}
