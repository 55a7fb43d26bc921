#include "drumlin/wave-header.h"

#include <cstring>

namespace drumlin {

std::vector<uint8_t> MakeWaveHeader(uint16_t channels, uint32_t sampleRate, uint32_t pcmBytes) {
  std::vector<uint8_t> h(kWaveHeaderBytes, 0);
  uint8_t* p = h.data();
  std::memcpy(p, "RIFF", 4);
  std::memcpy(p + 8, "WAVEfmt ", 8);
  WriteLe32(p + 16, 16);
  WriteLe16(p + 20, 1);
  WriteLe16(p + kWaveChannelsOffset, channels);
  WriteLe32(p + kWaveSampleRateOffset, sampleRate);
  // The format stores 32 bits; absurd rates wrap exactly as the field would.
  WriteLe32(p + kWaveByteRateOffset, sampleRate * channels * 2u);
  WriteLe16(p + 32, static_cast<uint16_t>(channels * 2));
  WriteLe16(p + kWaveBitsOffset, 16);
  std::memcpy(p + 36, "data", 4);
  SetWaveDataSize(p, pcmBytes);
  return h;
}

void SetWaveDataSize(uint8_t* header, uint32_t pcmBytes) {
  WriteLe32(header + kWaveRiffSizeOffset, pcmBytes + 36u);
  WriteLe32(header + kWaveDataSizeOffset, pcmBytes);
}

}  // namespace drumlin
