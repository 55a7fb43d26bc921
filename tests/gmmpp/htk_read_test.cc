// Reading, copying and releasing HTK model sets.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/htk-hmm/htk-hmm.h"
#include "tests/gmmpp/htk-test-util.h"
#include "tools/modelio/htk-writer.h"

namespace {

using jor_test::FirstStream;
using jor_test::MemFile;
using jor_test::Read3;
using jor_test::ScopedSet;
using modelio::HtkGmm;

// Checks the set against the GMM it was written from.
void ExpectSetHolds(const HTK_HMMS& set, const HtkGmm& gmm) {
  ASSERT_EQ(set.hmmList.count, 1);
  EXPECT_STREQ(set.hmmList.first->name, gmm.name.c_str());
  EXPECT_EQ(set.nStream, 1);
  EXPECT_EQ(set.panStreamWidth[0], gmm.vecSize);
  EXPECT_EQ(set.nVecSize, gmm.vecSize);
  EXPECT_STREQ(set.szParmKind, gmm.parmKind.c_str());
  const HtkHmm* hmm = set.hmmList.first;
  EXPECT_EQ(hmm->numStates, 3);
  ASSERT_NE(hmm->transP, nullptr);
  ASSERT_EQ(hmm->transP->size, 3);
  EXPECT_EQ(hmm->transP->rows[1][1], 0.5);
  EXPECT_EQ(hmm->transP->rows[0][1], 1.0);
  const HtkStream* s = FirstStream(set);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->nMix, static_cast<int>(gmm.gaussians.size()));
  EXPECT_EQ(set.mixList.count, s->nMix);
  for (int m = 0; m < s->nMix; ++m) {
    SCOPED_TRACE(m);
    const modelio::HtkGaussian& g = gmm.gaussians[m];
    const HtkMixture* mix = s->mixtures[m];
    ASSERT_NE(mix, nullptr);
    EXPECT_EQ(s->mixWeights[m], g.weight);
    EXPECT_EQ(mix->gconst, g.gconst);
    ASSERT_EQ(mix->mean->size, gmm.vecSize);
    for (int i = 0; i < gmm.vecSize; ++i) EXPECT_EQ(mix->mean->values[i], g.mean[i]);
    if (!g.variance.empty()) {
      ASSERT_NE(mix->var, nullptr);
      EXPECT_EQ(mix->invCovar, nullptr);
      for (int i = 0; i < gmm.vecSize; ++i) EXPECT_EQ(mix->var->values[i], g.variance[i]);
    } else {
      ASSERT_NE(mix->invCovar, nullptr);
      EXPECT_EQ(mix->var, nullptr);
      size_t k = 0;
      for (int r = 0; r < gmm.vecSize; ++r) {
        for (int c = r; c < gmm.vecSize; ++c, ++k) {
          EXPECT_EQ(mix->invCovar->rows[r][c - r], g.invCovarUpper[k]);
        }
      }
    }
  }
}

TEST(HtkReadTest, TextAndBinaryFormsReadToTheSameSet) {
  const HtkGmm gmms[] = {modelio::RandomDiagonalGmm(4, 5, 11), modelio::RandomFullGmm(3, 4, 12)};
  for (const HtkGmm& gmm : gmms) {
    for (bool binary : {false, true}) {
      SCOPED_TRACE(binary ? "binary" : "text");
      ScopedSet s;
      const std::string bytes = binary ? modelio::HtkBinaryGmm(gmm) : modelio::HtkTextGmm(gmm);
      ASSERT_EQ(Read3(bytes, &s.set), 0);
      ExpectSetHolds(s.set, gmm);
      EXPECT_EQ(s.set.meanList.count, static_cast<int>(gmm.gaussians.size()));
      EXPECT_EQ(s.set.stateList.count, 1);
      EXPECT_EQ(s.set.transList.count, 1);
      EXPECT_EQ(HashFind(s.set.hmmTable, "ubm"), s.set.hmmList.first);
    }
  }
}

TEST(HtkReadTest, EmptySectionsGiveAnEmptySet) {
  for (const char* text : {"", "  \n", "__KAVOR__SEPARATOR__", "\n__KAVOR__SEPARATOR__~h"}) {
    ScopedSet s;
    EXPECT_EQ(Read3(text, &s.set), 0);
    EXPECT_EQ(s.set.hmmList.count, 0);
    EXPECT_EQ(s.set.nStream, 0);
  }
}

