// Forward pass of random networks against the plain double-precision
// reference of xe5-test-model.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "brindle/xe5-model.h"
#include "brindle/xvector-network.h"
#include "brindle/xvext.h"
#include "tests/brindle/xe5-test-model.h"
#include "tests/support/test-dir.h"

namespace {

using brindle_test::NetSpec;

struct ForwardCase {
  const char* name;
  NetSpec spec;
  size_t frames;
  size_t block;  // frame-level outputs per pass in the direct network call; the
                 // exported class uses the library's own pass size
};

const std::vector<std::vector<int32_t>> kClassic = {
    {-2, -1, 0, 1, 2}, {-2, 0, 2}, {-3, 0, 3}, {0}, {0}};

NetSpec Classic(uint32_t in, uint32_t emb) {
  return {in, {8, 8, 8, 6, 10}, kClassic, emb, {4}};
}

constexpr size_t kOnePass = size_t{1} << 20;

std::vector<ForwardCase> Cases() {
  NetSpec plain = Classic(5, 6);
  plain.scaled = false;
  plain.activation = 0;
  NetSpec floored = Classic(4, 3);
  floored.varianceFloor = 4.0f;
  return {
      {"classic_odd_frames", Classic(5, 7), 57, kOnePass},
      {"classic_exactly_one_output", Classic(5, 7), 15, kOnePass},
      {"classic_span_frames_padded", Classic(5, 7), 14, kOnePass},
      {"classic_three_frames_padded", Classic(5, 7), 3, kOnePass},
      {"classic_one_frame_padded", Classic(3, 2), 1, kOnePass},
      {"classic_blocked_with_remainder", Classic(5, 7), 203, 16},
      {"classic_blocked_one_frame_per_pass", Classic(4, 5), 40, 1},
      {"single_layer_one_frame", {3, {4}, {{0}}, 2, {}}, 1, kOnePass},
      {"uneven_offsets", {6, {7, 5, 9}, {{1, 3}, {-4, -1}, {0, 2, 5}}, 4, {3, 2}}, 31, kOnePass},
      {"uneven_offsets_padded", {6, {7, 5, 9}, {{1, 3}, {-4, -1}, {0, 2, 5}}, 4, {}}, 9, 4},
      {"positive_offsets_padded", {2, {3, 4}, {{1, 2}, {3}}, 5, {}}, 1, kOnePass},
      {"negative_offsets", {3, {5, 5}, {{-3, -1}, {-2, -1, 0}}, 3, {}}, 12, 5},
      {"no_activation_no_scale", plain, 33, kOnePass},
      {"variance_floor_dominates", floored, 25, kOnePass},
      {"longer_than_one_default_pass", Classic(3, 4), 2100, kOnePass},
      {"wide_input", {40, {16, 12}, {{-2, -1, 0, 1, 2}, {0}}, 8, {}}, 101, kOnePass},
  };
}

double Tolerance(const std::vector<double>& ref) {
  double m = 1.0;
  for (double v : ref) m = std::max(m, std::abs(v));
  return 1e-4 * m;  // float forward pass against double
}

TEST(BrindleForward, MatchesPlainDoubleReference) {
  jor_test::TestDir dir;
  uint32_t seed = 11;
  for (const ForwardCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const brindle_test::TModel model = brindle_test::RandomModel(c.spec, ++seed);
    const std::string bytes = brindle_test::Encode(model);
    const std::string path = dir.File(std::string(c.name) + ".pb");
    jor_test::WriteFile(path, bytes);
    const std::vector<float> features =
        brindle_test::RandomFeatures(c.frames, c.spec.inputDim, seed * 7);
    const std::vector<double> ref = brindle_test::Reference(model, features);
    ASSERT_EQ(ref.size(), c.spec.embeddingDim);
    const double tol = Tolerance(ref);

    XVECTOR::C_XVEXT xv;
    ASSERT_EQ(xv.Init(path, 0), 0);
    std::vector<float> out;
    ASSERT_EQ(xv.GetXvector(features, out), 0);
    ASSERT_EQ(out.size(), ref.size());
    for (size_t i = 0; i < ref.size(); ++i) EXPECT_NEAR(out[i], ref[i], tol) << "value " << i;

    brindle::Model parsed;
    ASSERT_EQ(
        brindle::ParseModel(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &parsed),
        0u);
    const brindle::XvectorNetwork net(std::move(parsed));
    std::vector<float> blocked;
    ASSERT_EQ(net.Compute(features.data(), features.size(), &blocked, c.block), 0u);
    ASSERT_EQ(blocked.size(), ref.size());
    for (size_t i = 0; i < ref.size(); ++i) EXPECT_NEAR(blocked[i], ref[i], tol) << "value " << i;
  }
}

// Repeated edge frames are the whole padding: an input of one frame equals
// the same frame given span + 1 times, where no padding is needed.
TEST(BrindleForward, OneFrameEqualsRepeatedFrame) {
  const NetSpec spec = Classic(4, 3);
  const brindle_test::TModel model = brindle_test::RandomModel(spec, 5);
  const std::string bytes = brindle_test::Encode(model);
  brindle::Model parsed;
  ASSERT_EQ(
      brindle::ParseModel(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &parsed),
      0u);
  const brindle::XvectorNetwork net(std::move(parsed));
  ASSERT_EQ(net.Span(), 14);
  const std::vector<float> one = brindle_test::RandomFeatures(1, 4, 3);
  std::vector<float> repeated;
  for (int i = 0; i < 15; ++i) repeated.insert(repeated.end(), one.begin(), one.end());
  std::vector<float> a, b;
  ASSERT_EQ(net.Compute(one.data(), one.size(), &a), 0u);
  ASSERT_EQ(net.Compute(repeated.data(), repeated.size(), &b), 0u);
  EXPECT_EQ(a, b);
}

}  // namespace
