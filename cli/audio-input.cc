#include "cli/audio-input.h"

#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "drumlin/audec.h"

namespace ravel_audio {
namespace {

// Beyond this many output samples (74 hours) a recording is refused rather
// than allocated.
constexpr int64_t kMaxSamples = int64_t{1} << 31;
constexpr sf_count_t kChunkFrames = 1 << 16;

int16_t ToSample(float x) {
  const float scaled = std::nearbyint(x * 32768.0f);
  if (!(scaled >= -32768.0f)) return scaled != scaled ? 0 : -32768;  // NaN gives silence
  if (scaled > 32767.0f) return 32767;
  return static_cast<int16_t>(scaled);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Streaming high-quality resampler to 8000 Hz, float in, 16-bit out.
class Resampler {
 public:
  explicit Resampler(int rate) : rate_(rate) {
    if (rate_ == kEngineRate) return;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    soxr_ = soxr_create(rate_, kEngineRate, 1, &error, &io, &quality, nullptr);
    if (error != nullptr) soxr_ = nullptr;
  }
  ~Resampler() {
    if (soxr_) soxr_delete(soxr_);
  }
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  bool ok() const { return rate_ == kEngineRate || soxr_ != nullptr; }

  // A null `in` flushes the filter's tail.
  bool Push(const float* in, size_t n, std::vector<int16_t>* out) {
    if (rate_ == kEngineRate) {
      for (size_t i = 0; i < n; ++i) out->push_back(ToSample(in[i]));
      return true;
    }
    const size_t room = static_cast<size_t>(static_cast<double>(n) * kEngineRate / rate_) + 256;
    buffer_.resize(room);
    size_t consumed = 0;
    do {
      size_t used = 0, made = 0;
      if (soxr_process(soxr_, in ? in + consumed : nullptr, in ? n - consumed : 0, &used,
                       buffer_.data(), buffer_.size(), &made) != nullptr) {
        return false;
      }
      consumed += used;
      if (in != nullptr && used == 0 && made == 0) break;  // nothing moves: stop
      for (size_t i = 0; i < made; ++i) out->push_back(ToSample(buffer_[i]));
      if (static_cast<int64_t>(out->size()) > kMaxSamples) return false;
      // A flush ends when nothing more comes; input ends when all is taken.
      if (in == nullptr ? made == 0 : (consumed >= n && made < buffer_.size())) break;
    } while (true);
    return true;
  }

 private:
  int rate_;
  soxr_t soxr_ = nullptr;
  std::vector<float> buffer_;
};

AudioResult Fail(AudioStatus status, std::string message, std::vector<int16_t>* pcm) {
  pcm->clear();
  return {status, std::move(message)};
}

// Channels of the first MPEG audio frame (after an ID3v2 tag); 0 if none.
int Mp3Channels(const std::vector<uint8_t>& data) {
  size_t at = 0;
  if (data.size() >= 10 && data[0] == 'I' && data[1] == 'D' && data[2] == '3') {
    at = 10 + ((static_cast<size_t>(data[6] & 0x7F) << 21) | ((data[7] & 0x7F) << 14) |
               ((data[8] & 0x7F) << 7) | (data[9] & 0x7F));
  }
  for (; at + 4 <= data.size(); ++at) {
    if (data[at] == 0xFF && (data[at + 1] & 0xE0) == 0xE0 && (data[at + 1] & 0x06) != 0) {
      return (data[at + 3] >> 6) == 3 ? 1 : 2;
    }
  }
  return 0;
}

AudioResult ReadMp3(const std::string& path, std::vector<int16_t>* pcm, AudioInfo* info,
                    const ProgressCallback& progress) {
  std::vector<uint8_t> data;
  {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return Fail(AudioStatus::kUnreadable, std::strerror(errno), pcm);
    uint8_t block[1 << 16];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0)
      data.insert(data.end(), block, block + got);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) return Fail(AudioStatus::kUnreadable, "read error", pcm);
  }
  Audec audec;
  audec.DownSampling(false);  // resampled below, with an anti-aliasing filter
  audec.StereoToMono(true);
  std::vector<uint8_t> bytes;
  const int r = audec.Decode(AudecFormatMp3, data.data(), data.size(), &bytes);
  if (r != 0) {
    return Fail(AudioStatus::kNotAudio,
                "not a readable MP3 recording (decoder status " + std::to_string(r) + ")", pcm);
  }
  std::vector<uint8_t> wav;
  if (bytes.empty() || audec.GetWav(bytes, &wav, 0) != 0 || wav.size() < 44) {
    return Fail(AudioStatus::kNotAudio, "MP3 recording without audio", pcm);
  }
  int32_t rate = 0;
  std::memcpy(&rate, wav.data() + 24, 4);
  if (rate <= 0) return Fail(AudioStatus::kNotAudio, "MP3 recording without a sample rate", pcm);
  const size_t count = bytes.size() / 2;
  info->format = "MP3";
  info->sampleRate = rate;
  info->frames = static_cast<int64_t>(count);
  info->seconds = static_cast<double>(count) / rate;
  if (progress) progress(0.5);
  pcm->clear();
  Resampler resampler(rate);
  if (!resampler.ok()) return Fail(AudioStatus::kNotAudio, "cannot resample the recording", pcm);
  std::vector<float> chunk;
  for (size_t at = 0; at < count; at += kChunkFrames) {
    const size_t n = std::min(count - at, static_cast<size_t>(kChunkFrames));
    chunk.resize(n);
    for (size_t i = 0; i < n; ++i) {
      int16_t v;
      std::memcpy(&v, bytes.data() + 2 * (at + i), 2);
      chunk[i] = static_cast<float>(v) / 32768.0f;
    }
    if (!resampler.Push(chunk.data(), n, pcm)) {
      return Fail(AudioStatus::kTooLarge, "recording too long", pcm);
    }
  }
  if (!resampler.Push(nullptr, 0, pcm))
    return Fail(AudioStatus::kTooLarge, "recording too long", pcm);
  info->channels = Mp3Channels(data);
  return {};
}

struct SndfileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};

