#include "ivdist/norm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/ivdist/section-stream.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/scoring-writer.h"

namespace {

using ivdist::norm::LengthNormalize;
using ivdist::norm::Norm;
using ivdist_test::Bytes;
using ivdist_test::SectionStream;

constexpr int kUnreadable = static_cast<int>(0x40008002u);
constexpr int kBadModel = static_cast<int>(0x40008003u);
constexpr int kWrongLength = static_cast<int>(0x60008006u);
constexpr int kOutOfRange = static_cast<int>(0x60008008u);

modelio::WhiteningModel Identity(int32_t d, double variance) {
  modelio::WhiteningModel m;
  m.dim = d;
  m.basis.assign(static_cast<size_t>(d) * d, 0.0);
  for (int32_t i = 0; i < d; ++i) m.basis[static_cast<size_t>(i) * d + i] = 1.0;
  m.variances.assign(static_cast<size_t>(d), variance);
  return m;
}

// D = 2: E at bytes 36..67, variances at 68..83.
std::string ValidSection() {
  modelio::WhiteningModel m;
  m.dim = 2;
  m.basis = {1.0, 2.0, 3.0, 4.0};
  m.variances = {4.0, 16.0};
  return modelio::WhiteningSection(m);
}

std::string Patched(size_t offset, double value) {
  std::string s = ValidSection();
  s.replace(offset, 8, Bytes(value));
  return s;
}

std::string WithDimension(int32_t d) {
  return std::string(32, '\0') + Bytes<int32_t>(d);
}

TEST(NormTest, LoadResults) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    std::string bytes;
    int expected;
  };
  // A tiny positive variance under a huge basis value makes W overflow.
  std::string overflow = Patched(36, 1e300);
  overflow.replace(68, 8, Bytes(1e-300));
  const std::vector<Case> cases = {
      {"valid", ValidSection(), 0},
      {"empty", "", kUnreadable},
      {"short header", std::string(20, '\0'), kUnreadable},
      {"no dimension", std::string(32, '\0'), kUnreadable},
      {"dimension 0", WithDimension(0), kBadModel},
      {"dimension -5", WithDimension(-5), kBadModel},
      {"dimension 1000001", WithDimension(1000001), kBadModel},
      // Declares 8 TB of basis: must fail on the short read, not allocate it.
      {"dimension 1000000 truncated", WithDimension(1000000) + std::string(64, '\0'), kUnreadable},
      {"short basis", ValidSection().substr(0, 60), kUnreadable},
      {"no variances", ValidSection().substr(0, 68), kUnreadable},
      {"short variances", ValidSection().substr(0, 83), kUnreadable},
      {"zero variance", Patched(68, 0.0), kBadModel},
      {"negative variance", Patched(76, -1.0), kBadModel},
      {"NaN variance", Patched(68, nan), kBadModel},
      {"infinite variance", Patched(76, inf), kBadModel},
      {"NaN basis", Patched(44, nan), kBadModel},
      {"whitening overflows", overflow, kBadModel},
  };
  jor_test::TestDir dir;
  for (const Case& c : cases) {
    SectionStream stream(dir, c.bytes);
    Norm norm;
    EXPECT_EQ(norm.Load(stream.get()), c.expected) << c.name;
  }
  Norm norm;
  EXPECT_EQ(norm.Load(nullptr), kUnreadable);

  // A failed reload leaves no half-read model behind.
  SectionStream good(dir, ValidSection()), truncated(dir, ValidSection().substr(0, 40));
  ASSERT_EQ(norm.Load(good.get()), 0);
  ASSERT_EQ(norm.Load(truncated.get()), kUnreadable);
  std::vector<double> out;
  EXPECT_EQ(norm.Apply({1, 2}, &out), kWrongLength);
}

TEST(NormTest, IdentityWithVariancesFourHalves) {
  jor_test::TestDir dir;
  SectionStream stream(dir, modelio::WhiteningSection(Identity(3, 4.0)));
  Norm norm;
  ASSERT_EQ(norm.Load(stream.get()), 0);
  EXPECT_EQ(norm.Rows(), 3u);
  std::vector<double> out;
  ASSERT_EQ(norm.Apply({2.0, -6.0, 0.5}, &out), 0);
  EXPECT_EQ(out, (std::vector<double>{1.0, -3.0, 0.25}));
}

