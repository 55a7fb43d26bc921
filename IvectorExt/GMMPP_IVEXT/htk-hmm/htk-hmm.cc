// The set operations and the record helpers of the module. The lexer lives in
// htk-lexer.cc, the readers in htk-reader.cc and the deep copy in htk-copy.cc.
#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-records.h"

namespace htk_records {

char* DupString(const char* s) {
  if (s == nullptr) return nullptr;
  const size_t n = std::strlen(s) + 1;
  char* d = static_cast<char*>(std::malloc(n));
  if (d != nullptr) std::memcpy(d, s, n);
  return d;
}

int NoMemory(const char* function) {
  HTK_LOG(function, "CHECK_MALLOC() Error (0x%08x)", kHtkNoMemory);
  return kHtkNoMemory;
}

size_t BlockSize(int n, BlockShape shape) {
  const size_t size = static_cast<size_t>(n);
  switch (shape) {
    case BlockShape::kTriangle:
      return size * (size + 1) / 2;
    case BlockShape::kSquare:
      return size * size;
    default:
      return size;
  }
}

double** MakeRows(double* block, int n, bool triangle) {
  double** rows = static_cast<double**>(std::malloc((n > 0 ? n : 1) * sizeof(double*)));
  if (rows == nullptr) return nullptr;
  rows[0] = block;
  size_t offset = 0;
  for (int i = 0; i < n; ++i) {
    rows[i] = block + offset;
    offset += triangle ? static_cast<size_t>(n - i) : static_cast<size_t>(n);
  }
  return rows;
}

void FreeRows(double** rows) {
  if (rows == nullptr) return;
  std::free(rows[0]);
  std::free(rows);
}

void FreeData(HtkVector* v) {
  std::free(v->values);
}
void FreeData(HtkInvCovar* ic) {
  FreeRows(ic->rows);
}
void FreeData(HtkMixture*) {}
void FreeData(HtkTransP* t) {
  FreeRows(t->rows);
}
void FreeData(HtkState* s) {
  if (s->streams != nullptr) {
    for (int i = 0; i < s->nStream; ++i) {
      std::free(s->streams[i].mixWeights);
      std::free(s->streams[i].mixtures);
    }
    std::free(s->streams);
  }
  std::free(s->streamWeights);
}
void FreeData(HtkHmm* h) {
  std::free(h->states);
}

}  // namespace htk_records

namespace {

using namespace htk_records;

void FreeSetLists(HTK_HMMS* set) {
  FreeList(&set->meanList);
  FreeList(&set->varList);
  FreeList(&set->invCovarList);
  FreeList(&set->mixList);
  FreeList(&set->transList);
  FreeList(&set->stateList);
  FreeList(&set->hmmList);
}

}  // namespace

// ---------------------------------------------------------------------------
// Set operations.

// ---------------------------------------------------------------------------
// Set operations.

void HTKinit(HTK_HMMS* set) {
  if (set != nullptr) std::memset(set, 0, sizeof(*set));
}

void HTKfree(HTK_HMMS* set) {
  if (set == nullptr) return;
  FreeSetLists(set);
  HashDestroy(set->meanTable);
  HashDestroy(set->varTable);
  HashDestroy(set->invCovarTable);
  HashDestroy(set->mixTable);
  HashDestroy(set->transTable);
  HashDestroy(set->stateTable);
  HashDestroy(set->hmmTable);
  std::free(set->panStreamWidth);
  std::free(set->szParmKind);
  HTKinit(set);
}

int HTKread(int id, FILE* file, HTK_HMMS* set) {
  const int code = HTKread3(file, set);
  if (code == 0) return 0;
  HTKfree(set);
  const uint32_t base = code == kHtkNoMemory ? (static_cast<uint32_t>(id) | 0x100060u)
                                             : (static_cast<uint32_t>(id) | 0x400060u);
  return static_cast<int>((base << 8) | static_cast<uint32_t>(code & 0xFF));
}
