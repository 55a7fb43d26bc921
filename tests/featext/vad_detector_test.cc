#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IvectorExt/featext/voice-activity-detector.h"
#include "engine/logging.h"
#include "tests/support/test-dir.h"

namespace jor_feat {
namespace {

VadEnergyOptions Vad(float threshold, float scale, int context = 2, float proportion = 0.12f) {
  VadEnergyOptions o;
  o.vad_energy_threshold = threshold;
  o.vad_energy_mean_scale = scale;
  o.vad_frames_context = context;
  o.vad_proportion_threshold = proportion;
  return o;
}

// Rows of two columns; only the first (energy) matters.
std::vector<float> Rows(const std::vector<float>& energy) {
  std::vector<float> m;
  for (float e : energy) {
    m.push_back(e);
    m.push_back(-1000.0f);
  }
  return m;
}

TEST(VoiceActivityDetectorTest, DecisionsOverInRangeContext) {
  struct Case {
    const char* name;
    VadEnergyOptions opts;
    std::vector<float> energy;
    std::vector<float> expect;
  };
  const Case cases[] = {
      // Energies equal to the threshold never count, at the start included.
      {"equal", Vad(11.0f, 0.0f), {11, 11, 11, 11, 11, 11}, {0, 0, 0, 0, 0, 0}},
      // One frame above among five makes the centre voiced (1 >= 0.6).
      {"one-in-five",
       Vad(11.0f, 0.0f),
       {0, 0, 0, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0},
       {0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 0}},
      // Frame 0 sees frames 0..2 only; frame 1 sees 0..3 (1 >= 0.48).
      {"start", Vad(11.0f, 0.0f), {0, 0, 0, 12, 0, 0, 0, 0}, {0, 1, 1, 1, 1, 1, 0, 0}},
      // At the last frame den = 3: 1 >= 0.36.
      {"end", Vad(11.0f, 0.0f), {0, 0, 0, 0, 0, 0, 0, 12}, {0, 0, 0, 0, 0, 1, 1, 1}},
      // Half of the context must be above: 3 of 5, 2 of 3 at the ends.
      {"proportion", Vad(1.0f, 0.0f, 2, 0.5f), {2, 2, 0, 0, 0, 2, 2}, {1, 1, 0, 0, 0, 1, 1}},
      // Mean scale: threshold 5.5 + 0.5 * 6 = 8.5 over {0, 0, 0, 0, 9, 27}.
      {"mean", Vad(5.5f, 0.5f, 0), {0, 0, 0, 0, 9, 27}, {0, 0, 0, 0, 1, 1}},
      // Mean scale: threshold 5.5 + 0.5 * 12 = 11.5 makes 11 unvoiced.
      {"mean2", Vad(5.5f, 0.5f, 0), {11, 11, 11, 11, 16}, {0, 0, 0, 0, 1}},
      // Context wider than the utterance.
      {"wide", Vad(1.0f, 0.0f, 10, 0.3f), {0, 2, 0}, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    VoiceActivityDetector<float> vad(c.opts);
    const std::vector<float> m = Rows(c.energy);
    std::vector<float> flags;
    uint32_t voiced = 99;
    vad.DetectVA(m.data(), static_cast<int>(c.energy.size()), 2, &flags, &voiced, 0);
    ASSERT_EQ(flags.size(), c.expect.size()) << c.name;
    uint32_t expect_voiced = 0;
    for (size_t t = 0; t < c.expect.size(); ++t) {
      EXPECT_EQ(flags[t], c.expect[t]) << c.name << " frame " << t;
      expect_voiced += c.expect[t] == 1.0f;
    }
    EXPECT_EQ(voiced, expect_voiced) << c.name;
  }
}

TEST(VoiceActivityDetectorTest, StartFrameAndEmptyInput) {
  const std::vector<double> energy = {20, 20, 20, 0, 0, 0, 0, 0, 0, 20};
  std::vector<double> m(energy);
  // Mean scale 0: frames before start_frame keep what they held.
  VoiceActivityDetector<double> online(Vad(11.0f, 0.0f));
  std::vector<double> flags(10, 7.0);
  uint32_t voiced = 0;
  online.DetectVA(m.data(), 10, 1, &flags, &voiced, 6);
  const std::vector<double> expect_online = {7, 7, 7, 7, 7, 7, 0, 1, 1, 1};
  EXPECT_EQ(flags, expect_online);
  EXPECT_EQ(voiced, 3u);

  // Mean scale set: every frame is decided again (threshold 5.5 + 0.5 * 8).
  VoiceActivityDetector<double> batch(Vad(5.5f, 0.5f));
  std::vector<double> flags2(10, 7.0);
  batch.DetectVA(m.data(), 10, 1, &flags2, &voiced, 6);
  const std::vector<double> expect_batch = {1, 1, 1, 1, 1, 0, 0, 1, 1, 1};
  EXPECT_EQ(flags2, expect_batch);
  EXPECT_EQ(voiced, 8u);

  // start_frame past the end decides nothing; no frames at all: count 0.
  std::vector<double> flags3;
  online.DetectVA(m.data(), 10, 1, &flags3, &voiced, 99);
  EXPECT_EQ(voiced, 0u);
  EXPECT_EQ(flags3.size(), 10u);
  online.DetectVA(m.data(), 0, 1, &flags3, &voiced, 0);
  EXPECT_EQ(voiced, 0u);
  online.DetectVA(nullptr, 5, 1, &flags3, &voiced, 0);
  EXPECT_EQ(voiced, 0u);
}

int CountOccurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST(VoiceActivityDetectorTest, ThresholdLineOnlyWithMeanScale) {
  jor_test::TestDir dir;
  const std::string log = dir.File("vad.log");
  jor_test::WriteFile(dir.File("log-options.json"),
                      "{\"LogOptions\": {\"filename\": \"" + log + "\", \"level\": 0}}");
  jor_log::SetupLogging(dir.File("log-options.json"));
  const std::vector<float> m = Rows({0, 0, 0, 0, 9, 27});
  std::vector<float> flags;
  uint32_t voiced = 0;
  VoiceActivityDetector<float>(Vad(11.0f, 0.0f)).DetectVA(m.data(), 6, 2, &flags, &voiced, 0);
  VoiceActivityDetector<float>(Vad(5.5f, 0.5f)).DetectVA(m.data(), 6, 2, &flags, &voiced, 0);
  const std::string text = jor_test::ReadFile(log);
  EXPECT_EQ(CountOccurrences(text, "Updated threshold: ("), 1) << text;
  EXPECT_EQ(CountOccurrences(text,
                             ":info: voice-activity-detector.cc:"
                             "jor_feat::VoiceActivityDetector<float>::DetectVA:54 : "
                             "Updated threshold: (8.500000)"),
            1)
      << text;
}

}  // namespace
}  // namespace jor_feat
