// ravel enrol NAME AUDIO... --db FILE
#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "cli/engine-session.h"
#include "cli/json-writer.h"
#include "drumlin/speaker-database.h"

namespace ravel_cli {

int RunEnrol(const Arguments& args) {
  const std::string name = args.positional()[0];
  const std::string db = args.Required("db");
  if (name.empty() || name.size() >= drumlin::kSpeakerNameBytes ||
      name.find('\0') != std::string::npos) {
    throw CliError(kExitUsage, "NAME must hold 1 to 127 bytes");
  }
  ProgressBar bar;
  std::vector<Recording> recordings;
  std::vector<int16_t> all;
  for (size_t i = 1; i < args.positional().size(); ++i) {
    recordings.push_back(LoadRecording(args.positional()[i], &bar));
    all.insert(all.end(), recordings.back().pcm.begin(), recordings.back().pcm.end());
  }
  bar.Clear();

  EngineSession session(ModelsDir(args));
  if (session.templateSize() != drumlin::kSpeakerTemplateBytes) {
    throw CliError(kExitRefused, "this deployment's templates have " +
                                     std::to_string(session.templateSize()) +
                                     " bytes; a speaker database holds templates of " +
                                     std::to_string(drumlin::kSpeakerTemplateBytes));
  }
  bar.SetRecordingSeconds(static_cast<double>(all.size()) / ravel_audio::kEngineRate);
  bar.Update("making the template", 0.5);
  const Template t = session.Make(all, TemplateKind::kXvector, name + "'s recordings");
  bar.Clear();

  std::vector<drumlin::SpeakerEntry> entries;
  if (drumlin::ReadSpeakerDatabase(db, &entries) != drumlin::kSpeakerDbOk) {
    throw CliError(kExitRefused, db + ": cannot be read");
  }
  auto it = std::find_if(entries.begin(), entries.end(),
                         [&](const drumlin::SpeakerEntry& e) { return e.name == name; });
  const bool replaced = it != entries.end();
  if (!replaced) {
    drumlin::SpeakerEntry entry;
    int32_t number = 0;
    for (const drumlin::SpeakerEntry& e : entries) number = std::max(number, e.number);
    entry.number = number + 1;
    entry.name = name;
    entries.push_back(entry);
    it = entries.end() - 1;
  }
  it->templ = t.bytes;
  const int32_t number = it->number;
  if (drumlin::WriteSpeakerDatabase(db, entries) != drumlin::kSpeakerDbOk) {
    throw CliError(kExitRefused, db + ": cannot be written");
  }

  if (args.Has("json")) {
    JsonWriter w;
    w.BeginObject();
    w.Key("name").String(name);
    w.Key("database").String(db);
    w.Key("record").Integer(number);
    w.Key("replaced").Bool(replaced);
    w.Key("speakers").Integer(static_cast<int64_t>(entries.size()));
    w.Key("recordings").BeginArray();
    for (const Recording& r : recordings) {
      w.BeginObject().Key("path").String(r.path).Key("seconds").Number(r.seconds(), 3).EndObject();
    }
    w.EndArray();
    w.Key("speech_seconds").Number(t.duration, 3);
    w.Key("volume").Number(t.volume, 2);
    w.Key("snr").Number(t.snr, 2);
    w.EndObject();
    PrintOut(w.text());
  } else {
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s \"%s\" as record %d of %s: %zu recording%s, %.1f s of speech, "
                  "volume %.1f dB, SNR %.1f dB (%zu speaker%s enrolled)",
                  replaced ? "replaced" : "enrolled", name.c_str(), number, db.c_str(),
                  recordings.size(), recordings.size() == 1 ? "" : "s", t.duration, t.volume, t.snr,
                  entries.size(), entries.size() == 1 ? "" : "s");
    PrintOut(line);
  }
  return kExitDone;
}

}  // namespace ravel_cli
