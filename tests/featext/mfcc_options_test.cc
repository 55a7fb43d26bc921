// Option record: defaults, derived frame fields, partial and malformed files,
// the use_delta rule and the batch/online selection.
#include <gtest/gtest.h>

#include "IvectorExt/featext/mfcc-options.h"
#include "tests/support/test-dir.h"

namespace {

using jor_feat::MfccOptions;

TEST(MfccOptionsTest, MissingFileKeepsDefaults) {
  jor_test::TestDir dir;
  MfccOptions o(dir.File("absent.json"), jor_feat::kModeBatch);
  EXPECT_EQ(o.frame_opts.samp_freq, 8000.0f);
  EXPECT_EQ(o.frame_opts.window_shift, 80);
  EXPECT_EQ(o.frame_opts.window_size, 200);
  EXPECT_EQ(o.frame_opts.padded_window_size, 256);
  EXPECT_EQ(o.frame_opts.window_type, "povey");
  EXPECT_EQ(o.mel_opts.num_bins, 23);
  EXPECT_EQ(o.num_ceps, 40);
  // use_delta defaults to false, so the delta fields are cleared.
  EXPECT_EQ(o.delta_order, 0);
  EXPECT_EQ(o.delta_window, 0);
  EXPECT_EQ(o.FeatureDim(), 40);
  EXPECT_TRUE(o.cmvn_opts.center);
  EXPECT_EQ(o.vad_opts.vad_energy_threshold, 5.5f);
  EXPECT_EQ(o.vad_opts.vad_energy_mean_scale, 0.5f);
  EXPECT_EQ(o.max_vad_size, 0);
}

struct DerivedCase {
  const char* json;
  int shift, size, padded;
};

TEST(MfccOptionsTest, DerivedFrameFields) {
  const DerivedCase cases[] = {
      {R"({"MfccOptions":{"FrameExtractionOptions":{"samp_freq":16000}}})", 160, 400, 512},
      {R"({"MfccOptions":{"FrameExtractionOptions":{"frame_length_ms":25.6}}})", 80, 204, 256},
      {R"({"MfccOptions":{"FrameExtractionOptions":{"frame_length_ms":25.6,
          "round_to_power_of_two":false}}})", 80, 204, 204},
      {R"({"MfccOptions":{"FrameExtractionOptions":{"frame_length_ms":32}}})", 80, 256, 256},
      {R"({"MfccOptions":{"FrameExtractionOptions":{"frame_length_ms":32.2}}})", 80, 257, 512},
      {R"({"MfccOptions":{"FrameExtractionOptions":{"frame_shift_ms":12.5}}})", 100, 200, 256},
  };
  for (const auto& c : cases) {
    jor_test::TestDir dir;
    jor_test::WriteFile(dir.File("m.json"), c.json);
    MfccOptions o(dir.File("m.json"), jor_feat::kModeBatch);
    EXPECT_EQ(o.frame_opts.window_shift, c.shift) << c.json;
    EXPECT_EQ(o.frame_opts.window_size, c.size) << c.json;
    EXPECT_EQ(o.frame_opts.padded_window_size, c.padded) << c.json;
  }
}

TEST(MfccOptionsTest, PartialMalformedAndWrongTypes) {
  jor_test::TestDir dir;
  const std::string path = dir.File("m.json");

  // A missing object keeps its defaults while the others are read.
  jor_test::WriteFile(path, R"({"MfccOptions":{"num_ceps":13,
      "MelBanksOptions":{"num_bins":30},
      "SlidingWindowCmvnOptions":{"cmn_window":200}}})");
  MfccOptions a(path, jor_feat::kModeBatch);
  EXPECT_EQ(a.num_ceps, 13);
  EXPECT_EQ(a.mel_opts.num_bins, 30);
  EXPECT_EQ(a.cmvn_opts.cmn_window, 200);
  EXPECT_EQ(a.vad_opts.vad_frames_context, 2);
  EXPECT_EQ(a.vad_opts.vad_proportion_threshold, 0.12f);

  // Keys that do not convert leave their fields unchanged; others still read.
  jor_test::WriteFile(path, R"({"MfccOptions":{"num_ceps":"many","use_vad":false,
      "FrameExtractionOptions":{"dither":"loud","window_type":"hamming"}}})");
  MfccOptions b(path, jor_feat::kModeBatch);
  EXPECT_EQ(b.num_ceps, 40);
  EXPECT_FALSE(b.use_vad);
  EXPECT_EQ(b.frame_opts.dither, 1.0f);
  EXPECT_EQ(b.frame_opts.window_type, "hamming");
  // ... and the record names the first of them, which validation refuses.
  EXPECT_EQ(b.wrongType, "MfccOptions.num_ceps = \"many\"");
  std::string why;
  EXPECT_EQ(b.Validate(&why), jor::kOptionWrongType);
  EXPECT_NE(why.find("num_ceps"), std::string::npos);

  // Malformed JSON: every default.
  jor_test::WriteFile(path, R"({"MfccOptions":{"num_ceps":13,)");
  MfccOptions c(path, jor_feat::kModeBatch);
  EXPECT_EQ(c.num_ceps, 40);
  EXPECT_EQ(c.frame_opts.window_size, 200);
}

