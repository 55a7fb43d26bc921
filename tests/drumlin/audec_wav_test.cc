// WAV decoding: fast path, channel mixing, sample widths, header checks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "drumlin/audec.h"
#include "tests/drumlin/wav-bytes.h"

namespace {

using namespace drumlin_test;

struct Header {
  uint32_t riffSize, channels, rate, byteRate, blockAlign, bits, dataSize;
};

// The stored header of the last decode, read back through GetWav.
Header StoredHeader(Audec& a, const std::vector<uint8_t>& pcm) {
  std::vector<uint8_t> wav;
  EXPECT_EQ(a.GetWav(pcm, &wav, 0), 0);
  if (wav.size() < 44) return {};
  return {Le32(wav, 4),  Le16(wav, 22), Le32(wav, 24), Le32(wav, 28),
          Le16(wav, 32), Le16(wav, 34), Le32(wav, 40)};
}

TEST(AudecWav, FastPathCopiesDataUnchangedEvenWithLowpass) {
  for (bool lowpass : {false, true}) {
    for (size_t bytes : {size_t{1600}, size_t{1601}}) {
      SCOPED_TRACE(testing::Message() << "lowpass " << lowpass << " bytes " << bytes);
      std::vector<uint8_t> data = Pcm16(Tone(801, 3000, 8000, 20000));
      data.resize(bytes);
      const std::vector<uint8_t> wav = Wav(1, 8000, 16, data);
      Audec a;
      a.LowpassFilter(lowpass);
      std::vector<uint8_t> out{1, 2, 3};
      ASSERT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &out), 0);
      EXPECT_EQ(out, data);
      const Header h = StoredHeader(a, out);
      EXPECT_EQ(h.dataSize, bytes);
      EXPECT_EQ(h.riffSize, bytes + 36);
      EXPECT_EQ(h.rate, 8000u);
      EXPECT_EQ(h.channels, 1u);
      EXPECT_EQ(h.byteRate, 16000u);
      EXPECT_EQ(h.blockAlign, 2u);
      EXPECT_EQ(h.bits, 16u);
    }
  }
}

TEST(AudecWav, StereoIsMixedAndResampledToMono8k) {
  const int frames = 1001;
  const auto l = Tone(frames, 500, 16000, 12000);
  const auto r = Tone(frames, 900, 16000, -9000);
  const std::vector<uint8_t> wav = Wav(2, 16000, 16, Pcm16(Interleave(l, r)));
  Audec a;
  std::vector<uint8_t> out;
  ASSERT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &out), 0);
  const auto s = Samples16(out);
  ASSERT_EQ(s.size(), size_t{frames / 2});
  // At r = 2 every other tap falls on a zero of the sinc: the output is the
  // mixed sample itself to within one unit.
  for (size_t i = 0; i < s.size(); ++i) {
    const int mixed = (l[2 * i] + r[2 * i]) / 2;
    ASSERT_NEAR(s[i], mixed, 1) << i;
  }
  const Header h = StoredHeader(a, out);
  EXPECT_EQ(h.rate, 8000u);
  EXPECT_EQ(h.channels, 1u);
  EXPECT_EQ(h.dataSize, out.size());
}

TEST(AudecWav, StereoFlagsOff) {
  const int frames = 700;
  const auto l = Tone(frames, 440, 16000, 15000);
  const auto r = Tone(frames, 1000, 16000, 7000);
  const std::vector<uint8_t> data = Pcm16(Interleave(l, r));
  const std::vector<uint8_t> wav = Wav(2, 16000, 16, data);

  // Both flags off: interleaved samples out as they came in.
  Audec a;
  a.StereoToMono(false);
  a.DownSampling(false);
  std::vector<uint8_t> out;
  ASSERT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &out), 0);
  EXPECT_EQ(out, data);
  Header h = StoredHeader(a, out);
  EXPECT_EQ(h.channels, 2u);
  EXPECT_EQ(h.rate, 16000u);
  EXPECT_EQ(h.byteRate, 64000u);
  EXPECT_EQ(h.blockAlign, 4u);

  // Kept stereo but brought to 8 kHz: each channel is resampled on its own,
  // so each keeps its own every-second sample.
  a.DownSampling(true);
  ASSERT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &out), 0);
  const auto s = Samples16(out);
  ASSERT_EQ(s.size(), size_t{2 * (frames / 2)});
  for (size_t i = 0; i < s.size() / 2; ++i) {
    ASSERT_NEAR(s[2 * i], l[2 * i], 1) << i;
    ASSERT_NEAR(s[2 * i + 1], r[2 * i], 1) << i;
  }
  h = StoredHeader(a, out);
  EXPECT_EQ(h.channels, 2u);
  EXPECT_EQ(h.rate, 8000u);
}

