// Private to the HTK module: the record helpers that the reader, the copy
// and the set operations share, and the module's error log.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"
#include "engine/logging.h"

// Every file of the module logs under the module's own source name.
#define HTK_LOG(function, ...)                                                     \
  ::jor_log::LogF("IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.cc", function, __LINE__, \
                  ::jor_log::kError, __VA_ARGS__)

namespace htk_records {

// A heap copy of `s` (null for null), or null when memory runs out.
char* DupString(const char* s);

template <typename T>
void Append(HtkList<T>* list, T* record) {
  record->next = nullptr;
  if (list->last == nullptr) {
    list->first = record;
  } else {
    list->last->next = record;
  }
  list->last = record;
  ++list->count;
}

// A zeroed record appended to `list`, or null when memory runs out.
template <typename T>
T* NewRecord(HtkList<T>* list) {
  T* record = static_cast<T*>(std::calloc(1, sizeof(T)));
  if (record != nullptr) Append(list, record);
  return record;
}

// Logs the memory failure of `function` and returns kHtkNoMemory.
int NoMemory(const char* function);

// Layout of the values behind a count n.
enum class BlockShape { kVector, kTriangle, kSquare };

size_t BlockSize(int n, BlockShape shape);
// Rows of an n x n block or of an upper triangle (row i holds n - i values).
// rows[0] is the block even for n = 0, so that releasing rows[0] frees it.
double** MakeRows(double* block, int n, bool triangle);
void FreeRows(double** rows);

// What each record kind owns besides its name.
void FreeData(HtkVector* v);
void FreeData(HtkInvCovar* ic);
void FreeData(HtkMixture*);
void FreeData(HtkTransP* t);
void FreeData(HtkState* s);
void FreeData(HtkHmm* h);

template <typename T>
void FreeRecord(T* record) {
  if (record == nullptr) return;
  FreeData(record);
  std::free(record->name);
  std::free(record);
}

template <typename T>
void FreeList(HtkList<T>* list) {
  for (T* r = list->first; r != nullptr;) {
    T* next = r->next;
    FreeRecord(r);
    r = next;
  }
}

}  // namespace htk_records