TEST(MfccOptionsTest, DeltaRuleAndModeSelection) {
  jor_test::TestDir dir;
  const std::string path = dir.File("m.json");
  jor_test::WriteFile(path, R"({"MfccOptions":{"use_delta":true,"delta_order":2,"delta_window":3,
      "max_vad_size_bat":300,"num_ceps":20,
      "SlidingWindowCmvnOptions":{"center_bat":false,"center_real":true},
      "VadEnergyOptions":{"vad_energy_threshold_bat":4,"vad_energy_threshold_real":9,
                          "vad_energy_mean_scale_bat":0.25,"vad_energy_mean_scale_real":0.75}}})");
  MfccOptions batch(path, jor_feat::kModeBatch);
  EXPECT_EQ(batch.delta_order, 2);
  EXPECT_EQ(batch.delta_window, 3);
  EXPECT_EQ(batch.FeatureDim(), 60);
  EXPECT_EQ(batch.max_vad_size, 300);
  EXPECT_FALSE(batch.cmvn_opts.center);
  EXPECT_EQ(batch.vad_opts.vad_energy_threshold, 4.0f);
  EXPECT_EQ(batch.vad_opts.vad_energy_mean_scale, 0.25f);

  const MfccOptions online = batch.Resolved(jor_feat::kModeOnline);
  EXPECT_EQ(online.max_vad_size, 180);
  EXPECT_TRUE(online.cmvn_opts.center);
  EXPECT_EQ(online.vad_opts.vad_energy_threshold, 9.0f);
  EXPECT_EQ(online.vad_opts.vad_energy_mean_scale, 0.75f);

  jor_test::WriteFile(path, R"({"MfccOptions":{"use_delta":false,"delta_order":2}})");
  MfccOptions off(path, 2);
  EXPECT_EQ(off.delta_order, 0);
  EXPECT_EQ(off.delta_window, 0);
  EXPECT_EQ(off.max_vad_size, 180);
}

TEST(MfccOptionsTest, ValidationRefusesUnusableOptions) {
  MfccOptions defaults;
  std::string why;
  // 40 cepstra cannot come from 23 mel bins.
  EXPECT_EQ(defaults.Validate(&why), jor::kInvalidOptions);
  EXPECT_NE(why.find("num_ceps"), std::string::npos);

  MfccOptions ok;
  ok.mel_opts.num_bins = 40;
  EXPECT_EQ(ok.Validate(&why), 0u);

  MfccOptions tiny = ok;
  tiny.frame_opts.frame_length_ms = 0.1f;
  tiny.frame_opts.ComputeDerived();
  EXPECT_EQ(tiny.Validate(&why), jor::kInvalidOptions);

  MfccOptions no_shift = ok;
  no_shift.frame_opts.frame_shift_ms = 0.0f;
  no_shift.frame_opts.ComputeDerived();
  EXPECT_EQ(no_shift.Validate(&why), jor::kInvalidOptions);
}

TEST(MfccOptionsTest, ValuesBeyondTheSupportedRangeAreRefused) {
  struct Case {
    const char* json;
    uint32_t code;
  };
  const Case cases[] = {
      {R"({"MfccOptions":{"num_ceps":"20x","MelBanksOptions":{"num_bins":40}}})",
       jor::kOptionWrongType},
      {R"({"MfccOptions":{"MelBanksOptions":{"num_bins":"40.5"}}})", jor::kOptionWrongType},
      {R"({"MfccOptions":{"use_vad":"maybe","MelBanksOptions":{"num_bins":40}}})",
       jor::kOptionWrongType},
      {R"({"MfccOptions":{"MelBanksOptions":{"num_bins":2000000000}}})", jor::kOptionOutOfRange},
      {R"({"MfccOptions":{"MelBanksOptions":{"num_bins":1025}}})", jor::kOptionOutOfRange},
      {R"({"MfccOptions":{"MelBanksOptions":{"num_bins":1024}}})", 0u},
      {R"({"MfccOptions":{"MelBanksOptions":{"num_bins":40},
          "SlidingWindowCmvnOptions":{"cmn_window":100001}}})", jor::kOptionOutOfRange},
      {R"({"MfccOptions":{"max_vad_size_real":86401,"MelBanksOptions":{"num_bins":40}}})",
       jor::kOptionOutOfRange},
      {R"({"MfccOptions":{"MelBanksOptions":{"num_bins":40},
          "FrameExtractionOptions":{"samp_freq":384000,"frame_length_ms":10}}})",
       jor::kOptionOutOfRange},
      {R"({"MfccOptions":{"MelBanksOptions":{"num_bins":40},
          "VadEnergyOptions":{"vad_frames_context":1001}}})", jor::kOptionOutOfRange},
      // Unknown keys are ignored; missing ones keep their defaults.
      {R"({"MfccOptions":{"colour":"blue","MelBanksOptions":{"num_bins":40}}})", 0u},
  };
  for (const Case& c : cases) {
    jor_test::TestDir dir;
    jor_test::WriteFile(dir.File("m.json"), c.json);
    const MfccOptions o(dir.File("m.json"), jor_feat::kModeBatch);
    std::string why;
    EXPECT_EQ(o.Validate(&why), c.code) << c.json << " " << why;
  }
}

}  // namespace