std::string FormatName(int format) {
  SF_FORMAT_INFO fi{};
  fi.format = format & SF_FORMAT_TYPEMASK;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &fi, sizeof fi) == 0 && fi.name) {
    std::string name = fi.name;
    const size_t space = name.find(' ');
    return space == std::string::npos ? name : name.substr(0, space);
  }
  return "audio";
}

AudioResult ReadSndfile(const std::string& path, std::vector<int16_t>* pcm, AudioInfo* info,
                        const ProgressCallback& progress) {
  SF_INFO sfinfo{};
  std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(path.c_str(), SFM_READ, &sfinfo));
  if (!file) {
    return Fail(AudioStatus::kNotAudio,
                std::string("not a recording of a known format (") + sf_strerror(nullptr) + ")",
                pcm);
  }
  if (sfinfo.samplerate <= 0 || sfinfo.channels <= 0 || sfinfo.frames < 0) {
    return Fail(AudioStatus::kNotAudio, "recording without a sample rate or channels", pcm);
  }
  info->format = FormatName(sfinfo.format);
  info->sampleRate = sfinfo.samplerate;
  info->channels = sfinfo.channels;
  info->frames = sfinfo.frames;
  info->seconds = static_cast<double>(sfinfo.frames) / sfinfo.samplerate;
  if (static_cast<double>(sfinfo.frames) * kEngineRate / sfinfo.samplerate >
      static_cast<double>(kMaxSamples)) {
    return Fail(AudioStatus::kTooLarge, "recording too long", pcm);
  }
  pcm->clear();
  pcm->reserve(
      static_cast<size_t>(static_cast<double>(sfinfo.frames) * kEngineRate / sfinfo.samplerate) +
      16);
  const int channels = sfinfo.channels;
  const bool sixteenBit = (sfinfo.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
  if (sfinfo.samplerate == kEngineRate && channels == 1 && sixteenBit) {
    // The engine's own format: the samples exactly as stored.
    std::vector<short> chunk(kChunkFrames);
    sf_count_t got, total = 0;
    while ((got = sf_readf_short(file.get(), chunk.data(), kChunkFrames)) > 0) {
      pcm->insert(pcm->end(), chunk.begin(), chunk.begin() + got);
      total += got;
      if (progress && sfinfo.frames > 0) progress(static_cast<double>(total) / sfinfo.frames);
    }
  } else {
    Resampler resampler(sfinfo.samplerate);
    if (!resampler.ok()) return Fail(AudioStatus::kNotAudio, "cannot resample the recording", pcm);
    std::vector<float> chunk(static_cast<size_t>(kChunkFrames) * channels);
    std::vector<float> mono(kChunkFrames);
    sf_count_t got, total = 0;
    while ((got = sf_readf_float(file.get(), chunk.data(), kChunkFrames)) > 0) {
      for (sf_count_t i = 0; i < got; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c) sum += chunk[static_cast<size_t>(i) * channels + c];
        mono[i] = sum / static_cast<float>(channels);
      }
      if (!resampler.Push(mono.data(), static_cast<size_t>(got), pcm)) {
        return Fail(AudioStatus::kTooLarge, "recording too long or not resamplable", pcm);
      }
      total += got;
      if (progress && sfinfo.frames > 0) progress(static_cast<double>(total) / sfinfo.frames);
    }
    if (!resampler.Push(nullptr, 0, pcm)) {
      return Fail(AudioStatus::kTooLarge, "recording too long or not resamplable", pcm);
    }
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    return Fail(AudioStatus::kNotAudio,
                std::string("damaged recording (") + sf_strerror(file.get()) + ")", pcm);
  }
  return {};
}

