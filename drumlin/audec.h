// Audio decoder of the diarization library: turns a whole WAV or MP3 file
// held in memory into 16-bit little-endian PCM, by default mono at 8000 Hz,
// and keeps the 44-byte WAV header of the last decoded result.
//
// Every operation returns 0 on success or a negative status; none throws.
// One object must not be used by two threads at once.
#pragma once

#include <lame/lame.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/visibility.h"

#if defined(DRUMLIN_BUILDING)
#define DRUMLIN_API JOR_EXPORT_SYMBOL
#else
#define DRUMLIN_API JOR_IMPORT_SYMBOL
#endif

enum AudecFormatType {
  AudecFormatMp3 = 0,
  AudecFormatWav = 1,
};

class DRUMLIN_API Audec {
 public:
  Audec();
  ~Audec();

  void DownSampling(bool on) { downSampling_ = on; }
  bool DownSampling() const { return downSampling_; }
  void StereoToMono(bool on) { stereoToMono_ = on; }
  bool StereoToMono() const { return stereoToMono_; }
  void LowpassFilter(bool on) { lowpass_ = on; }
  bool LowpassFilter() const { return lowpass_; }
  void Debug(bool on) { debug_ = on; }
  bool Debug() const { return debug_; }

  // Decodes a whole file; `outPcm` receives the PCM bytes without header.
  // On failure `outPcm` may hold a partial result.
  int Decode(AudecFormatType type, const uint8_t* data, size_t size, std::vector<uint8_t>* outPcm);

  // Copies the PCM of [beginMs, endMs) of the last decoded result.
  int TrimPcm(const std::vector<uint8_t>& pcm, unsigned int beginMs, unsigned int endMs,
              std::vector<uint8_t>* out);

  // Header of the last decode, adjusted to `pcm`, + pcm + padMs of silence.
  int GetWav(const std::vector<uint8_t>& pcm, std::vector<uint8_t>* wav, int padMs);

  // Decodes and cuts into whole WAV pieces of `seconds` each (a shorter tail
  // is dropped). All pieces live in one block owned by `pieces[0]`; release it
  // with SplitWaveRelease. *pieceBytes is the size of every piece.
  int SplitWave(AudecFormatType type, const uint8_t* data, size_t size, int seconds,
                std::vector<uint8_t*>& pieces, size_t* pieceBytes);
  void SplitWaveRelease(std::vector<uint8_t*>* pieces);

  // Input sample rates outside [kMinSampleRate, kMaxSampleRate] are refused
  // (WAV: kWavRateInvalid, before any conversion): a header that claims 1 Hz
  // would otherwise turn kilobytes into hundreds of megabytes of resampled PCM.
  static constexpr int32_t kMinSampleRate = 1000;
  static constexpr int32_t kMaxSampleRate = 192000;
  // Largest PCM output of one decode: 256 MiB, about 4.6 hours of 8 kHz mono.
  // Longer WAV output is refused with kWavOutputTooLarge before any buffer is
  // made for it, longer MP3 output with -2203 as soon as it is decoded.
  static constexpr uint64_t kMaxOutputBytes = uint64_t{256} << 20;

  // Refusals of input that no other status describes.
  static constexpr int kWavBitsUnsupported = -1210;  // sample width other than 8 or >= 16 bits
  static constexpr int kWavRateInvalid = -1211;      // sample rate outside the range above
  static constexpr int kWavOutputTooLarge = -1212;   // output beyond kMaxOutputBytes
  static constexpr int kGetWavTooLarge = -3;         // GetWav padding beyond kMaxOutputBytes
  static constexpr int kNoMemory = -3000;

 private:
  int DecodeAny(AudecFormatType type, const uint8_t* data, size_t size,
                std::vector<uint8_t>* outPcm, int badTypeStatus);
  int DecodeWav(const uint8_t* data, size_t size, std::vector<uint8_t>* outPcm);
  int DecodeMp3(const uint8_t* data, size_t size, std::vector<uint8_t>* outPcm);
  int DecodeMp3Frames(std::vector<int16_t>* samples, int64_t* totalSamples);
  bool Resampling() const;
  uint64_t OutputBytes(uint64_t frames, size_t channels) const;
  void ReserveMp3Samples(std::vector<int16_t>* samples) const;
  int Serialise(std::vector<int16_t>* samples, size_t channels, std::vector<uint8_t>* outPcm);
  void CloseLame();
  void WriteWaveHeader(uint32_t pcmbytes);
  void Print(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  lame_t lame_ = nullptr;
  hip_t hip_ = nullptr;
  const uint8_t* mp3Cursor_ = nullptr;
  size_t mp3Reslen_ = 0;
  mp3data_struct mp3data_{};
  std::vector<uint8_t> wavHeader_;
  int32_t sampleRate_ = 0;
  int32_t channels_ = 0;
  int16_t bitsPerSample_ = 0;
  bool downSampling_ = true;
  bool stereoToMono_ = true;
  bool lowpass_ = false;
  bool debug_ = false;
};
