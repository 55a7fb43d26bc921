#include "drumlin/audec.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "drumlin/biquad-filter.h"
#include "drumlin/sinc-resampler.h"
#include "drumlin/wave-header.h"

using drumlin::kWaveHeaderBytes;
using drumlin::ReadLe16;
using drumlin::ReadLe32;

namespace {

constexpr size_t kMp3BlockBytes = 4096;
constexpr int kMp3PcmSamples = 4096;
// Largest output of one decode (far below the 32-bit limit of a WAV header).
constexpr uint64_t kMaxDataBytes = Audec::kMaxOutputBytes;
// A frame consumes at least its 4 header bytes, so draining what one block
// and the decoder's leftovers hold can never need this many calls; a decoder
// that keeps producing beyond it is treated as failing.
constexpr int kMaxDrainCalls = 1 << 16;

constexpr int kFinalDrainZeros = 8;

void Quiet(const char*, va_list) {}

int16_t ReadSample(const uint8_t* p, int bytes) {
  if (bytes == 1) return static_cast<int16_t>((p[0] - 128) * 256);  // unsigned 8-bit
  return static_cast<int16_t>(ReadLe16(p + bytes - 2));             // top 16 bits
}

}  // namespace

Audec::Audec() {
  wavHeader_.clear();
}

Audec::~Audec() {
  CloseLame();
}

void Audec::Print(const char* format, ...) const {
  if (!debug_) return;
  char buf[1024];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof(buf), format, ap);
  va_end(ap);
  std::printf("### DEBUG : %s\n", buf);
}

void Audec::WriteWaveHeader(uint32_t pcmbytes) {
  const uint16_t channels = stereoToMono_ ? 1 : static_cast<uint16_t>(channels_);
  const uint32_t rate = downSampling_ ? drumlin::kTargetRate : static_cast<uint32_t>(sampleRate_);
  wavHeader_ = drumlin::MakeWaveHeader(channels, rate, pcmbytes);
}

void Audec::CloseLame() {
  if (hip_ != nullptr) hip_decode_exit(hip_);
  hip_ = nullptr;
  if (lame_ != nullptr) lame_close(lame_);
  lame_ = nullptr;
}

int Audec::Decode(AudecFormatType type, const uint8_t* data, size_t size,
                  std::vector<uint8_t>* outPcm) {
  return DecodeAny(type, data, size, outPcm, -1);
}

int Audec::DecodeAny(AudecFormatType type, const uint8_t* data, size_t size,
                     std::vector<uint8_t>* outPcm, int badTypeStatus) {
  const int t = static_cast<int>(type);
  if (t != AudecFormatMp3 && t != AudecFormatWav) {
    Print("Invalid audio format type (%d) was specified.", t);
    return badTypeStatus;
  }
  if (outPcm == nullptr) return badTypeStatus;
  outPcm->clear();
  try {
    return t == AudecFormatWav ? DecodeWav(data, size, outPcm) : DecodeMp3(data, size, outPcm);
  } catch (const std::bad_alloc&) {
    CloseLame();
    return kNoMemory;
  }
}