TEST(HtkReadTest, StopsAtTheSeparator) {
  const HtkGmm gmm = modelio::RandomDiagonalGmm(2, 3, 5);
  ScopedSet s;
  // Whatever follows the separator belongs to the next section.
  ASSERT_EQ(Read3(modelio::HtkTextGmm(gmm) + "\x01\x02 not HTK", &s.set), 0);
  ExpectSetHolds(s.set, gmm);
}

struct ErrorCase {
  const char* body;
  int code;
};

// Every reader code that a malformed file can produce, from a minimal file.
TEST(HtkReadTest, MalformedFilesGiveTheirCodes) {
  const std::string o = "~o <VecSize> 2 ";
  const std::string h = o + "~h \"a\" <BeginHMM> <NumStates> 3 <State> 2 ";
  const std::string g = "<Mean> 2 0 0 <Variance> 2 1 1 ";
  const std::string t = "<TransP> 3 0 1 0 0 .5 .5 0 0 0 ";
  const std::string ok = h + g + t + "<EndHMM> ";
  const std::string name255(255, 'n');
  const std::vector<std::pair<std::string, int>> cases = {
      {"@", 1},
      {"~o <VecSize> 2 ~h \"a\" <BeginHMM> <NumStates> 3 <State> 2 <Mean> 2 0 0 ?", 1},
      {"~z", 2},
      {"#", 3},
      {"<" + std::string(40, 'A') + ">", 4},
      {"<Foo>", 5},
      {":\x78", 5},
      {"<BeginHMM>", 16},
      {"~s \"x\"", 17},
      {"~t \"x\"", 17},
      {"~o <StreamInfo> x", 18},
      {"~o <StreamInfo> 0", 18},
      {"~o <StreamInfo> 2 3", 18},
      {"~o <VecSize> x", 19},
      {"~o <NullD>", 19},
      {"~o <VecSize> 2 <FullC>", 16},  // ends the option block; fails at file level
      {o + "~h", 32},
      {o + "~h \"" + name255 + "\"", 32},
      {ok + ok, 33},
      {o + "~h \"a\" <EndHMM>", 34},
      {h + g + t, 35},
      {h + g + t + "<BeginHMM>", 35},
      {o + "~h \"a\" <BeginHMM> <State> 2", 36},
      {o + "~h \"a\" <BeginHMM> <NumStates> x", 37},
      {o + "~h \"a\" <BeginHMM> <NumStates> 1", 37},
      {o + "~h \"a\" <BeginHMM> <NumStates> 3 <Mean>", 38},
      {o + "~h \"a\" <BeginHMM> <NumStates> 3 <State> 3", 39},
      {o + "~h \"a\" <BeginHMM> <NumStates> 3 <State> x", 39},
      {o + "~h \"a\" <BeginHMM> <NumStates> 3 <State> 2 ~s", 40},
      {o + "~h \"a\" <BeginHMM> <NumStates> 3 <State> 2 ~s \"st\"", 41},
      {h + g + "~t", 48},
      {h + g + "~t \"tr\"", 49},
      {h + g + "<TransP> x", 52},
      {h + g + "<TransP> 0", 52},
      {h + g + "<TransP> 3 0 1", 53},
      {h + g + "<EndHMM>", 54},
      {h + "<NumMixes> x", 64},
      {h + "<NumMixes> 0", 64},
      {h + "<SWeights> x", 65},
      {h + "<SWeights> 2 1 1", 66},
      {h + "<SWeights> 1 x", 67},
      {h + "<Stream> x", 68},
      {h + "<Stream> 2", 69},
      {"~o <StreamInfo> 2 1 1 ~h \"a\" <BeginHMM> <NumStates> 3 <State> 2 <Mean> 1 0", 69},
      {h + "<Mixture> x", 70},
      {h + "<Mixture> 1 x", 71},
      {h + "<Mixture> 2 0.5", 71},
      {h + "<Mixture> 0 0.5", 71},
      {h + "<NumMixes> 2 <Mixture> 1 .5 " + g + "<Mixture> 1 .5", 71},
      {h + "~m", 72},
      {h + "~m \"g\"", 73},
      {h + "~u", 83},
      {h + "~u \"m\"", 84},
      {h + "<Mean> 2 0 0 ~v", 85},
      {h + "<Mean> 2 0 0 ~v \"v\"", 86},
      {h + "<Mean> 2 0 0 ~i", 87},
      {h + "<Mean> 2 0 0 ~i \"i\"", 88},
      {h + g + "<GConst> x", 89},
      {h + "<Variance> 2 1 1", 99},
      {h + "<Mean> x", 100},
      {h + "<Mean> -1", 100},
      {h + "<Mean> 2 1", 101},
      {h + "<Mean> 2 0 0 <GConst> 1", 114},
      {h + "<Mean> 2 0 0 <Variance> x", 115},
      {h + "<Mean> 2 0 0 <Variance> 2 1", 116},
      {h + "<Mean> 2 0 0 <InvCovar> x", 131},
      {h + "<Mean> 2 0 0 <InvCovar> 2 1 0", 132},
  };
  for (const auto& [body, code] : cases) {
    SCOPED_TRACE(body);
    ScopedSet s;
    EXPECT_EQ(Read3(body, &s.set), code);
  }
  ScopedSet s;
  EXPECT_EQ(Read3(ok, &s.set), 0);
}

