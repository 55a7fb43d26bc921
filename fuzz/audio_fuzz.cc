// WAV and MP3 decoding, trimming, re-assembly and splitting on arbitrary
// bytes. The first byte chooses the format and the decoder's flags; the rest
// is the file. Every output must agree with the header the decoder keeps.
#include <cstdint>
#include <cstring>
#include <vector>

#include "drumlin/audec.h"
#include "fuzz/fuzz-util.h"

namespace {

uint32_t Le32(const std::vector<uint8_t>& header, size_t offset) {
  return header[offset] | header[offset + 1] << 8 | header[offset + 2] << 16 |
         static_cast<uint32_t>(header[offset + 3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  // A private copy of exactly the file's bytes, so that any read beyond is caught.
  const std::vector<uint8_t> file(data + 1, data + size);
  const AudecFormatType type = (mode & 1) ? AudecFormatWav : AudecFormatMp3;
  Audec audec;
  audec.DownSampling((mode & 2) == 0);
  audec.StereoToMono((mode & 4) == 0);
  audec.LowpassFilter((mode & 8) != 0);
  std::vector<uint8_t> pcm;
  if (audec.Decode(type, file.data(), file.size(), &pcm) == 0) {
    std::vector<uint8_t> wav;
    if (audec.GetWav(pcm, &wav, (mode >> 4) * 10) == 0) {
      if (wav.size() < 44 || Le32(wav, 40) != wav.size() - 44)
        jor_fuzz::Broken("GetWav's data size disagrees with its bytes");
    }
    std::vector<uint8_t> part;
    (void)audec.TrimPcm(pcm, 100, 900, &part);
  }
  std::vector<uint8_t*> pieces;
  size_t pieceBytes = 0;
  if (audec.SplitWave(type, file.data(), file.size(), 1, pieces, &pieceBytes) == 0) {
    for (uint8_t* p : pieces) {
      uint32_t dataSize;
      std::memcpy(&dataSize, p + 40, 4);
      if (dataSize + 44 != pieceBytes) jor_fuzz::Broken("a piece whose header disagrees");
    }
    audec.SplitWaveRelease(&pieces);
  }
  return 0;
}
