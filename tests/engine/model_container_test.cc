// Model container: directory checks, one independent stream per section,
// unknown types, reordered sections.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/model/model_manager.h"
#include "engine/logging.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/container-writer.h"

namespace {

using common::model::ModelManager;
using modelio::ContainerSection;

std::string ReadAll(FILE* f, size_t n) {
  std::string s(n, '\0');
  s.resize(std::fread(s.data(), 1, n, f));
  return s;
}

std::vector<ContainerSection> SixSections() {
  std::vector<ContainerSection> s;
  for (uint32_t t = 0; t < 6; ++t) s.push_back({t, "section-" + std::to_string(t) + "-data"});
  return s;
}

TEST(ModelManagerTest, HeaderFailures) {
  jor_test::TestDir dir;
  struct Case {
    std::string bytes;
    uint32_t expected;
  };
  std::string valid = modelio::BuildContainer(SixSections());
  std::string bad_version = valid;
  bad_version[0] = 2;
  std::string bad_count = valid;
  bad_count[3] = 5;
  std::string negative_offset = valid;
  const int32_t minus = -100;
  std::memcpy(&negative_offset[4 + 12 * 2], &minus, 4);
  const Case cases[] = {
      {std::string(75, '\1'), jor::kContainerUnreadable},
      {"", jor::kContainerUnreadable},
      {bad_version, jor::kContainerMalformed},
      {bad_count, jor::kContainerMalformed},
      {negative_offset, jor::kContainerMalformed},
      {valid, 0},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File("c.dat");
    jor_test::WriteFile(path, c.bytes);
    ModelManager m(path.c_str());
    EXPECT_EQ(m.initialize(), c.expected) << c.bytes.size();
  }
  // The manager borrows the path: keep it alive.
  const std::string none = dir.File("none.dat");
  ModelManager missing(none.c_str());
  EXPECT_EQ(missing.initialize(), jor::kContainerUnreadable);
  ModelManager null_path(nullptr);
  EXPECT_EQ(null_path.initialize(), 0u);
  EXPECT_EQ(null_path.Splda(), nullptr);
}

TEST(ModelManagerTest, StreamsAreIndependentAndOrderFree) {
  jor_test::TestDir dir;
  auto forward = SixSections();
  std::vector<ContainerSection> reverse(forward.rbegin(), forward.rend());
  for (const auto& sections : {forward, reverse}) {
    const std::string path = dir.File("c.dat");
    jor_test::WriteFile(path, modelio::BuildContainer(sections));
    ModelManager m(path.c_str());
    ASSERT_EQ(m.initialize(), 0u);
    EXPECT_EQ(m.Reserved(), 0x1234);
    // Reading one stream to its end leaves every other stream where it was.
    EXPECT_EQ(ReadAll(m.Whitening(), 14), "section-5-data");
    EXPECT_EQ(ReadAll(m.SelectionGmm(), 9), "section-0");
    EXPECT_EQ(ReadAll(m.PosteriorGmm(), 14), "section-1-data");
    EXPECT_EQ(ReadAll(m.IvectorExtractor(), 14), "section-2-data");
    EXPECT_EQ(ReadAll(m.Splda(), 14), "section-3-data");
    EXPECT_EQ(ReadAll(m.MeanVariance(), 14), "section-4-data");
    EXPECT_EQ(ReadAll(m.SelectionGmm(), 5), "-data");
  }
}

TEST(ModelManagerTest, UnknownTypeIsLoggedAndSkipped) {
  jor_test::TestDir dir;
  const std::string log = dir.File("w.log");
  jor_test::WriteFile(dir.File("log-options.json"),
                      R"({"LogOptions":{"filename":")" + log + R"(","level":3}})");
  jor_log::SetupLogging(dir.File("log-options.json"));

  auto sections = SixSections();
  sections[4].type = 7;
  const std::string path = dir.File("c.dat");
  jor_test::WriteFile(path, modelio::BuildContainer(sections));
  ModelManager m(path.c_str());
  ASSERT_EQ(m.initialize(), 0u);
  EXPECT_EQ(m.MeanVariance(), nullptr);
  for (int t : {0, 1, 2, 3, 5}) EXPECT_NE(m.Section(t), nullptr) << t;

  const std::string text = jor_test::ReadFile(log);
  const std::string expected = "Model file " + path + " contains unknown type 7";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_NE(text.find(":warning:"), std::string::npos);
  EXPECT_NE(text.find("common::model::ModelManager::initialize"), std::string::npos);
}

TEST(ModelManagerTest, OffsetPastEndSeeksAndReadsNothing) {
  jor_test::TestDir dir;
  std::string bytes = modelio::BuildContainer(SixSections());
  const int32_t far = 1 << 20;
  std::memcpy(&bytes[4 + 12 * 3], &far, 4);
  const std::string path = dir.File("c.dat");
  jor_test::WriteFile(path, bytes);
  ModelManager m(path.c_str());
  ASSERT_EQ(m.initialize(), 0u);
  EXPECT_EQ(ReadAll(m.Section(3), 4), "");
}

}  // namespace
