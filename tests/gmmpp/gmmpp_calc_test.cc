// GMMPP_Init and GMMPP_Calc against a plain double-precision posterior
// computation written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <vector>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp.h"
#include "tests/gmmpp/htk-test-util.h"
#include "tests/gmmpp/posterior-reference.h"
#include "tools/modelio/htk-writer.h"

namespace {

using jor_test::Kept;
using jor_test::Reference;
using jor_test::ScopedSet;
using modelio::HtkGaussian;
using modelio::HtkGmm;

GMMPP* Prepare(const HtkGmm& gmm) {
  ScopedSet s;
  if (jor_test::Read3(modelio::HtkTextGmm(gmm), &s.set) != 0) return nullptr;
  GMMPP* g = nullptr;
  if (GMMPP_Init(&g, &s.set) != 0) return nullptr;
  return g;
}

std::vector<float> RandomFrame(const HtkGmm& gmm, std::mt19937& rng) {
  // Near a random Gaussian so that several posteriors matter.
  std::normal_distribution<double> noise(0.0, 0.7);
  const HtkGaussian& g = gmm.gaussians[rng() % gmm.gaussians.size()];
  std::vector<float> x;
  for (double mu : g.mean) x.push_back(static_cast<float>(mu + noise(rng)));
  return x;
}

void ExpectMatches(const Kept& ref, const std::vector<int>& idx, const std::vector<float>& post,
                   int count) {
  ASSERT_EQ(count, static_cast<int>(ref.idx.size()));
  for (int k = 0; k < count; ++k) {
    EXPECT_EQ(idx[k], ref.idx[k]) << "rank " << k;
    EXPECT_NEAR(post[k], ref.post[k], 2e-5 * ref.post[k] + 1e-6) << "rank " << k;
  }
}

struct CalcCase {
  const char* name;
  bool candidates;
  bool withIdx;
  int outSize;  // -1: M
  double threshold;
};

TEST(GmmppCalcTest, MatchesReferencePosteriors) {
  const HtkGmm models[] = {modelio::RandomDiagonalGmm(16, 6, 101),
                           modelio::RandomFullGmm(10, 5, 102),
                           modelio::RandomFullGmm(6, 9, 103, /*withGconst=*/false),
                           modelio::RandomDiagonalGmm(12, 13, 104, /*withGconst=*/false)};
  const CalcCase cases[] = {
      {"dense", false, false, -1, 0.0},
      {"dense floor", false, false, -1, 0.025},
      {"top 5", false, true, 5, 0.0},
      {"top 5 floor", false, true, 5, 0.025},
      {"all with idx", false, true, -1, 0.0},
      {"cand top 4", true, true, 4, 0.0},
      {"cand top 4 floor", true, true, 4, 0.025},
      {"cand scattered", true, false, -1, 0.025},
      {"cand scattered 0", true, false, -1, 0.0},
  };
  std::mt19937 rng(5);
  for (const HtkGmm& gmm : models) {
    GMMPP* g = Prepare(gmm);
    ASSERT_NE(g, nullptr);
    const int M = static_cast<int>(gmm.gaussians.size());
    ASSERT_EQ(g->nMix, M);
    ASSERT_EQ(g->nDim, gmm.vecSize);
    for (const CalcCase& c : cases) {
      SCOPED_TRACE(c.name);
      for (int frame = 0; frame < 6; ++frame) {
        const std::vector<float> x = RandomFrame(gmm, rng);
        std::vector<int> cands;
        if (c.candidates) {
          for (int m = M - 1; m >= 0; m -= 2) cands.push_back(m);
        }
        const int outSize = c.outSize < 0 ? M : c.outSize;
        const Kept ref = Reference(gmm, x, c.candidates ? &cands : nullptr, outSize, c.threshold);
        std::vector<int> idx(M, -7);
        std::vector<float> post(M, -7.0f);
        int count = -1;
        ASSERT_EQ(GMMPP_Calc(&g, x.data(), c.candidates ? cands.data() : nullptr,
                             static_cast<int>(cands.size()), c.withIdx ? idx.data() : nullptr,
                             outSize, post.data(), c.threshold, &count),
                  0);
        if (c.withIdx) {
          ExpectMatches(ref, idx, post, count);
        } else {
          // Dense: zero except at the kept indices.
          ASSERT_EQ(count, static_cast<int>(ref.idx.size()));
          std::map<int, double> want;
          for (size_t k = 0; k < ref.idx.size(); ++k) want[ref.idx[k]] = ref.post[k];
          double total = 0.0;
          for (int m = 0; m < M; ++m) {
            const double p = want.count(m) ? want[m] : 0.0;
            EXPECT_NEAR(post[m], p, 2e-5 * p + 1e-6) << m;
            total += post[m];
          }
          EXPECT_NEAR(total, 1.0, 1e-5);
        }
        if (c.threshold == 0.0) {
          const int n = c.candidates ? static_cast<int>(cands.size()) : M;
          EXPECT_EQ(count, std::min(outSize, n));
        }
      }
    }
    GMMPP_Free(&g);
    EXPECT_EQ(g, nullptr);
  }
}

TEST(GmmppCalcTest, CandidateEdgeCases) {
  const HtkGmm gmm = modelio::RandomDiagonalGmm(6, 4, 7);
  GMMPP* g = Prepare(gmm);
  ASSERT_NE(g, nullptr);
  const int M = 6;
  std::mt19937 rng(9);
  const std::vector<float> x = RandomFrame(gmm, rng);
  struct Case {
    std::vector<int> cands;
    bool withIdx;
    double threshold;
    std::vector<int> idx;     // expected kept indices
    std::vector<float> post;  // expected posteriors
  };
  const Case cases[] = {
      {{3, 3}, true, 0.0, {3, 3}, {0.5f, 0.5f}},
      {{3, 3}, true, 0.025, {3, 3}, {0.5f, 0.5f}},
      {{-1, M, 2}, true, 0.0, {2}, {1.0f}},
      {{M, 2, -1}, false, 0.0, {2}, {1.0f}},
      {{-1, M}, true, 0.0, {}, {}},
      {{-1, M}, false, 0.0, {}, {}},
      {{}, true, 0.0, {}, {}},
      {{-5, 1000000}, false, 0.0, {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<int> idx(M + 2, -7);
    std::vector<float> post(M + 2, -7.0f);  // two guard values after M
    int count = -1;
    const int noCandidate = 0;  // a list of none is not a null list
    const int* cands = c.cands.empty() ? &noCandidate : c.cands.data();
    ASSERT_EQ(GMMPP_Calc(&g, x.data(), cands, static_cast<int>(c.cands.size()),
                         c.withIdx ? idx.data() : nullptr, M, post.data(), c.threshold, &count),
              0);
    ASSERT_EQ(count, static_cast<int>(c.idx.size()));
    for (size_t k = 0; k < c.idx.size(); ++k) {
      if (c.withIdx) {
        EXPECT_EQ(idx[k], c.idx[k]);
        EXPECT_FLOAT_EQ(post[k], c.post[k]);
      } else {
        EXPECT_FLOAT_EQ(post[c.idx[k]], c.post[k]);
      }
    }
    if (!c.withIdx) {
      for (int m = 0; m < M; ++m) {
        EXPECT_FALSE(std::isnan(post[m]));
        if (std::find(c.idx.begin(), c.idx.end(), m) == c.idx.end()) {
          EXPECT_EQ(post[m], 0.0f);
        }
      }
    }
    EXPECT_EQ(post[M], -7.0f);
    EXPECT_EQ(post[M + 1], -7.0f);
  }
  GMMPP_Free(&g);
}

TEST(GmmppCalcTest, ArgumentChecks) {
  const HtkGmm gmm = modelio::RandomDiagonalGmm(4, 3, 8);
  GMMPP* g = Prepare(gmm);
  ASSERT_NE(g, nullptr);
  GMMPP* none = nullptr;
  const float x[3] = {0, 0, 0};
  int idx[8];
  float post[8];
  int count = 0;
  const int cands[2] = {0, 1};
  struct Case {
    GMMPP** g;
    const float* obs;
    const int* cands;
    int nCands;
    int* idx;
    int outSize;
    float* post;
    int* count;
  };
  const Case cases[] = {
      {nullptr, x, nullptr, 0, idx, 2, post, &count},
      {&none, x, nullptr, 0, idx, 2, post, &count},
      {&g, nullptr, nullptr, 0, idx, 2, post, &count},
      {&g, x, nullptr, 0, idx, 2, nullptr, &count},
      {&g, x, nullptr, 0, idx, 2, post, nullptr},
      {&g, x, nullptr, 0, nullptr, 3, post, &count},  // dense needs outSize M
      {&g, x, nullptr, 0, idx, -1, post, &count},
      {&g, x, nullptr, 0, idx, 5, post, &count},  // more than M
      {&g, x, cands, -1, idx, 2, post, &count},
      {&g, x, cands, 5, idx, 2, post, &count},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GMMPP_Calc(c.g, c.obs, c.cands, c.nCands, c.idx, c.outSize, c.post, 0.0, c.count),
              kGmmppArgument);
  }
  EXPECT_EQ(GMMPP_Calc(&g, x, nullptr, 0, idx, 0, post, 0.0, &count), 0);
  EXPECT_EQ(count, 0);
  GMMPP_Free(&g);
}

TEST(GmmppCalcTest, InitChecksTheModelShape) {
  EXPECT_EQ(GMMPP_Init(nullptr, nullptr), kGmmppArgument);
  GMMPP* g = nullptr;
  EXPECT_EQ(GMMPP_Init(&g, nullptr), kGmmppArgument);
  const std::string o = "~o <VecSize> 2 ~h a <BeginHMM> ";
  const std::string trans = "<TransP> 1 1 <EndHMM>";
  struct Case {
    std::string text;
    jor::Result code;
  };
  const Case cases[] = {
      {"", kGmmppModelShape},
      {"~o <VecSize> 2", kGmmppModelShape},
      {o +
           "<NumStates> 4 <State> 2 <Mean> 2 0 0 <Variance> 2 1 1 <State> 3 <Mean> 2 0 0 "
           "<Variance> 2 1 1 " +
           trans,
       kGmmppModelShape},
      // Gaussians of different sizes would be read past their ends.
      {o +
           "<NumStates> 3 <State> 2 <NumMixes> 2 <Mixture> 1 .5 <Mean> 2 0 0 <Variance> 2 1 1 "
           "<Mixture> 2 .5 <Mean> 3 0 0 0 <Variance> 3 1 1 1 " +
           trans,
       kGmmppModelShape},
      {o + "<NumStates> 3 <State> 2 <Mean> 2 0 0 <Variance> 1 1 " + trans, kGmmppModelShape},
      {o + "<NumStates> 3 <State> 2 <Mean> 2 0 0 <InvCovar> 1 1 " + trans, kGmmppModelShape},
      {o + "<NumStates> 3 <State> 2 <NumMixes> 3 <Mixture> 2 1 <Mean> 2 0 0 <Variance> 2 1 1 " +
           trans,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ScopedSet s;
    ASSERT_EQ(jor_test::Read3(c.text, &s.set), 0);
    g = reinterpret_cast<GMMPP*>(&s);  // must be overwritten
    EXPECT_EQ(static_cast<jor::Result>(GMMPP_Init(&g, &s.set)), c.code);
    if (c.code != 0) {
      EXPECT_EQ(g, nullptr);
      continue;
    }
    // One Gaussian in slot 2 of 3: the empty slots are never kept.
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->nMix, 3);
    const float x[2] = {0.5f, -0.5f};
    float post[3];
    int count = 0;
    ASSERT_EQ(GMMPP_Calc(&g, x, nullptr, 0, nullptr, 3, post, 0.0, &count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(post[0], 0.0f);
    EXPECT_EQ(post[1], 1.0f);
    EXPECT_EQ(post[2], 0.0f);
    // The caller's set is untouched: its variances are not inverted.
    EXPECT_EQ(s.set.varList.first->values[0], 1.0);
    GMMPP_Free(&g);
  }
}

// The covariance triangle's offsets of a model as wide as the reader allows
// (one Gaussian of dimension 70,000 passes 2^31 values) are 64-bit.
TEST(GmmppCalcTest, InitLaysOutWideModels) {
  for (const int dim : {5, 70000}) {
    SCOPED_TRACE(dim);
    HtkGmm wide;
    wide.vecSize = dim;
    HtkGaussian one;
    one.mean.assign(dim, 0.0);
    one.variance.assign(dim, 1.0);
    wide.gaussians.push_back(one);
    ScopedSet s;
    ASSERT_EQ(jor_test::Read3(modelio::HtkTextGmm(wide), &s.set), 0);
    GMMPP* g = nullptr;
    ASSERT_EQ(GMMPP_Init(&g, &s.set), 0);
    int64_t expected = 0;
    for (int64_t r = 0; r < dim; ++r) {
      EXPECT_EQ(g->panTriOffset[r], expected);
      expected += (dim - r + 3) / 4 * 4;
      if (HasFailure()) break;
    }
    EXPECT_EQ(g->nTriSize, expected);
    const std::vector<float> x(dim, 0.25f);
    float post = 0;
    int count = 0;
    ASSERT_EQ(GMMPP_Calc(&g, x.data(), nullptr, 0, nullptr, 1, &post, 0.0, &count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(post, 1.0f);
    GMMPP_Free(&g);
  }
}

TEST(GmmppCalcTest, InitInvertsVariancesAndExpandsInverseCovariances) {
  const HtkGmm gmm = modelio::RandomFullGmm(2, 4, 55);
  GMMPP* g = Prepare(gmm);
  ASSERT_NE(g, nullptr);
  const HtkStream* s = jor_test::FirstStream(*g->pHmms);
  for (int m = 0; m < 2; ++m) {
    const std::vector<double> a = modelio::ExpandUpper(gmm.gaussians[m].invCovarUpper, 4);
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) EXPECT_EQ(s->mixtures[m]->invCovar->rows[r][c], a[r * 4 + c]);
    }
  }
  GMMPP_Free(&g);
  const HtkGmm diag = modelio::RandomDiagonalGmm(2, 3, 56);
  g = Prepare(diag);
  ASSERT_NE(g, nullptr);
  s = jor_test::FirstStream(*g->pHmms);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(s->mixtures[1]->var->values[i], 1.0 / diag.gaussians[1].variance[i]);
  }
  GMMPP_Free(&g);
}

}  // namespace
