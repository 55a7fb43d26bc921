// The exported class: input rejection, results before Init, concurrent use,
// and files written by the Python writer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "brindle/xvext.h"
#include "tests/brindle/xe5-test-model.h"
#include "tests/support/test-dir.h"

namespace {

constexpr int kEmptyInput = 0x50009101;
constexpr int kInputNotWholeRows = 0x50009102;
constexpr int kInputNotFinite = 0x50009103;
constexpr int kOutputNotFinite = 0x50009104;
constexpr int kNotInitialized = 0x30109301;

const brindle_test::NetSpec kSpec = {4, {6, 5, 7}, {{-2, -1, 0, 1, 2}, {-2, 0, 2}, {0}}, 3, {2}};

class BrindleXvext : public ::testing::Test {
 protected:
  void SetUp() override {
    model_ = brindle_test::RandomModel(kSpec, 21);
    path_ = dir_.File("xe5.pb");
    jor_test::WriteFile(path_, brindle_test::Encode(model_));
    ASSERT_EQ(xv_.Init(path_, 0), 0);
  }
  jor_test::TestDir dir_;
  brindle_test::TModel model_;
  std::string path_;
  XVECTOR::C_XVEXT xv_;
};

TEST_F(BrindleXvext, BadInputIsRejected) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    size_t size;
    size_t badAt;  // index set to `bad` when < size; every index when kAll
    float bad;
    int expected;
  };
  constexpr size_t kAll = 1000;
  const std::vector<Case> cases = {
      {"empty", 0, 0, 0, kEmptyInput},
      {"one_value_short", 39, 99, 0, kInputNotWholeRows},
      {"one_value_long", 41, 99, 0, kInputNotWholeRows},
      {"fewer_values_than_a_row", 3, 99, 0, kInputNotWholeRows},
      {"nan_first", 40, 0, nan, kInputNotFinite},
      {"inf_last", 40, 39, inf, kInputNotFinite},
      {"minus_inf_inside", 40, 17, -inf, kInputNotFinite},
      {"huge_but_finite_overflows", 40, kAll, 3e38f, kOutputNotFinite},
      {"one_row_is_fine", 4, 99, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> features = brindle_test::RandomFeatures(c.size / 4 + 1, 4, 9);
    features.resize(c.size);
    if (c.badAt < c.size) features[c.badAt] = c.bad;
    if (c.badAt == kAll) features.assign(c.size, c.bad);
    std::vector<float> out = {1.0f, 2.0f};
    EXPECT_EQ(xv_.GetXvector(features, out), c.expected);
    EXPECT_EQ(out.size(), c.expected == 0 ? 3u : 0u);
  }
}

TEST(BrindleXvextLifecycle, NotInitialised) {
  XVECTOR::C_XVEXT xv;
  std::vector<float> out = {1.0f};
  EXPECT_EQ(xv.GetXvector(std::vector<float>(8, 0.0f), out), kNotInitialized);
  EXPECT_TRUE(out.empty());
}

TEST_F(BrindleXvext, ConcurrentCallsMatchSerialOnes) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 6;
  std::vector<std::vector<float>> inputs;
  std::vector<std::vector<float>> serial;
  for (int i = 0; i < kThreads * kRounds; ++i) {
    inputs.push_back(brindle_test::RandomFeatures(3 + 11 * i, 4, 100 + i));
    std::vector<float> out;
    ASSERT_EQ(xv_.GetXvector(inputs.back(), out), 0);
    serial.push_back(out);
  }
  std::vector<std::vector<float>> parallel(inputs.size());
  std::vector<int> results(inputs.size(), -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        const size_t i = static_cast<size_t>(r * kThreads + t);
        results[i] = xv_.GetXvector(inputs[i], parallel[i]);
      }
    });
  for (std::thread& th : threads) th.join();
  for (size_t i = 0; i < inputs.size(); ++i) {
    EXPECT_EQ(results[i], 0);
    EXPECT_EQ(parallel[i], serial[i]) << "input " << i;
  }
}

int RunWriter(const std::string& args) {
  const std::string cmd = std::string("/usr/bin/python3 ") + BRINDLE_PYTHON_WRITER + " " + args;
  return std::system(cmd.c_str());
}

// Files of the Python writer: byte-identical to this test's own writer for the
// same weights, and computed as the reference says.
TEST(BrindlePythonWriter, FilesAgreeWithDocumentedLayout) {
  jor_test::TestDir dir;
  struct Case {
    const char* name;
    std::string args;
    size_t inputDim;
    size_t embeddingDim;
  };
  const std::vector<Case> cases = {
      {"classic_contexts", "--input-dim 5 --frame-dims 6,6,6,4,9 --embedding-dim 7 --seed 3", 5, 7},
      {"custom",
       "--input-dim 3 --frame-dims 4,5 --contexts='1,3;-2:0' --embedding-dim 2 "
       "--segment-dims 4,3 --no-batchnorm --variance-floor 0.01 --seed 8",
       3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(std::string(c.name) + ".pb");
    ASSERT_EQ(RunWriter("--output " + path + " " + c.args), 0);
    const std::string bytes = jor_test::ReadFile(path);
    ASSERT_GT(bytes.size(), 36u);
    const brindle_test::TModel model = brindle_test::Decode(bytes);
    EXPECT_EQ(model.inputDim, c.inputDim);
    EXPECT_EQ(model.embeddingDim, c.embeddingDim);
    EXPECT_TRUE(brindle_test::Encode(model) == bytes) << "layouts differ";

    XVECTOR::C_XVEXT xv;
    ASSERT_EQ(xv.Init(path, 0), 0);
    for (size_t frames : {1, 2, 29}) {
      const std::vector<float> features = brindle_test::RandomFeatures(frames, c.inputDim, 5);
      const std::vector<double> ref = brindle_test::Reference(model, features);
      std::vector<float> out;
      ASSERT_EQ(xv.GetXvector(features, out), 0);
      ASSERT_EQ(out.size(), c.embeddingDim);
      double scale = 1.0;
      for (double v : ref) scale = std::max(scale, std::abs(v));
      for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], ref[i], 1e-4 * scale);
    }
  }
}

}  // namespace
