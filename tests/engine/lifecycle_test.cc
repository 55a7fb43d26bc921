// The engine end to end through its exports, on a deployment of random but
// valid models: lifecycle, template sizes and validation, scores in range.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "engine/ravel-exports.h"
#include "tests/support/synthetic-speech.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/random-deployment.h"

namespace {

class LifecycleTest : public ::testing::Test {
 protected:
  void Init(const modelio::DeploymentSpec& spec = {}) {
    modelio::WriteRandomDeployment(dir_.path().string(), spec);
    const bool share = false;
    ASSERT_EQ(Ravel_Initialize(dir_.File("ulxmodel.dat").c_str(), 20, 0.025f,
                               dir_.path().c_str(), share),
              0)
        << std::hex << Ravel_GetDetail(nullptr);
  }
  void TearDown() override {
    Ravel_Terminate();
  }

  jor_test::TestDir dir_;
};

size_t HeapInUse() { return mallinfo2().uordblks; }

// A handle that outlives Ravel_Terminate is freed by Ravel_Delete, which
// still answers 769; cycles of initialise, create, terminate, delete leave
// the heap where it was.
TEST_F(LifecycleTest, HandleOutlivingTerminationIsFreed) {
  const bool share = false;
  const std::string model = dir_.File("ulxmodel.dat");
  modelio::WriteRandomDeployment(dir_.path().string());
  size_t instanceBytes = 0, afterFirst = 0;
  for (int cycle = 0; cycle < 6; ++cycle) {
    ASSERT_EQ(Ravel_Initialize(model.c_str(), 20, 0.025f, dir_.path().c_str(), share), 0);
    void* h = nullptr;
    const size_t before = HeapInUse();
    ASSERT_EQ(Ravel_Create(&h), 0);
    if (cycle == 0) instanceBytes = HeapInUse() - before;
    ASSERT_EQ(Ravel_Terminate(), 0);
    EXPECT_EQ(Ravel_Delete(&h), 769);
    EXPECT_EQ(h, nullptr);
    if (cycle == 0) afterFirst = HeapInUse();
  }
  EXPECT_EQ(Ravel_Delete(nullptr), 769);
  // Under the sanitizers the heap is theirs (mallinfo2 sees nothing) and the
  // leak checker reports a leak instead.
  if (instanceBytes == 0) return;
  EXPECT_LT(HeapInUse(), afterFirst + instanceBytes) << "instance of " << instanceBytes << " bytes";
}

TEST_F(LifecycleTest, DetailAndSecondInitialisation) {
  EXPECT_EQ(Ravel_GetDetail(nullptr), 33);
  Init();
  EXPECT_EQ(Ravel_GetDetail(nullptr), 0);
  EXPECT_EQ(Ravel_GetTemplateSize(), 4 * (2 * 32 + 1) + 256);
  // A second call reads nothing: the files are gone.
  std::filesystem::remove_all(dir_.path());
  const bool share = false;
  EXPECT_EQ(Ravel_Initialize("nowhere", 20, 0.025f, "nowhere", share), 0);
  EXPECT_EQ(Ravel_Terminate(), 0);
  EXPECT_EQ(Ravel_GetDetail(nullptr), 33);
  EXPECT_EQ(Ravel_GetTemplateSize(), -1);
}

TEST_F(LifecycleTest, InitialisationAfterFailure) {
  modelio::DeploymentSpec spec;
  modelio::WriteRandomDeployment(dir_.path().string(), spec);
  std::string container = jor_test::ReadFile(dir_.File("ulxmodel.dat"));
  jor_test::WriteFile(dir_.File("ulxmodel.dat"), container.substr(0, 60));
  const bool share = false;
  EXPECT_EQ(Ravel_Initialize(dir_.File("ulxmodel.dat").c_str(), 20, 0.025f, dir_.path().c_str(),
                             share),
            1024);
  EXPECT_EQ(Ravel_GetDetail(nullptr), 4117);
  jor_test::WriteFile(dir_.File("ulxmodel.dat"), container);
  EXPECT_EQ(Ravel_Initialize(dir_.File("ulxmodel.dat").c_str(), 20, 0.025f, dir_.path().c_str(),
                             share),
            0);
  EXPECT_EQ(Ravel_GetDetail(nullptr), 0);
}

// An instance holds its initialisation's models; after a terminate and a new
// initialisation those are gone, so the handle is refused, not run on them.
TEST_F(LifecycleTest, HandleOfAnEarlierInitialisationIsRefused) {
  Init();
  void* h = nullptr;
  ASSERT_EQ(Ravel_Create(&h), 0);
  ASSERT_EQ(Ravel_Terminate(), 0);
  Init();
  const auto pcm = jor_test::SyntheticSpeech(1.0, 3);
  EXPECT_EQ(Ravel_PutPCM(h, pcm), 769);
  std::vector<char> templ;
  EXPECT_EQ(Ravel_GetIvector(h, &templ, true), 769);
  EXPECT_EQ(Ravel_Delete(&h), 0);
  EXPECT_EQ(h, nullptr);
  ASSERT_EQ(Ravel_Create(&h), 0);
  EXPECT_EQ(Ravel_PutPCM(h, pcm), 0);
  EXPECT_EQ(Ravel_Delete(&h), 0);
}

TEST_F(LifecycleTest, EnrolAndVerifyEveryWay) {
  Init();
  void* h = nullptr;
  ASSERT_EQ(Ravel_Create(&h), 0);
  const size_t size = static_cast<size_t>(Ravel_GetTemplateSize());

  // Whole recordings: features, then i-vector and x-vector templates.
  const auto pcm_a = jor_test::SyntheticSpeech(6.0, 1, 110.0);
  const auto pcm_b = jor_test::SyntheticSpeech(4.0, 2, 210.0);
  std::vector<float> fa, fb, bands;
  float da, db, volume, snr, lo, hi;
  ASSERT_EQ(Ravel_GetFeature(h, pcm_a, &fa, &da, &volume, &snr, &lo, &hi, &bands), 0)
      << std::hex << Ravel_GetDetail(h);
  ASSERT_EQ(Ravel_GetFeature(h, pcm_b, &fb, &db, &volume, &snr, &lo, &hi, &bands), 0);
  ASSERT_FALSE(fa.empty());
  EXPECT_EQ(fa.size() % 20, 0u);
  EXPECT_GT(da, db);

  std::vector<char> ia, ib, xa, xb, raw;
  const bool yes = true, no = false;
  ASSERT_EQ(Ravel_GetIvector(h, fa, da, volume, snr, &ia, yes), 0) << std::hex << Ravel_GetDetail(h);
  ASSERT_EQ(Ravel_GetIvector(h, fb, db, volume, snr, &ib, yes), 0);
  ASSERT_EQ(Ravel_GetXvector(h, fa, da, volume, snr, &xa, yes), 0) << std::hex << Ravel_GetDetail(h);
  ASSERT_EQ(Ravel_GetXvector(h, fb, db, volume, snr, &xb, yes), 0);
  ASSERT_EQ(Ravel_GetXvector(h, fa, da, volume, snr, &raw, no), 0);
  EXPECT_EQ(ia.size(), size);
  EXPECT_EQ(xa.size(), size);
  EXPECT_EQ(raw.size(), 256u + 4 * 32);

  std::string version;
  for (const auto* t : {&ia, &ib, &xa, &xb}) {
    EXPECT_EQ(Ravel_CheckTemplate(*t, &version), 0);
    EXPECT_EQ(version, "1.1");
  }
  float s = -1;
  for (const auto& pair : {std::make_pair(&ia, &ib), std::make_pair(&xa, &xb),
                           std::make_pair(&ia, &ia), std::make_pair(&xa, &ib)}) {
    ASSERT_EQ(Ravel_GetScore(h, *pair.first, *pair.second, &s), 0);
    EXPECT_GE(s, 0.0f);
    EXPECT_LE(s, 100.0f);
  }
  EXPECT_EQ(Ravel_GetScore(h, raw, xa, &s), 1792);
  EXPECT_EQ(Ravel_GetDetail(h), 8240);

  // Streamed PCM: quality accumulates, the template covers the stream.
  for (size_t at = 0; at < pcm_a.size(); at += 1600) {
    std::vector<short> chunk(pcm_a.begin() + static_cast<long>(at),
                             pcm_a.begin() + static_cast<long>(std::min(at + 1600, pcm_a.size())));
    ASSERT_EQ(Ravel_PutPCM(h, chunk), 0) << std::hex << Ravel_GetDetail(h);
  }
  float d = 0;
  ASSERT_EQ(Ravel_GetQualityMeasures(h, &d, &volume, &snr, &lo, &hi, &bands), 0);
  EXPECT_GT(d, 1.0f);
  EXPECT_EQ(bands.size(), 16u);
  std::vector<char> stream;
  ASSERT_EQ(Ravel_GetIvector(h, &stream, yes), 0) << std::hex << Ravel_GetDetail(h);
  EXPECT_EQ(stream.size(), size);
  EXPECT_EQ(Ravel_CheckTemplate(stream, &version), 0);
  ASSERT_EQ(Ravel_GetScore(h, stream, ia, &s), 0);

  EXPECT_GT(hi, 0.0f);
  EXPECT_EQ(Ravel_Reset(h), 0);
  EXPECT_EQ(Ravel_GetDetail(h), 0);
  ASSERT_EQ(Ravel_GetQualityMeasures(h, &d, &volume, &snr, &lo, &hi, &bands), 0);
  // Nothing of the previous stream is reported after a reset.
  EXPECT_EQ(d, 0.0f);
  EXPECT_EQ(volume, 0.0f);
  EXPECT_EQ(snr, 0.0f);
  EXPECT_EQ(lo, 0.0f);
  EXPECT_EQ(hi, 0.0f);
  EXPECT_TRUE(bands.empty());
  EXPECT_EQ(Ravel_Delete(&h), 0);
  EXPECT_EQ(h, nullptr);
}

TEST_F(LifecycleTest, ScoreAsymmetryAndChecksum) {
  Init();
  void* h = nullptr;
  ASSERT_EQ(Ravel_Create(&h), 0);
  const auto pcm_a = jor_test::SyntheticSpeech(3.0, 3, 130.0);
  const auto pcm_b = jor_test::SyntheticSpeech(3.0, 4, 170.0);
  std::vector<float> fa, fb, bands;
  float d, v, s, lo, hi;
  ASSERT_EQ(Ravel_GetFeature(h, pcm_a, &fa, &d, &v, &s, &lo, &hi, &bands), 0);
  ASSERT_EQ(Ravel_GetFeature(h, pcm_b, &fb, &d, &v, &s, &lo, &hi, &bands), 0);
  std::vector<char> a, b;
  const bool yes = true;
  // Durations chosen so the adjustment differs: 0 and 30000.
  ASSERT_EQ(Ravel_GetXvector(h, fa, 0.0f, v, s, &a, yes), 0);
  ASSERT_EQ(Ravel_GetXvector(h, fb, 30000.0f, v, s, &b, yes), 0);
  float ab = 0, ba = 0;
  ASSERT_EQ(Ravel_GetScore(h, a, b, &ab), 0);
  ASSERT_EQ(Ravel_GetScore(h, b, a, &ba), 0);
  // Only the second template's duration lowers the raw score: by 0.08 per
  // 1000 units, scaled by 0.4, so 30000 costs 0.96 on the final score.
  ASSERT_GT(ab, 1.0f);
  ASSERT_LT(ba, 99.0f);
  EXPECT_NEAR(ba - ab, 0.96f, 1e-3f);

  auto damaged = a;
  damaged[0] = static_cast<char>(damaged[0] ^ 1);
  std::string version;
  EXPECT_EQ(Ravel_CheckTemplate(damaged, &version), 1792);
  float again = -1;
  EXPECT_EQ(Ravel_GetScore(h, damaged, b, &again), 0);
  EXPECT_EQ(again, ab);
  Ravel_Delete(&h);
}

TEST_F(LifecycleTest, Dimension512GivesThe4356ByteTemplate) {
  modelio::DeploymentSpec spec;
  spec.dim = 512;
  spec.numGaussians = 24;
  Init(spec);
  EXPECT_EQ(Ravel_GetTemplateSize(), 4356);
}

}  // namespace