TEST(NormTest, ApplyProjectsOnColumnsOfTheBasis) {
  // out[j] = sum_i E[i][j] in[i] / sqrt(var[j]), by hand for the D = 2 section:
  // E = [[1, 2], [3, 4]], var = (4, 16), in = (1, -1):
  // out[0] = (1 - 3) / 2 = -1, out[1] = (2 - 4) / 4 = -0.5.
  jor_test::TestDir dir;
  SectionStream stream(dir, ValidSection());
  Norm norm;
  ASSERT_EQ(norm.Load(stream.get()), 0);
  std::vector<double> v{1.0, -1.0};
  ASSERT_EQ(norm.Apply(v, &v), 0);  // in place
  EXPECT_EQ(v, (std::vector<double>{-1.0, -0.5}));

  // A random model against a double reference.
  const modelio::WhiteningModel m = modelio::RandomWhitening(11, 5);
  SectionStream random(dir, modelio::WhiteningSection(m));
  Norm rnorm;
  ASSERT_EQ(rnorm.Load(random.get()), 0);
  std::mt19937 rng(3);
  std::normal_distribution<double> normal;
  std::vector<double> in(11);
  for (double& x : in) x = normal(rng);
  std::vector<double> out;
  ASSERT_EQ(rnorm.Apply(in, &out), 0);
  ASSERT_EQ(out.size(), 11u);
  for (size_t j = 0; j < 11; ++j) {
    long double ref = 0;
    for (size_t i = 0; i < 11; ++i) ref += static_cast<long double>(m.basis[i * 11 + j]) * in[i];
    ref /= std::sqrt(static_cast<long double>(m.variances[j]));
    EXPECT_NEAR(out[j], static_cast<double>(ref), 1e-12) << j;
  }
}

TEST(NormTest, ApplyRefusesWrongLengths) {
  jor_test::TestDir dir;
  SectionStream stream(dir, modelio::WhiteningSection(Identity(3, 1.0)));
  Norm norm;
  ASSERT_EQ(norm.Load(stream.get()), 0);
  std::vector<double> out;
  EXPECT_EQ(norm.Apply({}, &out), kWrongLength);
  EXPECT_EQ(norm.Apply({1.0, 2.0}, &out), kWrongLength);
  EXPECT_EQ(norm.Apply({1.0, 2.0, 3.0, 4.0}, &out), kWrongLength);
  Norm empty;
  EXPECT_EQ(empty.Apply({1.0}, &out), kWrongLength);
}

TEST(LengthNormalizeTest, ThreeFourUsesTheFloatFactor) {
  std::vector<double> out;
  ASSERT_EQ(LengthNormalize({3.0, 4.0}, &out), 0);
  // sum 25 in float, factor 1/5 rounded to float, widened.
  const double factor = static_cast<double>(0.2f);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], 3.0 * factor);
  EXPECT_EQ(out[1], 4.0 * factor);
  EXPECT_NE(out[0], 0.6);  // not the double-precision result
  EXPECT_NEAR(out[0], 0.6, 1e-7);
  EXPECT_NEAR(out[1], 0.8, 1e-7);
}

TEST(LengthNormalizeTest, SumsSquaresInSinglePrecisionInOrder) {
  // Magnitudes spread over many octaves make the float sum order-sensitive.
  std::mt19937 rng(17);
  std::normal_distribution<double> normal;
  std::uniform_int_distribution<int> octave(-12, 12);
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<double> in(513);
    for (double& x : in) x = std::ldexp(normal(rng), octave(rng));
    float sum = 0.0f;
    for (double x : in) sum = sum + static_cast<float>(x * x);
    const double factor = static_cast<double>(1.0f / std::sqrt(sum));
    std::vector<double> out;
    ASSERT_EQ(LengthNormalize(in, &out), 0);
    ASSERT_EQ(out.size(), in.size());
    double norm2 = 0.0;
    for (size_t i = 0; i < in.size(); ++i) {
      ASSERT_EQ(out[i], in[i] * factor) << "trial " << trial << " element " << i;
      norm2 += out[i] * out[i];
    }
    EXPECT_NEAR(norm2, 1.0, 1e-5);
  }
}

TEST(LengthNormalizeTest, RefusesVectorsWithoutALength) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    std::vector<double> in;
    int expected;
  };
  const std::vector<Case> cases = {
      {"empty", {}, kWrongLength},
      {"all zero", {0.0, 0.0, -0.0}, kOutOfRange},
      {"squares underflow", {1e-30, -1e-30}, kOutOfRange},
      {"NaN", {1.0, nan, 2.0}, kOutOfRange},
      {"infinity", {1.0, -inf}, kOutOfRange},
      {"squares overflow float", {1e20, 1.0}, kOutOfRange},
      {"squares overflow double", {1e200, 1.0}, kOutOfRange},
  };
  for (const Case& c : cases) {
    std::vector<double> out{42.0};
    EXPECT_EQ(LengthNormalize(c.in, &out), c.expected) << c.name;
    EXPECT_EQ(out, std::vector<double>{42.0}) << c.name << ": out untouched";
  }
}

}  // namespace