bool LooksLikeMp3(const std::string& path) {
  if (EndsWith(Lower(path), ".mp3")) return true;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t head[3] = {0, 0, 0};
  const size_t got = std::fread(head, 1, 3, f);
  std::fclose(f);
  if (got < 3) return false;
  if (head[0] == 'I' && head[1] == 'D' && head[2] == '3') return true;
  // MPEG audio frame sync, layer III.
  return head[0] == 0xFF && (head[1] & 0xE0) == 0xE0 && (head[1] & 0x06) == 0x02;
}

}  // namespace

AudioResult ReadAudio(const std::string& path, std::vector<int16_t>* pcm, AudioInfo* info,
                      const ProgressCallback& progress) {
  AudioInfo local;
  if (info == nullptr) info = &local;
  *info = AudioInfo{};
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR)
      return Fail(AudioStatus::kMissing, "no such file", pcm);
    return Fail(AudioStatus::kUnreadable, std::strerror(errno), pcm);
  }
  if (S_ISDIR(st.st_mode)) return Fail(AudioStatus::kUnreadable, "a folder, not a file", pcm);
  {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return Fail(AudioStatus::kUnreadable, std::strerror(errno), pcm);
    std::fclose(f);
  }
  if (st.st_size == 0) return Fail(AudioStatus::kNotAudio, "empty file", pcm);
  try {
    AudioResult r = LooksLikeMp3(path) ? ReadMp3(path, pcm, info, progress)
                                       : ReadSndfile(path, pcm, info, progress);
    if (r.status == AudioStatus::kOk && progress) progress(1.0);
    return r;
  } catch (const std::bad_alloc&) {
    return Fail(AudioStatus::kTooLarge, "out of memory", pcm);
  }
}

bool ResampleToEngineRate(const std::vector<float>& mono, int rate, std::vector<int16_t>* pcm) {
  pcm->clear();
  if (rate <= 0) return false;
  Resampler resampler(rate);
  if (!resampler.ok()) return false;
  return resampler.Push(mono.data(), mono.size(), pcm) && resampler.Push(nullptr, 0, pcm);
}

bool WriteWav(const std::string& path, const std::vector<int16_t>& pcm, int rate) {
  const uint64_t bytes64 = static_cast<uint64_t>(pcm.size()) * 2;
  if (bytes64 > 0xFFFFFFFFull - 36) return false;
  const uint32_t bytes = static_cast<uint32_t>(bytes64);
  uint8_t h[44];
  const auto u32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const auto u16 = [&](int at, uint16_t v) {
    h[at] = static_cast<uint8_t>(v);
    h[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  std::memcpy(h, "RIFF", 4);
  u32(4, bytes + 36);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  u32(16, 16);
  u16(20, 1);
  u16(22, 1);
  u32(24, static_cast<uint32_t>(rate));
  u32(28, static_cast<uint32_t>(rate) * 2);
  u16(32, 2);
  u16(34, 16);
  std::memcpy(h + 36, "data", 4);
  u32(40, bytes);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(h, 1, sizeof h, f) == sizeof h;
  for (int16_t s : pcm) {
    if (!ok) break;
    const uint8_t b[2] = {static_cast<uint8_t>(s),
                          static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8)};
    ok = std::fwrite(b, 1, 2, f) == 2;
  }
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace ravel_audio
