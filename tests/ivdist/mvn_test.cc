#include "ivdist/mvn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "ivdist/element-wise.h"
#include "tests/ivdist/section-stream.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/scoring-writer.h"

namespace {

using ivdist::mvn::Mvn;
using ivdist_test::Bytes;
using ivdist_test::SectionStream;

constexpr int kUnreadable = static_cast<int>(0x40008000u);
constexpr int kBadModel = static_cast<int>(0x40008001u);
constexpr int kShape = static_cast<int>(0xFFF01900u);

// Section with D = 3: mean at bytes 36..47, scale at 48..59.
std::string ValidSection() {
  return modelio::MeanVarianceSection({{1.0f, 2.0f, 3.0f}, {2.0f, 0.5f, -1.0f}});
}

std::string WithDimension(int32_t d) {
  return std::string(32, '\x7f') + Bytes<int32_t>(d);
}

std::string Patched(size_t offset, const std::string& bytes) {
  std::string s = ValidSection();
  s.replace(offset, bytes.size(), bytes);
  return s;
}

TEST(MvnTest, LoadResults) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    std::string bytes;
    int expected;
  };
  const std::vector<Case> cases = {
      {"valid", ValidSection(), 0},
      {"empty", "", kUnreadable},
      {"short header", std::string(31, '\0'), kUnreadable},
      {"no dimension", std::string(32, '\0'), kUnreadable},
      {"partial dimension", std::string(34, '\0'), kUnreadable},
      {"dimension 0", WithDimension(0), kBadModel},
      {"dimension -1", WithDimension(-1), kBadModel},
      {"dimension 1000001", WithDimension(1000001), kBadModel},
      // Passes the range test, then runs out of data.
      {"dimension 1000000", WithDimension(1000000), kUnreadable},
      {"short mean", ValidSection().substr(0, 44), kUnreadable},
      {"no scale", ValidSection().substr(0, 48), kUnreadable},
      {"short scale", ValidSection().substr(0, 59), kUnreadable},
      {"NaN mean", Patched(40, Bytes(nan)), kBadModel},
      {"infinite scale", Patched(56, Bytes(-inf)), kBadModel},
  };
  jor_test::TestDir dir;
  for (const Case& c : cases) {
    SectionStream stream(dir, c.bytes);
    Mvn mvn;
    EXPECT_EQ(mvn.Load(stream.get()), c.expected) << c.name;
  }
  Mvn mvn;
  EXPECT_EQ(mvn.Load(nullptr), kUnreadable);

  // A failed reload leaves no half-read model behind.
  SectionStream good(dir, ValidSection()), truncated(dir, ValidSection().substr(0, 50));
  ASSERT_EQ(mvn.Load(good.get()), 0);
  ASSERT_EQ(mvn.Load(truncated.get()), kUnreadable);
  std::vector<float> out;
  EXPECT_EQ(mvn.Normalize({1, 2, 3}, &out), kShape);
}

TEST(MvnTest, NormalizeSubtractsThenMultiplies) {
  jor_test::TestDir dir;
  SectionStream stream(dir, ValidSection());
  Mvn mvn;
  ASSERT_EQ(mvn.Load(stream.get()), 0);
  EXPECT_EQ(mvn.Dimension(), 3);

  std::vector<float> out;
  ASSERT_EQ(mvn.Normalize({3.0f, 4.0f, 1.0f}, &out), 0);
  // (3-1)*2, (4-2)*0.5, (1-3)*-1
  EXPECT_EQ(out, (std::vector<float>{4.0f, 1.0f, 2.0f}));

  ASSERT_EQ(mvn.SubtractMean({3.0f, 4.0f, 1.0f}, &out), 0);
  EXPECT_EQ(out, (std::vector<float>{2.0f, 2.0f, -2.0f}));

  // In place.
  std::vector<float> v{3.0f, 4.0f, 1.0f};
  ASSERT_EQ(mvn.Normalize(v, &v), 0);
  EXPECT_EQ(v, (std::vector<float>{4.0f, 1.0f, 2.0f}));
}

TEST(MvnTest, MeanOneScaleTwoMapsThreeToFour) {
  jor_test::TestDir dir;
  SectionStream stream(dir, modelio::MeanVarianceSection({{1.0f}, {2.0f}}));
  Mvn mvn;
  ASSERT_EQ(mvn.Load(stream.get()), 0);
  std::vector<float> out;
  ASSERT_EQ(mvn.Normalize({3.0f}, &out), 0);
  EXPECT_EQ(out, std::vector<float>{4.0f});
}

TEST(MvnTest, WrongLengthsAreShapeMismatches) {
  jor_test::TestDir dir;
  SectionStream stream(dir, ValidSection());
  Mvn mvn;
  ASSERT_EQ(mvn.Load(stream.get()), 0);
  for (const std::vector<float>& in :
       {std::vector<float>{}, std::vector<float>{1, 2}, std::vector<float>{1, 2, 3, 4}}) {
    std::vector<float> out{9.0f};
    EXPECT_EQ(mvn.Normalize(in, &out), kShape) << in.size();
    EXPECT_EQ(out, std::vector<float>{9.0f}) << "Normalize leaves out untouched";
    EXPECT_EQ(mvn.SubtractMean(in, &out), kShape) << in.size();
  }
  // An empty (unloaded) model accepts nothing.
  Mvn empty;
  std::vector<float> out;
  EXPECT_EQ(empty.Normalize({1.0f}, &out), kShape);
}

TEST(ElementWiseTest, ShapesAndValues) {
  const std::vector<float> a{1.5f, -2.0f, 4.0f};
  const std::vector<float> b{0.5f, 3.0f, -1.0f};
  std::vector<float> out(3, 7.0f);
  ASSERT_EQ(ivdist::SubtractElements<float>(a, b, out), 0);
  EXPECT_EQ(out, (std::vector<float>{1.0f, -5.0f, 5.0f}));
  ASSERT_EQ(ivdist::MultiplyElements<float>(a, b, out), 0);
  EXPECT_EQ(out, (std::vector<float>{0.75f, -6.0f, -4.0f}));

  struct Case {
    size_t in, p, out;
  };
  for (const Case& c : {Case{0, 0, 0}, Case{3, 2, 3}, Case{3, 3, 2}, Case{2, 3, 3}}) {
    std::vector<double> x(c.in, 1.0), p(c.p, 1.0), o(c.out, 5.0);
    EXPECT_EQ(ivdist::SubtractElements<double>(x, p, o), kShape);
    EXPECT_EQ(ivdist::MultiplyElements<double>(x, p, o), kShape);
    for (double v : o) EXPECT_EQ(v, 5.0) << "nothing written";
  }
}

}  // namespace
