// The window diarizer on the trained test deployment with a real two-voice
// conversation: 20 s of it (one voice, then the other at 10 s) must give two
// speakers with the change found within half a second, and a fixed count
// must be met.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "drumlin/speaker-database.h"
#include "drumlin/window-diarizer.h"
#include "tests/support/test-dir.h"

namespace {

const std::string kDeployment = std::string(JOR_SOURCE_DIR) + "/tests/data/trained";

class WindowDiarizerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    diarizer_ = new drumlin::WindowDiarizer();
    ASSERT_EQ(diarizer_->Load(kDeployment.c_str()), 0);
    std::vector<short> all;
    ASSERT_EQ(drumlin::DecodeAudioFile((kDeployment + "/conversation/two-voices.wav").c_str(),
                                       &all),
              0);
    // The voices change at 40 s (conversation/two-voices.tsv): take 30..50 s.
    ASSERT_GE(all.size(), 50u * 8000);
    pcm_ = new std::vector<short>(all.begin() + 30 * 8000, all.begin() + 50 * 8000);
  }
  static void TearDownTestSuite() {
    delete diarizer_;
    delete pcm_;
  }
  static drumlin::WindowDiarizer* diarizer_;
  static std::vector<short>* pcm_;
};
drumlin::WindowDiarizer* WindowDiarizerTest::diarizer_ = nullptr;
std::vector<short>* WindowDiarizerTest::pcm_ = nullptr;

TEST_F(WindowDiarizerTest, TwoVoicesAndTheirBoundary) {
  drumlin::WindowDiarization result;
  ASSERT_EQ(diarizer_->Diarize(*pcm_, {}, &result), 0);
  ASSERT_EQ(result.speakers, (std::vector<std::string>{"spk1", "spk2"}));
  // One change of speaker, at 10 s.
  int changes = 0;
  double at = 0;
  for (size_t t = 1; t < result.turns.size(); ++t) {
    EXPECT_GE(result.turns[t].start, result.turns[t - 1].end);
    if (result.turns[t].speaker != result.turns[t - 1].speaker) {
      ++changes;
      at = 0.5 * (result.turns[t - 1].end + result.turns[t].start);
    }
  }
  EXPECT_EQ(changes, 1);
  EXPECT_NEAR(at, 10.0, 0.5);
  EXPECT_EQ(result.turns.front().speaker, "spk1");
  EXPECT_LT(result.turns.front().start, 0.5);
  EXPECT_GT(result.turns.back().end, 19.5);
}

TEST_F(WindowDiarizerTest, FixedSpeakerCount) {
  for (int speakers : {1, 2, 3}) {
    drumlin::WindowDiarizerOptions options;
    options.speakers = speakers;
    drumlin::WindowDiarization result;
    ASSERT_EQ(diarizer_->Diarize(*pcm_, options, &result), 0);
    EXPECT_EQ(result.speakers.size(), static_cast<size_t>(speakers));
  }
  // The estimate can be capped.
  drumlin::WindowDiarizerOptions options;
  options.maxSpeakers = 1;
  drumlin::WindowDiarization result;
  ASSERT_EQ(diarizer_->Diarize(*pcm_, options, &result), 0);
  EXPECT_EQ(result.speakers, (std::vector<std::string>{"spk1"}));
}

