// The lexer of the HTK module: tokens, strings, numbers and parameter kinds.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"
#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-records.h"

namespace {

const char* const kSymbolNames[124] = {
    "BEGINHMM", "USE", "ENDHMM", "NUMMIXES", "NUMSTATES", "STREAMINFO", "VECSIZE", "NULLD",
    "POISSOND", "GAMMAD", "RELD", "GEND", "DIAGC", "FULLC", "XFORMC", "STATE", "TMIX", "MIXTURE",
    "STREAM", "SWEIGHTS", "MEAN", "VARIANCE", "INVCOVAR", "XFORM", "GCONST", "DURATION", "INVDIAGC",
    "TRANSP", "DPROB", "LLTC", "LLTCOVAR",
    // 31..119 unused
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    // 120..123
    "PARMKIND", "MACRO", "EOFSYM", ""};
constexpr int kNumKeywords = 31;

const char* const kParmKindNames[12] = {"WAVEFORM", "LPC",   "LPREFC",   "LPCEPSTRA",
                                        "LPDELCEP", "IREFC", "MFCC",     "FBANK",
                                        "MELSPEC",  "USER",  "DISCRETE", "ANON"};
constexpr uint16_t kParmAnon = 11;

struct Qualifier {
  char letter;
  uint16_t bit;
};
// Order in which HTKparmKind2Str appends qualifiers.
constexpr Qualifier kQualifiers[9] = {{'E', 0x40},  {'D', 0x100},  {'N', 0x80},
                                      {'A', 0x200}, {'C', 0x400},  {'K', 0x1000},
                                      {'Z', 0x800}, {'0', 0x2000}, {'V', 0x4000}};

// The first character after white space, or EOF.
int SkipSpace(FILE* file) {
  int c;
  do {
    c = std::getc(file);
  } while (c != EOF && std::isspace(c));
  return c;
}

}  // namespace

char* HTKparmKind2Str(uint16_t parmKind, char* buffer) {
  const int base = parmKind & 0x3F;
  std::strcpy(buffer, base <= kParmAnon ? kParmKindNames[base] : kParmKindNames[kParmAnon]);
  size_t len = std::strlen(buffer);
  for (const Qualifier& q : kQualifiers) {
    if (parmKind & q.bit) {
      buffer[len++] = '_';
      buffer[len++] = q.letter;
    }
  }
  buffer[len] = '\0';
  return buffer;
}

