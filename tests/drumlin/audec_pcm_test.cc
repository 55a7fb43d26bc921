// Cutting and re-assembling decoded PCM: TrimPcm, GetWav, SplitWave.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "drumlin/audec.h"
#include "tests/drumlin/wav-bytes.h"

namespace {

using namespace drumlin_test;

// `seconds` of 8 kHz mono with every byte position distinguishable.
std::vector<uint8_t> MonoWav8k(int seconds) {
  std::vector<int16_t> s(8000 * seconds);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(i * 37 + (i >> 8));
  return Wav(1, 8000, 16, Pcm16(s));
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t to) {
  return std::vector<uint8_t>(v.begin() + static_cast<long>(from),
                              v.begin() + static_cast<long>(to));
}

TEST(AudecTrimPcm, RangesAndRefusals) {
  Audec a;
  std::vector<uint8_t> out;
  EXPECT_EQ(a.TrimPcm({1, 2, 3, 4}, 0, 1, &out), -1);  // nothing decoded yet

  const auto wav = MonoWav8k(3);
  std::vector<uint8_t> pcm;
  ASSERT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &pcm), 0);
  ASSERT_EQ(pcm.size(), 48000u);

  struct Case {
    unsigned begin, end;
    int status;
  };
  for (const Case c :
       {Case{1000, 2000, 0}, Case{0, 3000, 0}, Case{2999, 3000, 0}, Case{2000, 2000, -2},
        Case{2001, 2000, -2}, Case{3000, 3001, -3}, Case{2000, 3001, -3}, Case{0, UINT_MAX, -3},
        Case{UINT_MAX - 1, UINT_MAX, -3}}) {
    SCOPED_TRACE(testing::Message() << c.begin << ".." << c.end);
    out.assign(5, 0);
    ASSERT_EQ(a.TrimPcm(pcm, c.begin, c.end, &out), c.status);
    if (c.status == 0) {
      EXPECT_EQ(out, Slice(pcm, c.begin * 16u, c.end * 16u));
    }
  }
  // 1000..2000 ms are bytes 16,000 to 31,999.
  ASSERT_EQ(a.TrimPcm(pcm, 1000, 2000, &out), 0);
  EXPECT_EQ(out.size(), 16000u);
  EXPECT_EQ(out.front(), pcm[16000]);
  EXPECT_EQ(out.back(), pcm[31999]);

  // A buffer shorter than the decoded data is not read past its end.
  const std::vector<uint8_t> shortPcm = Slice(pcm, 0, 20000);
  EXPECT_EQ(a.TrimPcm(shortPcm, 1000, 2000, &out), -3);
  EXPECT_EQ(a.TrimPcm(shortPcm, 0, 1250, &out), 0);

  a.Debug(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(a.TrimPcm(pcm, 2000, 1000, &out), -2);
  EXPECT_EQ(a.TrimPcm(pcm, 2000, 4000, &out), -3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "### DEBUG : Begin(2000) >= End(1000)\n"
            "### DEBUG : Begin size(32000), End size(64000), Data size(48000)\n");
}