int Audec::DecodeWav(const uint8_t* data, size_t size, std::vector<uint8_t>* outPcm) {
  sampleRate_ = 0;
  channels_ = 0;
  bitsPerSample_ = 0;
  // Too short for a header, or no data at all: nothing may be read.
  if (size < kWaveHeaderBytes || data == nullptr) return -1200;

  const uint8_t* h = data;
  if (std::memcmp(h, "RIFF", 4) != 0) {
    Print("Error: Audio data is not RIFF (%c%c%c%c).", h[0], h[1], h[2], h[3]);
    return -1201;
  }
  const int32_t riffSize = static_cast<int32_t>(ReadLe32(h + 4));
  if (static_cast<int64_t>(riffSize) + 8 != static_cast<int64_t>(size)) {
    Print("Error: WAVE size(%d) != inWavSize(%d) - 8.", riffSize, static_cast<int>(size));
    return -1202;
  }
  if (std::memcmp(h + 8, "WAVE", 4) != 0) {
    Print("Error: RIFF data is not WAVE (%c%c%c%c).", h[8], h[9], h[10], h[11]);
    return -1203;
  }
  if (std::memcmp(h + 12, "fmt ", 4) != 0) {
    Print("Error: WAVE data is not fmt (%c%c%c%c).", h[12], h[13], h[14], h[15]);
    return -1204;
  }
  const uint32_t fmtSize = ReadLe32(h + 16);
  if (fmtSize != 16) {
    Print("Error: fmt size(%d) is not %d", static_cast<int>(fmtSize), 16);
    return -1205;
  }
  const int16_t formatId = static_cast<int16_t>(ReadLe16(h + 20));
  if (formatId != 1) {
    Print("Format-ID(%d) is not LinearPCM(%d).", formatId, 1);
    return -1206;
  }
  const int16_t channels = static_cast<int16_t>(ReadLe16(h + drumlin::kWaveChannelsOffset));
  if (channels != 1 && channels != 2) {
    Print("WAVE data is not monaural and stereo (%d).", channels);
    return -1207;
  }
  const int32_t rate = static_cast<int32_t>(ReadLe32(h + drumlin::kWaveSampleRateOffset));
  const int16_t bits = static_cast<int16_t>(ReadLe16(h + drumlin::kWaveBitsOffset));
  Print("WAVE Sampling rate is %d Hz.", rate);
  Print("WAVE bit per sample is %d bps.", bits);
  if (std::memcmp(h + 36, "data", 4) != 0) {
    Print("WAVE data part(%c%c%c%c) is not found.", h[36], h[37], h[38], h[39]);
    return -1208;
  }
  const int32_t dataSize = static_cast<int32_t>(ReadLe32(h + drumlin::kWaveDataSizeOffset));
  if (static_cast<int64_t>(dataSize) + 44 != static_cast<int64_t>(size)) {
    Print("Error: data size(%d - %d) is not %d", static_cast<int>(size), 44, dataSize);
    return -1209;
  }
  sampleRate_ = rate;
  channels_ = channels;
  bitsPerSample_ = bits;

  const uint8_t* pcm = data + kWaveHeaderBytes;
  const size_t L = size - kWaveHeaderBytes;
  if (rate < kMinSampleRate || rate > kMaxSampleRate) {
    Print("WAVE sampling rate(%d) is invalid.", rate);
    return kWavRateInvalid;
  }
  if (channels == 1 && rate == drumlin::kTargetRate && bits == 16) {
    if (L > kMaxDataBytes) {
      Print("WAVE data is very large (%llu bytes of output)", static_cast<unsigned long long>(L));
      return kWavOutputTooLarge;
    }
    outPcm->assign(pcm, pcm + L);
    WriteWaveHeader(static_cast<uint32_t>(L));
    return 0;
  }
  // Samples are read as their top two bytes; one-byte samples are unsigned
  // 8-bit, and widths between have no such reading.
  if (bits != 8 && bits < 16) {
    Print("WAVE bit per sample(%d) is not supported.", bits);
    return kWavBitsUnsupported;
  }

  const int sampleBytes = bits / 8;
  const size_t frameBytes = static_cast<size_t>(sampleBytes) * static_cast<size_t>(channels);
  const size_t frames = L / frameBytes;
  const bool interleaved = channels == 2 && !stereoToMono_;
  // Refused before any buffer is made for it.
  if (OutputBytes(frames, interleaved ? 2 : 1) > kMaxDataBytes) {
    Print("WAVE data is very large (%llu bytes of output)",
          static_cast<unsigned long long>(OutputBytes(frames, interleaved ? 2 : 1)));
    return kWavOutputTooLarge;
  }
  std::vector<int16_t> samples;
  samples.reserve(frames * (interleaved ? 2 : 1));
  for (size_t f = 0; f < frames; ++f) {
    const uint8_t* p = pcm + f * frameBytes;
    const int16_t first = ReadSample(p, sampleBytes);
    if (channels == 1) {
      samples.push_back(first);
      continue;
    }
    const int16_t second = ReadSample(p + sampleBytes, sampleBytes);
    if (stereoToMono_) {
      samples.push_back(static_cast<int16_t>((first + second) / 2));
    } else {
      samples.push_back(first);
      samples.push_back(second);
    }
  }
  const int status = Serialise(&samples, interleaved ? 2 : 1, outPcm);
  if (status != 0) return status;
  Print("outPcm->size() = %lu", static_cast<unsigned long>(outPcm->size()));
  WriteWaveHeader(static_cast<uint32_t>(outPcm->size()));
  return 0;
}

bool Audec::Resampling() const {
  return sampleRate_ != drumlin::kTargetRate && downSampling_;
}

uint64_t Audec::OutputBytes(uint64_t frames, size_t channels) const {
  const uint64_t outFrames = Resampling() ? drumlin::SincOutputFrames(frames, sampleRate_) : frames;
  return outFrames * channels * 2;
}

