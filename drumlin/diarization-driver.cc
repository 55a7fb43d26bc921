#include "drumlin/diarization-driver.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "drumlin/audec.h"
#include "drumlin/speaker-database.h"

namespace drumlin {

const char kWaveSplitError[] = "Wave sprit Error";
const char kInitializeError[] = "ulx Initialize error";
const char kCrossMatchingError[] = "ulx cross matching error";
const char kDiarizationError[] = "Diarization error";

namespace {

// Bind by ordinal: the export of each ordinal, by the header's table.
template <int Ordinal>
struct PellamExport;
#define DRUMLIN_PELLAM_EXPORT(ordinal, role, name) \
  template <>                                      \
  struct PellamExport<ordinal> {                   \
    static constexpr role function = &name;        \
  };
PELLAM_EXPORTS(DRUMLIN_PELLAM_EXPORT)
#undef DRUMLIN_PELLAM_EXPORT

constexpr char kXmlHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<speakerList>\n";
constexpr char kXmlFooter[] = "</speakerList>\n";
constexpr size_t kWavHeaderBytes = 44;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

class Printer {
 public:
  explicit Printer(bool on) : on_(on) {}
  void operator()(const char* format, ...) const __attribute__((format(printf, 2, 3))) {
    if (!on_) return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::printf("### DEBUG : %s\n", buffer);
    std::fflush(stdout);
  }

 private:
  bool on_;
};

// Deletes the recognition handle however the call ends.
class HandleGuard {
 public:
  HandleGuard(const PellamApi& api, void** handle) : api_(api), handle_(handle) {}
  ~HandleGuard() {
    if (*handle_ != nullptr && api_.destroy != nullptr) api_.destroy(handle_);
  }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;