TEST(AudecGetWav, HeaderPcmAndSilence) {
  Audec a;
  std::vector<uint8_t> wav;
  a.Debug(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(a.GetWav({1, 2}, &wav, 0), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "### DEBUG : There is no decoded wave-header. GetWav() should be called after "
            "Decode().\n");
  a.Debug(false);

  const auto input = MonoWav8k(2);
  std::vector<uint8_t> pcm;
  ASSERT_EQ(a.Decode(AudecFormatWav, input.data(), input.size(), &pcm), 0);

  // Unchanged PCM without padding gives back the input file.
  ASSERT_EQ(a.GetWav(pcm, &wav, 0), 0);
  EXPECT_EQ(wav, input);
  ASSERT_EQ(a.GetWav(pcm, &wav, -20), 0);
  EXPECT_EQ(wav, input);

  // 500 ms of silence at 16 bytes per ms.
  ASSERT_EQ(a.GetWav(pcm, &wav, 500), 0);
  ASSERT_EQ(wav.size(), 44 + pcm.size() + 8000);
  EXPECT_EQ(Le32(wav, 4), pcm.size() + 36 + 8000);
  EXPECT_EQ(Le32(wav, 40), pcm.size() + 8000);
  EXPECT_EQ(Slice(wav, 0, 4), Slice(input, 0, 4));
  EXPECT_EQ(Slice(wav, 8, 40), Slice(input, 8, 40));
  EXPECT_EQ(Slice(wav, 44, 44 + pcm.size()), pcm);
  EXPECT_EQ(Slice(wav, 44 + pcm.size(), wav.size()), std::vector<uint8_t>(8000, 0));

  // A shorter piece gets its own sizes.
  const auto part = Slice(pcm, 100, 1100);
  ASSERT_EQ(a.GetWav(part, &wav, 0), 0);
  EXPECT_EQ(Le32(wav, 4), 1036u);
  EXPECT_EQ(Le32(wav, 40), 1000u);
  EXPECT_EQ(Slice(wav, 44, wav.size()), part);

  // The stored header itself is untouched by all of this.
  std::vector<uint8_t> again;
  ASSERT_EQ(a.GetWav(pcm, &again, 0), 0);
  EXPECT_EQ(again, input);

  std::vector<uint8_t> tooLong = pcm;
  tooLong.push_back(0);
  a.Debug(true);
  testing::internal::CaptureStdout();
  EXPECT_EQ(a.GetWav({}, &wav, 0), -2);
  EXPECT_EQ(a.GetWav(tooLong, &wav, 0), -2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "### DEBUG : inPCM size(0) is invalid (Data size in wav-header is 32000)\n"
            "### DEBUG : inPCM size(32001) is invalid (Data size in wav-header is 32000)\n");
  a.Debug(false);
  // Padding that no 32-bit size field can describe is refused before allocating.
  EXPECT_EQ(a.GetWav(pcm, &wav, INT_MAX), -3);
}

TEST(AudecSplitWave, Pieces) {
  struct Case {
    int seconds, inputSeconds, status;
    size_t pieces;
  };
  for (const Case c : {Case{4, 10, 0, 2}, Case{4, 12, 0, 3}, Case{1, 3, 0, 3}, Case{4, 3, -1001, 0},
                       Case{0, 10, -1000, 0}, Case{-3, 10, -1000, 0}}) {
    SCOPED_TRACE(testing::Message() << c.inputSeconds << " s in pieces of " << c.seconds);
    const auto wav = MonoWav8k(c.inputSeconds);
    Audec a;
    std::vector<uint8_t*> pieces;
    size_t pieceBytes = 0;
    ASSERT_EQ(a.SplitWave(AudecFormatWav, wav.data(), wav.size(), c.seconds, pieces, &pieceBytes),
              c.status);
    ASSERT_EQ(pieces.size(), c.pieces);
    if (c.status != 0) continue;
    const size_t data = 16000u * c.seconds;
    ASSERT_EQ(pieceBytes, 44 + data);
    for (size_t i = 0; i < pieces.size(); ++i) {
      const std::vector<uint8_t> piece(pieces[i], pieces[i] + pieceBytes);
      EXPECT_EQ(Le32(piece, 4), data + 36);
      EXPECT_EQ(Le32(piece, 40), data);
      EXPECT_EQ(Slice(piece, 8, 40), Slice(wav, 8, 40));
      EXPECT_EQ(Slice(piece, 44, pieceBytes), Slice(wav, 44 + i * data, 44 + (i + 1) * data));
    }
    // One block, released as one.
    a.SplitWaveRelease(&pieces);
    EXPECT_TRUE(pieces.empty());
    a.SplitWaveRelease(&pieces);
  }
}

TEST(AudecSplitWave, ReuseMessagesAndFailures) {
  Audec a;
  const auto ten = MonoWav8k(10);
  std::vector<uint8_t*> pieces;
  size_t pieceBytes = 0;
  ASSERT_EQ(a.SplitWave(AudecFormatWav, ten.data(), ten.size(), 4, pieces, &pieceBytes), 0);
  // A second split frees the first block (the leak checker would notice).
  ASSERT_EQ(a.SplitWave(AudecFormatWav, ten.data(), ten.size(), 5, pieces, &pieceBytes), 0);
  EXPECT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieceBytes, 80044u);

  a.Debug(true);
  const auto three = MonoWav8k(3);
  testing::internal::CaptureStdout();
  EXPECT_EQ(a.SplitWave(AudecFormatWav, three.data(), three.size(), 4, pieces, &pieceBytes), -1001);
  EXPECT_TRUE(pieces.empty());
  EXPECT_EQ(
      a.SplitWave(static_cast<AudecFormatType>(2), ten.data(), ten.size(), 4, pieces, &pieceBytes),
      -1000);
  EXPECT_EQ(a.SplitWave(AudecFormatWav, ten.data(), 0, 4, pieces, &pieceBytes), -1200);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "### DEBUG : WAVE Sampling rate is 8000 Hz.\n"
            "### DEBUG : WAVE bit per sample is 16 bps.\n"
            "### DEBUG : Split size(64000) > Wave data size(48000)\n\n"
            "### DEBUG : Invalid audio format type (2) was specified.\n");

  // A vector whose first pointer is null owns nothing and is only emptied.
  pieces.assign(3, nullptr);
  a.Debug(false);
  ASSERT_EQ(a.SplitWave(AudecFormatWav, ten.data(), ten.size(), 4, pieces, &pieceBytes), 0);
  EXPECT_EQ(pieces.size(), 2u);
  EXPECT_NE(pieces[0], nullptr);
  a.SplitWaveRelease(&pieces);
}

TEST(AudecSplitWave, RatesTooLowForAPiece) {
  // 200 Hz mono kept at its rate would give no whole piece size; the decoder
  // now refuses the rate itself (below 1,000 Hz) before any splitting.
  const std::vector<uint8_t> wav = Wav(1, 200, 16, Pcm16(Tone(2000, 10, 200, 1000)));
  Audec a;
  a.DownSampling(false);
  std::vector<uint8_t*> pieces;
  size_t pieceBytes = 0;
  EXPECT_EQ(a.SplitWave(AudecFormatWav, wav.data(), wav.size(), 1, pieces, &pieceBytes), -1211);
  EXPECT_TRUE(pieces.empty());
}

}  // namespace
