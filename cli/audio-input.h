// Reads a recording of any common form into the engine's input: 16-bit mono
// PCM at 8000 Hz.
//
// WAV (any rate, channel count, sample width or chunk layout), FLAC and the
// other formats of libsndfile are read with libsndfile; MP3 is decoded by the
// kit's own decoder (Audec). Channels are averaged into one, and any other
// rate is brought to 8000 Hz by libsoxr's high-quality (anti-aliasing)
// resampler. 16-bit mono 8000 Hz input is passed through bit for bit.
//
// Thread safety: ReadAudio may run on several threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ravel_audio {

constexpr int kEngineRate = 8000;

enum class AudioStatus {
  kOk = 0,
  kMissing,     // no such file
  kUnreadable,  // exists but cannot be opened or read (a folder, no permission)
  kNotAudio,    // read, but not a recording of a known format
  kTooLarge,    // more samples than the engine can take (2^31)
};

struct AudioInfo {
  std::string format;  // "WAV", "FLAC", "MP3", ...
  int sampleRate = 0;  // of the file
  int channels = 0;    // of the file
  int64_t frames = 0;  // of the file, at its own rate
  double seconds = 0;  // frames / sampleRate
};

struct AudioResult {
  AudioStatus status = AudioStatus::kOk;
  std::string message;  // why, for people; empty on success
};

// Called now and then with the fraction of the file read so far (0..1).
using ProgressCallback = std::function<void(double fraction)>;

// Reads `path` into `pcm` (8000 Hz mono). On failure `pcm` is empty.
AudioResult ReadAudio(const std::string& path, std::vector<int16_t>* pcm, AudioInfo* info,
                      const ProgressCallback& progress = {});

// Mixes interleaved float frames to mono and resamples them to 8000 Hz as
// 16-bit samples, rounding and clipping. Exposed for tests.
bool ResampleToEngineRate(const std::vector<float>& mono, int rate, std::vector<int16_t>* pcm);

// Writes 16-bit mono PCM as a canonical 44-byte-header WAV file.
bool WriteWav(const std::string& path, const std::vector<int16_t>& pcm, int rate = kEngineRate);

}  // namespace ravel_audio
