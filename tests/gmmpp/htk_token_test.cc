// Tokens, strings, numbers and parameter kinds of the HTK reader.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"
#include "tests/gmmpp/htk-test-util.h"

namespace {

using jor_test::MemFile;
using namespace internal;

struct TokenCase {
  const char* input;
  int code;        // HTKreadToken result
  int sym;         // when code is 0
  char macroType;  // when sym is MACRO
  int parmKind;    // when sym is PARMKIND
  bool binForm;
};

TEST(HtkTokenTest, ReadsEachFormOfToken) {
  const std::string k39(39, 'Q');
  const std::string k40(40, 'Q');
  const std::string long39 = "<" + k39 + ">";
  const std::string long40 = "<" + k40 + ">";
  const TokenCase cases[] = {
      {"<BeginHMM>", 0, BEGINHMM, 0, 0, false},
      {"  \n\t<bEgInHmM>", 0, BEGINHMM, 0, 0, false},
      {"<lltcovar>", 0, LLTCOVAR, 0, 0, false},
      {"<MFCC_E_D_A>", 0, PARMKIND, 0, 6 | 0x40 | 0x100 | 0x200, false},
      {"<mfcc_e_d_a>", 0, PARMKIND, 0, 6 | 0x40 | 0x100 | 0x200, false},
      {"<MFCC_Q>", 0, PARMKIND, 0, 6, false},
      {"<LPDELCEP>", 0, PARMKIND, 0, 259, false},
      {"<USER_0_V_Z_K>", 0, PARMKIND, 0, 9 | 0x2000 | 0x4000 | 0x800 | 0x1000, false},
      {"<ANON>", 5, 0, 0, 0, false},
      {"<FOO>", 5, 0, 0, 0, false},
      {"<>", 5, 0, 0, 0, false},
      {"<PARMKIND>", 5, 0, 0, 0, false},    // never matched from text
      {long39.c_str(), 5, 0, 0, 0, false},  // fits, but is no keyword
      {long40.c_str(), 4, 0, 0, 0, false},
      {"<BEGIN", 4, 0, 0, 0, false},
      {"~h", 0, MACRO, 'h', 0, false},
      {"~O", 0, MACRO, 'o', 0, false},
      {"~c", 0, MACRO, 'c', 0, false},
      {"~x", 0, MACRO, 'x', 0, false},
      {"~a", 2, 0, 0, 0, false},
      {"~", 2, 0, 0, 0, false},
      {"#", 3, 0, 0, 0, false},
      {"@", 1, 0, 0, 0, false},
      {"", 0, EOFSYM, 0, 0, false},
      {"   \n ", 0, EOFSYM, 0, 0, false},
      {". \"x\"", 0, MACRO, 'h', 0, false},
      {". \n", 0, EOFSYM, 0, 0, false},
      {"__KAVOR__SEPARATOR__", 0, EOFSYM, 0, 0, false},
      {"\n__KAVOR__SEPARATOR__<MEAN>", 0, EOFSYM, 0, 0, false},
      {"__KAVOR__SEPARATOR_", 1, 0, 0, 0, false},
      {"__KAVOR__SEPARATOX__", 1, 0, 0, 0, false},
      {":\x14", 0, MEAN, 0, 0, true},
      {":\x77", 0, 119, 0, 0, true},
      {":x", 5, 0, 0, 0, false},  // 120: binary parameter kind
      {":\xff", 5, 0, 0, 0, false},
      {":", 1, 0, 0, 0, false},
  };
  for (const TokenCase& c : cases) {
    SCOPED_TRACE(c.input);
    MemFile f(c.input);
    HtkToken t{};
    ASSERT_EQ(HTKreadToken(f.get(), &t), c.code);
    if (c.code != 0) continue;
    EXPECT_EQ(t.sym, c.sym);
    EXPECT_EQ(t.binForm, c.binForm);
    if (c.sym == MACRO) {
      EXPECT_EQ(t.macroType, c.macroType);
    }
    if (c.sym == PARMKIND) {
      EXPECT_EQ(t.parmKind, c.parmKind);
    }
  }
}

TEST(HtkTokenTest, SeparatorLeavesStreamAfterItAndPushBackRepeats) {
  MemFile f("<Mean>__KAVOR__SEPARATOR__XYZ");
  HtkToken t{};
  ASSERT_EQ(HTKreadToken(f.get(), &t), 0);
  EXPECT_EQ(t.sym, MEAN);
  t.pushedBack = true;
  ASSERT_EQ(HTKreadToken(f.get(), &t), 0);
  EXPECT_EQ(t.sym, MEAN);
  EXPECT_FALSE(t.pushedBack);
  ASSERT_EQ(HTKreadToken(f.get(), &t), 0);
  EXPECT_EQ(t.sym, EOFSYM);
  EXPECT_EQ(std::getc(f.get()), 'X');
}

TEST(HtkTokenTest, SymbolNames) {
  EXPECT_STREQ(HTKsymName(0), "BEGINHMM");
  EXPECT_STREQ(HTKsymName(30), "LLTCOVAR");
  EXPECT_STREQ(HTKsymName(31), "");
  EXPECT_STREQ(HTKsymName(120), "PARMKIND");
  EXPECT_STREQ(HTKsymName(121), "MACRO");
  EXPECT_STREQ(HTKsymName(122), "EOFSYM");
  EXPECT_STREQ(HTKsymName(123), "");
  EXPECT_STREQ(HTKsymName(124), "");
}

TEST(HtkTokenTest, ParmKindBothWays) {
  struct Case {
    const char* name;
    int kind;
    const char* spelled;
  };
  const Case cases[] = {
      {"MFCC_E_D", 6 | 0x40 | 0x100, "MFCC_E_D"},
      {"MFCC_D_E", 6 | 0x40 | 0x100, "MFCC_E_D"},
      {"MFCC_0_V_K_Z_C_A_N_D_E", 6 | 0x7FC0, "MFCC_E_D_N_A_C_K_Z_0_V"},
      {"LPDELCEP_E", 3 | 0x100 | 0x40, "LPCEPSTRA_E_D"},
      {"WAVEFORM", 0, "WAVEFORM"},
      {"DISCRETE", 10, "DISCRETE"},
      {"FBANK_X", 7, "FBANK"},
      {"NOPE_E", 11, "ANON"},
      {"ANON", 11, "ANON"},
      {"_E", 11, "ANON"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HTKstr2ParmKind(c.name), c.kind);
    char buf[kHtkParmKindStrLen];
    EXPECT_STREQ(HTKparmKind2Str(static_cast<uint16_t>(c.kind), buf), c.spelled);
  }
}

TEST(HtkTokenTest, Strings) {
  struct Case {
    std::string input;
    int ok;
    std::string value;
    int next;  // next character left in the stream
  };
  const std::string n254(254, 'n');
  const std::string n255(255, 'n');
  const Case cases[] = {
      {"  plain rest", 1, "plain", ' '},
      {"\"with blanks\" x", 1, "with blanks", ' '},
      {"'single \" quote'x", 1, "single \" quote", 'x'},
      {"\"\"", 1, "", EOF},
      {"tail", 1, "tail", EOF},
      {"   ", 0, "", EOF},
      {"\"open", 0, "", EOF},
      {n254, 1, n254, EOF},
      {n255, 0, "", 0},
      {"\"" + n254 + "\"", 1, n254, EOF},
      {"\"" + n255 + "\"", 0, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    MemFile f(c.input);
    char buf[256];
    ASSERT_EQ(HTKreadString(f.get(), buf, 255), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(std::string(buf), c.value);
    EXPECT_EQ(std::getc(f.get()), c.next);
  }
}

TEST(HtkTokenTest, TextNumbers) {
  MemFile f(" 3 -7 2.5e-1 1e-40 -2e-36 nan 1e-35 -4.5");
  int ints[2];
  ASSERT_EQ(HTKreadInt(f.get(), ints, 2, false), 1);
  EXPECT_EQ(ints[0], 3);
  EXPECT_EQ(ints[1], -7);
  double d[6];
  testing::internal::CaptureStdout();
  ASSERT_EQ(HTKreadDouble(f.get(), d, 5, false), 1);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "NaN in HTKreadDouble !\n");
  EXPECT_EQ(d[0], 0.25);
  EXPECT_EQ(d[1], 0.0);  // below 1e-35
  EXPECT_EQ(d[2], 0.0);
  EXPECT_EQ(d[3], 0.0);  // not a number
  EXPECT_EQ(d[4], 1e-35);
  float g;
  ASSERT_EQ(HTKreadFloat(f.get(), &g, 1, false), 1);
  EXPECT_EQ(g, -4.5f);
  EXPECT_EQ(HTKreadDouble(f.get(), d, 1, false), 0);
  EXPECT_EQ(HTKreadInt(f.get(), ints, 1, false), 0);
}

TEST(HtkTokenTest, BinaryNumbersAreLittleEndian) {
  // int16 -2, int16 300, float 1.5, float 1e-36, float -0.75 (short by one byte after).
  const unsigned char bytes[] = {0xFE, 0xFF, 0x2C, 0x01, 0x00, 0x00, 0xC0, 0x3F, 0x25,
                                 0x24, 0xAA, 0x03, 0x00, 0x00, 0x40, 0xBF, 0x01};
  MemFile f(std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes)));
  int ints[2];
  ASSERT_EQ(HTKreadInt(f.get(), ints, 2, true), 1);
  EXPECT_EQ(ints[0], -2);
  EXPECT_EQ(ints[1], 300);
  double d[2];
  ASSERT_EQ(HTKreadDouble(f.get(), d, 2, true), 1);
  EXPECT_EQ(d[0], 1.5);
  EXPECT_EQ(d[1], 0.0);
  float g;
  ASSERT_EQ(HTKreadFloat(f.get(), &g, 1, true), 1);
  EXPECT_EQ(g, -0.75f);
  EXPECT_EQ(HTKreadFloat(f.get(), &g, 1, true), 0);
}

TEST(HtkTokenTest, HashTable) {
  EXPECT_EQ(HashCreate(0, HashName, HashNameEqual), nullptr);
  EXPECT_EQ(HashName("ab"), 'a' + 'b');
  EXPECT_EQ(HashName("\xff\xfe"), 3);  // signed chars: -1 + -2
  HashTable* t = HashCreate(4, HashName, HashNameEqual);
  ASSERT_NE(t, nullptr);
  int a = 1, b = 2, c = 3;
  EXPECT_EQ(HashInsert(t, "ab", &a), 1);
  EXPECT_EQ(HashInsert(t, "ba", &b), 1);  // same bucket, different key
  EXPECT_EQ(HashInsert(t, "ab", &c), 0);
  EXPECT_EQ(HashFind(t, "ab"), &a);
  EXPECT_EQ(HashFind(t, "ba"), &b);
  EXPECT_EQ(HashFind(t, "cd"), nullptr);
  EXPECT_EQ(HashDelete(t, "ab"), 1);
  EXPECT_EQ(HashDelete(t, "ab"), 0);
  EXPECT_EQ(HashFind(t, "ab"), nullptr);
  EXPECT_EQ(HashFind(t, "ba"), &b);
  HashDestroy(t);
}

}  // namespace
