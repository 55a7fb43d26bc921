#include "ivdist/splda.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/ivdist/section-stream.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/scoring-writer.h"

namespace {

using ivdist::splda::Splda;
using ivdist_test::Bytes;
using ivdist_test::SectionStream;

constexpr int kUnreadable = static_cast<int>(0x40008004u);
constexpr int kBadModel = static_cast<int>(0x40008005u);
constexpr int kWrongLength = static_cast<int>(0x60008006u);
constexpr int kNullResult = static_cast<int>(0x60008007u);

// D = 1, A = B = (1), a = 2, b = -1, c = 0.5, k = 0.25.
modelio::SpldaModel WorkedModel() {
  modelio::SpldaModel m;
  m.dim = 1;
  m.cross = {1.0};
  m.crossEigen = {2.0};
  m.self = {1.0};
  m.selfEigen = {-1.0};
  m.linear = {0.5};
  m.constant = 0.25;
  return m;
}

template <typename T>
void LoadModel(const jor_test::TestDir& dir, const modelio::SpldaModel& m, Splda<T>* splda) {
  SectionStream stream(dir, modelio::SpldaSection(m, sizeof(T)));
  ASSERT_EQ(splda->Load(stream.get()), 0);
}

template <typename T>
class SpldaTypedTest : public ::testing::Test {};
using SampleTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(SpldaTypedTest, SampleTypes);

TYPED_TEST(SpldaTypedTest, WorkedExample) {
  using T = TypeParam;
  jor_test::TestDir dir;
  Splda<T> splda;
  LoadModel(dir, WorkedModel(), &splda);
  EXPECT_EQ(splda.TransformedSize(), 3u);
  std::vector<T> tx, ty;
  ASSERT_EQ(splda.Transform({2}, &tx), 0);
  ASSERT_EQ(splda.Transform({1}, &ty), 0);
  EXPECT_EQ(tx, (std::vector<T>{4, 2, 1}));
  EXPECT_EQ(ty, (std::vector<T>{2, 1, 0.5}));
  // 0.25 + 8 - 4 - 1 + 1.5
  T score = 0;
  ASSERT_EQ(splda.ScoreTransformed(tx, ty, &score), 0);
  EXPECT_EQ(score, T(4.75));
  const uint32_t n = 3;
  score = 0;
  ASSERT_EQ(splda.ScoreTransformed(tx.data(), &n, ty.data(), &n, &score), 0);
  EXPECT_EQ(score, T(4.75));
  score = 0;
  ASSERT_EQ(splda.Score({2}, {1}, &score), 0);
  EXPECT_EQ(score, T(4.75));
}

TYPED_TEST(SpldaTypedTest, NegativeCrossAndPositiveSelfEigenvaluesContributeNothing) {
  using T = TypeParam;
  modelio::SpldaModel m;
  m.dim = 2;
  m.cross = {1, 0, 0, 1};
  m.self = {1, 0, 0, 1};
  m.crossEigen = {-3.0, 8.0};  // a' = (0, 4)
  m.selfEigen = {5.0, -9.0};   // b' = (0, 3)
  m.linear = {0, 0};
  m.constant = 0;
  jor_test::TestDir dir;
  Splda<T> splda;
  LoadModel(dir, m, &splda);
  std::vector<T> t;
  ASSERT_EQ(splda.Transform({2, 3}, &t), 0);
  EXPECT_EQ(t, (std::vector<T>{0, 12, 0, 9, 0}));
  T score = 0;
  // 2 * 8 * 3 * 3 - 9 * 9 - 9 * 9
  ASSERT_EQ(splda.Score({2, 3}, {2, 3}, &score), 0);
  EXPECT_EQ(score, T(144 - 162));
}

TYPED_TEST(SpldaTypedTest, LengthsAndNullResults) {
  using T = TypeParam;
  jor_test::TestDir dir;
  Splda<T> splda;
  LoadModel(dir, modelio::RandomSplda(4, 1), &splda);
  const std::vector<T> good(9, T(0.1));
  T score = 7;
  for (size_t n : {size_t{0}, size_t{8}, size_t{10}}) {
    const std::vector<T> bad(n, T(0.1));
    const uint32_t goodCount = 9, badCount = static_cast<uint32_t>(n);
    EXPECT_EQ(splda.ScoreTransformed(bad, good, &score), kWrongLength) << n;
    EXPECT_EQ(splda.ScoreTransformed(good, bad, &score), kWrongLength) << n;
    EXPECT_EQ(splda.ScoreTransformed(good.data(), &goodCount, good.data(), &badCount, &score),
              kWrongLength)
        << n;
    EXPECT_EQ(splda.ScoreTransformed(good.data(), &badCount, good.data(), &goodCount, &score),
              kWrongLength)
        << n;
  }
  const uint32_t nine = 9;
  EXPECT_EQ(splda.ScoreTransformed(good.data(), nullptr, good.data(), &nine, &score), kWrongLength);
  EXPECT_EQ(score, T(7)) << "result untouched on failure";
  EXPECT_EQ(splda.ScoreTransformed(good, good, nullptr), kNullResult);
  EXPECT_EQ(splda.ScoreTransformed(good.data(), &nine, good.data(), &nine, nullptr), kNullResult);
  EXPECT_EQ(splda.Score({1, 2, 3, 4}, {1, 2, 3, 4}, nullptr), kNullResult);
  EXPECT_EQ(splda.Score({1, 2, 3}, {1, 2, 3, 4}, &score), kWrongLength);
  EXPECT_EQ(splda.Score({1, 2, 3, 4}, {1, 2, 3, 4, 5}, &score), kWrongLength);
  std::vector<T> t;
  EXPECT_EQ(splda.Transform({1, 2, 3}, &t), kWrongLength);
  EXPECT_EQ(splda.Transform({}, &t), kWrongLength);
}

// ScoreTransformed of Splda<T> written out step by step in its fixed order: W lane
// sums over the first D rounded down to W coordinates, added in lane order,
// then k, then the tail, then the linear values.
template <typename T, size_t W>
T LaneReference(const std::vector<T>& p, const std::vector<T>& q, size_t d, T k) {
  T lanes[W] = {};
  const size_t dw = d / W * W;
  for (size_t i = 0; i < dw; ++i) {
    T& l = lanes[i % W];
    l = l + p[i] * q[i];
    l = l - p[d + i] * p[d + i];
    l = l - q[d + i] * q[d + i];
  }
  T acc = 0;
  for (size_t w = 0; w < W; ++w) acc = acc + lanes[w];
  acc = acc + k;
  for (size_t i = dw; i < d; ++i) {
    acc = acc + p[i] * q[i];
    acc = acc - p[d + i] * p[d + i];
    acc = acc - q[d + i] * q[d + i];
  }
  return (q[2 * d] + p[2 * d]) + acc;
}

template <typename T>
T SequentialSum(const std::vector<T>& p, const std::vector<T>& q, size_t d, T k) {
  T acc = k;
  for (size_t i = 0; i < d; ++i)
    acc = ((acc + p[i] * q[i]) - p[d + i] * p[d + i]) - q[d + i] * q[d + i];
  return (q[2 * d] + p[2 * d]) + acc;
}

double DoubleScore(const std::vector<float>& p, const std::vector<float>& q, size_t d, double k) {
  double acc = k + static_cast<double>(p[2 * d]) + q[2 * d];
  for (size_t i = 0; i < d; ++i)
    acc += static_cast<double>(p[i]) * q[i] - static_cast<double>(p[d + i]) * p[d + i] -
           static_cast<double>(q[d + i]) * q[d + i];
  return acc;
}

template <typename T>
std::vector<T> RandomTemplate(size_t d, std::mt19937* rng) {
  std::uniform_int_distribution<int> octave(-6, 6);
  std::normal_distribution<double> normal;
  std::vector<T> t(2 * d + 1);
  for (T& v : t) v = static_cast<T>(std::ldexp(normal(*rng), octave(*rng)));
  return t;
}

TEST(SpldaScoreTest, FloatLaneSumsAreBitExact) {
  jor_test::TestDir dir;
  for (int32_t d : {1, 7, 8, 9, 16, 17, 64, 101}) {
    modelio::SpldaModel m = modelio::RandomSplda(d, static_cast<uint32_t>(d));
    m.constant = 3.7;
    Splda<float> splda;
    LoadModel(dir, m, &splda);
    std::mt19937 rng(static_cast<uint32_t>(d) * 31u);
    int differsFromSequential = 0;
    for (int trial = 0; trial < 50; ++trial) {
      const std::vector<float> p = RandomTemplate<float>(d, &rng);
      const std::vector<float> q = RandomTemplate<float>(d, &rng);
      float score = 0;
      ASSERT_EQ(splda.ScoreTransformed(p, q, &score), 0);
      const float expected = LaneReference<float, 8>(p, q, d, 3.7f);
      ASSERT_EQ(score, expected) << "D " << d << " trial " << trial;
      EXPECT_NEAR(score, DoubleScore(p, q, d, 3.7f), 1e-4 * (1 + std::fabs(expected)));
      differsFromSequential += score != SequentialSum<float>(p, q, d, 3.7f);
    }
    // Where lanes exist, the lane order is visible in the rounding.
    if (d >= 9) {
      EXPECT_GT(differsFromSequential, 0) << "D " << d;
    }
  }
}

TEST(SpldaScoreTest, DoubleUsesFourLanes) {
  jor_test::TestDir dir;
  for (int32_t d : {3, 4, 5, 9, 17}) {
    Splda<double> splda;
    modelio::SpldaModel m = modelio::RandomSplda(d, 40u + d);
    m.constant = -1.3;
    LoadModel(dir, m, &splda);
    std::mt19937 rng(static_cast<uint32_t>(d));
    for (int trial = 0; trial < 20; ++trial) {
      const std::vector<double> p = RandomTemplate<double>(d, &rng);
      const std::vector<double> q = RandomTemplate<double>(d, &rng);
      double score = 0;
      ASSERT_EQ(splda.ScoreTransformed(p, q, &score), 0);
      ASSERT_EQ(score, (LaneReference<double, 4>(p, q, d, -1.3))) << "D " << d;
    }
  }
}

TEST(SpldaScoreTest, ReadsTemplatesAtAnyAlignment) {
  jor_test::TestDir dir;
  const int32_t d = 17;
  modelio::SpldaModel m = modelio::RandomSplda(d, 3);
  m.constant = 0.5;
  Splda<float> splda;
  LoadModel(dir, m, &splda);
  std::mt19937 rng(5);
  const std::vector<float> p = RandomTemplate<float>(d, &rng);
  const std::vector<float> q = RandomTemplate<float>(d, &rng);
  const float expected = LaneReference<float, 8>(p, q, d, 0.5f);
  const uint32_t n = 2 * d + 1;
  for (size_t offset = 0; offset < 8; ++offset) {
    // Template bytes at an arbitrary offset, as the engine hands them over.
    std::vector<unsigned char> buffer(offset + 2 * 4 * n + 3);
    unsigned char* pBytes = buffer.data() + offset;
    unsigned char* qBytes = pBytes + 4 * n + 1;
    std::memcpy(pBytes, p.data(), 4 * n);
    std::memcpy(qBytes, q.data(), 4 * n);
    float score = 0;
    ASSERT_EQ(splda.ScoreTransformed(reinterpret_cast<const float*>(pBytes), &n,
                                     reinterpret_cast<const float*>(qBytes), &n, &score),
              0);
    EXPECT_EQ(score, expected) << offset;
  }
}

TEST(SpldaScoreTest, ManyMatchesOneByOne) {
  jor_test::TestDir dir;
  for (int32_t d : {9, 16, 33}) {
    modelio::SpldaModel m = modelio::RandomSplda(d, 9);
    m.constant = -2.25;
    Splda<float> splda;
    LoadModel(dir, m, &splda);
    std::mt19937 rng(11);
    const size_t size = 2 * d + 1;
    const std::vector<float> probe = RandomTemplate<float>(d, &rng);
    std::vector<float> all;
    std::vector<std::vector<float>> each;
    for (int j = 0; j < 11; ++j) {
      each.push_back(RandomTemplate<float>(d, &rng));
      all.insert(all.end(), each.back().begin(), each.back().end());
    }
    // Shift the block by one byte so that no template is aligned.
    std::vector<unsigned char> bytes(4 * all.size() + 1);
    std::memcpy(bytes.data() + 1, all.data(), 4 * all.size());
    const auto* templates = reinterpret_cast<const float*>(bytes.data() + 1);
    for (size_t n = 0; n <= each.size(); ++n) {
      std::vector<float> results(n + 1, -99.0f);
      ASSERT_EQ(splda.ScoreTransformedMany(probe.data(), static_cast<uint32_t>(size), templates, n,
                                           results.data()),
                0);
      for (size_t j = 0; j < n; ++j) {
        ASSERT_EQ(results[j], (LaneReference<float, 8>(probe, each[j], d, -2.25f)))
            << "D " << d << " n " << n << " j " << j;
      }
      EXPECT_EQ(results[n], -99.0f) << "nothing written past n";
    }
    float r = 0;
    EXPECT_EQ(
        splda.ScoreTransformedMany(probe.data(), static_cast<uint32_t>(size - 1), templates, 1, &r),
        kWrongLength);
    EXPECT_EQ(splda.ScoreTransformedMany(probe.data(), static_cast<uint32_t>(size), templates, 1,
                                         nullptr),
              kNullResult);
  }
}

// Float model values as the float instantiation holds them.
struct FloatModel {
  size_t d;
  std::vector<float> cross, crossScale, self, selfScale, linear;
  float constant;
  std::vector<double> a, b;  // clamped eigenvalues
};

FloatModel Rounded(const modelio::SpldaModel& m) {
  FloatModel f;
  f.d = static_cast<size_t>(m.dim);
  for (double v : m.cross) f.cross.push_back(static_cast<float>(v));
  for (double v : m.self) f.self.push_back(static_cast<float>(v));
  for (double v : m.linear) f.linear.push_back(static_cast<float>(v));
  f.constant = static_cast<float>(m.constant);
  for (size_t i = 0; i < f.d; ++i) {
    const float a = std::max(0.0f, static_cast<float>(m.crossEigen[i]));
    const float b = std::min(0.0f, static_cast<float>(m.selfEigen[i]));
    f.crossScale.push_back(static_cast<float>(std::sqrt(2.0 * a)));
    f.selfScale.push_back(std::sqrt(-b));
    f.a.push_back(a);
    f.b.push_back(b);
  }
  return f;
}

// Transform step by step in its fixed order, in float.
std::vector<float> TransformReference(const FloatModel& f, const std::vector<float>& x) {
  const size_t d = f.d;
  std::vector<float> t(2 * d + 1);
  for (size_t j = 0; j < d; ++j) {
    float u = 0, v = 0;
    for (size_t i = 0; i < d; ++i) {
      u = u + x[i] * f.cross[i * d + j];
      v = v + x[i] * f.self[i * d + j];
    }
    t[j] = u * f.crossScale[j];
    t[d + j] = v * f.selfScale[j];
  }
  float s = 0;
  for (size_t i = 0; i < d; ++i) s = s + f.linear[i] * x[i];
  t[2 * d] = s;
  return t;
}

// The closed-form score in double from the clamped model.
double ClosedForm(const FloatModel& f, const std::vector<float>& x, const std::vector<float>& y) {
  const size_t d = f.d;
  double score = f.constant;
  for (size_t i = 0; i < d; ++i)
    score += static_cast<double>(f.linear[i]) * x[i] + static_cast<double>(f.linear[i]) * y[i];
  for (size_t j = 0; j < d; ++j) {
    double ax = 0, ay = 0, bx = 0, by = 0;
    for (size_t i = 0; i < d; ++i) {
      ax += static_cast<double>(x[i]) * f.cross[i * d + j];
      ay += static_cast<double>(y[i]) * f.cross[i * d + j];
      bx += static_cast<double>(x[i]) * f.self[i * d + j];
      by += static_cast<double>(y[i]) * f.self[i * d + j];
    }
    score += 2 * f.a[j] * ax * ay + f.b[j] * (bx * bx + by * by);
  }
  return score;
}

TEST(SpldaTransformTest, ProjectionsAreBitExactAndScoresMatchTheClosedForm) {
  jor_test::TestDir dir;
  for (int32_t d : {1, 9, 17, 40}) {
    modelio::SpldaModel m = modelio::RandomSplda(d, 100u + d);
    // Some eigenvalues outside their clamps.
    m.crossEigen[0] = -0.3;
    m.selfEigen[d - 1] = 0.7;
    Splda<float> splda;
    LoadModel(dir, m, &splda);
    const FloatModel f = Rounded(m);
    std::mt19937 rng(static_cast<uint32_t>(d));
    std::normal_distribution<float> normal;
    for (int trial = 0; trial < 10; ++trial) {
      std::vector<float> x(d), y(d);
      for (float& v : x) v = normal(rng);
      for (float& v : y) v = normal(rng);
      std::vector<float> tx;
      ASSERT_EQ(splda.Transform(x, &tx), 0);
      ASSERT_EQ(tx, TransformReference(f, x)) << "D " << d;
      float score = 0;
      ASSERT_EQ(splda.Score(x, y, &score), 0);
      const double expected = ClosedForm(f, x, y);
      EXPECT_NEAR(score, expected, 1e-4 * (1 + std::fabs(expected))) << "D " << d;
    }
  }
}

TEST(SpldaLoadTest, Results) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // D = 2, element size 4: A 40..55, a 56..63, B 64..79, b 80..87, c 88..95,
  // k 96..99.
  const std::string valid = modelio::SpldaSection(modelio::RandomSplda(2, 1), 4);
  ASSERT_EQ(valid.size(), 100u);
  auto patched = [&valid](size_t offset, const std::string& bytes) {
    std::string s = valid;
    s.replace(offset, bytes.size(), bytes);
    return s;
  };
  auto head = [](int32_t size, int32_t d) {
    return std::string(32, '\0') + Bytes(size) + Bytes(d);
  };
  struct Case {
    const char* name;
    std::string bytes;
    int expected;
  };
  const std::vector<Case> cases = {
      {"valid", valid, 0},
      {"empty", "", kUnreadable},
      {"short header", std::string(31, '\0'), kUnreadable},
      {"no element size", std::string(32, '\0'), kUnreadable},
      {"element size 8", patched(32, Bytes<int32_t>(8)), kBadModel},
      {"element size 0", patched(32, Bytes<int32_t>(0)), kBadModel},
      {"no dimension", valid.substr(0, 36), kUnreadable},
      {"dimension 0", head(4, 0), kBadModel},
      {"dimension -2", head(4, -2), kBadModel},
      {"dimension 1000001", head(4, 1000001), kBadModel},
      {"dimension 1000000 truncated", head(4, 1000000) + std::string(40, '\0'), kUnreadable},
      {"no A", valid.substr(0, 40), kUnreadable},
      {"short A", valid.substr(0, 50), kUnreadable},
      {"no a", valid.substr(0, 56), kBadModel},
      {"short a", valid.substr(0, 60), kBadModel},
      {"no B", valid.substr(0, 64), kUnreadable},
      {"short B", valid.substr(0, 75), kUnreadable},
      {"short b", valid.substr(0, 84), kUnreadable},
      {"short c", valid.substr(0, 92), kUnreadable},
      {"no k", valid.substr(0, 96), kUnreadable},
      {"short k", valid.substr(0, 99), kUnreadable},
      {"NaN in A", patched(44, Bytes(nan)), kBadModel},
      {"NaN in a", patched(56, Bytes(nan)), kBadModel},
      {"infinite B", patched(76, Bytes(-inf)), kBadModel},
      {"infinite b", patched(84, Bytes(inf)), kBadModel},
      {"NaN in c", patched(88, Bytes(nan)), kBadModel},
      {"infinite k", patched(96, Bytes(inf)), kBadModel},
  };
  jor_test::TestDir dir;
  for (const Case& c : cases) {
    SectionStream stream(dir, c.bytes);
    Splda<float> splda;
    EXPECT_EQ(splda.Load(stream.get()), c.expected) << c.name;
  }
  Splda<float> splda;
  EXPECT_EQ(splda.Load(nullptr), kUnreadable);

  // The double instantiation wants element size 8.
  SectionStream four(dir, valid);
  Splda<double> wide;
  EXPECT_EQ(wide.Load(four.get()), kBadModel);
  SectionStream eight(dir, modelio::SpldaSection(modelio::RandomSplda(2, 1), 8));
  EXPECT_EQ(wide.Load(eight.get()), 0);
  EXPECT_EQ(wide.TransformedSize(), 5u);

  // A failed reload leaves no half-read model behind.
  SectionStream good(dir, valid), truncated(dir, valid.substr(0, 92));
  Splda<float> reloaded;
  ASSERT_EQ(reloaded.Load(good.get()), 0);
  ASSERT_EQ(reloaded.Load(truncated.get()), kUnreadable);
  std::vector<float> t;
  EXPECT_EQ(reloaded.Transform({1, 2}, &t), kWrongLength);
  EXPECT_EQ(reloaded.TransformedSize(), 1u);
}

}  // namespace