// Wide samples keep their top 16 bits; 8-bit samples are unsigned.
TEST(AudecWav, SampleWidths) {
  struct Case {
    int bits, channels;
  };
  for (const Case c :
       {Case{24, 1}, Case{32, 1}, Case{24, 2}, Case{32, 2}, Case{8, 1}, Case{8, 2}}) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.channels << " channels");
    const int bytes = c.bits / 8;
    std::vector<uint8_t> data;
    std::vector<int> top;  // expected 16-bit value of every sample, in order
    uint32_t seed = 12345;
    for (int i = 0; i < 300 * c.channels; ++i) {
      seed = seed * 1103515245u + 12345u;
      if (bytes == 1) {
        const uint8_t b = static_cast<uint8_t>(seed >> 16);
        data.push_back(b);
        top.push_back((b - 128) * 256);
        continue;
      }
      const int16_t hi = static_cast<int16_t>(seed >> 8);
      for (int k = 0; k < bytes - 2; ++k) data.push_back(static_cast<uint8_t>(seed >> (k * 3)));
      PutLe(&data, static_cast<uint16_t>(hi), 2);
      top.push_back(hi);
    }
    if (bytes * c.channels > 1) data.push_back(0x7F);  // a partial frame is ignored
    const std::vector<uint8_t> wav = Wav(c.channels, 8000, c.bits, data);
    Audec a;
    std::vector<uint8_t> out;
    ASSERT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &out), 0);
    const auto s = Samples16(out);
    ASSERT_EQ(s.size(), 300u);
    for (size_t i = 0; i < s.size(); ++i) {
      const int expected = c.channels == 1 ? top[i] : (top[2 * i] + top[2 * i + 1]) / 2;
      ASSERT_EQ(s[i], expected) << i;
    }
  }
}

// Inputs that must be refused without a byte read outside the buffer.
TEST(AudecWav, ShortNullAndUnsupportedInput) {
  Audec a;
  a.Debug(true);
  std::vector<uint8_t> out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(a.Decode(AudecFormatWav, nullptr, 0, &out), -1200);
  EXPECT_EQ(a.Decode(AudecFormatWav, nullptr, 100, &out), -1200);
  const std::vector<uint8_t> full = Wav(1, 8000, 16, Pcm16({1, 2, 3}));
  for (size_t size : {size_t{1}, size_t{8}, size_t{43}}) {
    // Exactly `size` heap bytes, so an over-read is caught by the sanitizer.
    std::unique_ptr<uint8_t[]> buf(new uint8_t[size]);
    std::copy(full.begin(), full.begin() + static_cast<long>(size), buf.get());
    EXPECT_EQ(a.Decode(AudecFormatWav, buf.get(), size, &out), -1200) << size;
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  struct Case {
    int channels, rate, bits, status;
    const char* message;
  };
  for (const Case c : {Case{1, 16000, 12, -1210, "WAVE bit per sample(12) is not supported."},
                       Case{2, 8000, 0, -1210, "WAVE bit per sample(0) is not supported."},
                       Case{1, 0, 16, -1211, "WAVE sampling rate(0) is invalid."},
                       // Rates outside 1,000..192,000 Hz, refused before any conversion (a
                       // 1 Hz header once made 8,000 output samples of every input sample).
                       Case{1, 1, 16, -1211, "WAVE sampling rate(1) is invalid."},
                       Case{1, 999, 8, -1211, "WAVE sampling rate(999) is invalid."},
                       Case{2, 192001, 16, -1211, "WAVE sampling rate(192001) is invalid."},
                       Case{1, -8000, 16, -1211, "WAVE sampling rate(-8000) is invalid."}}) {
    const std::vector<uint8_t> wav = Wav(c.channels, c.rate, c.bits, std::vector<uint8_t>(64, 9));
    testing::internal::CaptureStdout();
    EXPECT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &out), c.status);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find(std::string("### DEBUG : ") + c.message + "\n"), std::string::npos)
        << printed;
  }

  // 8-bit samples at 1,000 Hz brought up to 8 kHz: 16 output bytes per input
  // byte, 256 bytes past the 256 MiB cap, refused before any buffer is made.
  const std::vector<uint8_t> slow = Wav(1, 1000, 8, std::vector<uint8_t>((1u << 24) + 16, 1));
  testing::internal::CaptureStdout();
  EXPECT_EQ(a.Decode(AudecFormatWav, slow.data(), slow.size(), &out), -1212);
  EXPECT_TRUE(testing::internal::GetCapturedStdout().ends_with(
      "### DEBUG : WAVE data is very large (268435712 bytes of output)\n"));
  EXPECT_EQ(Audec::kMaxOutputBytes, 268435456u);

  testing::internal::CaptureStdout();
  EXPECT_EQ(a.Decode(static_cast<AudecFormatType>(7), full.data(), full.size(), &out), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "### DEBUG : Invalid audio format type (7) was specified.\n");
}

