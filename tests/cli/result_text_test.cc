// The table of result texts: every status class and detail code that the
// libraries return has a meaning, the description reads as documented, and
// the README's table lists every code.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "common/result-codes.h"
#include "common/result-text.h"

namespace {

TEST(ResultTextTest, EveryCodeOfTheLibrariesHasAMeaning) {
  // The libraries return exactly the codes of the one result table.
  for (const jor::ResultInfo& row : jor::kResultTable) {
    EXPECT_NE(jor::DetailMeaning(row.detail), nullptr) << row.name;
    EXPECT_NE(jor::StatusMeaning(static_cast<int>(row.status)), nullptr) << row.name;
  }
  for (const jor::StatusInfo& row : jor::kStatusTable)
    EXPECT_NE(jor::StatusMeaning(row.status), nullptr) << row.name;
  EXPECT_EQ(jor::StatusMeaning(1), nullptr);
  EXPECT_EQ(jor::DetailMeaning(0x6300), nullptr);
  EXPECT_EQ(jor::DetailMeaning(0x6111), jor::DetailMeaning(0x6211));
}

TEST(ResultTextTest, Descriptions) {
  struct Case {
    int status;
    uint32_t detail;
    const char* text;
  };
  const Case cases[] = {
      {1024, 0x1015,
       "status 1024 (model data unreadable or inconsistent), detail 0x01015 (model container "
       "\"ulxmodel.dat\" missing, unreadable or shorter than 76 bytes (is the model folder "
       "right?))"},
      {768, 0,
       "status 768 (invalid argument: null handle or output, wrong buffer size, empty "
       "input)"},
      {1024, 0x6211,
       "status 1024 (model data unreadable or inconsistent), detail 0x06211 "
       "(posterior GMM: file-level macro is not \"~o\" or \"~h\")"},
      {12, 0x77777, "status 12, detail 0x77777"},
  };
  for (const Case& c : cases) EXPECT_EQ(jor::DescribeResult(c.status, c.detail), c.text);
}

TEST(ResultTextTest, ReadmeListsEveryCode) {
  std::ifstream in(JOR_SOURCE_DIR "/README.md");
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(readme.empty());
  for (const jor::StatusText& s : jor::StatusTexts()) {
    EXPECT_NE(readme.find("| " + std::to_string(s.status) + " | " + s.meaning + " |"),
              std::string::npos)
        << s.status;
  }
  for (const jor::DetailText& d : jor::DetailTexts()) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", d.detail);
    std::string meaning = d.meaning;
    // Table cells escape the bar.
    EXPECT_NE(readme.find(std::string("| ") + code + " | " + meaning + " |"), std::string::npos)
        << code;
  }
}

}  // namespace
