// Engine log: pattern, level threshold, the message layout and level 6 (off).
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "engine/logging.h"
#include "tests/support/test-dir.h"

namespace {

// Regression: a program that logs through the engine's parts before any
// engine initialisation (jor-export) created "ULXSdk.log" in its working
// directory. First in this file: it needs logging not yet set up.
TEST(LoggingTest, LogBeforeInitialisationCreatesNoLogFile) {
  jor_test::TestDir dir;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  jor_log::LogF(__FILE__, "Fn", 1, jor_log::kError, "before any set-up");
  const bool created = std::filesystem::exists(dir.path() / "ULXSdk.log");
  std::filesystem::current_path(previous);
  EXPECT_FALSE(created);
}

TEST(LoggingTest, WritesPatternAtConfiguredLevelOnly) {
  jor_test::TestDir dir;
  const std::string log = dir.File("engine.log");
  jor_test::WriteFile(dir.File("log-options.json"),
                      R"({"LogOptions":{"filename":")" + log + R"(","level":2}})");
  jor_log::SetupLogging(dir.File("log-options.json"));
  EXPECT_EQ(jor_log::GetLogOptions().level, 2);

  jor_log::LogF("C:\\src\\engine\\mfcc.cc", "Fn::Name", 123, jor_log::kError, "value %d%%", 7);
  jor_log::LogF("/src/feat.cc", "Other", 9, jor_log::kDebug, "hidden");
  jor_log::Log("x/y/z.cc", "Z", 1, jor_log::kInfo, "%s %d stays literal");

  const std::string text = jor_test::ReadFile(log);
  const std::regex line(
      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+:\d+\] :error: mfcc\.cc:Fn::Name:123 : value 7%\n)");
  EXPECT_TRUE(std::regex_search(text, line)) << text;
  EXPECT_EQ(text.find("hidden"), std::string::npos);
  EXPECT_NE(text.find(":info: z.cc:Z:1 : %s %d stays literal"), std::string::npos) << text;
}

TEST(LoggingTest, LevelSixWritesNothing) {
  jor_test::TestDir dir;
  const std::string log = dir.File("quiet.log");
  jor_test::WriteFile(dir.File("log-options.json"),
                      R"({"LogOptions":{"filename":")" + log + R"("}})");
  jor_log::SetupLogging(dir.File("log-options.json"));
  EXPECT_EQ(jor_log::GetLogOptions().level, 6);
  EXPECT_EQ(jor_log::GetLogOptions().max_size, 10);
  jor_log::LogF(__FILE__, "F", 1, jor_log::kCritical, "never");
  EXPECT_NE(jor_log::GetLogOptions().logger, nullptr);
  // Not even an empty file.
  EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(LoggingTest, MalformedOptionsFallBackToDefaults) {
  jor_test::TestDir dir;
  jor_test::WriteFile(dir.File("log-options.json"), "{ not json");
  jor_log::SetupLogging(dir.File("log-options.json"));
  EXPECT_EQ(jor_log::GetLogOptions().filename, "ULXSdk.log");
  EXPECT_EQ(jor_log::GetLogOptions().level, 6);
  EXPECT_EQ(jor_log::GetLogOptions().max_rotate, 10);
}

TEST(LoggingTest, SourceBaseName) {
  EXPECT_STREQ(jor_log::SourceBaseName("a\\b\\c.cc"), "c.cc");
  EXPECT_STREQ(jor_log::SourceBaseName("a/b/c.cc"), "c.cc");
  EXPECT_STREQ(jor_log::SourceBaseName("c.cc"), "c.cc");
  EXPECT_STREQ(jor_log::SourceBaseName(nullptr), "");
}

}  // namespace