 private:
  const PellamApi& api_;
  void** handle_;
};

// The extension of the file name part of `path`, dot included.
std::string Extension(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return std::string();
  return path.substr(dot);
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* data) {
  struct stat st;
  if (stat(path, &st) != 0 || st.st_size < 0) return false;
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  const size_t size = static_cast<size_t>(st.st_size);
  bool ok = true;
  try {
    data->resize(size);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (ok) ok = std::fread(data->data(), 1, size, f) == size;
  std::fclose(f);
  return ok;
}

// Engine score reduced to the scores diarization trusts.
float KeptScore(float score) {
  if (std::isnan(score) || score < kMinScore || score < kScoreFloor) return 0.0f;
  return score;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at text[*i]; returns U+FFFD (consuming one byte)
// for anything malformed, overlong, a surrogate or beyond U+10FFFF.
uint32_t NextCodePoint(const std::string& text, size_t* i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t b0 = byte(*i);
  int extra;
  uint32_t cp;
  uint32_t minimum;
  if (b0 < 0x80) {
    ++*i;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1, cp = b0 & 0x1F, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, cp = b0 & 0x0F, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, cp = b0 & 0x07, minimum = 0x10000;
  } else {
    ++*i;
    return 0xFFFD;
  }
  if (*i + extra >= text.size()) {
    ++*i;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    const uint8_t b = byte(*i + k);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++*i;
    return 0xFFFD;
  }
  *i += extra + 1;
  return cp;
}

}  // namespace

const PellamApi& BoundPellamApi() {
  static const PellamApi api = [] {
    PellamApi a;
    a.initialize = PellamExport<1>::function;
    a.create = PellamExport<4>::function;
    a.destroy = PellamExport<5>::function;
    a.makeXvectorTemplate = PellamExport<6>::function;
    a.compare = PellamExport<11>::function;
    a.getDetail = PellamExport<14>::function;
    a.getTemplateSize = PellamExport<18>::function;
    return a;
  }();
  return api;
}

uint8_t QuantiseScore(float score) {
  score = KeptScore(score);
  if (score == 0.0f) return 0;
  // Engine scores end at 100; anything above would not fit the byte.
  if (score > 100.0f) score = 100.0f;
  const float whole = std::trunc(score);
  const float scaled = whole * kScoreToByte;  // single precision: 80 gives 204
  return static_cast<uint8_t>(static_cast<int>(scaled));
}

std::string EscapeXmlAttribute(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const uint32_t cp = NextCodePoint(text, &i);
    switch (cp) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      // Attribute values turn raw white space into spaces.
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        if (cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF) {
          AppendUtf8(0xFFFD, &out);
        } else {
          AppendUtf8(cp, &out);
        }
    }
  }
  return out;
}

std::vector<SpeakerTurn> MakeTurns(const std::vector<int>& labels,
                                   const std::vector<std::string>& clusterNames) {
  std::vector<SpeakerTurn> turns;
  const size_t n = labels.size();
  size_t p = 0;
  while (p < n) {
    size_t q = p + 1;
    while (q < n && labels[q] == labels[p]) ++q;
    const int label = labels[p];
    if (label >= 0) {
      SpeakerTurn turn;
      turn.name =
          static_cast<size_t>(label) < clusterNames.size() ? clusterNames[label] : kUnknownSpeaker;
      turn.start = kPieceSeconds * static_cast<int>(p);
      turn.end = kPieceSeconds * static_cast<int>(q);
      turns.push_back(std::move(turn));
    }
    p = q;
  }
  return turns;
}

std::string FormatSpeakerList(const std::vector<SpeakerTurn>& turns) {
  std::string xml = kXmlHeader;
  for (const SpeakerTurn& turn : turns) {
    xml += "    <speaker name=\"";
    xml += EscapeXmlAttribute(turn.name);
    xml += "\" start=\"";
    xml += std::to_string(turn.start);
    xml += "\" end=\"";
    xml += std::to_string(turn.end);
    xml += "\" />\n";
  }
  xml += kXmlFooter;
  return xml;
}

namespace {

std::string DiarizeOrThrow(const PellamApi& api, const char* audioPath, const char* modelDir,
                           const DiarizationOptions& options, DiarizationReport* report) {
  const Printer print(options.debug);
  auto t0 = Clock::now();

  // 1-2. Load, split into pieces and copy their PCM out.
  if (audioPath == nullptr) return kWaveSplitError;
  std::vector<int16_t> samples;
  size_t pieceSamples = 0;
  int n = 0;
  {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(audioPath, &data)) {
      print("Cannot read %s", audioPath);
      return kWaveSplitError;
    }
    const AudecFormatType type = Extension(audioPath) == ".mp3" ? AudecFormatMp3 : AudecFormatWav;
    Audec audec;
    audec.Debug(options.debug);
    std::vector<uint8_t*> pieces;
    size_t pieceBytes = 0;
    const int r =
        audec.SplitWave(type, data.data(), data.size(), kPieceSeconds, pieces, &pieceBytes);
    if (r != 0) {
      audec.SplitWaveRelease(&pieces);
      print("SplitWave failed (%d)", r);
      return kWaveSplitError;
    }
    pieceSamples = pieceBytes > kWavHeaderBytes ? (pieceBytes - kWavHeaderBytes) / 2 : 0;
    n = static_cast<int>(pieces.size());
    try {
      samples.resize(static_cast<size_t>(n) * pieceSamples);
    } catch (...) {
      audec.SplitWaveRelease(&pieces);
      throw;
    }
    for (int p = 0; p < n; ++p) {
      std::memcpy(&samples[p * pieceSamples], pieces[p] + kWavHeaderBytes, pieceSamples * 2);
    }
    audec.SplitWaveRelease(&pieces);
  }
  print("%d pieces of %zu samples", n, pieceSamples);
  // The clustering refuses such recordings; spare the N² comparisons.
  if (n > kMaxClusterPieces) return kDiarizationError;
  if (report) {
    report->pieceCount = n;
    report->loadSeconds = SecondsSince(t0);
  }

  // 3. Recognition library and handle.
  if (!api.initialize || !api.create || !api.makeXvectorTemplate || !api.compare ||
      !api.getDetail || !api.getTemplateSize) {
    return kInitializeError;
  }
  const bool share = false;
  int r = api.initialize(modelDir, &share);
  if (r != 0) {
    print("RecInitialize failed (%d, detail %d)", r, api.getDetail(nullptr));
    return kInitializeError;
  }
  void* handle = nullptr;
  HandleGuard guard(api, &handle);
  r = api.create(&handle);
  if (r != 0) {
    print("RecCreate failed (%d, detail %d)", r, api.getDetail(nullptr));
    return kInitializeError;
  }

  // 4. Cross matching.
  if (handle == nullptr) return kCrossMatchingError;
  const int templateSizeValue = api.getTemplateSize();
  if (templateSizeValue <= 0) {
    print("Template size %d", templateSizeValue);
    return kCrossMatchingError;
  }
  const size_t templateSize = static_cast<size_t>(templateSizeValue);
  t0 = Clock::now();
  std::vector<char> templates(static_cast<size_t>(n) * templateSize);
  std::vector<uint8_t> made(n, 0);
  for (int p = 0; p < n; ++p) {
    size_t count = pieceSamples;
    float duration = 0, volume = 0, snr = 0;
    r = api.makeXvectorTemplate(handle, &samples[p * pieceSamples], &count,
                                &templates[p * templateSize], &templateSize, &duration, &volume,
                                &snr);
    if (r == 0) {
      made[p] = 1;
    } else {
      // Without a template the piece is similar to nothing.
      print("No template for piece %d (%d, detail %d)", p, r, api.getDetail(handle));
    }
    if (options.progress) options.progress(p + 1, 2 * n);
  }
  if (report) report->pieceTemplateSeconds = SecondsSince(t0);

