// The exported engine face before and around initialisation, through
// libRavel.so only.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "engine/ravel-exports.h"
#include "tools/modelio/container-writer.h"
#include "tools/modelio/random-deployment.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/container-writer.h"

namespace {

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

// Each failed initialisation reports the detail of its real cause and leaves
// the engine uninitialised; a missing folder or container is the container's
// 0x1015, not the options' 0x4010 that its missing "mfcc-options.json" leaves.
TEST(ExportsTest, FailedInitialisationReportsItsCause) {
  jor_test::TestDir dir;
  const std::string good = dir.File("good"), empty = dir.File("empty");
  std::filesystem::create_directories(good);
  std::filesystem::create_directories(empty);
  modelio::WriteRandomDeployment(good);
  const std::string container = jor_test::ReadFile(good + "/ulxmodel.dat");
  const auto folder = [&](const char* name) { return dir.File(name); };
  const auto write = [&](const char* name, const std::string& bytes) {
    std::filesystem::create_directories(folder("case"));
    jor_test::WriteFile(folder("case") + "/" + name, bytes);
  };

  struct Case {
    const char* what;
    std::function<void()> prepare;  // writes the folder "case"
    int status;
    int detail;
  };
  const Case cases[] = {
      {"folder missing", [] {}, 1024, 0x1015},
      {"folder without container",
       [&] { std::filesystem::create_directories(folder("case")); }, 1024, 0x1015},
      {"container of 75 bytes",
       [&] { write("ulxmodel.dat", container.substr(0, 75)); },
       1024, 0x1015},
      {"container of another format",
       [&] { write("ulxmodel.dat", std::string(76, '\2')); },
       1024, 0x1016},
      // Models present, but the default options ask for 40 cepstra from 23 mel bins.
      {"options invalid",
       [&] {
         std::filesystem::copy(good, folder("case"));
         write("mfcc-options.json", "{}");
       },
       1024, 0x4010},
  };
  // Logging is off in every case: no empty "ULXSdk.log" may appear.
  std::filesystem::remove("ULXSdk.log");
  const bool no = false;
  for (const Case& c : cases) {
    std::filesystem::remove_all(folder("case"));
    c.prepare();
    const std::string path = folder("case");
    EXPECT_EQ(Ravel_Initialize((path + "/ulxmodel.dat").c_str(), 20, 0.025f, path.c_str(), no),
              c.status)
        << c.what;
    EXPECT_EQ(Ravel_GetDetail(nullptr), c.detail) << c.what;
    EXPECT_FALSE(std::filesystem::exists("ULXSdk.log")) << c.what;
    EXPECT_FALSE(std::filesystem::exists(path + "/ULXSdk.log")) << c.what;
    void* handle = nullptr;
    EXPECT_EQ(Ravel_Create(&handle), 769) << c.what;
    EXPECT_EQ(Ravel_GetTemplateSize(), -1) << c.what;
  }
}

TEST(ExportsTest, MissingContainerIsLogged) {
  jor_test::TestDir dir;
  const std::string log = dir.File("engine.log");
  jor_test::WriteFile(dir.File("log-options.json"),
                      R"({"LogOptions":{"filename":")" + log + R"(","level":4}})");
  const bool no = false;
  EXPECT_EQ(Ravel_Initialize(dir.File("ulxmodel.dat").c_str(), 20, 0.025f, dir.path().c_str(), no),
            1024);
  const std::string text = jor_test::ReadFile(log);
  EXPECT_NE(text.find(":error: "), std::string::npos) << text;
  EXPECT_NE(text.find(dir.File("ulxmodel.dat") + " (detail 0x1015)"), std::string::npos) << text;
}

}  // namespace
