// The result table: values that applications store and documents quote never
// change, every row is one code, and every code has a meaning.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>

#include "common/result-codes.h"
#include "engine/engine-guard.h"

namespace {

TEST(ResultCodesTest, ValuesAsStoredAndDocumented) {
  // The eight-digit values as written in the documentation and by callers.
  const std::pair<jor::Result, uint32_t> pinned[] = {
      {jor::kContainerUnreadable, 0x40001015u},
      {jor::kContainerMalformed, 0x40001016u},
      {jor::kShapeMismatch, 0xFFF01900u},
      {jor::kSingularMatrix, 0xFFF01901u},
      {jor::kEngineInvalidArgument, 0x30002020u},
      {jor::kTemplateMalformed, 0x70002030u},
      {jor::kTemplateVersion, 0x70102031u},
      {jor::kEngineNoMemory, 0x10002100u},
      {jor::kEngineException, 0xFFF02FFFu},
      {jor::kMelBankFailure, 0x10004001u},
      {jor::kFeatInvalidArgument, 0x30004002u},
      {jor::kInvalidOptions, 0x40004010u},
      {jor::kFeatNoFrames, 0x50004101u},
      {jor::kQualityImpossible, 0x50004102u},
      {jor::kFeatNoSamples, 0x50004301u},
      {jor::kFeatInputTooLong, 0x50004302u},
      {jor::kFeatInternalError, 0xFFF04FFFu},
      {jor::kGmmppNoMemory, 0x10005100u},
      {jor::kGmmppArgument, 0x30005101u},
      {jor::kGmmppNotReady, 0x30105301u},
      {jor::kGmmppModelShape, 0xFFF05FFFu},
      {jor::kExtractorFileError, 0x40007000u},
      {jor::kExtractorFormatError, 0x40007001u},
      {jor::kExtractorNoMemory, 0x10007002u},
      {jor::kSharedMemoryError, 0x10107004u},
      {jor::kStatsMismatch, 0x40007005u},
      {jor::kIvectorNoFrames, 0x50007006u},
      {jor::kMvnUnreadable, 0x40008000u},
      {jor::kSpldaUnreadable, 0x40008004u},
      {jor::kWrongLength, 0x60008006u},
      {jor::kNullResult, 0x60008007u},
      {jor::kOutOfRange, 0x60008008u},
      {jor::kXvectorFileMissing, 0x40009001u},
      {jor::kXvectorBadRecordLength, 0x4000901Au},
      {jor::kXvectorEmptyInput, 0x50009101u},
      {jor::kXvectorNoMemory, 0x10009201u},
      {jor::kXvectorNotInitialized, 0x30109301u},
      {jor::kXvectorInternalError, 0xFFF09F01u},
      {jor::HtkReadResult(1, 0x11), 0x40006111u},
      {jor::HtkReadResult(2, 240), 0x100062F0u},
  };
  for (const auto& [code, value] : pinned) EXPECT_EQ(code, value) << std::hex << value;
}

TEST(ResultCodesTest, EveryRowIsOneCodeWithAMeaning) {
  std::set<std::pair<uint32_t, uint32_t>> seen;
  std::set<std::string> names;
  for (const jor::ResultInfo& row : jor::kResultTable) {
    EXPECT_TRUE(seen.insert({row.status, row.detail}).second) << row.name;
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    EXPECT_LE(row.detail, 0xFFFFFu) << row.name;
    EXPECT_STREQ(jor::ResultMeaning(row.status, row.detail), row.meaning);
    EXPECT_NE(jor::StatusMeaning(row.status), nullptr) << row.name;
  }
  EXPECT_NE(jor::ResultMeaning(1792, 0x2030), nullptr);
  EXPECT_EQ(jor::ResultMeaning(1792, 0x1234), nullptr);
  EXPECT_NE(jor::ResultMeaning(jor::HtkReadResult(2, 5)), nullptr);
  EXPECT_STREQ(jor::StatusMeaning(769), "not initialised");
}

TEST(ResultCodesTest, EngineGuardMapsWhatIsThrown) {
  EXPECT_EQ(ravel_engine::CatchAll([] { return jor::kWrongLength; }), jor::kWrongLength);
  EXPECT_EQ(ravel_engine::CatchAll([]() -> jor::Result { throw std::bad_alloc(); }),
            jor::kEngineNoMemory);
  EXPECT_EQ(ravel_engine::CatchAll([]() -> jor::Result { throw 7; }), jor::kEngineException);
}

}  // namespace
