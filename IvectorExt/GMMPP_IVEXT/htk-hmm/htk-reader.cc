// The readers of the HTK module: global options, HMMs, states, Gaussians,
// vectors and matrices, driven by HTKread3.
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <utility>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"
#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-records.h"

namespace {

using namespace htk_records;
using internal::HtkToken;

// Counts beyond these cannot come from a sensible model; they are refused as
// malformed so that no count in a file can demand an absurd allocation before
// the data behind it has been read.
constexpr int kMaxStreams = 32;
constexpr int kMaxMixes = 1 << 16;
constexpr int kMaxStates = 1 << 16;
constexpr int kMaxVectorSize = 1 << 20;
constexpr int kMaxMatrixSize = 1 << 16;
// Values are read in chunks of this many into a buffer that grows with what
// was actually read.
constexpr size_t kReadChunk = 4096;
constexpr int kMaxString = 255;

// 1 with *out holding `count` values, 0 on a short read, -1 out of memory.
int ReadDoubleBlock(FILE* file, size_t count, bool binary, double** out) {
  size_t capacity = count < kReadChunk ? (count > 0 ? count : 1) : kReadChunk;
  double* values = static_cast<double*>(std::malloc(capacity * sizeof(double)));
  if (values == nullptr) return -1;
  size_t done = 0;
  while (done < count) {
    if (done == capacity) {
      size_t grown = capacity * 2 < count ? capacity * 2 : count;
      double* bigger = static_cast<double*>(std::realloc(values, grown * sizeof(double)));
      if (bigger == nullptr) {
        std::free(values);
        return -1;
      }
      values = bigger;
      capacity = grown;
    }
    size_t chunk = capacity - done;
    if (chunk > kReadChunk) chunk = kReadChunk;
    if (!internal::HTKreadDouble(file, values + done, static_cast<int>(chunk), binary)) {
      std::free(values);
      return 0;
    }
    done += chunk;
  }
  *out = values;
  return 1;
}

// ln |det A| of the symmetric matrix given by its upper triangle; -inf when
// singular.
double LogDetUpper(const HtkInvCovar* ic) {
  const int n = ic->size;
  if (n <= 0) return 0.0;
  const size_t nn = static_cast<size_t>(n);
  double* a = static_cast<double*>(std::malloc(nn * nn * sizeof(double)));
  if (a == nullptr) return std::nan("");
  for (int r = 0; r < n; ++r) {
    for (int c = r; c < n; ++c) {
      const double v = ic->rows[r][c - r];
      a[r * nn + c] = v;
      a[c * nn + r] = v;
    }
  }
  double logDet = 0.0;
  for (int k = 0; k < n; ++k) {
    int pivot = k;
    for (int r = k + 1; r < n; ++r) {
      if (std::fabs(a[r * nn + k]) > std::fabs(a[pivot * nn + k])) pivot = r;
    }
    const double p = a[pivot * nn + k];
    if (p == 0.0 || std::isnan(p)) {
      std::free(a);
      return -HUGE_VAL;
    }
    if (pivot != k) {
      for (int c = 0; c < n; ++c) std::swap(a[k * nn + c], a[pivot * nn + c]);
    }
    logDet += std::log(std::fabs(p));
    for (int r = k + 1; r < n; ++r) {
      const double f = a[r * nn + k] / p;
      if (f == 0.0) continue;
      for (int c = k + 1; c < n; ++c) a[r * nn + c] -= f * a[k * nn + c];
    }
  }
  std::free(a);
  return logDet;
}

// A reader failure: its code and the message logged with it.
struct Failure {
  int code;
  const char* message;
};

int Fail(const char* function, const Failure& failure) {
  HTK_LOG(function, "%s", failure.message);
  return failure.code;
}

// One int in lo..hi after `token`: 0, or the failure's code.
int ReadInt(FILE* file, const HtkToken* token, const char* function, const Failure& failure, int* n,
            int lo = INT_MIN, int hi = INT_MAX) {
  if (internal::HTKreadInt(file, n, 1, token->binForm) && *n >= lo && *n <= hi) return 0;
  return Fail(function, failure);
}

const char* OrEmpty(const char* s) {
  return s != nullptr ? s : "";
}

// Reads the next token, which must be `sym`: 0, or the failure's code.
int ExpectKeyword(FILE* file, HtkToken* token, int sym, const char* function,
                  const Failure& failure) {
  const int rc = internal::HTKreadToken(file, token);
  if (rc != 0) return rc;
  return token->sym == sym ? 0 : Fail(function, failure);
}

// Reads the next token and tells whether it is `sym`; any other token is
// pushed back for the next reader.
int ReadOptional(FILE* file, HtkToken* token, int sym, bool* found) {
  const int rc = internal::HTKreadToken(file, token);
  if (rc != 0) return rc;
  *found = token->sym == sym;
  if (!*found) token->pushedBack = true;
  return 0;
}

// A "~x" reference to a shared definition: the code for a name that cannot
// be read ("HTKreadString : ~x macro error"), and the code and message for a
// name that is not defined.
struct MacroRef {
  char type;
  int nameCode;
  int missingCode;
  const char* missingFormat;  // takes the name
};

constexpr MacroRef kMeanRef = {'u', 83, 84, "Not found mean vector macro (%s)"};
constexpr MacroRef kVarRef = {'v', 85, 86, "Not found variance vector macro (%s)"};
constexpr MacroRef kInvCovarRef = {'i', 87, 88, "Not found invcovar macro (%s)"};
constexpr MacroRef kMixRef = {'m', 72, 73, "Gauss macro is not found (%s)."};
constexpr MacroRef kStateRef = {'s', 40, 41, "State macro is not found (%s)"};
constexpr MacroRef kTransRef = {'t', 48, 49, "TransP macro is not found (%s)"};

bool IsRef(const HtkToken* token, const MacroRef& ref) {
  return token->sym == internal::MACRO && token->macroType == ref.type;
}

// Reads the name after a reference and looks it up in `table`.
template <typename T>
int ResolveRef(FILE* file, const HashTable* table, const char* function, const MacroRef& ref,
               T** out) {
  char name[kMaxString + 1];
  if (!internal::HTKreadString(file, name, kMaxString)) {
    HTK_LOG(function, "HTKreadString : ~%c macro error", ref.type);
    return ref.nameCode;
  }
  T* found = static_cast<T*>(HashFind(table, name));
  if (found == nullptr) {
    HTK_LOG(function, ref.missingFormat, name);
    return ref.missingCode;
  }
  *out = found;
  return 0;
}

// Reads the next token: the reference `ref` is resolved from `table`;
// anything else is pushed back for `readInline`, which reads a definition in
// place.
template <typename T, typename ReadInline>
int ReadRefOrInline(FILE* file, HtkToken* token, const HashTable* table, const char* function,
                    const MacroRef& ref, T** out, ReadInline readInline) {
  const int rc = internal::HTKreadToken(file, token);
  if (rc != 0) return rc;
  if (IsRef(token, ref)) return ResolveRef(file, table, function, ref, out);
  token->pushedBack = true;
  return readInline();
}

// An inline definition: keyword, count, then the values; with the failures
// for a missing keyword, a count outside minCount..maxCount and short values.
struct BlockSpec {
  int keyword;
  int minCount;
  int maxCount;
  BlockShape shape;
  Failure noKeyword;  // its message is a format given the context; one without %s ignores it
  Failure badCount;
  Failure shortValues;
};

constexpr BlockSpec kMeanBlock = {internal::MEAN,
                                  0,
                                  kMaxVectorSize,
                                  BlockShape::kVector,
                                  {99, "<MEAN> tag is not found."},
                                  {100, "HTKreadInt(): <MEAN> short Error"},
                                  {101, "HTKreadDouble(): <MEAN> short vector Error"}};
constexpr BlockSpec kVarBlock = {internal::VARIANCE,
                                 0,
                                 kMaxVectorSize,
                                 BlockShape::kVector,
                                 {114, "<VARIANCE> tag is not found (%s)"},
                                 {115, "HTKreadInt : <VARIANCE> short error"},
                                 {116, "HTKreadDouble : <VARIANCE> short vector error"}};
constexpr BlockSpec kInvCovarBlock = {internal::INVCOVAR,
                                      0,
                                      kMaxMatrixSize,
                                      BlockShape::kTriangle,
                                      {130, "HTKreadInt : <INVCOVAR> tag is not found (%s)"},
                                      {131, "HTKreadInt : <INVCOVAR> short error"},
                                      {132, "HTKreadInt : <INVCOVAR> short vector error"}};
constexpr BlockSpec kTransBlock = {internal::TRANSP,
                                   1,
                                   kMaxMatrixSize,
                                   BlockShape::kSquare,
                                   {54, "<TransP> is not found"},
                                   {52, "HTKreadInt : <TransP> short error"},
                                   {53, "HTKreadDouble : <TransP> short vector error"}};

// Hands the values read to the record; false when memory runs out (the block
// is then released).
bool Fill(HtkVector* v, int n, double* block, BlockShape) {
  v->size = n;
  v->values = block;
  return true;
}

template <typename Matrix>  // HtkInvCovar or HtkTransP
bool Fill(Matrix* m, int n, double* block, BlockShape shape) {
  double** rows = MakeRows(block, n, shape == BlockShape::kTriangle);
  if (rows == nullptr) {
    std::free(block);
    return false;
  }
  m->size = n;
  m->rows = rows;
  return true;
}

// Reads an inline definition as `spec` describes it into a record appended to
// `list` (before its values are read, so that the set releases it whatever
// follows).
template <typename T>
int ReadBlock(FILE* file, HtkToken* token, const char* function, const BlockSpec& spec,
              const char* context, HtkList<T>* list, T** out) {
  int rc = internal::HTKreadToken(file, token);
  if (rc != 0) return rc;
  if (token->sym != spec.keyword) {
    HTK_LOG(function, spec.noKeyword.message, OrEmpty(context));
    return spec.noKeyword.code;
  }
  int n = 0;
  rc = ReadInt(file, token, function, spec.badCount, &n, spec.minCount, spec.maxCount);
  if (rc != 0) return rc;
  T* record = NewRecord(list);
  if (record == nullptr) return NoMemory(function);
  double* block = nullptr;
  rc = ReadDoubleBlock(file, BlockSize(n, spec.shape), token->binForm, &block);
  if (rc < 0) return NoMemory(function);
  if (rc == 0) return Fail(function, spec.shortValues);
  if (!Fill(record, n, block, spec.shape)) return NoMemory(function);
  *out = record;
  return 0;
}

}  // namespace

