#include "ivdist/verifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/ivdist/section-stream.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/scoring-writer.h"

namespace {

using ivdist::Verifier;
using ivdist_test::SectionStream;

constexpr int kMvnBadModel = static_cast<int>(0x40008001u);
constexpr int kNormUnreadable = static_cast<int>(0x40008002u);
constexpr int kSpldaUnreadable = static_cast<int>(0x40008004u);
constexpr int kWrongLength = static_cast<int>(0x60008006u);
constexpr int kNullResult = static_cast<int>(0x60008007u);
constexpr int kOutOfRange = static_cast<int>(0x60008008u);
constexpr int kShape = static_cast<int>(0xFFF01900u);

// D = 1 and nothing but the linear values: the raw score of templates
// (0, 0, r) and (0, 0, 0) is exactly r.
modelio::SpldaModel LinearOnly() {
  modelio::SpldaModel m;
  m.dim = 1;
  m.cross = {1};
  m.crossEigen = {0};
  m.self = {1};
  m.selfEigen = {0};
  m.linear = {0};
  m.constant = 0;
  return m;
}

// Sections of one scoring model; any may be left out (null stream).
class Model {
 public:
  Model(const jor_test::TestDir& dir, const std::string* mv, const std::string* wh,
        const std::string* sp)
      : mv_(mv ? new SectionStream(dir, *mv) : nullptr),
        wh_(wh ? new SectionStream(dir, *wh) : nullptr),
        sp_(sp ? new SectionStream(dir, *sp) : nullptr) {}
  int LoadInto(Verifier* v) const {
    return v->Load(mv_ ? mv_->get() : nullptr, wh_ ? wh_->get() : nullptr,
                   sp_ ? sp_->get() : nullptr);
  }

