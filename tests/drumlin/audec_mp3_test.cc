// MP3 decoding through LAME, checked against the `lame --decode` command on
// files the test encodes with the `lame` command.
#include <gtest/gtest.h>
#include <lame/lame.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "drumlin/audec.h"
#include "tests/drumlin/wav-bytes.h"
#include "tests/support/test-dir.h"

namespace {

using namespace drumlin_test;

bool HaveLame() {
  return std::system("command -v lame >/dev/null 2>&1") == 0;
}

struct Mp3File {
  std::vector<uint8_t> mp3;
  std::vector<int16_t> reference;  // what `lame --decode` makes of it
  int encDelay = -1, encPadding = -1;
};

// Encoder delay and padding from the file's Info tag (-1 when there is none),
// as LAME's own decoder reports them.
void ReadTag(Mp3File* f) {
  hip_t hip = hip_decode_init();
  mp3data_struct info{};
  std::vector<short> l(4096), r(4096);
  for (size_t at = 0; at < f->mp3.size(); at += 1024) {
    const size_t n = std::min<size_t>(1024, f->mp3.size() - at);
    if (hip_decode1_headersB(hip, f->mp3.data() + at, n, l.data(), r.data(), &info, &f->encDelay,
                             &f->encPadding) > 0) {
      break;
    }
  }
  hip_decode_exit(hip);
}

Mp3File Encode(const jor_test::TestDir& dir, int rate, int channels, double seconds) {
  const int frames = static_cast<int>(rate * seconds);
  const auto l = Tone(frames, 440, rate, 9000);
  const auto r = Tone(frames, 660, rate, 6000);
  const std::string name = std::to_string(rate) + "_" + std::to_string(channels);
  const std::string wav = dir.File(name + ".wav"), mp3 = dir.File(name + ".mp3"),
                    ref = dir.File(name + ".ref.wav");
  jor_test::WriteFile(
      wav, AsString(Wav(channels, rate, 16, Pcm16(channels == 1 ? l : Interleave(l, r)))));
  const std::string cmd = "lame --quiet '" + wav + "' '" + mp3 + "' && lame --quiet --decode '" +
                          mp3 + "' '" + ref + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  Mp3File f;
  f.mp3 = AsBytes(jor_test::ReadFile(mp3));
  const auto refWav = AsBytes(jor_test::ReadFile(ref));
  // The reference is a plain RIFF file; walk its chunks to "data".
  for (size_t at = 12; at + 8 <= refWav.size(); at += 8 + Le32(refWav, at + 4)) {
    if (std::equal(refWav.begin() + at, refWav.begin() + at + 4, "data")) {
      const size_t end = std::min<size_t>(refWav.size(), at + 8 + Le32(refWav, at + 4));
      f.reference = Samples16(std::vector<uint8_t>(refWav.begin() + at + 8, refWav.begin() + end));
      break;
    }
  }
  EXPECT_EQ(Le16(refWav, 22), channels);
  EXPECT_EQ(Le32(refWav, 24), static_cast<uint32_t>(rate));
  ReadTag(&f);
  return f;
}

// Audec returns every sample of every frame. `lame --decode` drops the
// decoder's delay of 528 + 1 samples and, when the Info tag names them, the
// encoder delay at the start and the padding at the end; so the two agree
// sample for sample from that fixed offset on.
TEST(AudecMp3, MatchesLameDecoder) {
  if (!HaveLame()) GTEST_SKIP() << "the lame command is not installed";
  jor_test::TestDir dir;
  for (int rate : {8000, 16000, 22050, 44100}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
      const Mp3File f = Encode(dir, rate, channels, 0.4);
      ASSERT_FALSE(f.reference.empty());
      Audec a;
      a.StereoToMono(false);
      a.DownSampling(false);
      std::vector<uint8_t> out;
      ASSERT_EQ(a.Decode(AudecFormatMp3, f.mp3.data(), f.mp3.size(), &out), 0);
      const auto s = Samples16(out);
      const bool tagged = f.encDelay >= 0;
      const size_t skip = 529 + (tagged ? f.encDelay : 0);
      const size_t extra = tagged ? f.encDelay + f.encPadding : 529;
      ASSERT_EQ(s.size(), f.reference.size() + extra * channels);
      for (size_t i = 0; i < f.reference.size(); ++i) {
        ASSERT_EQ(s[skip * channels + i], f.reference[i]) << i;
      }
      std::vector<uint8_t> wav;
      ASSERT_EQ(a.GetWav(out, &wav, 0), 0);
      EXPECT_EQ(Le16(wav, 22), channels);
      EXPECT_EQ(Le32(wav, 24), static_cast<uint32_t>(rate));
      EXPECT_EQ(Le32(wav, 40), out.size());

      // Default flags: mono at 8 kHz, trunc(frames / r) samples.
      Audec d;
      std::vector<uint8_t> mono;
      ASSERT_EQ(d.Decode(AudecFormatMp3, f.mp3.data(), f.mp3.size(), &mono), 0);
      const size_t frames = s.size() / channels;
      EXPECT_EQ(mono.size() / 2, static_cast<size_t>(frames / (rate / 8000.0)));
      ASSERT_EQ(d.GetWav(mono, &wav, 0), 0);
      EXPECT_EQ(Le16(wav, 22), 1);
      EXPECT_EQ(Le32(wav, 24), 8000u);

      if (channels == 2) {
        // Mixed at the input rate: (left + right) / 2, truncated.
        d.DownSampling(false);
        ASSERT_EQ(d.Decode(AudecFormatMp3, f.mp3.data(), f.mp3.size(), &mono), 0);
        const auto m = Samples16(mono);
        ASSERT_EQ(m.size(), frames);
        for (size_t i = 0; i < frames; ++i) ASSERT_EQ(m[i], (s[2 * i] + s[2 * i + 1]) / 2) << i;
      }
    }
  }
}

