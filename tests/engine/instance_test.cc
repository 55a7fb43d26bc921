// Engine instance: argument tests of the template operations, GetScore's
// order of tests and what it hands the verifier, detail bookkeeping, Reset.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "common/join-path.h"
#include "engine/model-set.h"
#include "engine/ravel.h"
#include "engine/template-format.h"
#include "ivdist/verifier.h"

namespace {

// Records what the engine hands over; dimension D = 1, so 3 values.
class FakeVerifier : public ivdist::Verifier {
 public:
  int Transform(const std::vector<float>& raw, std::vector<float>* out) const override {
    *out = {raw.empty() ? 0.0f : raw[0], 1.0f, 2.0f};
    return 0;
  }
  int Score(const float* v1, const uint32_t* c1, const float* v2, const uint32_t* c2,
            const float* duration, float* result) const override {
    std::memcpy(first, v1, sizeof(first));
    std::memcpy(second, v2, sizeof(second));
    count1 = *c1;
    count2 = *c2;
    duration2 = *duration;
    *result = 42.0f;
    ++calls;
    return 0;
  }
  uint32_t TemplateSize() const override { return 3; }

  // What the last Score call was handed.
  mutable float first[3] = {}, second[3] = {};
  mutable uint32_t count1 = 0, count2 = 0;
  mutable float duration2 = 0;
  mutable int calls = 0;
};

class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override { UseVerifier(std::make_unique<FakeVerifier>()); }

  // A model set of default options (40 mel bins) around `verifier`.
  void UseVerifier(std::unique_ptr<FakeVerifier> verifier) {
    verifier_ = verifier.get();
    jor_feat::MfccOptions options;
    options.mel_opts.num_bins = 40;
    models_ = ravel_engine::ModelSet::FromParts(options, std::move(verifier));
  }

  static std::vector<char> Template(std::vector<float> values, float duration) {
    std::vector<char> t(256 + 4 * values.size());
    ravel_template::WriteTemplate(values.data(), values.size(), duration, 0, 0, 1, 1, t.data());
    return t;
  }

  FakeVerifier* verifier_ = nullptr;
  std::unique_ptr<ravel_engine::ModelSet> models_;
};

TEST_F(InstanceTest, ScoreArgumentTestsInOrder) {
  Ravel r(*models_);
  const auto a = Template({1, 2, 3}, 1000);
  const auto b = Template({4, 5, 6}, 30000);
  auto short_one = Template({1, 2}, 0);
  auto major2 = a;
  major2[13] = 2;  // checksum left wrong on purpose: GetScore does not check it
  float score = -1;
  struct Case {
    const std::vector<char>* t1;
    const std::vector<char>* t2;
    float* out;
    int status;
    int detail;
  };
  const std::vector<char> empty;
  const Case cases[] = {
      {&a, &b, nullptr, 768, 8224},       {&empty, &b, &score, 768, 8224},
      {&a, &empty, &score, 768, 8224},    {&short_one, &b, &score, 1792, 8240},
      {&a, &short_one, &score, 1792, 8240}, {&major2, &short_one, &score, 1792, 8240},
      {&major2, &b, &score, 1793, 8241},  {&a, &major2, &score, 1793, 8241},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(r.GetScore(*c.t1, *c.t2, c.out), c.status);
    EXPECT_EQ(r.GetDetail(), c.detail);
  }
  EXPECT_EQ(verifier_->calls, 0);
}

TEST_F(InstanceTest, ScoreReadsValuesInPlaceWithSecondDuration) {
  Ravel r(*models_);
  auto a = Template({1, 2, 3}, 1000);
  const auto b = Template({4, 5, 6}, 30000);
  a[0] ^= 0x7F;  // wrong checksum: still scored
  float score = 0;
  ASSERT_EQ(r.GetScore(a, b, &score), 0);
  EXPECT_EQ(score, 42.0f);
  EXPECT_EQ(verifier_->count1, 3u);
  EXPECT_EQ(verifier_->count2, 3u);
  EXPECT_EQ(verifier_->first[2], 3.0f);
  EXPECT_EQ(verifier_->second[0], 4.0f);
  EXPECT_EQ(verifier_->duration2, 30000.0f);
  ASSERT_EQ(r.GetScore(b, a, &score), 0);
  EXPECT_EQ(verifier_->duration2, 1000.0f);
}