 private:
  std::unique_ptr<SectionStream> mv_, wh_, sp_;
};

TEST(VerifierScoreTest, MapsRawScoresOntoZeroToHundred) {
  jor_test::TestDir dir;
  const std::string sp = modelio::SpldaSection(LinearOnly());
  Model model(dir, nullptr, nullptr, &sp);
  Verifier verifier;
  ASSERT_EQ(model.LoadInto(&verifier), 0);
  ASSERT_EQ(verifier.TemplateSize(), 3u);
  struct Case {
    float raw, duration, expected;
  };
  const std::vector<Case> cases = {
      {0, 0, 60.0f},
      {-150, 0, 0.0f},
      {-200, 0, 0.0f},  // -20 clamped
      {100, 0, 100.0f},
      {101, 0, 100.0f},  // 100.4 clamped
      {-140, 0, 4.0f},
      {10, 0, 64.0f},
      {10, -5000, 64.0f},    // no adjustment
      {10, 30000, 63.04f},   // 2.4 lower before scaling, 0.96 after
      {10, 60000, 62.08f},   // 4.8 lower
      {10, 120000, 62.08f},  // capped at 60,000
      {10, 500, 63.984f},    // 0.04 lower
      {-148, 30000, 0.0f},   // (-150.4) * 0.4 + 60 < 0
      {std::numeric_limits<float>::infinity(), 0, 100.0f},
  };
  const uint32_t n = 3;
  for (const Case& c : cases) {
    const float p[3] = {0, 0, c.raw};
    const float q[3] = {0, 0, 0};
    float result = -1;
    ASSERT_EQ(verifier.Score(p, &n, q, &n, &c.duration, &result), 0) << c.raw;
    EXPECT_NEAR(result, c.expected, 2e-5) << c.raw << " " << c.duration;
    EXPECT_GE(result, 0.0f);
    EXPECT_LE(result, 100.0f);
  }
  // Exact ends of the scale.
  const float zero = 0;
  const float p150[3] = {0, 0, -150}, p100[3] = {0, 0, 100}, q[3] = {0, 0, 0};
  float result = -1;
  ASSERT_EQ(verifier.Score(p150, &n, q, &n, &zero, &result), 0);
  EXPECT_EQ(result, 0.0f);
  ASSERT_EQ(verifier.Score(p100, &n, q, &n, &zero, &result), 0);
  EXPECT_EQ(result, 100.0f);
}

// One probe against many stored templates gives, entry by entry, the bits
// of Score(probe, stored, stored duration), and NaN where Score refuses.
TEST(VerifierScoreTest, ScoreManyEqualsScoreOfEachPair) {
  jor_test::TestDir dir;
  const std::string sp = modelio::SpldaSection(LinearOnly());
  Model model(dir, nullptr, nullptr, &sp);
  Verifier verifier;
  ASSERT_EQ(model.LoadInto(&verifier), 0);
  const float big = 3e38f;
  // 11 stored templates: more than one interleaved group of 8, and a tail.
  const std::vector<float> stored = {0, 0, 0,     0, 0, -150, 0, 0, 100,  0, 0, 10,   0, 0, 10,
                                     0, 0, 10,    0, 0, -148, 1, 2, 3,    big, 0, 0,  0, 0, 7,
                                     0, 0, 101};
  const std::vector<float> durations = {0, 0, 0, 30000, 120000, 500, 30000, 1000, 10, 0, 0};
  const float probe[3] = {big, big, 0};
  const float zeros[3] = {0, 0, 0};
  const uint32_t n = 3;
  for (const float* p : {zeros, probe}) {
    std::vector<float> many(durations.size(), -1.0f);
    ASSERT_EQ(verifier.ScoreMany(p, n, stored.data(), durations.size(), durations.data(),
                                 many.data()),
              0);
    for (size_t j = 0; j < durations.size(); ++j) {
      float one = -1.0f;
      const int r = verifier.Score(p, &n, &stored[3 * j], &n, &durations[j], &one);
      if (r == 0) {
        EXPECT_EQ(many[j], one) << j;
      } else {
        EXPECT_EQ(r, kOutOfRange) << j;
        EXPECT_TRUE(std::isnan(many[j])) << j;
      }
    }
  }
  std::vector<float> out(2, -1.0f);
  EXPECT_EQ(verifier.ScoreMany(zeros, 2, stored.data(), 2, nullptr, out.data()), kWrongLength);
  EXPECT_EQ(verifier.ScoreMany(zeros, n, stored.data(), 2, nullptr, nullptr), kNullResult);
}

TEST(VerifierScoreTest, RefusesBadArguments) {
  jor_test::TestDir dir;
  const std::string sp = modelio::SpldaSection(LinearOnly());
  Model model(dir, nullptr, nullptr, &sp);
  Verifier verifier;
  ASSERT_EQ(model.LoadInto(&verifier), 0);
  const float duration = 1000;
  const float t[4] = {0, 0, 1, 0};
  const uint32_t three = 3, two = 2, four = 4;
  float result = -1;
  // Null result first, whatever else is wrong.
  EXPECT_EQ(verifier.Score(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), kNullResult);
  EXPECT_EQ(verifier.Score(t, &two, t, &three, &duration, &result), kWrongLength);
  EXPECT_EQ(verifier.Score(t, &three, t, &four, &duration, &result), kWrongLength);
  EXPECT_EQ(result, -1.0f);
  // Finite templates whose products overflow into inf - inf: not a number.
  const float big = 3e38f;
  const float p[3] = {big, big, 0}, q[3] = {big, 0, 0};
  EXPECT_EQ(verifier.Score(p, &three, q, &three, &duration, &result), kOutOfRange);
  EXPECT_EQ(result, -1.0f);
}

TEST(VerifierLoadTest, OptionalAndMandatorySections) {
  jor_test::TestDir dir;
  const modelio::ScoringSections s = modelio::RandomScoringSections(5, 1);
  const std::string badMv = modelio::MeanVarianceSection({{1.0f}, {std::nanf("")}});
  const std::string shortWh = s.whitening.substr(0, 40);
  struct Case {
    const char* name;
    const std::string *mv, *wh, *sp;
    int expected;
    uint32_t templateSize;
  };
  const std::vector<Case> cases = {
      {"all three", &s.meanVariance, &s.whitening, &s.splda, 0, 11},
      {"no whitening", &s.meanVariance, nullptr, &s.splda, 0, 11},
      {"no mean/variance", nullptr, &s.whitening, &s.splda, 0, 11},
      {"SPLDA only", nullptr, nullptr, &s.splda, 0, 11},
      {"no SPLDA", &s.meanVariance, &s.whitening, nullptr, kSpldaUnreadable, 0},
      {"bad mean/variance", &badMv, &s.whitening, &s.splda, kMvnBadModel, 0},
      {"short whitening", &s.meanVariance, &shortWh, &s.splda, kNormUnreadable, 0},
  };
  for (const Case& c : cases) {
    Model model(dir, c.mv, c.wh, c.sp);
    Verifier verifier;
    EXPECT_EQ(model.LoadInto(&verifier), c.expected) << c.name;
    EXPECT_EQ(verifier.TemplateSize(), c.templateSize) << c.name;
  }
  // Scoring without a model fails instead of crashing.
  Model model(dir, nullptr, nullptr, nullptr);
  Verifier verifier;
  ASSERT_EQ(model.LoadInto(&verifier), kSpldaUnreadable);
  const float t[1] = {0};
  const uint32_t one = 1;
  float result;
  EXPECT_EQ(verifier.Score(t, &one, t, &one, nullptr, &result), kSpldaUnreadable);
}

// The whole pipeline in double from the model parameters.
std::vector<double> PipelineReference(const modelio::MvnModel* mvn,
                                      const modelio::WhiteningModel* wh,
                                      const modelio::SpldaModel& sp,
                                      const std::vector<float>& raw) {
  const size_t d = raw.size();
  std::vector<double> f(d);
  for (size_t i = 0; i < d; ++i)
    f[i] = mvn ? (static_cast<double>(raw[i]) - mvn->mean[i]) * mvn->scale[i] : raw[i];
  if (wh) {
    std::vector<double> w(d, 0.0);
    for (size_t j = 0; j < d; ++j) {
      for (size_t i = 0; i < d; ++i) w[j] += wh->basis[i * d + j] * f[i];
      w[j] /= std::sqrt(wh->variances[j]);
    }
    f = w;
  }
  double norm = 0;
  for (double v : f) norm += v * v;
  for (double& v : f) v /= std::sqrt(norm);
  std::vector<double> t(2 * d + 1, 0.0);
  for (size_t j = 0; j < d; ++j) {
    double u = 0, v = 0;
    for (size_t i = 0; i < d; ++i) {
      u += f[i] * static_cast<float>(sp.cross[i * d + j]);
      v += f[i] * static_cast<float>(sp.self[i * d + j]);
    }
    t[j] = u * std::sqrt(2 * std::max(0.0f, static_cast<float>(sp.crossEigen[j])));
    t[d + j] = v * std::sqrt(-std::min(0.0f, static_cast<float>(sp.selfEigen[j])));
    t[2 * d] += static_cast<float>(sp.linear[j]) * f[j];
  }
  return t;
}

TEST(VerifierTransformTest, ChainsTheStagesPresent) {
  jor_test::TestDir dir;
  const int32_t d = 12;
  const modelio::MvnModel mvn = modelio::RandomMvn(d, 2);
  const modelio::WhiteningModel wh = modelio::RandomWhitening(d, 3);
  const modelio::SpldaModel sp = modelio::RandomSplda(d, 4);
  const std::string mvS = modelio::MeanVarianceSection(mvn);
  const std::string whS = modelio::WhiteningSection(wh);
  const std::string spS = modelio::SpldaSection(sp);
  std::mt19937 rng(8);
  std::normal_distribution<float> normal(0.0f, 2.0f);
  std::vector<float> raw(d);
  for (float& v : raw) v = normal(rng);

  struct Case {
    const char* name;
    bool withMvn, withWhitening;
  };
  for (const Case& c : {Case{"all", true, true}, Case{"no whitening", true, false},
                        Case{"no mean/variance", false, true}, Case{"SPLDA only", false, false}}) {
    Model model(dir, c.withMvn ? &mvS : nullptr, c.withWhitening ? &whS : nullptr, &spS);
    Verifier verifier;
    ASSERT_EQ(model.LoadInto(&verifier), 0) << c.name;
    std::vector<float> out;
    ASSERT_EQ(verifier.Transform(raw, &out), 0) << c.name;
    const std::vector<double> ref =
        PipelineReference(c.withMvn ? &mvn : nullptr, c.withWhitening ? &wh : nullptr, sp, raw);
    ASSERT_EQ(out.size(), ref.size()) << c.name;
    for (size_t i = 0; i < ref.size(); ++i) EXPECT_NEAR(out[i], ref[i], 2e-5) << c.name << i;
  }
}

TEST(VerifierTransformTest, RefusesVectorsThatCannotBecomeTemplates) {
  jor_test::TestDir dir;
  const modelio::ScoringSections s = modelio::RandomScoringSections(4, 6);
  // Finite but extreme SPLDA values overflow the template.
  modelio::SpldaModel huge = LinearOnly();
  huge.cross = {3e38};
  huge.crossEigen = {1e38};
  const std::string hugeS = modelio::SpldaSection(huge);
  Model full(dir, &s.meanVariance, &s.whitening, &s.splda);
  Model bare(dir, nullptr, nullptr, &s.splda);
  Model overflowing(dir, nullptr, nullptr, &hugeS);
  Verifier withAll, withSpldaOnly, withHuge;
  ASSERT_EQ(full.LoadInto(&withAll), 0);
  ASSERT_EQ(bare.LoadInto(&withSpldaOnly), 0);
  ASSERT_EQ(overflowing.LoadInto(&withHuge), 0);
  const float nan = std::nanf("");
  struct Case {
    const char* name;
    Verifier* verifier;
    std::vector<float> raw;
    int expected;
  };
  const std::vector<Case> cases = {
      {"short, mean/variance stage", &withAll, {1, 2, 3}, kShape},
      {"short, length stage", &withSpldaOnly, {1, 2, 3}, kWrongLength},
      {"empty", &withSpldaOnly, {}, kWrongLength},
      {"all zero", &withSpldaOnly, {0, 0, 0, 0}, kOutOfRange},
      {"NaN", &withAll, {1, nan, 2, 3}, kOutOfRange},
      {"infinite", &withSpldaOnly, {1, 2, -INFINITY, 3}, kOutOfRange},
      {"template overflows", &withHuge, {0.5f}, kOutOfRange},
  };
  for (const Case& c : cases) {
    std::vector<float> out{7.0f};
    EXPECT_EQ(c.verifier->Transform(c.raw, &out), c.expected) << c.name;
    EXPECT_EQ(out, std::vector<float>{7.0f}) << c.name << ": out untouched";
  }
}

TEST(VerifierTransformTest, TemplatesOfOneSpeakerScoreHigher) {
  // Raw vectors drawn from the model's own two-covariance distribution:
  // a speaker mean plus within-speaker noise (identity covariance).
  jor_test::TestDir dir;
  const int32_t d = 24;
  const modelio::SpldaModel sp = modelio::RandomSplda(d, 21);
  const std::string spS = modelio::SpldaSection(sp);
  Model model(dir, nullptr, nullptr, &spS);
  Verifier verifier;
  ASSERT_EQ(model.LoadInto(&verifier), 0);
  std::mt19937 rng(4);
  std::normal_distribution<float> normal;
  const uint32_t n = verifier.TemplateSize();
  ASSERT_EQ(n, 2u * d + 1);
  double same = 0, different = 0;
  const int kSpeakers = 20;
  std::vector<std::vector<float>> first, second;
  for (int s = 0; s < kSpeakers; ++s) {
    std::vector<float> speaker(d);
    for (float& v : speaker) v = 3.0f * normal(rng);
    for (auto* list : {&first, &second}) {
      std::vector<float> raw(d);
      for (int32_t i = 0; i < d; ++i) raw[i] = speaker[i] + normal(rng);
      std::vector<float> t;
      ASSERT_EQ(verifier.Transform(raw, &t), 0);
      list->push_back(t);
    }
  }
  const float duration = 0;
  for (int a = 0; a < kSpeakers; ++a)
    for (int b = 0; b < kSpeakers; ++b) {
      float score;
      ASSERT_EQ(verifier.Score(first[a].data(), &n, second[b].data(), &n, &duration, &score), 0);
      (a == b ? same : different) += score;
    }
  // Unit-length templates keep the differences small on the 0..100 scale.
  EXPECT_GT(same / kSpeakers, different / (kSpeakers * (kSpeakers - 1)) + 0.05);
}

}  // namespace
