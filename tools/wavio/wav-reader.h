/* Reader of RIFF/WAVE files holding 16-bit mono PCM, for the tools, the
 * examples and the tests. (The diarization library's decoder, Audec, keeps its
 * own stricter reader of the canonical 44-byte header.)
 *
 * Written in C so that the C examples share it; C++ callers have ReadWav
 * below. */
#ifndef JOR_TOOLS_WAVIO_WAV_READER_H_
#define JOR_TOOLS_WAVIO_WAV_READER_H_

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct JorWav {
  int sampleRate;
  short* samples; /* malloc'ed, owned by the caller: release with JorWavFree */
  size_t count;
} JorWav;

/* Reads `path` into `wav`. Returns NULL on success, else a reason (a static
 * string): the file is unreadable, not RIFF/WAVE, not PCM (format 1, or 0xFFFE
 * with a PCM subformat), not 16-bit, not mono, has a sampling rate of 0 or
 * above 1 MHz, or has no "fmt " chunk before its "data" chunk. Chunks other
 * than "fmt " and "data" are skipped. A data chunk that claims more bytes than
 * the file holds is cut to what is there. On failure `wav` holds nothing. */
const char* JorWavRead(const char* path, JorWav* wav);

/* Releases the samples and empties `wav`. */
void JorWavFree(JorWav* wav);

#ifdef __cplusplus
}  // extern "C"

#include <string>
#include <vector>

namespace wavio {

// JorWavRead for C++: an empty string on success, else the reason.
inline std::string ReadWav(const std::string& path, std::vector<short>* samples,
                           int* sampleRate = nullptr) {
  JorWav wav{};
  const char* why = JorWavRead(path.c_str(), &wav);
  if (why != nullptr) return why;
  samples->assign(wav.samples, wav.samples + wav.count);
  if (sampleRate != nullptr) *sampleRate = wav.sampleRate;
  JorWavFree(&wav);
  return std::string();
}

}  // namespace wavio
#endif

#endif /* JOR_TOOLS_WAVIO_WAV_READER_H_ */
