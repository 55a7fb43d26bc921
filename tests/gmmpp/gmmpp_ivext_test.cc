// Frame accumulation of GmmppIvext, the loading of its models and instances on them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-calculator.h"
#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "IvectorExt/ivext/iv-extractor.h"
#include "tests/gmmpp/htk-test-util.h"
#include "tests/gmmpp/posterior-reference.h"
#include "tools/modelio/htk-writer.h"

namespace {

using gmmpp_ivext::GmmppCalculator;
using gmmpp_ivext::GmmppIvext;
using jor_test::MemFile;
using modelio::HtkGmm;

constexpr int kDim = 5;
constexpr int kGaussians = 16;
constexpr int kSelect = 4;
constexpr float kFloor = 0.025f;
constexpr uint32_t kNotReady = 0x30105301u;

struct Stats {
  int numFrames = 0;
  std::vector<double> zeroth = std::vector<double>(kGaussians, 0.0);
  std::vector<std::vector<double>> first =
      std::vector<std::vector<double>>(kGaussians, std::vector<double>(kDim, 0.0));
};

// Selection: the best kSelect of model 1; posteriors: model 2 on those, with
// the floor; statistics: Σ γ and Σ γ·x per Gaussian.
Stats ReferenceStats(const HtkGmm& selection, const HtkGmm& posterior,
                     const std::vector<float>& features) {
  Stats s;
  for (size_t t = 0; t + kDim <= features.size(); t += kDim) {
    const std::vector<float> x(features.begin() + t, features.begin() + t + kDim);
    const jor_test::Kept sel = jor_test::Reference(selection, x, nullptr, kSelect, 0.0);
    const jor_test::Kept post = jor_test::Reference(posterior, x, &sel.idx, kSelect, kFloor);
    for (size_t k = 0; k < post.idx.size(); ++k) {
      s.zeroth[post.idx[k]] += post.post[k];
      for (int d = 0; d < kDim; ++d) s.first[post.idx[k]][d] += post.post[k] * x[d];
    }
    ++s.numFrames;
  }
  return s;
}

void ExpectStats(const UtteranceStats<float>& got, const Stats& want) {
  ASSERT_EQ(got.numFrames, want.numFrames);
  ASSERT_EQ(got.numGaussians, kGaussians);
  for (int c = 0; c < kGaussians; ++c) {
    EXPECT_NEAR(got.zeroth[c], want.zeroth[c], 1e-4) << c;
    for (int d = 0; d < kDim; ++d) EXPECT_NEAR(got.first[c][d], want.first[c][d], 5e-4) << c;
  }
}

std::vector<float> Features(const HtkGmm& gmm, int frames, int extra, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.8);
  std::vector<float> f;
  for (int t = 0; t < frames; ++t) {
    const modelio::HtkGaussian& g = gmm.gaussians[rng() % gmm.gaussians.size()];
    for (double mu : g.mean) f.push_back(static_cast<float>(mu + noise(rng)));
  }
  for (int i = 0; i < extra; ++i) f.push_back(1.0f);  // a partial frame, ignored
  return f;
}

// Section of the i-vector extractor: header, E = 4, C, F, R, prior offset,
// T (C·F·R) and the lower triangles of identity inverse covariances.
std::string ExtractorSection(int C, int F, int R) {
  std::string s(32, '\0');
  auto i32 = [&](int32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); };
  auto f32 = [&](float v) { s.append(reinterpret_cast<const char*>(&v), 4); };
  i32(4);
  i32(C);
  i32(F);
  i32(R);
  f32(10.0f);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-0.5f, 0.5f);
  for (int i = 0; i < C * F * R; ++i) f32(u(rng));
  for (int c = 0; c < C; ++c) {
    for (int r = 0; r < F; ++r) {
      for (int k = 0; k <= r; ++k) f32(k == r ? 1.0f : 0.0f);
    }
  }
  return s;
}

