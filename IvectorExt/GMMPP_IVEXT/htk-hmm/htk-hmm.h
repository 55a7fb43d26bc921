// Reader of HTK HMM definitions (text and binary forms) into an HTK_HMMS set,
// with deep copy and release.
//
// A plain procedural module: every record is a C-heap structure, each record
// kind lives in a singly linked list owned by the set, and failures are integer
// codes. Only "~o" and "~h" macros can be defined; references to other macros
// are looked up in tables that stay empty, so they are reported as not found.
#pragma once

#include <cstdint>
#include <cstdio>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hash.h"

// ---------------------------------------------------------------------------
// Records. Every record starts with `next` and `name` (heap string or null).

struct HtkVector {
  HtkVector* next;
  char* name;
  int size;
  double* values;
};

// Upper triangle as read: rows[i] points at element (i, i) and holds columns
// i..n-1; all rows live in one block starting at rows[0]. GMMPP_Init turns a
// private copy into the full n x n layout (rows[i] at offset i * n).
struct HtkInvCovar {
  HtkInvCovar* next;
  char* name;
  int size;
  double** rows;
};

struct HtkMixture {
  HtkMixture* next;
  char* name;
  HtkVector* mean;
  HtkVector* var;         // null when the Gaussian has an inverse covariance
  HtkInvCovar* invCovar;  // null when the Gaussian has a variance vector
  double gconst;
};

// n x n, all rows in one block starting at rows[0].
struct HtkTransP {
  HtkTransP* next;
  char* name;
  int size;
  double** rows;
};

struct HtkStream {
  int nMix;
  double* mixWeights;     // nMix, 0 for empty slots
  HtkMixture** mixtures;  // nMix, null for empty slots
};

struct HtkState {
  HtkState* next;
  char* name;
  int nStream;
  double* streamWeights;
  HtkStream* streams;
};

struct HtkHmm {
  HtkHmm* next;
  char* name;
  int numStates;      // N, counting the non-emitting entry and exit states
  HtkState** states;  // N - 2 emitting states
  HtkTransP* transP;
};

template <typename T>
struct HtkList {
  int count;
  T* first;
  T* last;
};

struct HTK_HMMS {
  int nStream;  // 0: no global options read yet
  int* panStreamWidth;
  int nVecSize;
  char* szParmKind;

  HtkList<HtkVector> meanList;
  HashTable* meanTable;
  HtkList<HtkVector> varList;
  HashTable* varTable;
  HtkList<HtkInvCovar> invCovarList;
  HashTable* invCovarTable;
  HtkList<HtkMixture> mixList;
  HashTable* mixTable;
  HtkList<HtkTransP> transList;
  HashTable* transTable;
  HtkList<HtkState> stateList;
  HashTable* stateTable;
  HtkList<HtkHmm> hmmList;
  HashTable* hmmTable;
};

// ---------------------------------------------------------------------------
// Set operations.

// Reader code for memory exhaustion.
constexpr int kHtkNoMemory = 240;
// Room for any spelled-out parameter kind.
constexpr int kHtkParmKindStrLen = 64;

// Zeroes every field: no lists, no tables, nStream 0.
void HTKinit(HTK_HMMS* set);
// Frees every list with its data, the tables and the option arrays, then
// clears the set.
void HTKfree(HTK_HMMS* set);
// Reads definitions until end of file or the container's section separator.
// Returns 0 or a reader code; on failure the set may hold partial data.
int HTKread3(FILE* file, HTK_HMMS* set);
// HTKread3 for model `id` (1 or 2). On failure the set is released and the
// result is ((id | 0x100060) << 8) | 240 for memory exhaustion, else
// ((id | 0x400060) << 8) | code.
int HTKread(int id, FILE* file, HTK_HMMS* set);
// Clears dst and fills it with a deep copy of src's options and HMMs (a set as
// read, with triangular inverse covariances). 0, or 240 with dst released.
int HTKcopy(const HTK_HMMS* src, HTK_HMMS* dst);
// Base name of the low 6 bits followed by the qualifiers in the order
// _E _D _N _A _C _K _Z _0 _V. `buffer` holds kHtkParmKindStrLen bytes.
char* HTKparmKind2Str(uint16_t parmKind, char* buffer);

namespace internal {

enum HtkSymbol : int {
  BEGINHMM = 0,
  USE,
  ENDHMM,
  NUMMIXES,
  NUMSTATES,
  STREAMINFO,
  VECSIZE,
  NULLD,
  POISSOND,
  GAMMAD,
  RELD,
  GEND,
  DIAGC,
  FULLC,
  XFORMC,
  STATE,
  TMIX,
  MIXTURE,
  STREAM,
  SWEIGHTS,
  MEAN,
  VARIANCE,
  INVCOVAR,
  XFORM,
  GCONST,
  DURATION,
  INVDIAGC,
  TRANSP,
  DPROB,
  LLTC,
  LLTCOVAR,
  PARMKIND = 120,
  MACRO = 121,
  EOFSYM = 122,
  NULLSYM = 123,
};

struct HtkToken {
  int sym;
  bool binForm;       // read in binary form: the numbers that follow are binary
  uint16_t parmKind;  // when sym is PARMKIND
  char macroType;     // lower-case letter when sym is MACRO
  bool pushedBack;    // the next HTKreadToken returns this token unchanged
};

// Name of a symbol number 0..123 (empty for unused numbers).
const char* HTKsymName(int sym);

// 0 or a reader code (1 to 5).
int HTKreadToken(FILE* file, HtkToken* token);
// 1 on success; 0 at end of file or when the string does not fit in maxLen - 1
// characters.
int HTKreadString(FILE* file, char* buffer, int maxLen);
// Each reads n values and returns 1, or 0 after logging.
int HTKreadInt(FILE* file, int* out, int n, bool binary);
int HTKreadFloat(FILE* file, float* out, int n, bool binary);
int HTKreadDouble(FILE* file, double* out, int n, bool binary);
// Base code 0..11 with qualifier bits; 11 ("ANON") for unknown base names.
uint16_t HTKstr2ParmKind(const char* name);

// The record readers return 0 or a reader code; records they create are
// appended to the set's lists as soon as they exist, so HTKfree releases them
// whatever happens.
int HTKreadGlobalOption(FILE* file, HTK_HMMS* set, HtkToken* token);
int HTKreadMean(FILE* file, HTK_HMMS* set, HtkToken* token, HtkVector** out);
int HTKreadVar(FILE* file, HTK_HMMS* set, HtkToken* token, const char* context, HtkVector** out);
int HTKreadInvcovar(FILE* file, HTK_HMMS* set, HtkToken* token, const char* context,
                    HtkInvCovar** out);
int HTKreadMix(FILE* file, HTK_HMMS* set, HtkToken* token, const char* context, HtkMixture** out);
int HTKreadState(FILE* file, HTK_HMMS* set, HtkToken* token, const char* context, HtkState** out);
int HTKreadTrans(FILE* file, HTK_HMMS* set, HtkToken* token, HtkTransP** out);
int HTKreadHmm(FILE* file, HTK_HMMS* set, HtkToken* token);

}  // namespace internal
