#include "IvectorExt/ivext/extractor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "IvectorExt/ivext/iv-extractor.h"
#include "tests/ivext/ivector-reference.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/ivector-writer.h"

namespace {

using ivext_test::ReferenceIvector;
using ivext_test::Stats;
using modelio::IvectorModel;

constexpr int kFileError = static_cast<int>(0x40007000u);
constexpr int kFormatError = static_cast<int>(0x40007001u);
constexpr int kNoFrames = static_cast<int>(0x50007006u);
constexpr int kMatrixDimensions = static_cast<int>(0xFFF01900u);
constexpr int kSingular = static_cast<int>(0xFFF01901u);

template <class T>
UtteranceStats<T> ToStats(const Stats& s, int featureDim, int numFrames = 7) {
  UtteranceStats<T> stats(featureDim, static_cast<int>(s.zeroth.size()));
  stats.numFrames = numFrames;
  for (size_t c = 0; c < s.zeroth.size(); ++c) {
    stats.zeroth[c] = static_cast<T>(s.zeroth[c]);
    for (size_t d = 0; d < s.first[c].size(); ++d)
      stats.first[c][d] = static_cast<T>(s.first[c][d]);
  }
  return stats;
}

// Loads `bytes` from a file into `extractor` (no sharing).
template <class X>
int LoadBytes(X& extractor, const std::string& bytes, long offset = 0) {
  jor_test::TestDir dir;
  const std::string path = dir.File("ivector.bin");
  jor_test::WriteFile(path, std::string(static_cast<size_t>(offset), 'x') + bytes);
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return -1;
  std::fseek(file, offset, SEEK_SET);
  const bool share = false;
  const int rc = extractor.LoadModel(file, share);
  std::fclose(file);
  return rc;
}

template <class T>
void ExpectNear(const std::vector<T>& got, const std::vector<double>& want, double relTol) {
  ASSERT_EQ(got.size(), want.size());
  double scale = 1.0;
  for (double v : want) scale = std::max(scale, std::fabs(v));
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_NEAR(static_cast<double>(got[i]), want[i], relTol * scale) << "element " << i;
}

struct SizeCase {
  int c, f, r, elemSize;
  uint32_t seed;
};

const SizeCase kSizes[] = {
    {1, 1, 1, 4, 1}, {2, 3, 5, 4, 2}, {4, 6, 9, 4, 3},  {3, 13, 17, 4, 4},
    {1, 1, 1, 8, 5}, {2, 3, 5, 8, 6}, {5, 8, 33, 8, 7}, {3, 13, 17, 8, 8},
};

// Private models of several sizes through the typed extractors and through
// IvExtractor (float statistics in, float i-vector out for both models).
TEST(ExtractorTest, MatchesDirectSolve) {
  for (const SizeCase& k : kSizes) {
    SCOPED_TRACE(testing::Message()
                 << "C=" << k.c << " F=" << k.f << " R=" << k.r << " E=" << k.elemSize);
    IvectorModel model = modelio::RandomIvectorModel(k.c, k.f, k.r, k.seed);
    if (k.elemSize == 4) model.RoundToFloat();
    const Stats stats = ivext_test::RandomStats(k.c, k.f, k.seed + 100);
    const std::vector<double> want = ReferenceIvector(model, stats);
    ASSERT_EQ(want.size(), static_cast<size_t>(k.r));
    const std::string bytes = modelio::IvectorModelBytes(model, k.elemSize);

    std::vector<float> fromIv;
    ivext::IvExtractor iv;
    ASSERT_EQ(LoadBytes(iv, bytes), 0);
    EXPECT_EQ(iv.ElemSize(), k.elemSize);
    EXPECT_EQ(iv.NumGaussians(), k.c);
    EXPECT_EQ(iv.FeatureDim(), k.f);
    EXPECT_EQ(iv.IvectorDim(), k.r);
    EXPECT_FALSE(iv.IsShared());
    ASSERT_EQ(iv.Extract(ToStats<float>(stats, k.f), fromIv), 0);
    ExpectNear(fromIv, want, 2e-4);

    if (k.elemSize == 4) {
      ivext::Extractor<float> x;
      ASSERT_EQ(LoadBytes(x, bytes), 0);
      std::vector<float> w;
      ASSERT_EQ(x.Extract(ToStats<float>(stats, k.f), w), 0);
      ExpectNear(w, want, 2e-4);
      EXPECT_EQ(w, fromIv);
    } else {
      ivext::Extractor<double> x;
      ASSERT_EQ(LoadBytes(x, bytes), 0);
      std::vector<double> w;
      ASSERT_EQ(x.Extract(ToStats<double>(stats, k.f), w), 0);
      ExpectNear(w, want, 1e-10);
      for (size_t i = 0; i < w.size(); ++i) EXPECT_EQ(fromIv[i], static_cast<float>(w[i]));
    }
  }
}

// T = (1 1), Σ⁻¹ = 1, prior 2, γ = −1, f = 3: precision [[0 −1] [−1 0]] needs a
// row swap; linear (5, 3) gives w = (−3, −5), then w0 − 2 = −5.
TEST(ExtractorTest, PivotsPastAZeroLeadingElement) {
  IvectorModel m;
  m.numGaussians = 1;
  m.featureDim = 1;
  m.ivectorDim = 2;
  m.priorOffset = 2.0;
  m.t = {1.0, 1.0};
  m.sigmaInv = {1.0};
  for (int elemSize : {4, 8}) {
    SCOPED_TRACE(elemSize);
    ivext::IvExtractor iv;
    ASSERT_EQ(LoadBytes(iv, modelio::IvectorModelBytes(m, elemSize)), 0);
    UtteranceStats<float> stats(1, 1);
    stats.numFrames = 1;
    stats.zeroth[0] = -1.0f;
    stats.first[0][0] = 3.0f;
    std::vector<float> w;
    ASSERT_EQ(iv.Extract(stats, w), 0);
    EXPECT_EQ(w, (std::vector<float>{-5.0f, -5.0f}));
  }
}

TEST(ExtractorTest, ZeroOccupationsGiveZeroIvector) {
  for (int elemSize : {4, 8}) {
    SCOPED_TRACE(elemSize);
    const IvectorModel model = modelio::RandomIvectorModel(3, 4, 6, 11, 37.5);
    ivext::IvExtractor iv;
    ASSERT_EQ(LoadBytes(iv, modelio::IvectorModelBytes(model, elemSize)), 0);
    UtteranceStats<float> stats(4, 3);
    stats.numFrames = 12;
    std::vector<float> w(2, 9.0f);
    ASSERT_EQ(iv.Extract(stats, w), 0);
    EXPECT_EQ(w, std::vector<float>(6, 0.0f));
  }
}

// A double model behind other bytes: the float attempt fails and the double
// extractor must start again at the section, not at the start of the file.
TEST(ExtractorTest, DoubleModelLoadsFromTheRememberedPosition) {
  const IvectorModel model = modelio::RandomIvectorModel(2, 5, 7, 21);
  const Stats stats = ivext_test::RandomStats(2, 5, 22);
  ivext::IvExtractor iv;
  ASSERT_EQ(LoadBytes(iv, modelio::IvectorModelBytes(model, 8), 123), 0);
  EXPECT_EQ(iv.ElemSize(), 8);
  std::vector<float> w;
  ASSERT_EQ(iv.Extract(ToStats<float>(stats, 5), w), 0);
  ExpectNear(w, ReferenceIvector(model, stats), 1e-6);
}

std::string Truncated(const std::string& bytes, size_t size) {
  return bytes.substr(0, size);
}

// The typed extractor reports why it failed; IvExtractor returns the double
// extractor's result once the float attempt failed, so a broken float file
// ends in the double extractor's element size refusal.
TEST(ExtractorTest, RejectsMalformedModels) {
  IvectorModel model = modelio::RandomIvectorModel(2, 3, 4, 31);
  const std::string f32 = modelio::IvectorModelBytes(model, 4);
  const std::string f64 = modelio::IvectorModelBytes(model, 8);
  const size_t tStart32 = 48 + 4, tEnd32 = tStart32 + 4 * 2 * 3 * 4;
  const size_t tStart64 = 48 + 8;
  struct Case {
    const char* name;
    std::string bytes;
    int typed;  // Extractor<float> for E = 4 files, Extractor<double> for E = 8
    int viaIv;
  };
  const Case cases[] = {
      {"empty", "", kFileError, kFileError},
      {"inside the header", f32.substr(0, 20), kFileError, kFileError},
      {"no element size", f32.substr(0, 33), kFileError, kFileError},
      {"element size 2", modelio::IvectorHeaderBytes(2, 1, 1, 1) + std::string(64, '\0'),
       kFormatError, kFormatError},
      {"C = 0", modelio::IvectorHeaderBytes(4, 0, 3, 4) + f32.substr(48), kFormatError,
       kFormatError},
      {"F = 1000001", modelio::IvectorHeaderBytes(4, 2, 1000001, 4) + f32.substr(48), kFormatError,
       kFormatError},
      {"R negative", modelio::IvectorHeaderBytes(8, 2, 3, -4) + f64.substr(48), kFormatError,
       kFormatError},
      {"float: no dimensions", f32.substr(0, 40), kFileError, kFormatError},
      {"float: no prior offset", f32.substr(0, 50), kFileError, kFormatError},
      {"float: ends inside T", Truncated(f32, tStart32 + 10), kFileError, kFormatError},
      {"float: ends inside the inverse covariances", Truncated(f32, tEnd32 + 8), kFileError,
       kFormatError},
      {"float: one byte short", Truncated(f32, f32.size() - 1), kFileError, kFormatError},
      {"double: no prior offset", f64.substr(0, 52), kFileError, kFileError},
      {"double: ends inside T", Truncated(f64, tStart64 + 17), kFileError, kFileError},
      {"double: one byte short", Truncated(f64, f64.size() - 1), kFileError, kFileError},
      // Sizes at the limit with a few bytes of data: a short read, not a
      // giant allocation.
      {"huge sizes, little data",
       modelio::IvectorHeaderBytes(8, 1000000, 1000000, 1000000) + std::string(64, '\0'),
       kFileError, kFileError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t elemSize = 0;
    if (c.bytes.size() >= 36) std::memcpy(&elemSize, c.bytes.data() + 32, 4);
    if (elemSize == 8) {
      ivext::Extractor<double> x;
      EXPECT_EQ(LoadBytes(x, c.bytes), c.typed);
    } else {
      ivext::Extractor<float> x;
      EXPECT_EQ(LoadBytes(x, c.bytes), c.typed);
    }
    ivext::IvExtractor iv;
    EXPECT_EQ(LoadBytes(iv, c.bytes), c.viaIv);
    EXPECT_EQ(iv.ElemSize(), 0);
    UtteranceStats<float> stats(3, 2);
    stats.numFrames = 1;
    std::vector<float> w;
    EXPECT_EQ(iv.Extract(stats, w), kFormatError);
  }
  ivext::IvExtractor iv;
  const bool share = false;
  EXPECT_EQ(iv.LoadModel(nullptr, share), kFileError);
}

TEST(ExtractorTest, ExtractionFailures) {
  // One Gaussian, F = R = 1, T = Σ⁻¹ = 1: precision 1 + γ.
  IvectorModel unit;
  unit.numGaussians = unit.featureDim = unit.ivectorDim = 1;
  unit.priorOffset = 1.0;
  unit.t = {1.0};
  unit.sigmaInv = {1.0};
  struct Case {
    const char* name;
    int statsF, statsC, numFrames;
    float gamma, first;
    int expected;
  };
  const Case cases[] = {
      {"singular precision", 1, 1, 3, -1.0f, 2.0f, kSingular},
      {"NaN statistics", 1, 1, 3, NAN, 2.0f, kSingular},
      {"no frames", 1, 1, 0, 1.0f, 2.0f, kNoFrames},
      {"wrong feature dimension", 2, 1, 3, 1.0f, 2.0f, kMatrixDimensions},
      {"wrong number of Gaussians", 1, 2, 3, 1.0f, 2.0f, kMatrixDimensions},
      // (1 + 3)·w = 1 + 2 → w = 0.75 → 0.75 − 1
      {"regular", 1, 1, 3, 3.0f, 2.0f, 0},
  };
  for (int elemSize : {4, 8}) {
    ivext::IvExtractor iv;
    ASSERT_EQ(LoadBytes(iv, modelio::IvectorModelBytes(unit, elemSize)), 0);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << " E=" << elemSize);
      UtteranceStats<float> stats(c.statsF, c.statsC);
      stats.numFrames = c.numFrames;
      stats.zeroth[0] = c.gamma;
      stats.first[0][0] = c.first;
      std::vector<float> w;
      EXPECT_EQ(iv.Extract(stats, w), c.expected);
      if (c.expected == 0) {
        EXPECT_EQ(w, std::vector<float>{-0.25f});
      }
    }
  }
  // Typed extractors refuse to extract without a model.
  ivext::Extractor<float> f;
  ivext::Extractor<double> d;
  UtteranceStats<float> sf(1, 1);
  UtteranceStats<double> sd(1, 1);
  std::vector<float> wf;
  std::vector<double> wd;
  EXPECT_EQ(f.Extract(sf, wf), kFormatError);
  EXPECT_EQ(d.Extract(sd, wd), kFormatError);
}

}  // namespace