TEST_F(InstanceTest, NonFiniteValuesAreMalformedAndDetailPersists) {
  Ravel r(*models_);
  const auto good = Template({1, 2, 3}, 0);
  float score = 0;
  for (float bad : {std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::infinity()}) {
    const auto t = Template({1, bad, 3}, 0);
    EXPECT_EQ(r.GetScore(good, t, &score), 1792);
    EXPECT_EQ(r.GetDetail(), 8240);
  }
  // Success does not clear the detail; Reset does.
  ASSERT_EQ(r.GetScore(good, good, &score), 0);
  EXPECT_EQ(r.GetDetail(), 8240);
  EXPECT_EQ(r.Reset(), 0);
  EXPECT_EQ(r.GetDetail(), 0);
}

TEST_F(InstanceTest, PayloadOffsetPastEndIsRefusedByCount) {
  // A hostile payload offset must not send the verifier outside the bytes.
  class CountCheckingVerifier : public FakeVerifier {
   public:
    int Score(const float* v1, const uint32_t* c1, const float* v2, const uint32_t* c2,
              const float* d, float* result) const override {
      if (*c1 != 3 || *c2 != 3) return static_cast<int>(0x60008006u);
      return FakeVerifier::Score(v1, c1, v2, c2, d, result);
    }
  };
  UseVerifier(std::make_unique<CountCheckingVerifier>());
  Ravel r(*models_);
  auto t = Template({1, 2, 3}, 0);
  const uint32_t offset = 0xFFFFFF00u;
  std::memcpy(&t[9], &offset, 4);
  float score = 0;
  EXPECT_EQ(r.GetScore(t, t, &score), 1536);
  EXPECT_EQ(r.GetDetail(), 0x8006);
}

TEST_F(InstanceTest, TemplateArgumentsAndQuality) {
  Ravel r(*models_);
  std::vector<char> templ;
  // No i-vector stage, null outputs and negative durations: 768 / 8224.
  EXPECT_EQ(r.GetIvector(nullptr, true), 768);
  EXPECT_EQ(r.GetDetail(), 8224);
  EXPECT_EQ(r.Reset(), 0);
  EXPECT_EQ(r.GetIvector({1.0f}, -0.5f, 0, 0, &templ, true), 768);
  EXPECT_EQ(r.GetDetail(), 8224);
  EXPECT_EQ(r.Reset(), 0);
  EXPECT_EQ(r.GetXvector({1.0f}, -0.5f, 0, 0, &templ, true), 768);
  EXPECT_EQ(r.GetDetail(), 8224);
  EXPECT_EQ(r.Reset(), 0);
  EXPECT_EQ(r.GetXvector({1.0f}, 1.0f, 0, 0, nullptr, true), 768);
  EXPECT_TRUE(templ.empty());

  float d = -1, v = -1, s = -1, lo = -1, hi = -1;
  std::vector<float> bands = {9, 9};
  EXPECT_EQ(r.GetQualityMeasures(&d, &v, &s, &lo, &hi, nullptr), 768);
  EXPECT_EQ(r.GetDetail(), 8224);
  EXPECT_EQ(r.GetQualityMeasures(&d, &v, &s, &lo, &hi, &bands), 0);
  EXPECT_EQ(d, 0.0f);
  EXPECT_EQ(hi, 0.0f);
  EXPECT_TRUE(bands.empty());
}

}  // namespace

namespace {

// The configuration files and the model container are found with this joiner
// (the speaker database too).
TEST(JoinPathTest, Joining) {
  struct Case {
    const char* dir;
    const char* expected;
  };
#if defined(_WIN32)
  const std::string joined = "models\\xe5.pb";
#else
  const std::string joined = "models/xe5.pb";
#endif
  const Case cases[] = {
      {nullptr, "xe5.pb"},         {"", "xe5.pb"},
      {"models", joined.c_str()},  {"models/", "models/xe5.pb"},
      {"C:\\m\\", "C:\\m\\xe5.pb"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(common::JoinPath(c.dir, "xe5.pb"), c.expected) << (c.dir ? c.dir : "null");
}

}  // namespace