int Audec::Serialise(std::vector<int16_t>* samples, size_t channels, std::vector<uint8_t>* outPcm) {
  if (sampleRate_ <= 0) return kWavRateInvalid;
  const size_t frames = samples->size() / channels;
  // Each channel of interleaved stereo is filtered and resampled on its own.
  if (lowpass_) {
    const drumlin::BiquadLowpass filter(sampleRate_);
    for (size_t c = 0; c < channels; ++c) filter.Run(samples->data() + c, frames, channels);
  }
  if (OutputBytes(frames, channels) > kMaxDataBytes) {
    Print("WAVE data is very large (%llu bytes of output)",
          static_cast<unsigned long long>(OutputBytes(frames, channels)));
    return kWavOutputTooLarge;
  }
  const int16_t* src = samples->data();
  size_t count = samples->size();
  std::vector<int16_t> resampled;
  if (Resampling()) {
    const uint64_t outFrames = drumlin::SincOutputFrames(frames, sampleRate_);
    Print("maxSampling = %d", static_cast<int>(outFrames));
    resampled.resize(outFrames * channels);
    for (size_t c = 0; c < channels; ++c) {
      drumlin::SincResample(samples->data() + c, frames, channels, sampleRate_,
                            resampled.data() + c, channels);
    }
    src = resampled.data();
    count = resampled.size();
  }
  outPcm->resize(count * 2);
  uint8_t* out = outPcm->data();
  for (size_t i = 0; i < count; ++i) {
    drumlin::WriteLe16(out + 2 * i, static_cast<uint16_t>(src[i]));
  }
  return 0;
}

int Audec::DecodeMp3(const uint8_t* data, size_t size, std::vector<uint8_t>* outPcm) {
  sampleRate_ = 0;
  channels_ = 0;
  bitsPerSample_ = 0;
  std::memset(&mp3data_, 0, sizeof(mp3data_));
  CloseLame();
  // The handles are closed on every way out.
  struct Closer {
    Audec* self;
    ~Closer() { self->CloseLame(); }
  } closer{this};

  lame_ = lame_init();
  if (lame_ == nullptr) {
    Print("Failed to initialize LAME.");
    return -2100;
  }
  lame_set_decode_only(lame_, 1);
  if (lame_init_params(lame_) == -1) {
    Print("Failed to initialize LAME parameters.");
    return -2101;
  }
  hip_ = hip_decode_init();
  if (hip_ == nullptr) {
    Print("Failed to initialize LAME hip.");
    return -2102;
  }
  // The decoder reports stream damage on stderr; statuses say enough.
  hip_set_errorf(hip_, Quiet);
  hip_set_debugf(hip_, Quiet);
  hip_set_msgf(hip_, Quiet);

  mp3Cursor_ = data;
  mp3Reslen_ = data == nullptr ? 0 : size;
  std::vector<int16_t> samples;
  int64_t totalSamples = 0;
  const int status = DecodeMp3Frames(&samples, &totalSamples);
  mp3Cursor_ = nullptr;
  mp3Reslen_ = 0;
  if (status != 0) return status;

  Print("tmpPcm.size() = %lu", static_cast<unsigned long>(samples.size()));
  Print("mp3data_.samplerate = %d", mp3data_.samplerate);
  const bool interleaved = channels_ == 2 && !stereoToMono_;
  const int chunkSize = interleaved ? 4 : 2;
  if (totalSamples <= 0) {
    Print("Failed to read MP3 data (totalSamples = %d)", static_cast<int>(totalSamples));
    return -2202;
  }
  if (static_cast<uint64_t>(totalSamples) > kMaxDataBytes / chunkSize) {
    Print("MP3 data is very large (totalSamples * chunkSize = %ld * %d = %lld)",
          static_cast<long>(totalSamples), chunkSize,
          static_cast<long long>(totalSamples) * chunkSize);
    return -2203;
  }
  const int serialised = Serialise(&samples, interleaved ? 2 : 1, outPcm);
  if (serialised != 0) return serialised;
  Print("outPcm->size() = %lu (totalSamples(%ld) * chunkSize(%d) = %lld)",
        static_cast<unsigned long>(outPcm->size()), static_cast<long>(totalSamples), chunkSize,
        static_cast<long long>(totalSamples) * chunkSize);
  WriteWaveHeader(static_cast<uint32_t>(outPcm->size()));
  return 0;
}