class GmmppIvextTest : public testing::Test {
 protected:
  void SetUp() override {
    selection = modelio::RandomDiagonalGmm(kGaussians, kDim, 401);
    posterior = modelio::RandomFullGmm(kGaussians, kDim, 402);
    // Posterior model means near the selection model's so that the selected
    // Gaussians carry weight under both.
    for (int m = 0; m < kGaussians; ++m) posterior.gaussians[m].mean = selection.gaussians[m].mean;
  }

  int Load(GmmppCalculator& calc, int id, const HtkGmm& gmm, int outSize, float threshold) {
    MemFile f(modelio::HtkTextGmm(gmm));
    return calc.LoadModel(id, f.get(), outSize, threshold);
  }

  HtkGmm selection;
  HtkGmm posterior;
};

TEST_F(GmmppIvextTest, AccumulatesSelectedPosteriors) {
  GmmppCalculator sel, post;
  ASSERT_EQ(Load(sel, 1, selection, kSelect, 0.0f), 0);
  ASSERT_EQ(Load(post, 2, posterior, kSelect, kFloor), 0);
  EXPECT_EQ(sel.NumGaussians(), kGaussians);
  EXPECT_EQ(post.FeatureDim(), kDim);
  UtteranceStats<float> stats(kDim, kGaussians);
  const std::vector<float> f1 = Features(selection, 9, 3, 1);
  const std::vector<float> f2 = Features(selection, 5, 0, 2);
  ASSERT_EQ(GmmppIvext::AccumulateFrames(sel, post, kDim, f1, stats), 0);
  ASSERT_EQ(GmmppIvext::AccumulateFrames(sel, post, kDim, f2, stats), 0);
  std::vector<float> both(f1.begin(), f1.begin() + 9 * kDim);
  both.insert(both.end(), f2.begin(), f2.end());
  ExpectStats(stats, ReferenceStats(selection, posterior, both));
  // Less than one frame adds nothing.
  ASSERT_EQ(GmmppIvext::AccumulateFrames(sel, post, kDim, std::vector<float>(kDim - 1, 0.f), stats),
            0);
  EXPECT_EQ(stats.numFrames, 14);
}