namespace internal {

using namespace htk_records;

int HTKreadGlobalOption(FILE* file, HTK_HMMS* set, HtkToken* token) {
  static const char* const kFunction = "internal::HTKreadGlobalOption";
  static constexpr Failure kBadStreamInfo = {18, "HTKreadGlobalOption : <STREAMINFO> Error"};
  for (;;) {
    const int rc = HTKreadToken(file, token);
    if (rc != 0) return rc;
    if (token->sym == STREAMINFO) {
      int nStream = 0;
      const int code = ReadInt(file, token, kFunction, kBadStreamInfo, &nStream, 1, kMaxStreams);
      if (code != 0) return code;
      int* widths = static_cast<int*>(std::malloc(static_cast<size_t>(nStream) * sizeof(int)));
      if (widths == nullptr) return NoMemory(kFunction);
      bool ok = HTKreadInt(file, widths, nStream, token->binForm) != 0;
      for (int i = 0; ok && i < nStream; ++i) ok = widths[i] >= 0;
      if (!ok) {
        std::free(widths);
        return Fail(kFunction, kBadStreamInfo);
      }
      std::free(set->panStreamWidth);
      set->panStreamWidth = widths;
      set->nStream = nStream;
    } else if (token->sym == VECSIZE) {
      int size = 0;
      const int code =
          ReadInt(file, token, kFunction, {19, "HTKreadGlobalOption : <VECSIZE> Error"}, &size, 0,
                  kMaxVectorSize);
      if (code != 0) return code;
      set->nVecSize = size;
    } else if (token->sym == NULLD || token->sym == DIAGC) {
      // accepted, no effect
    } else if (token->sym == PARMKIND) {
      char name[kHtkParmKindStrLen];
      char* copy = DupString(HTKparmKind2Str(token->parmKind, name));
      if (copy == nullptr) return NoMemory(kFunction);
      std::free(set->szParmKind);
      set->szParmKind = copy;
    } else {
      token->pushedBack = true;
      break;
    }
  }
  if (set->nStream != 0) return 0;
  if (set->nVecSize == 0) {
    HTK_LOG(kFunction, "<VECSIZE>  is not specified.");
    return 19;
  }
  int* widths = static_cast<int*>(std::malloc(sizeof(int)));
  if (widths == nullptr) return NoMemory(kFunction);
  widths[0] = set->nVecSize;
  std::free(set->panStreamWidth);
  set->panStreamWidth = widths;
  set->nStream = 1;
  return 0;
}

int HTKreadMean(FILE* file, HTK_HMMS* set, HtkToken* token, HtkVector** out) {
  static const char* const kFunction = "internal::HTKreadMean";
  return ReadRefOrInline(file, token, set->meanTable, kFunction, kMeanRef, out, [&] {
    return ReadBlock(file, token, kFunction, kMeanBlock, nullptr, &set->meanList, out);
  });
}

int HTKreadVar(FILE* file, HTK_HMMS* set, HtkToken* token, const char* context, HtkVector** out) {
  static const char* const kFunction = "internal::HTKreadVar";
  return ReadRefOrInline(file, token, set->varTable, kFunction, kVarRef, out, [&] {
    return ReadBlock(file, token, kFunction, kVarBlock, context, &set->varList, out);
  });
}

int HTKreadInvcovar(FILE* file, HTK_HMMS* set, HtkToken* token, const char* context,
                    HtkInvCovar** out) {
  static const char* const kFunction = "internal::HTKreadInvcovar";
  return ReadRefOrInline(file, token, set->invCovarTable, kFunction, kInvCovarRef, out, [&] {
    return ReadBlock(file, token, kFunction, kInvCovarBlock, context, &set->invCovarList, out);
  });
}

int HTKreadMix(FILE* file, HTK_HMMS* set, HtkToken* token, const char* context, HtkMixture** out) {
  static const char* const kFunction = "internal::HTKreadMix";
  HtkMixture* mix = NewRecord(&set->mixList);
  if (mix == nullptr) return NoMemory(kFunction);
  int rc = HTKreadMean(file, set, token, &mix->mean);
  if (rc != 0) return rc;
  rc = HTKreadToken(file, token);
  if (rc != 0) return rc;
  token->pushedBack = true;
  if (IsRef(token, kInvCovarRef) || token->sym == INVCOVAR) {
    rc = HTKreadInvcovar(file, set, token, context, &mix->invCovar);
  } else {
    rc = HTKreadVar(file, set, token, context, &mix->var);
  }
  if (rc != 0) return rc;
  bool given = false;
  rc = ReadOptional(file, token, GCONST, &given);
  if (rc != 0) return rc;
  if (given) {
    float g = 0.0f;
    if (!HTKreadFloat(file, &g, 1, token->binForm)) {
      HTK_LOG(kFunction, "HTKreadFloat error : GCONST");
      return 89;
    }
    mix->gconst = g;
  } else {
    const double log2pi = std::log(2.0 * std::numbers::pi);
    if (mix->var != nullptr) {
      double g = mix->var->size * log2pi;
      for (int i = 0; i < mix->var->size; ++i) {
        const double v = mix->var->values[i];
        g += v <= 2.45e-308 ? -1e10 : std::log(v);
      }
      mix->gconst = g;
    } else if (mix->invCovar != nullptr) {
      // Without the constant the determinant would drop out of the likelihood.
      mix->gconst = mix->invCovar->size * log2pi - LogDetUpper(mix->invCovar);
    }
  }
  *out = mix;
  return 0;
}

int HTKreadState(FILE* file, HTK_HMMS* set, HtkToken* token, const char* context, HtkState** out) {
  static const char* const kFunction = "internal::HTKreadState";
  const int nStream = set->nStream;
  if (nStream < 1) {
    HTK_LOG(kFunction, "<VECSIZE>  is not specified.");
    return 19;
  }
  HtkState* state = NewRecord(&set->stateList);
  if (state == nullptr) return NoMemory(kFunction);
  state->streamWeights =
      static_cast<double*>(std::malloc(static_cast<size_t>(nStream) * sizeof(double)));
  state->streams =
      static_cast<HtkStream*>(std::calloc(static_cast<size_t>(nStream), sizeof(HtkStream)));
  if (state->streamWeights == nullptr || state->streams == nullptr) return NoMemory(kFunction);
  state->nStream = nStream;
  int nMix[kMaxStreams];
  for (int i = 0; i < nStream; ++i) {
    state->streamWeights[i] = 1.0;
    nMix[i] = 1;
  }

  bool given = false;
  int rc = ReadOptional(file, token, NUMMIXES, &given);
  if (rc != 0) return rc;
  if (given) {
    bool ok = HTKreadInt(file, nMix, nStream, token->binForm) != 0;
    for (int i = 0; ok && i < nStream; ++i) ok = nMix[i] >= 1 && nMix[i] <= kMaxMixes;
    if (!ok) {
      HTK_LOG(kFunction, "HTKreadInt : <NumMixes> short error");
      return 64;
    }
  }

  rc = ReadOptional(file, token, SWEIGHTS, &given);
  if (rc != 0) return rc;
  if (given) {
    int n = 0;
    rc = ReadInt(file, token, kFunction, {65, "HTKreadInt : <SWeights> short error"}, &n);
    if (rc != 0) return rc;
    if (n != nStream) {
      HTK_LOG(kFunction, "SWeights illegal (%s: n[%d] != nStream[%d])", OrEmpty(context), n,
              nStream);
      return 66;
    }
    if (!HTKreadDouble(file, state->streamWeights, n, token->binForm)) {
      HTK_LOG(kFunction, "HTKreadDouble : <SWeights> short vector error");
      return 67;
    }
  }

  for (int s = 0; s < nStream; ++s) {
    rc = HTKreadToken(file, token);
    if (rc != 0) return rc;
    if (token->sym == STREAM) {
      int n = 0;
      rc = ReadInt(file, token, kFunction, {68, "HTKreadInt : <Stream> short error"}, &n);
      if (rc != 0) return rc;
      if (n != s + 1) {
        HTK_LOG(kFunction, "SWeights illegal (%s: iStream+1[%d] != n[%d])", OrEmpty(context), s + 1,
                n);
        return 69;
      }
    } else if (nStream == 1) {
      token->pushedBack = true;
    } else {
      HTK_LOG(kFunction, "<Stream> tag is not found (%s).", OrEmpty(context));
      return 69;
    }

    HtkStream* stream = &state->streams[s];
    const size_t slots = static_cast<size_t>(nMix[s]);
    stream->mixWeights = static_cast<double*>(std::calloc(slots, sizeof(double)));
    stream->mixtures = static_cast<HtkMixture**>(std::calloc(slots, sizeof(HtkMixture*)));
    if (stream->mixWeights == nullptr || stream->mixtures == nullptr) return NoMemory(kFunction);
    stream->nMix = nMix[s];

    for (int count = 0; count < nMix[s]; ++count) {
      rc = ReadOptional(file, token, MIXTURE, &given);
      if (rc != 0) return rc;
      int m = 1;
      double w = 1.0;
      if (given) {
        rc = ReadInt(file, token, kFunction, {70, "HTKreadInt : <Mixture> short error"}, &m);
        if (rc != 0) return rc;
        if (!HTKreadDouble(file, &w, 1, token->binForm)) {
          HTK_LOG(kFunction, "HTKreadDouble : <Mixture> short float error");
          return 71;
        }
        if (m < 1 || m > nMix[s] || stream->mixtures[m - 1] != nullptr) {
          HTK_LOG(kFunction, "<Mixture> is illegal (%s:%d).", OrEmpty(context), m);
          return 71;
        }
      } else if (count > 0) {
        break;  // a later untagged token ends the stream's mixtures
      }

      HtkMixture* mix = nullptr;
      rc = ReadRefOrInline(file, token, set->mixTable, kFunction, kMixRef, &mix,
                           [&] { return HTKreadMix(file, set, token, context, &mix); });
      if (rc != 0) return rc;
      stream->mixtures[m - 1] = mix;
      stream->mixWeights[m - 1] = w;
    }
  }
  *out = state;
  return 0;
}

int HTKreadTrans(FILE* file, HTK_HMMS* set, HtkToken* token, HtkTransP** out) {
  return ReadBlock(file, token, "internal::HTKreadTrans", kTransBlock, nullptr, &set->transList,
                   out);
}

static int ReadHmmBody(FILE* file, HTK_HMMS* set, HtkToken* token, HtkHmm* hmm) {
  static const char* const kFunction = "internal::HTKreadHmm";
  int rc = ExpectKeyword(file, token, BEGINHMM, kFunction, {34, "<BeginHmm> is not found"});
  if (rc != 0) return rc;
  rc = HTKreadGlobalOption(file, set, token);
  if (rc != 0) return rc;

  rc = ExpectKeyword(file, token, NUMSTATES, kFunction, {36, "<NumStates> is not found"});
  if (rc != 0) return rc;
  int numStates = 0;
  rc = ReadInt(file, token, kFunction, {37, "HTKreadInt : <NumStates> short error"}, &numStates, 2,
               kMaxStates);
  if (rc != 0) return rc;
  hmm->states = static_cast<HtkState**>(
      std::calloc(static_cast<size_t>(numStates > 2 ? numStates - 2 : 1), sizeof(HtkState*)));
  if (hmm->states == nullptr) return NoMemory(kFunction);
  hmm->numStates = numStates;

  for (int n = 2; n < numStates; ++n) {
    rc = ExpectKeyword(file, token, STATE, kFunction, {38, "<State> is not found"});
    if (rc != 0) return rc;
    int number = 0;
    if (!HTKreadInt(file, &number, 1, token->binForm)) {
      HTK_LOG(kFunction, "<State> is illegal (%d)", n);
      return 39;
    }
    if (number != n) {
      HTK_LOG(kFunction, "<State> is illegal (iState+2[%d] != n[%d])", n, number);
      return 39;
    }
    HtkState* state = nullptr;
    rc = ReadRefOrInline(file, token, set->stateTable, kFunction, kStateRef, &state,
                         [&] { return HTKreadState(file, set, token, hmm->name, &state); });
    if (rc != 0) return rc;
    hmm->states[n - 2] = state;
  }

  rc = ReadRefOrInline(file, token, set->transTable, kFunction, kTransRef, &hmm->transP,
                       [&] { return HTKreadTrans(file, set, token, &hmm->transP); });
  if (rc != 0) return rc;

  rc = ExpectKeyword(file, token, ENDHMM, kFunction, {35, "<EndHmm> is not found"});
  if (rc != 0) return rc;
  if (set->hmmTable == nullptr) {
    set->hmmTable = HashCreate(1024, HashName, HashNameEqual);
    if (set->hmmTable == nullptr) return NoMemory(kFunction);
  }
  const int inserted = HashInsert(set->hmmTable, hmm->name, hmm);
  if (inserted < 0) return kHtkNoMemory;
  if (inserted == 0) {
    HTK_LOG(kFunction, "Duplicate macro name (%s)", hmm->name);
    return 33;
  }
  return 0;
}

int HTKreadHmm(FILE* file, HTK_HMMS* set, HtkToken* token) {
  static const char* const kFunction = "internal::HTKreadHmm";
  int rc = HTKreadToken(file, token);  // the "~h" itself
  if (rc != 0) return rc;
  char name[kMaxString + 1];
  if (!HTKreadString(file, name, kMaxString)) {
    HTK_LOG(kFunction, "HTKreadString : ~h macro error");
    return 32;
  }
  HtkHmm* hmm = static_cast<HtkHmm*>(std::calloc(1, sizeof(HtkHmm)));
  if (hmm == nullptr) return NoMemory(kFunction);
  hmm->name = DupString(name);
  if (hmm->name == nullptr) {
    FreeRecord(hmm);
    return NoMemory(kFunction);
  }
  rc = ReadHmmBody(file, set, token, hmm);
  if (rc != 0) {
    FreeRecord(hmm);
    return rc;
  }
  Append(&set->hmmList, hmm);
  return 0;
}

}  // namespace internal

