#include "drumlin/speaker-database.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test-dir.h"

namespace {

using drumlin::SpeakerEntry;

SpeakerEntry Entry(int32_t number, const std::string& name, uint8_t flag, char fill) {
  SpeakerEntry e;
  e.number = number;
  e.name = name;
  e.flag = flag;
  e.templ.assign(4356, fill);
  e.templ[0] = 'T';
  e.templ[4355] = 'Z';
  return e;
}

TEST(SpeakerDatabase, WritesTheRecordLayout) {
  jor_test::TestDir dir;
  const std::string path = dir.File("spdbdata");
  ASSERT_EQ(drumlin::WriteSpeakerDatabase(
                path, {Entry(0x01020304, "Alice", 1, 'a'), Entry(-2, "Bob", 0, 'b')}),
            drumlin::kSpeakerDbOk);
  const std::string bytes = jor_test::ReadFile(path);
  ASSERT_EQ(bytes.size(), 2u * 4489u);
  // First record, byte by byte.
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x04\x03\x02\x01", 4));
  EXPECT_EQ(bytes.substr(4, 6), std::string("Alice\0", 6));
  EXPECT_EQ(bytes.substr(4 + 5, 128 - 5), std::string(123, '\0'));
  EXPECT_EQ(bytes[132], '\x01');
  EXPECT_EQ(bytes[133], 'T');
  EXPECT_EQ(bytes[134], 'a');
  EXPECT_EQ(bytes[133 + 4355], 'Z');
  // Second record starts at 4,489 with a little-endian -2.
  EXPECT_EQ(bytes.substr(4489, 4), std::string("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(bytes.substr(4489 + 4, 4), std::string("Bob\0", 4));
}

TEST(SpeakerDatabase, ReadsWholeRecordsOnly) {
  jor_test::TestDir dir;
  const std::string path = dir.File("spdbdata");
  const std::vector<SpeakerEntry> written = {Entry(7, "Alice", 1, 'a'), Entry(8, "Bob", 2, 'b')};
  ASSERT_EQ(drumlin::WriteSpeakerDatabase(path, written), drumlin::kSpeakerDbOk);
  // `extra` bytes of a third, partial record are ignored.
  for (size_t extra : {size_t(0), size_t(1), size_t(4488)}) {
    SCOPED_TRACE(extra);
    std::string bytes = jor_test::ReadFile(path).substr(0, 2 * 4489);
    bytes += std::string(extra, 'x');
    jor_test::WriteFile(path, bytes);
    std::vector<SpeakerEntry> read;
    ASSERT_EQ(drumlin::ReadSpeakerDatabase(path, &read), drumlin::kSpeakerDbOk);
    ASSERT_EQ(read.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(read[i].number, written[i].number);
      EXPECT_EQ(read[i].name, written[i].name);
      EXPECT_EQ(read[i].flag, written[i].flag);
      EXPECT_EQ(read[i].templ, written[i].templ);
    }
  }
}

TEST(SpeakerDatabase, MissingFileAndOddNames) {
  jor_test::TestDir dir;
  std::vector<SpeakerEntry> read(3);
  EXPECT_EQ(drumlin::ReadSpeakerDatabase(dir.File("nothing"), &read), drumlin::kSpeakerDbOk);
  EXPECT_TRUE(read.empty());

  // A name field without a NUL ends with the field.
  std::string record(4489, '\0');
  for (int i = 0; i < 128; ++i) record[4 + i] = char('A' + i % 26);
  jor_test::WriteFile(dir.File("spdbdata"), record);
  ASSERT_EQ(drumlin::ReadSpeakerDatabase(dir.File("spdbdata"), &read), drumlin::kSpeakerDbOk);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].name.size(), 128u);
  EXPECT_EQ(read[0].templ.size(), 4356u);
}

TEST(SpeakerDatabase, WriterRefusesWhatDoesNotFit) {
  jor_test::TestDir dir;
  const std::string path = dir.File("spdbdata");
  struct Case {
    SpeakerEntry entry;
    int status;
  };
  SpeakerEntry longName = Entry(1, std::string(128, 'n'), 0, 'x');
  SpeakerEntry fits = Entry(1, std::string(127, 'n'), 0, 'x');
  SpeakerEntry shortTemplate = Entry(1, "A", 0, 'x');
  shortTemplate.templ.resize(4355);
  SpeakerEntry nul = Entry(1, std::string("A\0B", 3), 0, 'x');
  const Case cases[] = {{longName, drumlin::kSpeakerDbNameTooLong},
                        {fits, drumlin::kSpeakerDbOk},
                        {shortTemplate, drumlin::kSpeakerDbTemplateSize},
                        {nul, drumlin::kSpeakerDbNameTooLong}};
  for (const Case& c : cases) {
    EXPECT_EQ(drumlin::WriteSpeakerDatabase(path, {c.entry}), c.status) << c.entry.name.size();
  }
  EXPECT_EQ(drumlin::WriteSpeakerDatabase(dir.File("no/such/dir/spdbdata"), {fits}),
            drumlin::kSpeakerDbIoError);
}

TEST(SpeakerDatabase, PathUsesThePlatformSeparator) {
  EXPECT_EQ(drumlin::SpeakerDatabasePath(nullptr), "spdbdata");
  EXPECT_EQ(drumlin::SpeakerDatabasePath(""), "spdbdata");
#if defined(_WIN32)
  EXPECT_EQ(drumlin::SpeakerDatabasePath("C:\\models"), "C:\\models\\spdbdata");
#else
  EXPECT_EQ(drumlin::SpeakerDatabasePath("/opt/models"), "/opt/models/spdbdata");
#endif
}

}  // namespace