int Audec::DecodeMp3Frames(std::vector<int16_t>* samples, int64_t* totalSamples) {
  short left[kMp3PcmSamples] = {};
  short right[kMp3PcmSamples] = {};
  unsigned char block[kMp3BlockBytes];
  while (mp3Reslen_ > 0) {
    const size_t bufSize = std::min(mp3Reslen_, kMp3BlockBytes);
    std::memcpy(block, mp3Cursor_, bufSize);
    mp3Cursor_ += bufSize;
    mp3Reslen_ -= bufSize;
    Print("mp3Reslen_ = %lu, bufSize = %d", static_cast<unsigned long>(mp3Reslen_),
          static_cast<int>(bufSize));
    size_t inBytes = bufSize;
    const int zerosToStop = mp3Reslen_ == 0 ? kFinalDrainZeros : 1;
    int zeros = 0;
    for (int calls = 0;; ++calls) {
      const int ret = calls > kMaxDrainCalls
                          ? -1
                          : hip_decode1_headers(hip_, block, inBytes, left, right, &mp3data_);
      inBytes = 0;
      if (ret < 0 || ret > kMp3PcmSamples) {
        Print("Failed to decode (samples = %d)", ret);
        return -2200;
      }
      if (mp3data_.header_parsed == 1 && channels_ == 0) {
        sampleRate_ = mp3data_.samplerate;
        channels_ = mp3data_.stereo == 2 ? 2 : 1;
        WriteWaveHeader(0x7FFFFFFF);
        ReserveMp3Samples(samples);
      }
      if (ret > 0 && mp3data_.header_parsed != 1) {
        Print("WARN : LAME decode error!!");
        return -2201;
      }
      const size_t base = samples->size();
      if (channels_ == 1) {
        samples->resize(base + ret);
        int16_t* out = samples->data() + base;
        for (int i = 0; i < ret; ++i) out[i] = left[i];
      } else if (stereoToMono_) {
        samples->resize(base + ret);
        int16_t* out = samples->data() + base;
        for (int i = 0; i < ret; ++i) out[i] = static_cast<int16_t>((left[i] + right[i]) / 2);
      } else {
        samples->resize(base + 2 * static_cast<size_t>(ret));
        int16_t* out = samples->data() + base;
        for (int i = 0; i < ret; ++i) {
          out[2 * i] = left[i];
          out[2 * i + 1] = right[i];
        }
      }
      Print("samples = %d", ret);
      *totalSamples += ret;
      if (samples->size() * 2 > kMaxDataBytes) {
        Print("MP3 data is very large (more than %llu bytes of output)",
              static_cast<unsigned long long>(kMaxDataBytes));
        return -2203;
      }
      // The decoder also answers 0 for a call that only consumed a tag frame
      // or a frame whose reservoir data is missing, with whole frames still
      // buffered. Mid-stream those wait for the next block; after the last
      // block a few empty answers in a row are needed to be sure.
      if (ret != 0) {
        zeros = 0;
      } else if (calls > 0 && ++zeros >= zerosToStop) {
        break;
      }
    }
  }
  return 0;
}

void Audec::ReserveMp3Samples(std::vector<int16_t>* samples) const {
  // Sized from the first frame's bitrate so that long files do not grow the
  // buffer step by step; capped because that bitrate may be garbage.
  constexpr double kMaxReserve = 64.0 * 1024 * 1024;
  if (mp3data_.bitrate <= 0 || mp3data_.samplerate <= 0) return;
  const double seconds = (mp3Reslen_ + kMp3BlockBytes) * 8.0 / (mp3data_.bitrate * 1000.0);
  const double perSecond = mp3data_.samplerate * (channels_ == 2 && !stereoToMono_ ? 2.0 : 1.0);
  const double estimate = std::min(seconds * perSecond * 1.02 + kMp3PcmSamples, kMaxReserve);
  samples->reserve(static_cast<size_t>(estimate));
}

