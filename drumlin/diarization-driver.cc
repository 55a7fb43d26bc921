#include "drumlin/diarization-driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "drumlin/audec.h"
#include "drumlin/speaker-database.h"
#include "drumlin/utf8.h"

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

// Only a regular file of at most kMaxRecordingBytes is read. It is opened
// without blocking (a FIFO or a device would otherwise hold the call until
// some writer appears) and checked on the open descriptor, so that what is
// read is what was checked.
bool ReadWholeFile(const char* path, std::vector<uint8_t>* data) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
            static_cast<uint64_t>(st.st_size) <= kMaxRecordingBytes;
  if (ok) {
    try {
      data->resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  size_t done = 0;
  while (ok && done < data->size()) {
    const ssize_t n = ::read(fd, data->data() + done, data->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;  // the file shrank or cannot be read
    else
      done += static_cast<size_t>(n);
  }
  ::close(fd);
  return ok;
}

// Engine score reduced to the scores diarization trusts.
float KeptScore(float score) {
  if (std::isnan(score) || score < kMinScore || score < kScoreFloor) return 0.0f;
  return score;
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

// The recording cut into pieces, their samples back to back.
struct Pieces {
  std::vector<int16_t> samples;
  size_t pieceSamples = 0;
  int count = 0;

  const int16_t* Piece(int p) const { return &samples[p * pieceSamples]; }
};

// The recognition library with the handle of this call.
struct Recogniser {
  const PellamApi& api;
  void* handle = nullptr;
  size_t templateSize = 0;
};

// 1-2. Reads and splits the recording and copies the pieces' PCM out. Null on
// success, else the result text.
const char* LoadPieces(const char* audioPath, const DiarizationOptions& options,
                       const Printer& print, Pieces* pieces) {
  if (audioPath == nullptr) return kWaveSplitError;
  std::vector<uint8_t> data;
  if (!ReadWholeFile(audioPath, &data)) {
    print("Cannot read %s", audioPath);
    return kWaveSplitError;
  }
  const AudecFormatType type = Extension(audioPath) == ".mp3" ? AudecFormatMp3 : AudecFormatWav;
  Audec audec;
  audec.Debug(options.debug);
  std::vector<uint8_t*> split;
  size_t pieceBytes = 0;
  const int r = audec.SplitWave(type, data.data(), data.size(), kPieceSeconds, split, &pieceBytes);
  if (r != 0) {
    audec.SplitWaveRelease(&split);
    print("SplitWave failed (%d)", r);
    return kWaveSplitError;
  }
  const size_t pieceSamples = pieceBytes > kWavHeaderBytes ? (pieceBytes - kWavHeaderBytes) / 2 : 0;
  const int n = static_cast<int>(split.size());
  try {
    pieces->samples.resize(static_cast<size_t>(n) * pieceSamples);
  } catch (...) {
    audec.SplitWaveRelease(&split);
    throw;
  }
  for (int p = 0; p < n; ++p) {
    std::memcpy(&pieces->samples[p * pieceSamples], split[p] + kWavHeaderBytes, pieceSamples * 2);
  }
  audec.SplitWaveRelease(&split);
  pieces->pieceSamples = pieceSamples;
  pieces->count = n;
  print("%d pieces of %zu samples", n, pieceSamples);
  return nullptr;
}

// 3. Initialises the library and creates the handle (the caller's HandleGuard
// deletes it).
const char* OpenRecogniser(const char* modelDir, const Printer& print, Recogniser* rec) {
  const PellamApi& api = rec->api;
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
  r = api.create(&rec->handle);
  if (r != 0) {
    print("RecCreate failed (%d, detail %d)", r, api.getDetail(nullptr));
    return kInitializeError;
  }
  return nullptr;
}

// 4, first half. One template per piece; `made` marks the pieces that have one
// (without a template a piece is similar to nothing).
void MakePieceTemplates(const Recogniser& rec, const Pieces& pieces,
                        const DiarizationOptions& options, const Printer& print,
                        std::vector<char>* templates, std::vector<uint8_t>* made) {
  const int n = pieces.count;
  const size_t templateSize = rec.templateSize;
  templates->resize(static_cast<size_t>(n) * templateSize);
  made->assign(n, 0);
  for (int p = 0; p < n; ++p) {
    size_t count = pieces.pieceSamples;
    float duration = 0, volume = 0, snr = 0;
    const int r = rec.api.makeXvectorTemplate(rec.handle, pieces.Piece(p), &count,
                                              &(*templates)[p * templateSize], &templateSize,
                                              &duration, &volume, &snr);
    if (r == 0) {
      (*made)[p] = 1;
    } else {
      print("No template for piece %d (%d, detail %d)", p, r, rec.api.getDetail(rec.handle));
    }
    if (options.progress) options.progress(p + 1, 2 * n);
  }
}

// 4, second half. The n × n similarity matrix: entry (k, j) scores piece k
// (first argument) against piece j.
std::vector<uint8_t> CrossScore(const Recogniser& rec, int n, const std::vector<char>& templates,
                                const std::vector<uint8_t>& made, const DiarizationOptions& options,
                                const Printer& print) {
  const size_t templateSize = rec.templateSize;
  std::vector<uint8_t> matrix(static_cast<size_t>(n) * n, 0);
  for (int j = 0; j < n; ++j) {
    if (!made[j]) continue;
    for (int k = 0; k < n; ++k) {
      if (!made[k]) continue;
      float score = 0.0f;
      const int r = rec.api.compare(rec.handle, &templates[k * templateSize], &templateSize,
                                    &templates[j * templateSize], &templateSize, &score);
      if (r != 0) {
        print("Compare %d with %d failed (%d, detail %d)", k, j, r, rec.api.getDetail(rec.handle));
        score = 0.0f;
      }
      matrix[static_cast<size_t>(k) * n + j] = QuantiseScore(score);
    }
    if (options.progress) options.progress(n + j + 1, 2 * n);
  }
  return matrix;
}

// 6-7. Names each cluster from the speaker database of `modelDir` by a
// template of all its audio; "Unknown" where nothing reaches the threshold.
std::vector<std::string> NameSpeakers(const Recogniser& rec, const char* modelDir,
                                      const Pieces& pieces, const std::vector<int>& labels,
                                      int clusters, const DiarizationOptions& options,
                                      const Printer& print) {
  const size_t templateSize = rec.templateSize;
  std::vector<SpeakerEntry> entries;
  const std::string dbPath =
      options.databasePath.empty() ? SpeakerDatabasePath(modelDir) : options.databasePath;
  const int status = ReadSpeakerDatabase(dbPath, &entries);
  if (status != kSpeakerDbOk) throw std::bad_alloc();
  if (!entries.empty() && templateSize != kSpeakerTemplateBytes) {
    print("Templates of %zu bytes cannot be compared with the %zu-byte entries of %s", templateSize,
          kSpeakerTemplateBytes, dbPath.c_str());
  }
  std::vector<std::string> names(clusters, kUnknownSpeaker);
  std::vector<int16_t> audio;
  std::vector<char> clusterTemplate(templateSize);
  for (int c = 0; c < clusters && !entries.empty(); ++c) {
    audio.clear();
    for (int p = 0; p < pieces.count; ++p) {
      if (labels[p] != c) continue;
      audio.insert(audio.end(), pieces.Piece(p), pieces.Piece(p) + pieces.pieceSamples);
    }
    size_t count = audio.size();
    float duration = 0, volume = 0, snr = 0;
    int r = rec.api.makeXvectorTemplate(rec.handle, audio.data(), &count, clusterTemplate.data(),
                                        &templateSize, &duration, &volume, &snr);
    if (r != 0) {
      print("No template for cluster %d (%d, detail %d)", c, r, rec.api.getDetail(rec.handle));
      continue;
    }
    float best = -1.0f;
    size_t bestEntry = 0;
    for (size_t e = 0; e < entries.size(); ++e) {
      const size_t entryBytes = entries[e].templ.size();
      float score = 0.0f;
      if (entryBytes == templateSize) {
        r = rec.api.compare(rec.handle, clusterTemplate.data(), &templateSize,
                            entries[e].templ.data(), &entryBytes, &score);
        if (r != 0) {
          print("Compare cluster %d with entry %d failed (%d, detail %d)", c, entries[e].number, r,
                rec.api.getDetail(rec.handle));
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
  return names;
}

std::string DiarizeOrThrow(const PellamApi& api, const char* audioPath, const char* modelDir,
                           const DiarizationOptions& options, DiarizationReport* report) {
  const Printer print(options.debug);
  auto t0 = Clock::now();

  Pieces pieces;
  if (const char* error = LoadPieces(audioPath, options, print, &pieces)) return error;
  const int n = pieces.count;
  // The clustering refuses such recordings; spare the N² comparisons.
  if (n > kMaxClusterPieces) return kDiarizationError;
  if (report) {
    report->pieceCount = n;
    report->loadSeconds = SecondsSince(t0);
  }

  Recogniser rec{api};
  HandleGuard guard(api, &rec.handle);
  if (const char* error = OpenRecogniser(modelDir, print, &rec)) return error;

  // 4. Cross matching.
  if (rec.handle == nullptr) return kCrossMatchingError;
  const int templateSizeValue = api.getTemplateSize();
  if (templateSizeValue <= 0) {
    print("Template size %d", templateSizeValue);
    return kCrossMatchingError;
  }
  rec.templateSize = static_cast<size_t>(templateSizeValue);
  t0 = Clock::now();
  std::vector<char> templates;
  std::vector<uint8_t> made;
  MakePieceTemplates(rec, pieces, options, print, &templates, &made);
  if (report) report->pieceTemplateSeconds = SecondsSince(t0);
  t0 = Clock::now();
  std::vector<uint8_t> matrix = CrossScore(rec, n, templates, made, options, print);
  if (report) report->compareSeconds = SecondsSince(t0);

  // 5. Clustering.
  t0 = Clock::now();
  SpeakerClustering clustering;
  const int r = clustering.Run(matrix.data(), n);
  if (r != kClusteringOk) {
    print("Clustering failed (%d)", r);
    return kDiarizationError;
  }
  const std::vector<int>& labels = clustering.labels();
  const int clusters = clustering.clusterCount();
  if (report) report->clusteringSeconds = SecondsSince(t0);
  print("%d clusters", clusters);

  t0 = Clock::now();
  std::vector<std::string> names = NameSpeakers(rec, modelDir, pieces, labels, clusters, options, print);
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