  t0 = Clock::now();
  std::vector<uint8_t> matrix(static_cast<size_t>(n) * n, 0);
  for (int j = 0; j < n; ++j) {
    if (!made[j]) continue;
    for (int k = 0; k < n; ++k) {
      if (!made[k]) continue;
      float score = 0.0f;
      r = api.compare(handle, &templates[k * templateSize], &templateSize,
                      &templates[j * templateSize], &templateSize, &score);
      if (r != 0) {
        print("Compare %d with %d failed (%d, detail %d)", k, j, r, api.getDetail(handle));
        score = 0.0f;
      }
      matrix[static_cast<size_t>(k) * n + j] = QuantiseScore(score);
    }
    if (options.progress) options.progress(n + j + 1, 2 * n);
  }
  if (report) report->compareSeconds = SecondsSince(t0);

  // 5. Clustering.
  t0 = Clock::now();
  SpeakerClustering clustering;
  r = clustering.Run(matrix.data(), n);
  if (r != kClusteringOk) {
    print("Clustering failed (%d)", r);
    return kDiarizationError;
  }
  const std::vector<int>& labels = clustering.labels();
  const int clusters = clustering.clusterCount();
  if (report) report->clusteringSeconds = SecondsSince(t0);
  print("%d clusters", clusters);

  // 6-7. Cluster audio and naming.
  t0 = Clock::now();
  std::vector<SpeakerEntry> entries;
  const std::string dbPath =
      options.databasePath.empty() ? SpeakerDatabasePath(modelDir) : options.databasePath;
  r = ReadSpeakerDatabase(dbPath, &entries);
  if (r != kSpeakerDbOk) throw std::bad_alloc();
  if (!entries.empty() && templateSize != kSpeakerTemplateBytes) {
    print("Templates of %zu bytes cannot be compared with the %zu-byte entries of %s", templateSize,
          kSpeakerTemplateBytes, dbPath.c_str());
  }
  std::vector<std::string> names(clusters, kUnknownSpeaker);
  std::vector<int16_t> audio;
  std::vector<char> clusterTemplate(templateSize);
  for (int c = 0; c < clusters && !entries.empty(); ++c) {
    audio.clear();
    for (int p = 0; p < n; ++p) {
      if (labels[p] != c) continue;
      audio.insert(audio.end(), samples.begin() + p * pieceSamples,
                   samples.begin() + (p + 1) * pieceSamples);
    }
    size_t count = audio.size();
    float duration = 0, volume = 0, snr = 0;
    r = api.makeXvectorTemplate(handle, audio.data(), &count, clusterTemplate.data(), &templateSize,
                                &duration, &volume, &snr);
    if (r != 0) {
      print("No template for cluster %d (%d, detail %d)", c, r, api.getDetail(handle));
      continue;
    }
    float best = -1.0f;
    size_t bestEntry = 0;
    for (size_t e = 0; e < entries.size(); ++e) {
      const size_t entryBytes = entries[e].templ.size();
      float score = 0.0f;
      if (entryBytes == templateSize) {
        r = api.compare(handle, clusterTemplate.data(), &templateSize, entries[e].templ.data(),
                        &entryBytes, &score);
        if (r != 0) {
          print("Compare cluster %d with entry %d failed (%d, detail %d)", c, entries[e].number, r,
                api.getDetail(handle));
          score = 0.0f;
        }
      }
      score = KeptScore(score);
      if (score > best) {
        best = score;
        bestEntry = e;
      }
    }
    if (best >= kNameThreshold) names[c] = entries[bestEntry].name;
    print("Cluster %d: best score %.2f, %s", c, best, names[c].c_str());
  }
  if (report) report->namingSeconds = SecondsSince(t0);

  // 8-9. Turns and the speaker list.
  std::vector<SpeakerTurn> turns = MakeTurns(labels, names);
  std::string xml = FormatSpeakerList(turns);
  if (report) {
    report->matrix = std::move(matrix);
    report->labels = labels;
    report->clusterCount = clusters;
    report->stats = clustering.stats();
    report->names = std::move(names);
    report->turns = std::move(turns);
  }
  return xml;
}

}  // namespace

std::string Diarize(const PellamApi& api, const char* audioPath, const char* modelDir,
                    const DiarizationOptions& options, DiarizationReport* report) {
  try {
    return DiarizeOrThrow(api, audioPath, modelDir, options, report);
  } catch (...) {
    return kDiarizationError;
  }
}

}  // namespace drumlin