int Audec::TrimPcm(const std::vector<uint8_t>& pcm, unsigned int beginMs, unsigned int endMs,
                   std::vector<uint8_t>* out) {
  if (wavHeader_.size() < kWaveHeaderBytes) {
    Print("There is no decoded wave-header. TrimPcm() should be called after Decode().");
    return -1;
  }
  if (beginMs >= endMs) {
    Print("Begin(%lu) >= End(%lu)", static_cast<unsigned long>(beginMs),
          static_cast<unsigned long>(endMs));
    return -2;
  }
  const uint64_t bytesPerMs = ReadLe32(wavHeader_.data() + drumlin::kWaveByteRateOffset) / 1000;
  const uint64_t dataSize = ReadLe32(wavHeader_.data() + drumlin::kWaveDataSizeOffset);
  const uint64_t begin = beginMs * bytesPerMs;
  const uint64_t end = endMs * bytesPerMs;
  // The range must also lie inside the buffer actually passed.
  if (begin >= dataSize || end > dataSize || end > pcm.size() || out == nullptr) {
    Print("Begin size(%zu), End size(%zu), Data size(%d)", static_cast<size_t>(begin),
          static_cast<size_t>(end), static_cast<int>(dataSize));
    return -3;
  }
  try {
    out->assign(pcm.begin() + static_cast<ptrdiff_t>(begin),
                pcm.begin() + static_cast<ptrdiff_t>(end));
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  return 0;
}

int Audec::GetWav(const std::vector<uint8_t>& pcm, std::vector<uint8_t>* wav, int padMs) {
  if (wavHeader_.size() < kWaveHeaderBytes) {
    Print("There is no decoded wave-header. GetWav() should be called after Decode().");
    return -1;
  }
  const uint32_t dataSize = ReadLe32(wavHeader_.data() + drumlin::kWaveDataSizeOffset);
  if (pcm.empty() || pcm.size() > dataSize || wav == nullptr) {
    Print("inPCM size(%zu) is invalid (Data size in wav-header is %d)", pcm.size(),
          static_cast<int>(dataSize));
    return -2;
  }
  uint8_t header[kWaveHeaderBytes];
  std::memcpy(header, wavHeader_.data(), kWaveHeaderBytes);
  const uint64_t bytesPerMs = ReadLe32(header + drumlin::kWaveByteRateOffset) / 1000;
  const uint64_t silence = padMs > 0 ? static_cast<uint64_t>(padMs) * bytesPerMs : 0;
  if (pcm.size() + silence > kMaxDataBytes) {
    Print("Padding(%d ms) makes the wave data too large", padMs);
    return kGetWavTooLarge;
  }
  drumlin::SetWaveDataSize(header, static_cast<uint32_t>(pcm.size() + silence));
  try {
    wav->clear();
    wav->reserve(kWaveHeaderBytes + pcm.size() + silence);
    wav->insert(wav->end(), header, header + kWaveHeaderBytes);
    wav->insert(wav->end(), pcm.begin(), pcm.end());
    wav->resize(wav->size() + silence, 0);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
  return 0;
}

int Audec::SplitWave(AudecFormatType type, const uint8_t* data, size_t size, int seconds,
                     std::vector<uint8_t*>& pieces, size_t* pieceBytes) {
  if (seconds < 1) return -1000;
  SplitWaveRelease(&pieces);
  // A vector whose first pointer is null owns nothing; start it afresh.
  pieces.clear();

  std::vector<uint8_t> pcm;
  const int status = DecodeAny(type, data, size, &pcm, -1000);
  if (status != 0) return status;

  const uint64_t byteRate = ReadLe32(wavHeader_.data() + drumlin::kWaveByteRateOffset);
  const uint64_t pieceData = static_cast<uint64_t>(seconds) * (byteRate / 1000 * 1000);
  const uint64_t n = pcm.size();
  // Below 1000 bytes per second a piece would be empty: no piece can be cut.
  if (n < pieceData || pieceData == 0) {
    Print("Split size(%lu) > Wave data size(%lu)\n", static_cast<unsigned long>(pieceData),
          static_cast<unsigned long>(n));
    return -1001;
  }
  const uint64_t count = n / pieceData;
  const uint64_t blockBytes = n + (n + pieceData - 1) / pieceData * kWaveHeaderBytes;
  uint8_t* block = static_cast<uint8_t*>(std::malloc(blockBytes));
  if (block == nullptr) return kNoMemory;

  uint8_t header[kWaveHeaderBytes];
  std::memcpy(header, wavHeader_.data(), kWaveHeaderBytes);
  drumlin::SetWaveDataSize(header, static_cast<uint32_t>(pieceData));
  try {
    pieces.reserve(count);
  } catch (const std::bad_alloc&) {
    std::free(block);
    return kNoMemory;
  }
  uint8_t* p = block;
  for (uint64_t i = 0; i < count; ++i) {
    std::memcpy(p, header, kWaveHeaderBytes);
    std::memcpy(p + kWaveHeaderBytes, pcm.data() + i * pieceData, pieceData);
    pieces.push_back(p);
    p += kWaveHeaderBytes + pieceData;
  }
  if (pieceBytes != nullptr) *pieceBytes = kWaveHeaderBytes + pieceData;
  return 0;
}

void Audec::SplitWaveRelease(std::vector<uint8_t*>* pieces) {
  if (pieces == nullptr || pieces->empty() || (*pieces)[0] == nullptr) return;
  std::free((*pieces)[0]);
  pieces->clear();
}