namespace {

// The network file as the model tools write it, loaded by initialisation and
// used for x-vector templates.
TEST(LifecycleToolsTest, NetworkFromThePythonWriter) {
  jor_test::TestDir dir;
  modelio::DeploymentSpec spec;
  modelio::WriteRandomDeployment(dir.path().string(), spec);
  const std::string command = "/usr/bin/python3 " JOR_SOURCE_DIR
                              "/tools/xvector/xe5_writer.py --output " +
                              dir.File("xe5.pb") +
                              " --input-dim 20 --frame-dims 24,24,24,24,48 --embedding-dim 32"
                              " --seed 5 > /dev/null";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "python3 with numpy is not available";
  const bool share = false;
  ASSERT_EQ(Ravel_Initialize(dir.File("ulxmodel.dat").c_str(), 20, 0.025f, dir.path().c_str(),
                             share),
            0)
      << std::hex << Ravel_GetDetail(nullptr);
  void* h = nullptr;
  ASSERT_EQ(Ravel_Create(&h), 0);
  std::vector<float> features, bands;
  float d, v, s, lo, hi;
  ASSERT_EQ(Ravel_GetFeature(h, jor_test::SyntheticSpeech(3.0, 9), &features, &d, &v, &s, &lo,
                             &hi, &bands),
            0);
  std::vector<char> raw, transformed;
  const bool no = false, yes = true;
  ASSERT_EQ(Ravel_GetXvector(h, features, d, v, s, &raw, no), 0) << Ravel_GetDetail(h);
  EXPECT_EQ(raw.size(), 256u + 4 * 32);
  ASSERT_EQ(Ravel_GetXvector(h, features, d, v, s, &transformed, yes), 0);
  EXPECT_EQ(static_cast<int>(transformed.size()), Ravel_GetTemplateSize());
  // A network whose input does not match the features is refused per call.
  std::vector<char> out;
  EXPECT_EQ(Ravel_GetXvector(h, std::vector<float>(7, 1.0f), d, v, s, &out, no), 1280);
  Ravel_Delete(&h);
  Ravel_Terminate();
}

}  // namespace
