#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IvectorExt/featext/online-feature-extractor.h"
#include "tests/featext/pipeline_test_util.h"

namespace {

using jor_feat::MfccOptions;
using jor_feat_test::Contains;

struct Stream {
  std::vector<float> mfcc;
  float duration = -1, volume = -1, snr = -1, start = -1, end = -1;
  std::vector<float> freq_snr;
  int calls = 0;
};

int Extract(OnlineFeatureExtractor<float>* fx, Stream* s) {
  ++s->calls;
  return fx->ExtractFeat(&s->mfcc, &s->duration, &s->volume, &s->snr, &s->start, &s->end,
                         &s->freq_snr);
}

// PutPcm + ExtractFeat per chunk, as the engine instance does.
Stream Feed(const MfccOptions& opts, const std::vector<short>& pcm, size_t chunk) {
  OnlineFeatureExtractor<float> fx(opts, 6793);
  Stream s;
  for (size_t at = 0; at < pcm.size(); at += chunk) {
    const size_t n = std::min(chunk, pcm.size() - at);
    const std::vector<short> piece(pcm.begin() + at, pcm.begin() + at + n);
    EXPECT_EQ(fx.PutPcm(piece), 0);
    EXPECT_EQ(Extract(&fx, &s), 0);
  }
  return s;
}

TEST(OnlinePipelineTest, StatusCodesAndLogLines) {
  jor_test::TestDir dir;
  const std::string log = jor_feat_test::CaptureLog(dir);
  const MfccOptions opts = jor_feat_test::Options();
  {
    OnlineFeatureExtractor<float> fx(opts, 6793);
    Stream s;
    EXPECT_EQ(fx.PutPcm({}), 0x30004002);
    EXPECT_EQ(Extract(&fx, &s), 0x50004301);
    EXPECT_EQ(fx.PutPcm(std::vector<short>(1440000, 1)), 0);
    EXPECT_EQ(fx.PutPcm(std::vector<short>(1, 1)), 0x50004302);  // pending counts too
    float f;
    EXPECT_EQ(fx.ExtractFeat(&s.mfcc, &f, &f, nullptr, &f, &f, &s.freq_snr), 0x30004002);
    EXPECT_EQ(fx.ExtractFeat(nullptr, &f, &f, &f, &f, &f, &s.freq_snr), 0x30004002);
  }
  {
    OnlineFeatureExtractor<float> fx(opts, 6793);
    EXPECT_EQ(fx.PutPcm(std::vector<short>(1440001, 1)), 0x50004302);
  }
  {
    // One second of rows: the buffer fills and further input is refused.
    MfccOptions small = opts;
    small.max_vad_size_real = 1;
    OnlineFeatureExtractor<float> fx(small, 6793);
    Stream s;
    const std::vector<short> pcm = jor_feat_test::Speechy(8000, 5);
    EXPECT_EQ(fx.PutPcm(pcm), 0);
    EXPECT_EQ(Extract(&fx, &s), 0);
    EXPECT_EQ(fx.rows_computed(), 99);
    EXPECT_EQ(fx.PutPcm(pcm), 0);
    EXPECT_EQ(Extract(&fx, &s), 0);
    EXPECT_EQ(fx.rows_computed(), 199);
    EXPECT_EQ(fx.PutPcm(pcm), 0x50004302);
  }
  const std::string text = jor_test::ReadFile(log);
  jor_feat_test::StopLog(dir);
  const char* expected[] = {
      ":error: online-feature-extractor.cc:OnlineFeatureExtractor<float>::PutPcm:67 : Input pcm "
      "size 0.",
      ":error: online-feature-extractor.cc:OnlineFeatureExtractor<float>::ExtractFeat:157 : "
      "Invalid unprocessed pcm size (0)",
      "OnlineFeatureExtractor<float>::PutPcm:73 : Unprocessed pcm size is over. (1440001)",
      "OnlineFeatureExtractor<float>::ExtractFeat:138 : Invalid argument. duration=",
      "OnlineFeatureExtractor<float>::PutPcm:78 : feature size is over. (7960)",
      ":trace: online-feature-extractor.cc:OnlineFeatureExtractor<float>::ExecVad:239 : Calclate "
      "vad.",
      ":trace: online-feature-extractor.cc:OnlineFeatureExtractor<float>::ExecCmvn:293 : Execute "
      "cmvn sliding normalize.",
  };
  for (const char* e : expected) EXPECT_TRUE(Contains(text, e)) << e;
  EXPECT_FALSE(Contains(text, "ExecDelta"));
}

// Rows of one stream fed at once: MFCC, optional deltas, VAD on the raw
// energies with threshold 11 and full context, trailing 300-frame CMVN.
TEST(OnlinePipelineTest, RowsMatchAPlainComputation) {
  const std::vector<short> pcm = jor_feat_test::Speechy(8000 * 6, 6);
  for (bool use_delta : {false, true}) {
    MfccOptions opts = jor_feat_test::Options();
    opts.use_delta = use_delta;
    const MfccOptions resolved = opts.Resolved(jor_feat::kModeOnline);
    int all_frames = 0, dim = 0;
    std::vector<double> rows = jor_feat_test::RawRows(resolved, pcm, &all_frames, &dim);
    // Online frames end inside the signal: 599 of the 600.
    const int frames = 599;
    ASSERT_EQ(jor_feat::NumFrames(static_cast<int64_t>(pcm.size()), resolved.frame_opts, false),
              frames);
    rows.resize(static_cast<size_t>(frames) * dim);
    if (use_delta) jor_feat_test::AddDeltas(&rows, frames, 40, frames - 1);
    std::vector<double> energy(frames);
    for (int t = 0; t < frames; ++t) energy[t] = rows[t * dim];
    const std::vector<bool> voiced = jor_feat_test::ReferenceVad(energy, 11.0, 2, 0.12);
    // Deltas leave the queue 8 rows behind; voice decisions wait for 2.
    const int examined = use_delta ? frames - 8 : frames - 2;
    std::vector<double> expect;
    int n = 0;
    for (int t = 0; t < examined; ++t) {
      if (!voiced[t]) continue;
      ++n;
      const int start = std::max(0, t - 300);
      const int end = t < 300 ? std::max(t + 1, 100) : t + 1;
      const std::vector<double> r = jor_feat_test::SubtractWindowMean(rows, dim, t, start, end);
      expect.insert(expect.end(), r.begin(), r.end());
    }
    ASSERT_GT(n, 200);
    ASSERT_LT(n, examined);

    const Stream s = Feed(opts, pcm, pcm.size());
    ASSERT_EQ(s.mfcc.size(), expect.size()) << use_delta;
    for (size_t i = 0; i < expect.size(); ++i)
      ASSERT_NEAR(s.mfcc[i], expect[i], 2e-3 * (1 + std::fabs(expect[i]))) << use_delta << i;
    EXPECT_NEAR(s.duration, ((n - 1) * 10 + 25) / 1000.0, 1e-6);
    EXPECT_EQ(s.freq_snr.size(), 16u);
  }
}

TEST(OnlinePipelineTest, ChunkingDoesNotChangeTheRows) {
  for (bool use_delta : {false, true}) {
    MfccOptions opts = jor_feat_test::Options();
    opts.use_delta = use_delta;
    const std::vector<short> longer = jor_feat_test::Speechy(8000 * 12, 7);
    const std::vector<short> shorter(longer.begin(), longer.begin() + 8000 * 2);
    const Stream whole = Feed(opts, longer, longer.size());
    const Stream whole_short = Feed(opts, shorter, shorter.size());
    ASSERT_FALSE(whole.mfcc.empty());
    for (size_t chunk : {size_t{1}, size_t{160}, size_t{4000}, size_t{80000}}) {
      const Stream& ref = chunk == 1 ? whole_short : whole;
      const Stream s = Feed(opts, chunk == 1 ? shorter : longer, chunk);
      EXPECT_EQ(s.mfcc, ref.mfcc) << use_delta << " chunk " << chunk;
      EXPECT_EQ(s.duration, ref.duration) << chunk;
      EXPECT_NEAR(s.volume, ref.volume, 1e-3) << chunk;
      EXPECT_NEAR(s.snr, ref.snr, 1e-3) << chunk;
      EXPECT_EQ(s.start, ref.start) << chunk;
      EXPECT_EQ(s.end, ref.end) << chunk;
    }
  }
}

TEST(OnlinePipelineTest, QueuedRowsSurviveBufferGrowth) {
  // Two seconds reserved; the second piece takes the buffer past its
  // reservation while deltas and CMVN still hold queued rows.
  MfccOptions opts = jor_feat_test::Options();
  opts.use_delta = true;
  opts.cmvn_opts.center_real = true;
  opts.cmvn_opts.cmn_window = 50;
  opts.cmvn_opts.normalize_variance = true;
  MfccOptions small = opts;
  small.max_vad_size_real = 2;
  const std::vector<short> pcm = jor_feat_test::Speechy(30000, 8);
  const Stream roomy = Feed(opts, pcm, 15000);
  const Stream tight = Feed(small, pcm, 15000);
  ASSERT_FALSE(roomy.mfcc.empty());
  EXPECT_EQ(tight.mfcc, roomy.mfcc);
  EXPECT_EQ(tight.duration, roomy.duration);
}

}  // namespace