namespace internal {

const char* HTKsymName(int sym) {
  return sym >= 0 && sym < 124 ? kSymbolNames[sym] : "";
}

uint16_t HTKstr2ParmKind(const char* name) {
  static const char* const kFunction = "internal::HTKstr2ParmKind";
  char buf[kHtkParmKindStrLen];
  if (name == nullptr) return kParmAnon;
  size_t len = std::strlen(name);
  if (len >= sizeof(buf)) return kParmAnon;  // no base name is that long
  std::memcpy(buf, name, len + 1);
  uint16_t qualifiers = 0;
  while (len >= 3 && buf[len - 2] == '_') {
    const char letter = buf[len - 1];
    bool known = false;
    for (const Qualifier& q : kQualifiers) {
      if (q.letter == letter) {
        qualifiers |= q.bit;
        known = true;
      }
    }
    if (!known) {
      // "HTKstr2ParmKind : 未定義修飾子(%s)！" in Shift_JIS.
      HTK_LOG(kFunction,
              "HTKstr2ParmKind : \x96\xa2\x92\xe8\x8b\x60\x8f\x43\x8f\xfc\x8e\x71(%s)\x81\x49",
              name);
    }
    len -= 2;
    buf[len] = '\0';
  }
  for (uint16_t base = 0; base < 12; ++base) {
    if (std::strcmp(buf, kParmKindNames[base]) == 0) {
      if (base == 4) return static_cast<uint16_t>(3 | 0x100 | qualifiers);
      return static_cast<uint16_t>(base | qualifiers);
    }
  }
  return kParmAnon;
}

int HTKreadToken(FILE* file, HtkToken* token) {
  static const char* const kFunction = "internal::HTKreadToken";
  if (token->pushedBack) {
    token->pushedBack = false;
    return 0;
  }
  token->binForm = false;
  token->parmKind = 0;
  token->macroType = 0;
  int c = SkipSpace(file);
  if (c == EOF) {
    token->sym = EOFSYM;
    return 0;
  }
  switch (c) {
    case '<': {
      char buf[40];
      int len = 0;
      for (;;) {
        c = std::getc(file);
        if (c == '>') break;
        if (c == EOF) {
          buf[len] = '\0';
          HTK_LOG(kFunction, "HTKreadToken : Keyword is not closed(%s)", buf);
          return 4;
        }
        if (len == 39) {
          buf[len] = '\0';
          HTK_LOG(kFunction, "HTKreadToken : Keyword is too long(%s)", buf);
          return 4;
        }
        buf[len++] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      }
      buf[len] = '\0';
      for (int s = 0; s < kNumKeywords; ++s) {
        if (std::strcmp(buf, kSymbolNames[s]) == 0) {
          token->sym = s;
          return 0;
        }
      }
      const uint16_t kind = HTKstr2ParmKind(buf);
      if (kind == kParmAnon) {
        HTK_LOG(kFunction, "HTKreadToken : Undefined keyword");
        return 5;
      }
      token->sym = PARMKIND;
      token->parmKind = kind;
      return 0;
    }
    case ':': {
      c = std::getc(file);
      if (c == EOF) {
        HTK_LOG(kFunction, "HTKreadToken:Symbol_expected!(%x)", ':');
        return 1;
      }
      if (c >= 120) {
        // The binary parameter kind (and anything above) is not part of the
        // accepted subset.
        HTK_LOG(kFunction, "HTKreadToken : Binary symbol is not supported(%d)", c);
        return 5;
      }
      token->sym = c;
      token->binForm = true;
      return 0;
    }
    case '~': {
      c = std::getc(file);
      const int lower = c == EOF ? 0 : std::tolower(c);
      if (lower == 0 || std::strchr("cdhimostuvwx", lower) == nullptr) {
        HTK_LOG(kFunction, "HTKreadToken : Illegal macro type");
        return 2;
      }
      token->sym = MACRO;
      token->macroType = static_cast<char>(lower);
      return 0;
    }
    case '.': {
      c = SkipSpace(file);
      if (c == EOF) {
        token->sym = EOFSYM;
        return 0;
      }
      std::ungetc(c, file);
      token->sym = MACRO;
      token->macroType = 'h';
      return 0;
    }
    case '#':
      HTK_LOG(kFunction, "HTKreadToken : Not supported");
      return 3;
    case '_': {
      static const char kRest[] = "_KAVOR__SEPARATOR__";  // after the first '_'
      char buf[sizeof(kRest) - 1];
      const size_t got = std::fread(buf, 1, sizeof(buf), file);
      if (got == sizeof(buf) && std::memcmp(buf, kRest, sizeof(buf)) == 0) {
        token->sym = EOFSYM;
        return 0;
      }
      std::fseek(file, -static_cast<long>(got), SEEK_CUR);
      HTK_LOG(kFunction, "HTKreadToken:Symbol_expected!(%x)", '_');
      return 1;
    }
    default:
      HTK_LOG(kFunction, "HTKreadToken:Symbol_expected!(%x)", c);
      return 1;
  }
}

int HTKreadString(FILE* file, char* buffer, int maxLen) {
  static const char* const kFunction = "internal::HTKreadString";
  int c = SkipSpace(file);
  if (c == EOF) {
    HTK_LOG(kFunction, "Illegal EOF");
    return 0;
  }
  int len = 0;
  const int quote = (c == '"' || c == '\'') ? c : 0;
  if (quote == 0) std::ungetc(c, file);
  for (;;) {
    c = std::getc(file);
    if (quote != 0) {
      if (c == EOF) {
        HTK_LOG(kFunction, "Illegal EOF");
        return 0;
      }
      if (c == quote) break;
    } else {
      if (c == EOF) break;
      if (std::isspace(c)) {
        std::ungetc(c, file);
        break;
      }
    }
    if (len + 1 >= maxLen) {
      HTK_LOG(kFunction, "String is too long");
      return 0;
    }
    buffer[len++] = static_cast<char>(c);
  }
  buffer[len] = '\0';
  return 1;
}

int HTKreadInt(FILE* file, int* out, int n, bool binary) {
  static const char* const kFunction = "internal::HTKreadInt";
  for (int i = 0; i < n; ++i) {
    if (binary) {
      unsigned char b[2];
      if (std::fread(b, 1, 2, file) != 2) {
        HTK_LOG(kFunction, "Error fread() != n(%d)", n);
        return 0;
      }
      out[i] = static_cast<int16_t>(static_cast<uint16_t>(b[0] | (b[1] << 8)));
    } else if (std::fscanf(file, "%d", &out[i]) != 1) {
      HTK_LOG(kFunction, "Error fscanf() != 1");
      return 0;
    }
  }
  return 1;
}

static int ReadBinaryFloat(FILE* file, float* out) {
  unsigned char b[4];
  if (std::fread(b, 1, 4, file) != 4) return 0;
  const uint32_t bits = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                        (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
  std::memcpy(out, &bits, 4);
  return 1;
}

int HTKreadFloat(FILE* file, float* out, int n, bool binary) {
  static const char* const kFunction = "internal::HTKreadFloat";
  for (int i = 0; i < n; ++i) {
    if (binary) {
      if (!ReadBinaryFloat(file, &out[i])) {
        HTK_LOG(kFunction, "Error fread() != n(%d)", n);
        return 0;
      }
    } else if (std::fscanf(file, "%e", &out[i]) != 1) {
      HTK_LOG(kFunction, "Error fscanf() != 1");
      return 0;
    }
  }
  return 1;
}

int HTKreadDouble(FILE* file, double* out, int n, bool binary) {
  static const char* const kFunction = "internal::HTKreadDouble";
  for (int i = 0; i < n; ++i) {
    double v;
    if (binary) {
      float f;
      if (!ReadBinaryFloat(file, &f)) {
        HTK_LOG(kFunction, "Error fread() != n(%d)", n);
        return 0;
      }
      v = f;
    } else {
      if (std::fscanf(file, "%le", &v) != 1) {
        HTK_LOG(kFunction, "Error fscanf() != 1");
        return 0;
      }
      if (std::isnan(v)) {
        std::printf("NaN in HTKreadDouble !\n");
        v = 0.0;
      }
    }
    if (std::fabs(v) < 1e-35) v = 0.0;
    out[i] = v;
  }
  return 1;
}

}  // namespace internal
