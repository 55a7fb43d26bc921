// The table of result texts: every status class and detail code that the
// libraries return has a meaning, the description reads as documented, and
// the README's table lists every code.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp.h"
#include "IvectorExt/featext/feat-extractor.h"
#include "IvectorExt/featext/feature-tpl.h"
#include "IvectorExt/featext/mfcc-computer.h"
#include "IvectorExt/featext/mfcc-options.h"
#include "IvectorExt/featext/quality-checker.h"
#include "IvectorExt/ivext/extractor.h"
#include "brindle/result-codes.h"
#include "common/model/model_manager.h"
#include "common/result-text.h"
#include "common/status.h"
#include "ivdist/scoring-status.h"

namespace {

TEST(ResultTextTest, EveryCodeOfTheLibrariesHasAMeaning) {
  const uint32_t results[] = {
      // Engine interface and template (literal in engine/ravel.cc and ravel-exports.cc).
      0x30002020u,
      0x70002030u,
      0x70102031u,
      0x10002100u,
      0xFFF02FFFu,
      common::model::kContainerUnreadable,
      common::model::kContainerMalformed,
      jor_feat::kInvalidOptions,
      static_cast<uint32_t>(jor_feat::kMelBankFailure),
      static_cast<uint32_t>(jor_feat::kFeatInvalidArgument),
      static_cast<uint32_t>(jor_feat::kFeatInternalError),
      jor_feat::kQualityImpossible,
      static_cast<uint32_t>(jor_feat::kNoFrames),
      static_cast<uint32_t>(jor_feat::kNoSamples),
      static_cast<uint32_t>(jor_feat::kInputTooLong),
      static_cast<uint32_t>(::kGmmppArgument),
      static_cast<uint32_t>(::kGmmppNoMemory),
      static_cast<uint32_t>(::kGmmppModelShape),
      0x30105301u,
      static_cast<uint32_t>(ivext::kFileError),
      static_cast<uint32_t>(ivext::kFormatError),
      static_cast<uint32_t>(ivext::kNoMemory),
      static_cast<uint32_t>(ivext::kStatsMismatch),
      static_cast<uint32_t>(ivext::kNoFrames),
      static_cast<uint32_t>(ivext::kSharedMemoryError),
      static_cast<uint32_t>(ivext::kMatrixDimensions),
      static_cast<uint32_t>(ivext::kSingularMatrix),
      static_cast<uint32_t>(ivdist::kMvnUnreadable),
      static_cast<uint32_t>(ivdist::kMvnBadModel),
      static_cast<uint32_t>(ivdist::kNormUnreadable),
      static_cast<uint32_t>(ivdist::kNormBadModel),
      static_cast<uint32_t>(ivdist::kSpldaUnreadable),
      static_cast<uint32_t>(ivdist::kSpldaBadModel),
      static_cast<uint32_t>(ivdist::kWrongLength),
      static_cast<uint32_t>(ivdist::kNullResult),
      static_cast<uint32_t>(ivdist::kOutOfRange),
      static_cast<uint32_t>(ivdist::kShapeMismatch),
      // HTK reader: model 1 code 17, model 2 code 132, model 2 out of memory.
      0x40006111u,
      0x40006284u,
      0x100062F0u,
      brindle::kFileMissing,
      brindle::kFileUnreadable,
      brindle::kBadMagic,
      brindle::kBadVersion,
      brindle::kBadLength,
      brindle::kBadChecksum,
      brindle::kBadLayerKind,
      brindle::kBadDimension,
      brindle::kDimensionMismatch,
      brindle::kBadContext,
      brindle::kBadParameter,
      brindle::kBadActivation,
      brindle::kBadRecordLength,
      brindle::kEmptyInput,
      brindle::kInputNotWholeRows,
      brindle::kInputNotFinite,
      brindle::kOutputNotFinite,
      brindle::kNoMemory,
      brindle::kNotInitialized,
      brindle::kInternalError,
  };
  for (const uint32_t r : results) {
    EXPECT_NE(jor::StatusMeaning(jor::StatusOf(r)), nullptr) << std::hex << r;
    EXPECT_NE(jor::DetailMeaning(jor::DetailOf(r)), nullptr) << std::hex << r;
  }
  for (const int status :
       {jor::kStatusNoMemory, jor::kStatusSharing, jor::kStatusInvalidArgument,
        jor::kStatusNotInitialized, jor::kStatusModelData, jor::kStatusInputRejected,
        jor::kStatusScoringArgument, jor::kStatusTemplate, jor::kStatusTemplateVersion,
        jor::kStatusInternal}) {
    EXPECT_NE(jor::StatusMeaning(status), nullptr) << status;
  }
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
