// Reader of RIFF/WAVE files holding 16-bit PCM, mono.
#pragma once

#include <string>
#include <vector>

namespace jor_export {

struct WavAudio {
  int sampleRate = 0;
  std::vector<short> samples;
};

// Reads `path`. Returns an empty string on success, else a reason: the file
// is unreadable, not RIFF/WAVE, not PCM (format 1, or 0xFFFE with a PCM
// subformat), not 16-bit, not mono, or has no "data" chunk. A data chunk that
// claims more bytes than the file holds is cut to what is there.
std::string ReadWav(const std::string& path, WavAudio* audio);

}  // namespace jor_export