int HTKread3(FILE* file, HTK_HMMS* set) {
  using namespace internal;
  static const char* const kFunction = "HTKread3";
  if (set == nullptr) return 1;
  if (file == nullptr) return 0;  // no section: nothing to read
  const bool hadOptions = set->nStream != 0;
  HtkToken token{};
  token.sym = NULLSYM;
  for (;;) {
    int rc = HTKreadToken(file, &token);
    if (rc != 0) {
      HTK_LOG(kFunction, "Error (0x%08x)", rc);
      return rc;
    }
    if (token.sym == EOFSYM) return 0;
    if (token.sym != MACRO) {
      HTK_LOG(kFunction, "stToken.sym is not MACRO [%d,%c]", token.sym,
              token.macroType != 0 ? token.macroType : ' ');
      return 16;
    }
    if (token.macroType == 'h') {
      token.pushedBack = true;
      rc = HTKreadHmm(file, set, &token);
      if (rc != 0) {
        HTK_LOG(kFunction, "HTKreadHmm error (0x%08x)", rc);
        return rc;
      }
    } else if (token.macroType == 'o') {
      if (!hadOptions) {
        rc = HTKreadGlobalOption(file, set, &token);
        if (rc != 0) {
          HTK_LOG(kFunction, "HTKreadGlobalOption Error (0x%08x)", rc);
          return rc;
        }
        continue;
      }
      HTK_HMMS added;
      HTKinit(&added);
      rc = HTKreadGlobalOption(file, &added, &token);
      if (rc != 0) {
        HTKfree(&added);
        HTK_LOG(kFunction, "Add HTKreadGlobalOption Error (0x%08x)", rc);
        return rc;
      }
      if (added.nStream == set->nStream) {
        for (int i = 0; i < set->nStream; ++i) {
          if (added.panStreamWidth[i] != set->panStreamWidth[i]) {
            HTK_LOG(kFunction, "panStreamWidth is mismatch %d:%d != %d", i, set->panStreamWidth[i],
                    added.panStreamWidth[i]);
            HTKfree(&added);
            return 20;
          }
        }
        const char* oldKind = OrEmpty(set->szParmKind);
        const char* newKind = OrEmpty(added.szParmKind);
        if (added.nVecSize != set->nVecSize || std::strcmp(oldKind, newKind) != 0) {
          HTK_LOG(kFunction, "nVecSize or szParmKind is mismatch %d != %d or %s != %s",
                  set->nVecSize, added.nVecSize, oldKind, newKind);
          HTKfree(&added);
          return 21;
        }
      }
      HTKfree(&added);
    } else {
      HTK_LOG(kFunction, "Macro is illegal [%d,%c]", token.sym, token.macroType);
      return 17;
    }
  }
}
