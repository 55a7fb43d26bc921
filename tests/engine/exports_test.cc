// The exported engine face before and around initialisation, through
// libRavel.so only.
#include <gtest/gtest.h>

#include "engine/ravel-exports.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/container-writer.h"

namespace {

const char kGoodOptions[] = R"({"MfccOptions":{"MelBanksOptions":{"num_bins":40}}})";

TEST(ExportsTest, BeforeInitialisation) {
  EXPECT_EQ(Ravel_GetDetail(nullptr), 33);
  EXPECT_EQ(Ravel_GetTemplateSize(), -1);
  EXPECT_EQ(Ravel_GetVersion(), "ULX CoreLibraryIF 1.0.0");

  void* handle = nullptr;
  std::vector<char> templ;
  std::vector<float> features, bands;
  std::string version;
  float f = 0;
  const bool yes = true;
  EXPECT_EQ(Ravel_Create(&handle), 769);
  EXPECT_EQ(Ravel_Create(nullptr), 769);
  EXPECT_EQ(Ravel_PutPCM(nullptr, {1, 2}), 769);
  EXPECT_EQ(Ravel_GetQualityMeasures(nullptr, &f, &f, &f, &f, &f, &bands), 769);
  EXPECT_EQ(Ravel_GetIvector(nullptr, &templ, yes), 769);
  EXPECT_EQ(Ravel_GetFeature(nullptr, {1}, &features, &f, &f, &f, &f, &f, &bands), 769);
  EXPECT_EQ(Ravel_GetIvector(nullptr, features, f, f, f, &templ, yes), 769);
  EXPECT_EQ(Ravel_GetXvector(nullptr, features, f, f, f, &templ, yes), 769);
  EXPECT_EQ(Ravel_GetScore(nullptr, templ, templ, &f), 769);
  EXPECT_EQ(Ravel_Reset(nullptr), 769);
  EXPECT_EQ(Ravel_Delete(&handle), 769);
  EXPECT_EQ(Ravel_CheckTemplate(templ, &version), 769);
  EXPECT_EQ(Ravel_Terminate(), 769);
  EXPECT_EQ(Ravel_GetDetail(nullptr), 33);
}

TEST(ExportsTest, FailedInitialisationKeepsDetail) {
  jor_test::TestDir dir;
  const bool no = false;
  // The default options ask for 40 cepstra from 23 mel bins: refused before
  // any model is read.
  EXPECT_EQ(Ravel_Initialize(dir.File("ulxmodel.dat").c_str(), 20, 0.025f,
                             dir.path().c_str(), no),
            1024);
  EXPECT_EQ(Ravel_GetDetail(nullptr), 0x4010);

  jor_test::WriteFile(dir.File("mfcc-options.json"), kGoodOptions);
  EXPECT_EQ(Ravel_Initialize(dir.File("ulxmodel.dat").c_str(), 20, 0.025f,
                             dir.path().c_str(), no),
            1024);
  EXPECT_EQ(Ravel_GetDetail(nullptr), 4117);

  // A malformed container, then a container whose models cannot be read.
  jor_test::WriteFile(dir.File("ulxmodel.dat"), std::string(76, '\2'));
  EXPECT_EQ(Ravel_Initialize(dir.File("ulxmodel.dat").c_str(), 20, 0.025f,
                             (dir.path().string() + "/").c_str(), no),
            1024);
  EXPECT_EQ(Ravel_GetDetail(nullptr), 4118);

  void* handle = nullptr;
  EXPECT_EQ(Ravel_Create(&handle), 769);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(Ravel_GetTemplateSize(), -1);
}

}  // namespace
