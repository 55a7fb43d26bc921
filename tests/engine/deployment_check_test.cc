// Deployments that can never make a template are refused at initialisation,
// each with its own status and detail and one error line in the log; the
// optional parts (whitening, option keys) stay optional.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "engine/ravel-exports.h"
#include "tests/brindle/xe5-test-model.h"
#include "tools/modelio/container-writer.h"
#include "tools/modelio/htk-writer.h"
#include "tools/modelio/ivector-writer.h"
#include "tools/modelio/scoring-writer.h"
#include "tests/support/test-dir.h"

namespace {

// Every dimension of a deployment, set one by one. The defaults fit
// together: 20 cepstra without deltas, 32 Gaussians, dimension 32.
struct Parts {
  std::string options = R"({"MfccOptions":{"num_ceps":20,"MelBanksOptions":{"num_bins":23}}})";
  int selectionC = 32, selectionF = 20;
  int posteriorC = 32, posteriorF = 20;
  int extractorC = 32, extractorF = 20, extractorR = 32;
  int scoringDim = 32;
  int whiteningDim = 32;  // 0: no whitening section (an unknown type instead)
  int xvectorIn = 20, xvectorOut = 32;
};

void WriteDeployment(const jor_test::TestDir& dir, const Parts& p) {
  jor_test::WriteFile(dir.File("mfcc-options.json"), p.options);
  jor_test::WriteFile(
      dir.File("log-options.json"),
      R"({"LogOptions":{"filename":")" + dir.File("ULXSdk.log") + R"(","level":4}})");
  const modelio::ScoringSections scoring = modelio::RandomScoringSections(p.scoringDim, 4);
  std::vector<modelio::ContainerSection> sections = {
      {0, modelio::HtkTextGmm(modelio::RandomDiagonalGmm(p.selectionC, p.selectionF, 1))},
      {1, modelio::HtkTextGmm(modelio::RandomDiagonalGmm(p.posteriorC, p.posteriorF, 2))},
      {2, modelio::IvectorModelBytes(
              modelio::RandomIvectorModel(p.extractorC, p.extractorF, p.extractorR, 3), 4)},
      {3, scoring.splda},
      {4, scoring.meanVariance},
      {5, p.whiteningDim == p.scoringDim
              ? scoring.whitening
              : modelio::RandomScoringSections(p.whiteningDim ? p.whiteningDim : 1, 5).whitening},
  };
  if (p.whiteningDim == 0) sections[5].type = 9;
  jor_test::WriteFile(dir.File("ulxmodel.dat"), modelio::BuildContainer(sections));
  brindle_test::NetSpec net;
  net.inputDim = static_cast<uint32_t>(p.xvectorIn);
  net.frameDims = {24, 24, 48};
  net.contexts = {{-1, 0, 1}, {-2, 0, 2}, {0}};
  net.embeddingDim = static_cast<uint32_t>(p.xvectorOut);
  net.laterSegmentDims = {};
  jor_test::WriteFile(dir.File("xe5.pb"), brindle_test::Encode(brindle_test::RandomModel(net, 6)));
}

int CountLines(const std::string& text, const std::string& part) {
  std::istringstream in(text);
  int n = 0;
  for (std::string line; std::getline(in, line);) n += line.find(part) != std::string::npos;
  return n;
}

TEST(DeploymentCheckTest, UnusableDeploymentsAreRefusedAtInitialisation) {
  struct Case {
    const char* name;
    Parts parts;
    int gselectCount;
    int status;
    int detail;
  };
  auto with = [](auto change) {
    Parts p;
    change(p);
    return p;
  };
  const Case cases[] = {
      {"fits together", Parts{}, 20, 0, 0},
      {"no whitening section", with([](Parts& p) { p.whiteningDim = 0; }), 20, 0, 0},
      {"num_ceps \"20x\"", with([](Parts& p) {
         p.options = R"({"MfccOptions":{"num_ceps":"20x","MelBanksOptions":{"num_bins":40}}})";
       }),
       20, 1024, 0x4011},
      {"num_bins 2e9", with([](Parts& p) {
         p.options = R"({"MfccOptions":{"num_ceps":20,"MelBanksOptions":{"num_bins":2000000000}}})";
       }),
       20, 1024, 0x4012},
      {"num_ceps missing: the default 40 against 20-dimensional models",
       with([](Parts& p) { p.options = R"({"MfccOptions":{"MelBanksOptions":{"num_bins":40}}})"; }),
       20, 1024, 0x2040},
      {"posterior GMM of another dimension", with([](Parts& p) { p.posteriorF = 21; }), 20, 1024,
       0x2041},
      {"extractor of another feature dimension", with([](Parts& p) { p.extractorF = 21; }), 20,
       1024, 0x2042},
      {"selection GMM of 8 Gaussians", with([](Parts& p) { p.selectionC = 8; }), 20, 1024, 0x2043},
      {"posterior GMM of 8 Gaussians", with([](Parts& p) { p.posteriorC = 8; }), 20, 1024, 0x2044},
      {"GMMs of 32 and 40 Gaussians", with([](Parts& p) { p.posteriorC = 40; }), 20, 1024, 0x2045},
      {"extractor of 40 Gaussians", with([](Parts& p) { p.extractorC = 40; }), 20, 1024, 0x2046},
      {"whitening of another dimension", with([](Parts& p) { p.whiteningDim = 16; }), 20, 1024,
       0x2047},
      {"i-vectors of 16 against a back-end of 32", with([](Parts& p) { p.extractorR = 16; }), 20,
       1024, 0x2048},
      {"x-vectors of 16 against a back-end of 32", with([](Parts& p) { p.xvectorOut = 16; }), 20,
       1024, 0x2049},
      {"x-vector network input of 21", with([](Parts& p) { p.xvectorIn = 21; }), 20, 1024, 0x204A},
      {"no Gaussian selected", Parts{}, 0, 768, 0x204B},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    jor_test::TestDir dir;
    WriteDeployment(dir, c.parts);
    const bool share = false;
    const int status = Ravel_Initialize(dir.File("ulxmodel.dat").c_str(), c.gselectCount, 0.025f,
                                        dir.path().c_str(), share);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(Ravel_GetDetail(nullptr), c.detail) << std::hex << Ravel_GetDetail(nullptr);
    EXPECT_EQ(Ravel_GetTemplateSize(), c.status ? -1 : 4 * (2 * 32 + 1) + 256);
    if (status == 0) {
      // What fits together makes a template.
      void* h = nullptr;
      ASSERT_EQ(Ravel_Create(&h), 0);
      std::vector<float> features(20 * 300);
      for (size_t i = 0; i < features.size(); ++i) features[i] = static_cast<float>(i % 7) - 3;
      std::vector<char> templ;
      EXPECT_EQ(Ravel_GetIvector(h, features, 3.0f, 0, 0, &templ, true), 0);
      EXPECT_EQ(templ.size(), 4u * 65 + 256);
      EXPECT_EQ(Ravel_GetXvector(h, features, 3.0f, 0, 0, &templ, true), 0);
      EXPECT_EQ(templ.size(), 4u * 65 + 256);
      Ravel_Delete(&h);
      Ravel_Terminate();
    } else {
      EXPECT_EQ(CountLines(jor_test::ReadFile(dir.File("ULXSdk.log")), "Ravel_Initialize"), 1);
    }
  }
}

}  // namespace