// Speakers enrolled in a database are named as the 4-second driver names
// them; the others keep their labels.
TEST_F(WindowDiarizerTest, NamesFromTheSpeakerDatabase) {
  const drumlin::PellamApi& api = drumlin::BoundPellamApi();
  const bool share = false;
  ASSERT_EQ(api.initialize(kDeployment.c_str(), &share), 0);
  void* handle = nullptr;
  ASSERT_EQ(api.create(&handle), 0);
  std::vector<drumlin::SpeakerEntry> entries;
  for (const char* name : {"es-m4", "es-f1"}) {
    std::vector<short> pcm;
    ASSERT_EQ(drumlin::DecodeAudioFile(
                  (kDeployment + "/conversation/" + name + "-enrol.wav").c_str(), &pcm),
              0);
    drumlin::SpeakerEntry entry;
    entry.number = static_cast<int>(entries.size());
    entry.name = name;
    entry.templ.resize(static_cast<size_t>(api.getTemplateSize()));
    const size_t count = pcm.size(), bytes = entry.templ.size();
    float duration, volume, snr;
    ASSERT_EQ(api.makeXvectorTemplate(handle, pcm.data(), &count, entry.templ.data(), &bytes,
                                      &duration, &volume, &snr),
              0);
    entries.push_back(entry);
  }
  api.destroy(&handle);

  drumlin::WindowDiarization result;
  ASSERT_EQ(diarizer_->Diarize(*pcm_, {}, &result), 0);
  ASSERT_EQ(result.speakers.size(), 2u);
  jor_test::TestDir dir;
  // Only the second voice enrolled: the first keeps its label.
  ASSERT_EQ(drumlin::WriteSpeakerDatabase(dir.File("spdbdata"), {entries[1]}), 0);
  drumlin::WindowDiarization named = result;
  ASSERT_EQ(drumlin::NameWindowSpeakers(api, kDeployment.c_str(), dir.File("spdbdata"), *pcm_,
                                        &named),
            0);
  EXPECT_EQ(named.speakers, (std::vector<std::string>{"spk1", "es-f1"}));
  ASSERT_EQ(drumlin::WriteSpeakerDatabase(dir.File("spdbdata"), entries), 0);
  named = result;
  ASSERT_EQ(drumlin::NameWindowSpeakers(api, kDeployment.c_str(), dir.File("spdbdata"), *pcm_,
                                        &named),
            0);
  EXPECT_EQ(named.speakers, (std::vector<std::string>{"es-m4", "es-f1"}));
  EXPECT_EQ(named.turns.front().speaker, "es-m4");
  EXPECT_EQ(named.turns.back().speaker, "es-f1");
}

TEST_F(WindowDiarizerTest, RefusalsAndEmptyInput) {
  drumlin::WindowDiarization result;
  // Nothing voiced, or too short for a frame: no turn, no error.
  EXPECT_EQ(diarizer_->Diarize({}, {}, &result), 0);
  EXPECT_TRUE(result.turns.empty());
  EXPECT_EQ(diarizer_->Diarize(std::vector<short>(100, 0), {}, &result), 0);
  EXPECT_TRUE(result.turns.empty());
  EXPECT_EQ(diarizer_->Diarize(std::vector<short>(8000 * 3, 0), {}, &result), 0);
  EXPECT_TRUE(result.turns.empty());

  drumlin::WindowDiarizerOptions bad;
  bad.stepSeconds = 0;
  EXPECT_EQ(diarizer_->Diarize(*pcm_, bad, &result), drumlin::kWindowBadOptions);
  bad = {};
  bad.windowSeconds = NAN;
  EXPECT_EQ(diarizer_->Diarize(*pcm_, bad, &result), drumlin::kWindowBadOptions);

  drumlin::WindowDiarizer unloaded;
  EXPECT_EQ(unloaded.Diarize(*pcm_, {}, &result), drumlin::kWindowNotLoaded);
  jor_test::TestDir dir;
  EXPECT_NE(unloaded.Load(dir.path().c_str()), 0);
  EXPECT_EQ(unloaded.Diarize(*pcm_, {}, &result), drumlin::kWindowNotLoaded);
  EXPECT_EQ(drumlin::DecodeAudioFile(dir.File("missing.wav").c_str(), nullptr),
            drumlin::kWindowUnreadable);
  std::vector<short> pcm;
  EXPECT_EQ(drumlin::DecodeAudioFile(dir.File("missing.wav").c_str(), &pcm),
            drumlin::kWindowUnreadable);
}

}  // namespace
