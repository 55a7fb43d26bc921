// The driver with the real recognition library on a test deployment of
// random models: the scores mean nothing, so only the shape of the result
// is checked, and the database path with templates of another size.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "drumlin/diarization-driver.h"
#include "drumlin/speaker-database.h"
#include "tests/diarization/fake-recogniser.h"
#include "tests/support/synthetic-speech.h"
#include "tests/support/test-dir.h"
#include "tools/modelio/random-deployment.h"

namespace {

TEST(DiarizationDeployment, ListShapeAndForeignDatabase) {
  jor_test::TestDir dir;
  modelio::WriteRandomDeployment(dir.path().string());
  // Entries of the 4,356-byte format; the test models make smaller
  // templates, so no entry may name a speaker.
  drumlin::SpeakerEntry entry;
  entry.number = 1;
  entry.name = "Zed";
  entry.templ.assign(drumlin::kSpeakerTemplateBytes, 0);
  ASSERT_EQ(drumlin::WriteSpeakerDatabase(dir.File("spdbdata"), {entry}), 0);

  std::vector<short> pcm = jor_test::SyntheticSpeech(26.0, 1, 105.0);
  const std::vector<short> second = jor_test::SyntheticSpeech(25.0, 2, 215.0);
  pcm.insert(pcm.end(), second.begin(), second.end());  // 51 s: 12 pieces
  jor_test::WriteFile(dir.File("two.wav"), jor_test::MonoWav8k(pcm));

  drumlin::DiarizationReport report;
  const std::string xml = drumlin::Diarize(drumlin::BoundPellamApi(), dir.File("two.wav").c_str(),
                                           dir.path().c_str(), {}, &report);
  ASSERT_EQ(report.pieceCount, 12) << xml;
  const std::string& header = jor_test::kSpeakerListHeader;
  ASSERT_EQ(xml.rfind(header, 0), 0u) << xml;
  const std::string body = xml.substr(header.size());
  const std::regex turn("    <speaker name=\"Unknown\" start=\"([0-9]+)\" end=\"([0-9]+)\" />\n");
  int previousEnd = 0;
  auto it = std::sregex_iterator(body.begin(), body.end(), turn);
  size_t consumed = 0;
  for (; it != std::sregex_iterator(); ++it) {
    ASSERT_EQ(size_t(it->position()), consumed) << xml;
    consumed += it->length();
    const int start = std::stoi((*it)[1]), end = std::stoi((*it)[2]);
    EXPECT_EQ(start % 4, 0);
    EXPECT_EQ(end % 4, 0);
    EXPECT_LT(start, end);
    EXPECT_GE(start, previousEnd);
    EXPECT_LE(end, 48);
    previousEnd = end;
  }
  EXPECT_EQ(body.substr(consumed), jor_test::kSpeakerListFooter);

  // A second call gives the same text: nothing is left over from the first.
  EXPECT_EQ(
      drumlin::Diarize(drumlin::BoundPellamApi(), dir.File("two.wav").c_str(), dir.path().c_str()),
      xml);
}

}  // namespace
