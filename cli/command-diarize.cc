// ravel diarize AUDIO [--db FILE] [--rttm FILE] [--xml FILE] [--plot FILE.svg]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/commands.h"
#include "cli/engine-session.h"
#include "cli/json-writer.h"
#include "cli/speaker-turns.h"
#include "cli/timeline-svg.h"
#include "drumlin/diarization-driver.h"
#include "drumlin/speaker-database.h"
#include "pellam/pellam-names.h"

namespace ravel_cli {
namespace {

// Fewest pieces the clustering opens a speaker with.
constexpr int kPiecesPerSpeaker = 10;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  if (!file.good()) throw CliError(kExitRefused, path + ": cannot be written");
}

// A private 8 kHz copy of the recording for the diarization pass, removed
// when done.
class TemporaryWav {
 public:
  explicit TemporaryWav(const std::vector<int16_t>& pcm) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/ravel-XXXXXX.wav";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemps(name.data(), 4);
    if (fd < 0) throw CliError(kExitRefused, "cannot create a temporary file in " + pattern);
    close(fd);
    path_ = name.data();
    if (!ravel_audio::WriteWav(path_, pcm)) {
      std::remove(path_.c_str());
      throw CliError(kExitRefused, "cannot write the temporary file " + path_);
    }
  }
  ~TemporaryWav() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int RunDiarize(const Arguments& args) {
  const std::string method = args.Value("method", "pieces");
  if (method != "pieces") throw CliError(kExitUsage, "--method must be pieces");
  ProgressBar bar;
  const Recording rec = LoadRecording(args.positional()[0], &bar);
  const int pieces =
      static_cast<int>(rec.pcm.size() / (drumlin::kPieceSeconds * ravel_audio::kEngineRate));
  if (pieces < kPiecesPerSpeaker) {
    std::fprintf(stderr,
                 "ravel: warning: %s lasts %.1f s, %d pieces of 4 s; a speaker needs at least %d "
                 "(40 s): no speaker can be found\n",
                 rec.path.c_str(), rec.seconds(), pieces, kPiecesPerSpeaker);
  } else if (pieces < 2 * kPiecesPerSpeaker) {
    std::fprintf(stderr,
                 "ravel: warning: %s lasts %.1f s, %d pieces of 4 s; with fewer than %d pieces "
                 "per speaker (80 s for two) at most one speaker can be found\n",
                 rec.path.c_str(), rec.seconds(), pieces, kPiecesPerSpeaker);
  }

  EngineSession session(ModelsDir(args));
  drumlin::DiarizationOptions options;
  if (args.Has("db")) {
    options.databasePath = args.Value("db");
    std::vector<drumlin::SpeakerEntry> entries;
    std::error_code ec;
    if (std::filesystem::is_directory(options.databasePath, ec) ||
        drumlin::ReadSpeakerDatabase(options.databasePath, &entries) != drumlin::kSpeakerDbOk) {
      throw CliError(kExitRefused, options.databasePath + ": not a readable speaker database");
    }
    if (entries.empty()) {
      std::fprintf(stderr, "ravel: warning: %s holds no speakers; speakers stay unnamed\n",
                   options.databasePath.c_str());
    }
  }
  bar.SetRecordingSeconds(rec.seconds());
  options.progress = [&bar](int done, int total) {
    bar.Update(done * 2 <= total ? "piece templates" : "comparing pieces",
               static_cast<double>(done) / total);
  };
  drumlin::DiarizationReport report;
  std::string xml;
  {
    const TemporaryWav wav(rec.pcm);
    xml = drumlin::Diarize(drumlin::BoundPellamApi(), wav.path().c_str(),
                           session.modelsDir().c_str(), options, &report);
  }
  bar.Clear();
  if (xml.compare(0, 5, "<?xml") != 0) {
    const int detail = PellamGetDetail(nullptr);
    throw CliError(kExitRefused, "diarization failed: \"" + xml + "\"", 0, detail);
  }

  const std::vector<LabelledTurn> turns =
      LabelTurns(report.labels, report.names, drumlin::kUnknownSpeaker, drumlin::kPieceSeconds);
  const std::vector<SpeakerSummary> speakers = Summarise(turns);
  if (args.Has("xml")) WriteText(args.Value("xml"), xml);
  if (args.Has("rttm")) WriteText(args.Value("rttm"), FormatRttm(FileId(rec.path), turns));
  if (args.Has("plot")) {
    WriteText(args.Value("plot"),
              TimelineSvg(FileId(rec.path) + ": who speaks when", rec.seconds(), turns));
  }

  if (args.Has("json")) {
    JsonWriter w;
    w.BeginObject();
    w.Key("audio").String(rec.path);
    w.Key("method").String(method);
    w.Key("seconds").Number(rec.seconds(), 3);
    w.Key("pieces").Integer(report.pieceCount);
    w.Key("speakers").BeginArray();
    for (const SpeakerSummary& s : speakers) {
      w.BeginObject();
      w.Key("label").String(s.label);
      w.Key("named").Bool(s.named);
      w.Key("seconds").Number(s.seconds, 1);
      w.Key("turns").Integer(s.turns);
      w.EndObject();
    }
    w.EndArray();
    w.Key("turns").BeginArray();
    for (const LabelledTurn& t : turns) {
      w.BeginObject();
      w.Key("speaker").String(t.label);
      w.Key("start").Number(t.start, 1);
      w.Key("end").Number(t.end, 1);
      w.EndObject();
    }
    w.EndArray().EndObject();
    PrintOut(w.text());
  } else {
    std::string text;
    char line[1024];
    std::snprintf(line, sizeof line, "%s: %.1f s, %d pieces of 4 s, %zu speaker%s\n",
                  rec.path.c_str(), rec.seconds(), report.pieceCount, speakers.size(),
                  speakers.size() == 1 ? "" : "s");
    text += line;
    for (const SpeakerSummary& s : speakers) {
      std::snprintf(line, sizeof line, "  %-24s %7.1f s in %d turn%s%s\n", s.label.c_str(),
                    s.seconds, s.turns, s.turns == 1 ? "" : "s",
                    s.named ? "" : "  (not in the database)");
      text += line;
    }
    if (!turns.empty()) text += "turns:\n";
    for (const LabelledTurn& t : turns) {
      std::snprintf(line, sizeof line, "  %7.1f - %7.1f  %s\n", t.start, t.end, t.label.c_str());
      text += line;
    }
    PrintOut(text);
  }
  return kExitDone;
}

}  // namespace ravel_cli