TEST(HtkReadTest, FailuresReleaseTheSetAndCarryTheModelNumber) {
  struct Case {
    int id;
    const char* text;
    uint32_t result;
  };
  const Case cases[] = {
      {1, "~s \"x\"", 0x40006111u},
      {2, "~s \"x\"", 0x40006211u},
      {2, "~o <VecSize> 2 ~h \"a\" <EndHMM>", 0x40006222u},
      {1, "#", 0x40006103u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    HTK_HMMS set;
    HTKinit(&set);
    MemFile f(c.text);
    EXPECT_EQ(static_cast<uint32_t>(HTKread(c.id, f.get(), &set)), c.result);
    EXPECT_EQ(set.hmmList.count, 0);
    EXPECT_EQ(set.meanList.first, nullptr);
    EXPECT_EQ(set.nStream, 0);
    EXPECT_EQ(set.hmmTable, nullptr);
    HTKfree(&set);
  }
}

TEST(HtkReadTest, OptionBlocks) {
  {
    // A second block in the same file overwrites what it gives.
    ScopedSet s;
    ASSERT_EQ(Read3("~o <VecSize> 2 <MFCC_E> ~o <VecSize> 3", &s.set), 0);
    EXPECT_EQ(s.set.nVecSize, 3);
    EXPECT_EQ(s.set.nStream, 1);
    EXPECT_EQ(s.set.panStreamWidth[0], 2);  // from the first block
    EXPECT_STREQ(s.set.szParmKind, "MFCC_E");
  }
  struct Case {
    const char* second;
    int code;
  };
  const Case cases[] = {
      {"~o <StreamInfo> 1 4 <VecSize> 4 <MFCC_E_D>", 0},
      {"~o <VecSize> 4 <MFCC_E_D>", 0},
      {"~o <StreamInfo> 1 5 <VecSize> 4 <MFCC_E_D>", 20},
      {"~o <StreamInfo> 1 4 <VecSize> 5 <MFCC_E_D>", 21},
      {"~o <StreamInfo> 1 4 <VecSize> 4 <MFCC_E>", 21},
      {"~o <StreamInfo> 1 4 <VecSize> 4", 21},
      {"~o <StreamInfo> 2 2 2 <VecSize> 9 <FBANK>", 0},  // stream counts differ: no check
      {"~o <Foo>", 5},
      {"~o", 19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    ScopedSet s;
    ASSERT_EQ(Read3("~o <StreamInfo> 1 4 <VecSize> 4 <MFCC_E_D>", &s.set), 0);
    EXPECT_EQ(Read3(c.second, &s.set), c.code);
    // The first file's options stay.
    EXPECT_EQ(s.set.nVecSize, 4);
    EXPECT_EQ(s.set.nStream, 1);
    EXPECT_STREQ(s.set.szParmKind, "MFCC_E_D");
  }
}

TEST(HtkReadTest, MixtureSlotsAndStreams) {
  ScopedSet s;
  const std::string text =
      "~o <StreamInfo> 2 1 2 <VecSize> 3 ~h 'two streams' <BeginHMM> <NumStates> 3 <State> 2 "
      "<NumMixes> 3 1 <SWeights> 2 0.25 0.75 "
      "<Stream> 1 <Mixture> 3 0.6 <Mean> 1 5 <Variance> 1 4 "
      "<Mixture> 1 0.4 <Mean> 1 -5 <Variance> 1 2 <GConst> 7.5 "
      "<Stream> 2 <Mean> 2 1 2 <Variance> 2 1 1 "
      "<TransP> 3 0 1 0 0 .5 .5 0 0 0 <EndHMM>";
  ASSERT_EQ(Read3(text, &s.set), 0);
  const HtkHmm* hmm = s.set.hmmList.first;
  EXPECT_STREQ(hmm->name, "two streams");
  const HtkState* st = hmm->states[0];
  ASSERT_EQ(st->nStream, 2);
  EXPECT_EQ(st->streamWeights[0], 0.25);
  EXPECT_EQ(st->streamWeights[1], 0.75);
  const HtkStream& s1 = st->streams[0];
  ASSERT_EQ(s1.nMix, 3);
  EXPECT_EQ(s1.mixWeights[0], 0.4);
  EXPECT_EQ(s1.mixWeights[1], 0.0);
  EXPECT_EQ(s1.mixtures[1], nullptr);
  EXPECT_EQ(s1.mixWeights[2], 0.6);
  EXPECT_EQ(s1.mixtures[2]->mean->values[0], 5.0);
  EXPECT_EQ(s1.mixtures[0]->gconst, 7.5);
  EXPECT_DOUBLE_EQ(s1.mixtures[2]->gconst, std::log(2 * std::numbers::pi) + std::log(4.0));
  const HtkStream& s2 = st->streams[1];
  ASSERT_EQ(s2.nMix, 1);
  EXPECT_EQ(s2.mixWeights[0], 1.0);  // untagged first mixture
  EXPECT_EQ(s2.mixtures[0]->mean->size, 2);
  // Records are listed in reading order.
  EXPECT_EQ(s.set.meanList.count, 3);
  EXPECT_EQ(s.set.meanList.first->values[0], 5.0);
  EXPECT_EQ(s.set.meanList.last->values[1], 2.0);
}

TEST(HtkReadTest, ComputedGconst) {
  // Diagonal: n ln 2π + Σ ln v, with -1e10 for variances at or below 2.45e-308.
  {
    ScopedSet s;
    ASSERT_EQ(Read3("~o <VecSize> 2 ~h a <BeginHMM> <NumStates> 3 <State> 2 <Mean> 2 0 0 "
                    "<Variance> 2 2 0 <TransP> 1 1 <EndHMM>",
                    &s.set),
              0);
    EXPECT_DOUBLE_EQ(FirstStream(s.set)->mixtures[0]->gconst,
                     2 * std::log(2 * std::numbers::pi) + std::log(2.0) - 1e10);
  }
  // Inverse covariance: n ln 2π - ln det A from its own matrix.
  const HtkGmm gmm = modelio::RandomFullGmm(2, 6, 3, /*withGconst=*/false);
  for (bool binary : {false, true}) {
    ScopedSet s;
    ASSERT_EQ(Read3(binary ? modelio::HtkBinaryGmm(gmm) : modelio::HtkTextGmm(gmm), &s.set), 0);
    for (int m = 0; m < 2; ++m) {
      const double expected = modelio::FullGconst(gmm.gaussians[m].invCovarUpper, 6);
      EXPECT_NEAR(FirstStream(s.set)->mixtures[m]->gconst, expected, 1e-9 * std::fabs(expected));
    }
  }
  // A singular inverse covariance gives an infinite constant (zero density).
  ScopedSet s;
  ASSERT_EQ(Read3("~o <VecSize> 2 ~h a <BeginHMM> <NumStates> 3 <State> 2 <Mean> 2 0 0 "
                  "<InvCovar> 2 1 1 1 <TransP> 1 1 <EndHMM>",
                  &s.set),
            0);
  EXPECT_EQ(FirstStream(s.set)->mixtures[0]->gconst, HUGE_VAL);
}

TEST(HtkReadTest, ZeroSizedRecordsAreReadAndReleased) {
  ScopedSet s;
  ASSERT_EQ(Read3("~o <VecSize> 1 ~h a <BeginHMM> <NumStates> 3 <State> 2 <NumMixes> 2 "
                  "<Mixture> 1 .5 <Mean> 0 <InvCovar> 0 <Mixture> 2 .5 <Mean> 0 <Variance> 0 "
                  "<TransP> 1 1 <EndHMM>",
                  &s.set),
            0);
  const HtkStream* st = FirstStream(s.set);
  EXPECT_EQ(st->mixtures[0]->invCovar->size, 0);
  EXPECT_EQ(st->mixtures[0]->gconst, 0.0);
  EXPECT_EQ(st->mixtures[1]->var->size, 0);
  ScopedSet copy;
  EXPECT_EQ(HTKcopy(&s.set, &copy.set), 0);
}

TEST(HtkReadTest, CopyIsDeepAndIndependent) {
  const HtkGmm gmms[] = {modelio::RandomDiagonalGmm(3, 4, 21), modelio::RandomFullGmm(2, 3, 22)};
  for (const HtkGmm& gmm : gmms) {
    HTK_HMMS src;
    HTKinit(&src);
    ASSERT_EQ(Read3(modelio::HtkTextGmm(gmm), &src), 0);
    ScopedSet dst;
    ASSERT_EQ(HTKcopy(&src, &dst.set), 0);
    EXPECT_NE(dst.set.hmmList.first, src.hmmList.first);
    EXPECT_NE(dst.set.panStreamWidth, src.panStreamWidth);
    EXPECT_NE(dst.set.szParmKind, src.szParmKind);
    EXPECT_EQ(dst.set.meanList.count, src.meanList.count);
    EXPECT_EQ(dst.set.varList.count, src.varList.count);
    EXPECT_EQ(dst.set.invCovarList.count, src.invCovarList.count);
    EXPECT_EQ(dst.set.mixList.count, src.mixList.count);
    EXPECT_EQ(dst.set.stateList.count, 1);
    EXPECT_EQ(dst.set.transList.count, 1);
    // Overwrite and release the source: the copy must not notice.
    FirstStream(src)->mixtures[0]->mean->values[0] = 1234.0;
    HTKfree(&src);
    ExpectSetHolds(dst.set, gmm);
    EXPECT_EQ(HashFind(dst.set.hmmTable, "ubm"), dst.set.hmmList.first);
  }
}

// Every prefix of a small model (and a few thousand corrupted copies) reads
// without crash or leak, whatever the result.
TEST(HtkReadTest, TruncatedAndCorruptedInputIsSafe) {
  const HtkGmm diag = modelio::RandomDiagonalGmm(2, 3, 31);
  const HtkGmm full = modelio::RandomFullGmm(1, 3, 32);
  const std::string models[] = {
      modelio::HtkTextGmm(diag, false), modelio::HtkBinaryGmm(diag, false),
      modelio::HtkTextGmm(full, false), modelio::HtkBinaryGmm(full, false)};
  for (const std::string& model : models) {
    for (size_t n = 0; n < model.size(); ++n) {
      for (int id : {1, 2}) {
        ScopedSet s;
        MemFile f(model.substr(0, n));
        const int rc = HTKread(id, f.get(), &s.set);
        if (rc != 0) {
          EXPECT_EQ(s.set.hmmList.count, 0);
          EXPECT_EQ(static_cast<uint32_t>(rc) >> 8 & 0xFFF, 0x60u | static_cast<uint32_t>(id));
        }
      }
    }
    ScopedSet whole;
    EXPECT_EQ(Read3(model, &whole.set), 0);
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 3000; ++i) {
    std::string bytes = models[i % 4];
    const int flips = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < flips; ++k) {
      bytes[rng() % bytes.size()] = static_cast<char>(rng() & 0xFF);
    }
    ScopedSet s;
    MemFile f(bytes);
    HTKread(1, f.get(), &s.set);
  }
}

}  // namespace