TEST(AudecMp3, TruncatedFiles) {
  if (!HaveLame()) GTEST_SKIP() << "the lame command is not installed";
  jor_test::TestDir dir;
  const Mp3File f = Encode(dir, 44100, 2, 1.0);
  Audec a;
  a.DownSampling(false);
  std::vector<uint8_t> full, out;
  ASSERT_EQ(a.Decode(AudecFormatMp3, f.mp3.data(), f.mp3.size(), &full), 0);

  // Less than the tag frame and one audio frame: nothing to decode.
  for (size_t size : {size_t{1}, size_t{4}, size_t{300}, size_t{700}}) {
    const std::vector<uint8_t> cut(f.mp3.begin(), f.mp3.begin() + static_cast<long>(size));
    EXPECT_EQ(a.Decode(AudecFormatMp3, cut.data(), cut.size(), &out), -2202) << size;
  }
  // Cut mid-stream: the whole frames before the cut, as in the full decode.
  const std::vector<uint8_t> half(f.mp3.begin(),
                                  f.mp3.begin() + static_cast<long>(f.mp3.size() / 2));
  ASSERT_EQ(a.Decode(AudecFormatMp3, half.data(), half.size(), &out), 0);
  ASSERT_GT(out.size(), full.size() / 3);
  ASSERT_LT(out.size(), full.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), full.begin()));
}

TEST(AudecMp3, GarbageInput) {
  Audec a;
  std::vector<uint8_t> out;
  EXPECT_EQ(a.Decode(AudecFormatMp3, nullptr, 0, &out), -2202);
  EXPECT_EQ(a.Decode(AudecFormatMp3, nullptr, 5000, &out), -2202);

  // Without a single 0xFF byte there is no frame sync to find.
  std::mt19937 gen(7);
  std::vector<uint8_t> noSync(9000);
  for (auto& b : noSync) b = static_cast<uint8_t>(gen() % 255);
  a.Debug(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(a.Decode(AudecFormatMp3, noSync.data(), noSync.size(), &out), -2202);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.rfind("### DEBUG : mp3Reslen_ = 4904, bufSize = 4096\n", 0), 0u) << printed;
  EXPECT_NE(printed.find("### DEBUG : tmpPcm.size() = 0\n"), std::string::npos);
  const std::string last = "### DEBUG : Failed to read MP3 data (totalSamples = 0)\n";
  EXPECT_TRUE(printed.ends_with(last)) << printed;
  a.Debug(false);

  // Arbitrary bytes may hold sync words that parse as frames: whatever comes
  // out, the call ends, reports a known status and keeps its header honest.
  for (int seed = 0; seed < 60; ++seed) {
    std::mt19937 g(seed);
    std::vector<uint8_t> bytes(seed % 2 ? 3000 : 9000);
    for (auto& b : bytes) b = static_cast<uint8_t>(g());
    if (seed % 3 == 0) bytes[0] = 0xFF, bytes[1] = 0xFB;  // a plausible first header
    const int status = a.Decode(AudecFormatMp3, bytes.data(), bytes.size(), &out);
    SCOPED_TRACE(seed);
    EXPECT_TRUE(status == 0 || status == -2200 || status == -2201 || status == -2202) << status;
    if (status == 0) {
      std::vector<uint8_t> wav;
      ASSERT_EQ(a.GetWav(out, &wav, 0), 0);
      EXPECT_EQ(Le32(wav, 40), out.size());
    }
  }
}

}  // namespace