TEST(AudecWav, HeaderChecks) {
  const std::vector<uint8_t> good = Wav(1, 16000, 16, Pcm16(Tone(50, 300, 16000, 1000)));
  const int size = static_cast<int>(good.size());
  // A RIFF file with a LIST chunk between "fmt " and "data".
  std::vector<uint8_t> withList(good.begin(), good.begin() + 36);
  PutTag(&withList, "LIST");
  PutLe(&withList, 4, 4);
  PutTag(&withList, "abcd");
  withList.insert(withList.end(), good.begin() + 36, good.end());
  withList[4] = static_cast<uint8_t>(withList.size() - 8);

  struct Case {
    int status;
    std::function<void(std::vector<uint8_t>&)> mutate;
    std::string message;
  };
  const std::vector<Case> cases = {
      {-1201, [](auto& w) { w[3] = 'X'; }, "Error: Audio data is not RIFF (RIFX)."},
      {-1202, [](auto& w) { w[4] += 1; },
       "Error: WAVE size(" + std::to_string(size - 7) + ") != inWavSize(" + std::to_string(size) +
           ") - 8."},
      {-1203, [](auto& w) { w[11] = 'X'; }, "Error: RIFF data is not WAVE (WAVX)."},
      {-1204, [](auto& w) { w[15] = '_'; }, "Error: WAVE data is not fmt (fmt_)."},
      {-1205, [](auto& w) { w[16] = 18; }, "Error: fmt size(18) is not 16"},
      {-1206, [](auto& w) { w[20] = 3; }, "Format-ID(3) is not LinearPCM(1)."},
      {-1207, [](auto& w) { w[22] = 3; }, "WAVE data is not monaural and stereo (3)."},
      {-1207, [](auto& w) { w[22] = 0; }, "WAVE data is not monaural and stereo (0)."},
      {-1208, [&](auto& w) { w = withList; }, "WAVE data part(LIST) is not found."},
      {-1209, [](auto& w) { w[40] -= 2; },
       "Error: data size(" + std::to_string(size) + " - 44) is not " + std::to_string(size - 46)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<uint8_t> wav = good;
    c.mutate(wav);
    for (bool debug : {false, true}) {
      Audec a;
      a.Debug(debug);
      std::vector<uint8_t> out;
      testing::internal::CaptureStdout();
      EXPECT_EQ(a.Decode(AudecFormatWav, wav.data(), wav.size(), &out), c.status);
      const std::string printed = testing::internal::GetCapturedStdout();
      if (!debug) {
        EXPECT_EQ(printed, "");
        continue;
      }
      std::string expected = "### DEBUG : " + c.message + "\n";
      if (c.status <= -1208) {  // the format is traced before the data chunk is checked
        expected =
            "### DEBUG : WAVE Sampling rate is 16000 Hz.\n"
            "### DEBUG : WAVE bit per sample is 16 bps.\n" +
            expected;
      }
      EXPECT_EQ(printed, expected);
      // No header is stored by a failed decode.
      a.Debug(false);
      std::vector<uint8_t> wavOut;
      EXPECT_EQ(a.GetWav({1, 2}, &wavOut, 0), -1);
    }
  }
}

}  // namespace

namespace {

// Odd but well-formed headers under every flag combination: the call ends,
// and on success the stored header describes exactly what came out.
TEST(AudecWav, OddFormatsNeverMisbehave) {
  std::mt19937 gen(2024);
  const int rates[] = {1, 7, 100, 7999, 8000, 8001, 44100, 96000, 1 << 20, INT32_MAX, -8000};
  const int widths[] = {0, 1, 7, 8, 9, 15, 16, 17, 24, 31, 32, 40, 64, 255, 65535};
  for (int iter = 0; iter < 300; ++iter) {
    const int channels = 1 + static_cast<int>(gen() % 2);
    const int rate = rates[gen() % std::size(rates)];
    const int bits = widths[gen() % std::size(widths)];
    std::vector<uint8_t> data(gen() % 64);
    for (auto& b : data) b = static_cast<uint8_t>(gen());
    std::vector<uint8_t> wav = Wav(channels, rate, bits % 65536, data);
    Audec a;
    a.DownSampling(gen() % 2);
    a.StereoToMono(gen() % 2);
    a.LowpassFilter(gen() % 2);
    std::vector<uint8_t> out;
    SCOPED_TRACE(testing::Message() << channels << " ch, " << rate << " Hz, " << bits << " bits");
    const int status = a.Decode(AudecFormatWav, wav.data(), wav.size(), &out);
    if (status != 0) {
      EXPECT_TRUE(status == -1210 || status == -1211) << status;
      continue;
    }
    std::vector<uint8_t> stored;
    if (out.empty()) continue;
    ASSERT_EQ(a.GetWav(out, &stored, 0), 0);
    EXPECT_EQ(Le32(stored, 40), out.size());
    const uint32_t outChannels = a.StereoToMono() ? 1 : channels;
    EXPECT_EQ(Le16(stored, 22), outChannels);
    if (!(channels == 1 && rate == 8000 && bits == 16)) {
      EXPECT_EQ(out.size() % (2 * outChannels), 0u);
    }
  }
}

}  // namespace