TEST_F(GmmppIvextTest, FrameFailures) {
  GmmppCalculator sel, post, wide;
  ASSERT_EQ(Load(sel, 1, selection, kSelect, 0.0f), 0);
  ASSERT_EQ(Load(post, 2, posterior, kSelect, kFloor), 0);
  ASSERT_EQ(Load(wide, 1, selection, kGaussians + 1, 0.0f), 0);
  const std::vector<float> f = Features(selection, 3, 0, 4);
  struct Case {
    const char* name;
    GmmppCalculator* sel;
    int featureDim;
    int statsDim;
    int statsGaussians;
    uint32_t code;
    int framesAdded;
  };
  const Case cases[] = {
      // gselectCount larger than the model: every frame fails.
      {"gselect > M", &wide, kDim, kDim, kGaussians, 0x30005101u, 0},
      // Posterior indices beyond the statistics are refused, not written.
      {"index beyond stats", &sel, kDim, kDim, 3, 0x40007005u, -1},
      {"frame wider than stats", &sel, kDim + 1, kDim, kGaussians, 0x40007005u, 0},
      // A model wider than the frame would read past it.
      {"model wider than frame", &sel, kDim - 1, kDim - 1, kGaussians, 0x40007005u, 0},
      {"no frame size", &sel, 0, kDim, kGaussians, 0x40007005u, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UtteranceStats<float> stats(c.statsDim, c.statsGaussians);
    EXPECT_EQ(
        static_cast<uint32_t>(GmmppIvext::AccumulateFrames(*c.sel, post, c.featureDim, f, stats)),
        c.code);
    if (c.framesAdded >= 0) {
      EXPECT_EQ(stats.numFrames, c.framesAdded);
    }
    for (float z : stats.zeroth) EXPECT_FALSE(std::isnan(z));
  }
  // No frames at all: nothing to fail on.
  UtteranceStats<float> stats(kDim, kGaussians);
  EXPECT_EQ(GmmppIvext::AccumulateFrames(wide, post, kDim, {}, stats), 0);
}

TEST_F(GmmppIvextTest, NotReadyWithoutModels) {
  GmmppIvext inst(nullptr);
  EXPECT_EQ(inst.Stats(), nullptr);
  std::vector<float> out;
  const std::vector<float> f = Features(selection, 2, 0, 5);
  EXPECT_EQ(static_cast<uint32_t>(inst.AccumulateFeatures(f)), kNotReady);
  EXPECT_EQ(static_cast<uint32_t>(inst.ExtractIvector(out)), kNotReady);
  EXPECT_EQ(static_cast<uint32_t>(inst.ExtractIvectorFromFeatures(f, out)), kNotReady);
  EXPECT_EQ(static_cast<uint32_t>(inst.ResetStats()), kNotReady);

  const std::string good1 = modelio::HtkTextGmm(selection);
  const std::string good2 = modelio::HtkTextGmm(posterior);
  const std::string ext = ExtractorSection(kGaussians, kDim, 3);
  struct Case {
    const char* name;
    std::string m1, m2;
    bool nullExtractor;
    uint32_t code;
  };
  const Case cases[] = {
      {"model 1 syntax", "~s \"x\"", good2, false, 0x40006111u},
      {"model 2 syntax", good1, "<Foo>", false, 0x40006205u},
      {"model 2 shape", good1, "~o <VecSize> 2", false, 0xFFF05FFFu},
      {"no extractor", good1, good2, true, 0x40007000u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemFile f1(c.m1), f2(c.m2), f3(ext);
    gmmpp_ivext::IvectorModels models;
    EXPECT_EQ(static_cast<uint32_t>(GmmppIvext::InitModels(f1.get(), f2.get(),
                                                           c.nullExtractor ? nullptr : f3.get(),
                                                           kSelect, kFloor, kDim, false, &models)),
              c.code);
  }
}

TEST_F(GmmppIvextTest, ReadyModelsServeInstances) {
  const std::string ext = ExtractorSection(kGaussians, kDim, 3);
  {
    ivext::IvExtractor probe;
    MemFile f(ext);
    if (probe.LoadModel(f.get(), false) != 0) {
      GTEST_SKIP() << "the i-vector extractor cannot load models yet";
    }
  }
  MemFile f1(modelio::HtkTextGmm(selection)), f2(modelio::HtkTextGmm(posterior)), f3(ext);
  gmmpp_ivext::IvectorModels models;
  ASSERT_EQ(
      GmmppIvext::InitModels(f1.get(), f2.get(), f3.get(), kSelect, kFloor, kDim, false, &models),
      0);
  GmmppIvext inst(&models);
  ASSERT_NE(inst.Stats(), nullptr);
  EXPECT_EQ(inst.Stats()->featureDim, kDim);
  EXPECT_EQ(inst.Stats()->numGaussians, kGaussians);

  const std::vector<float> f = Features(selection, 8, 2, 6);
  ASSERT_EQ(inst.AccumulateFeatures(f), 0);
  ExpectStats(*inst.Stats(), ReferenceStats(selection, posterior, f));

  std::vector<float> fromStats, fromFeatures;
  ASSERT_EQ(inst.ExtractIvector(fromStats), 0);
  ASSERT_EQ(fromStats.size(), 3u);
  ASSERT_EQ(inst.ExtractIvectorFromFeatures(f, fromFeatures), 0);
  ASSERT_EQ(fromFeatures.size(), 3u);
  for (int r = 0; r < 3; ++r) EXPECT_FLOAT_EQ(fromFeatures[r], fromStats[r]);
  EXPECT_EQ(inst.Stats()->numFrames, 8);  // untouched by the features form

  ASSERT_EQ(inst.ResetStats(), 0);
  EXPECT_EQ(inst.Stats()->numFrames, 0);
}

}  // namespace
