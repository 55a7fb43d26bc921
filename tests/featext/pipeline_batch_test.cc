#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IvectorExt/featext/feat-extractor.h"
#include "tests/featext/pipeline_test_util.h"

namespace jor_feat {
namespace {

using jor_feat_test::Contains;

struct Outputs {
  std::vector<float> mfcc;
  float duration = -1, volume = -1, snr = -1, start = -1, end = -1;
  std::vector<float> freq_snr;
};

int RunBatch(const MfccOptions& opts, const std::vector<short>& pcm, Outputs* out) {
  FeatureExtractor<float> fx(opts, 6793);
  return fx.ExtractFeature(pcm, &out->mfcc, &out->duration, &out->volume, &out->snr, &out->start,
                           &out->end, &out->freq_snr);
}

TEST(BatchPipelineTest, StatusCodesAndLogLines) {
  jor_test::TestDir dir;
  const std::string log = jor_feat_test::CaptureLog(dir);
  MfccOptions opts = jor_feat_test::Options();
  Outputs o;
  EXPECT_EQ(RunBatch(opts, std::vector<short>(), &o), 0x30004002);
  const std::vector<short> pcm = jor_feat_test::Speechy(1000, 1);
  {
    FeatureExtractor<float> fx(opts, 6793);
    std::vector<float> v;
    float a, b, c, d, e;
    EXPECT_EQ(fx.ExtractFeature(pcm, nullptr, &a, &b, &c, &d, &e, &o.freq_snr), 0x30004002);
    EXPECT_EQ(fx.ExtractFeature(pcm, &v, &a, &b, nullptr, &d, &e, &o.freq_snr), 0x30004002);
    EXPECT_EQ(fx.ExtractFeature(pcm, &v, &a, &b, &c, &d, &e, nullptr), 0x30004002);
    EXPECT_TRUE(v.empty());
  }
  {
    MfccOptions snip = jor_feat_test::Options();
    snip.frame_opts.snip_edges = true;
    Outputs s;
    EXPECT_EQ(RunBatch(snip, std::vector<short>(199, 100), &s), 0x50004101);
    EXPECT_TRUE(s.mfcc.empty());
    EXPECT_EQ(RunBatch(snip, std::vector<short>(200, 100), &s), 0);
  }
  {
    MfccOptions limited = jor_feat_test::Options();
    limited.max_vad_size_bat = 30;
    Outputs s;
    EXPECT_EQ(RunBatch(limited, std::vector<short>(240001, 3), &s), 0x50004302);
    EXPECT_EQ(RunBatch(limited, std::vector<short>(240000, 3), &s), 0);
  }
  {
    // A median frame level in the last bucket: full-scale random signs.
    MfccOptions loud = jor_feat_test::Options();
    std::vector<short> square(16000);
    std::mt19937 gen(4);
    for (short& v : square) v = (gen() & 1) ? 32767 : -32768;
    Outputs s;
    EXPECT_EQ(RunBatch(loud, square, &s), 0x50004102);
  }
  {
    MfccOptions all = jor_feat_test::Options();
    all.use_delta = true;
    all.subtract_mean = true;
    Outputs s;
    EXPECT_EQ(RunBatch(all, jor_feat_test::Speechy(4000, 3), &s), 0);
    EXPECT_EQ(s.mfcc.size() % 120, 0u);
  }
  {
    // Seconds of voiced speech reached: frame 98 for the first, then every
    // 100 frames; at most 31 lines.
    FeatureExtractor<float> fx(opts, 6793);
    std::vector<float> flags(5000, 1.0f);
    flags[150] = 0.0f;  // one gap delays every later second by a frame
    fx.LogVoiceAndAudioLength(flags);
  }
  const std::string text = jor_test::ReadFile(log);
  jor_feat_test::StopLog(dir);
  const char* va[] = {
      ":trace: feat-extractor.cc:FeatureExtractor<float>::LogVoiceAndAudioLength:258 : VA 1 "
      "(sec) Len 0.995 (sec) Frame 98 (frames)",
      "VA 2 (sec) Len 2.005 (sec) Frame 199 (frames)",
      "VA 31 (sec) Len 31.005 (sec) Frame 3099 (frames)",
      "FeatureExtractor<float>::ExtractFeature:142 : Create delta template.",
      "FeatureExtractor<float>::ExtractFeature:135 : Execute cepstrum mean subtraction.",
  };
  for (const char* e : va) EXPECT_TRUE(Contains(text, e)) << e;
  EXPECT_FALSE(Contains(text, "VA 32 "));
  const char* expected[] = {
      ":error: feat-extractor.cc:FeatureExtractor<float>::ExtractFeature:89 : Invalid argument. "
      "pcm size=0, mfcc=",
      "FeatureExtractor<float>::ExtractFeature:89 : Invalid argument. pcm size=1000, mfcc=(nil)",
      ":error: feat-extractor.cc:FeatureExtractor<float>::ExtractFeature:114 : Failed to create "
      "MfCC template. (1342193921)",
      ":error: feat-extractor.cc:FeatureExtractor<float>::ExtractFeature:96 : Input pcm size is "
      "over. (240001)",
      ":error: feat-extractor.cc:FeatureExtractor<float>::ExtractFeature:121 : Failed to get "
      "quality information. (1342193922)",
      ":trace: feat-extractor.cc:FeatureExtractor<float>::ExtractFeature:152 : Calclate vad.",
      ":trace: feat-extractor.cc:FeatureExtractor<float>::ExtractFeature:167 : Execute cmvn "
      "sliding normalize.",
  };
  for (const char* e : expected) EXPECT_TRUE(Contains(text, e)) << e;
}

TEST(BatchPipelineTest, RowsAreVadThenCentredCmvnOfTheMfcc) {
  const std::vector<short> pcm = jor_feat_test::Speechy(8000 * 7, 2);
  for (bool use_delta : {false, true}) {
    MfccOptions opts = jor_feat_test::Options();
    opts.use_delta = use_delta;
    const MfccOptions resolved = opts.Resolved(kModeBatch);
    int frames = 0, dim = 0;
    std::vector<double> rows = jor_feat_test::RawRows(resolved, pcm, &frames, &dim);
    ASSERT_EQ(frames, 700);
    ASSERT_EQ(dim, use_delta ? 120 : 40);
    if (use_delta) jor_feat_test::AddDeltas(&rows, frames, 40, frames - 1);
    std::vector<double> energy(frames);
    double mean = 0;
    for (int t = 0; t < frames; ++t) mean += (energy[t] = rows[t * dim]) / frames;
    const std::vector<bool> voiced = jor_feat_test::ReferenceVad(energy, 5.5 + 0.5 * mean, 2, 0.12);
    std::vector<double> expect;
    int n = 0;
    for (int t = 0; t < frames; ++t) {
      if (!voiced[t]) continue;
      ++n;
      // Centred 300-frame window, shifted inside the utterance.
      int start = std::max(0, t - 150), end = start + 300;
      if (end > frames) start = frames - 300, end = frames;
      const std::vector<double> r = jor_feat_test::SubtractWindowMean(rows, dim, t, start, end);
      expect.insert(expect.end(), r.begin(), r.end());
    }
    ASSERT_GT(n, 300);
    ASSERT_LT(n, 600);

    Outputs o;
    ASSERT_EQ(RunBatch(opts, pcm, &o), 0);
    ASSERT_EQ(o.mfcc.size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i)
      ASSERT_NEAR(o.mfcc[i], expect[i], 2e-3 * (1 + std::fabs(expect[i]))) << use_delta << i;
    EXPECT_NEAR(o.duration, ((n - 1) * 10 + 25) / 1000.0, 1e-6);
    ASSERT_EQ(o.freq_snr.size(), 16u);
    EXPECT_GT(o.snr, 3.0f);  // loud tones over near silence
    EXPECT_LT(o.start, o.end);
    EXPECT_LE(o.end, 4000.0f);
  }
}

TEST(BatchPipelineTest, RepeatableAndWithoutVad) {
  const std::vector<short> pcm = jor_feat_test::Speechy(8000 * 3, 3);
  MfccOptions opts = jor_feat_test::Options();
  Outputs a, b;
  ASSERT_EQ(RunBatch(opts, pcm, &a), 0);
  ASSERT_EQ(RunBatch(opts, pcm, &b), 0);
  EXPECT_EQ(a.mfcc, b.mfcc);
  FeatureExtractor<float> fx(opts, 6793);
  Outputs c, d;
  ASSERT_EQ(fx.ExtractFeature(pcm, &c.mfcc, &c.duration, &c.volume, &c.snr, &c.start, &c.end,
                              &c.freq_snr),
            0);
  ASSERT_EQ(fx.ExtractFeature(pcm, &d.mfcc, &d.duration, &d.volume, &d.snr, &d.start, &d.end,
                              &d.freq_snr),
            0);
  EXPECT_EQ(c.mfcc, a.mfcc);
  EXPECT_EQ(d.mfcc, a.mfcc);

  MfccOptions no_vad = jor_feat_test::Options();
  no_vad.use_vad = false;
  Outputs e;
  ASSERT_EQ(RunBatch(no_vad, pcm, &e), 0);
  EXPECT_EQ(e.mfcc.size(), 300u * 40);
  EXPECT_NEAR(e.duration, (299 * 10 + 25) / 1000.0, 1e-6);
  EXPECT_LT(a.mfcc.size(), e.mfcc.size());
}

TEST(BatchPipelineTest, MeanSubtraction) {
  // Column means over all rows are removed before everything else.
  const std::vector<double> m = {1, 10, 3, 20, 8, 60};
  std::vector<float> f(m.begin(), m.end());
  FeatureExtractor<float>::ApplyCms(f.data(), 3, 2);
  const double expect[] = {-3, -20, -1, -10, 4, 30};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(f[i], expect[i], 1e-5);
}

}  // namespace
}  // namespace jor_feat

namespace jor_feat {
namespace {

TEST(BatchPipelineTest, DoubleInstantiationAgreesWithFloat) {
  const std::vector<short> pcm = jor_feat_test::Speechy(8000 * 3, 9);
  const MfccOptions opts = jor_feat_test::Options();
  Outputs f;
  ASSERT_EQ(RunBatch(opts, pcm, &f), 0);
  FeatureExtractor<double> fx(opts, 6793);
  std::vector<double> d;
  float duration, volume, snr, lo, hi;
  std::vector<float> freq_snr;
  ASSERT_EQ(fx.ExtractFeature(pcm, &d, &duration, &volume, &snr, &lo, &hi, &freq_snr), 0);
  ASSERT_EQ(d.size(), f.mfcc.size());
  for (size_t i = 0; i < d.size(); ++i) ASSERT_NEAR(d[i], f.mfcc[i], 2e-2) << i;
  EXPECT_EQ(duration, f.duration);
  EXPECT_NEAR(snr, f.snr, 1e-2);
}

}  // namespace
}  // namespace jor_feat
