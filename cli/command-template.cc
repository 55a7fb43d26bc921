// ravel template AUDIO --out FILE [--kind xvector|ivector], and ravel check FILE.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "cli/commands.h"
#include "cli/engine-session.h"
#include "cli/json-writer.h"

namespace ravel_cli {

int RunTemplate(const Arguments& args) {
  const std::string out = args.Required("out");
  const std::string kindName = args.Value("kind", "xvector");
  if (kindName != "xvector" && kindName != "ivector") {
    throw CliError(kExitUsage, "--kind must be xvector or ivector");
  }
  const TemplateKind kind = kindName == "xvector" ? TemplateKind::kXvector : TemplateKind::kIvector;
  ProgressBar bar;
  const Recording rec = LoadRecording(args.positional()[0], &bar);
  EngineSession session(ModelsDir(args));
  bar.Update("making the template", 0.5);
  const Template t = session.Make(rec.pcm, kind, rec.path);
  bar.Clear();
  {
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(t.bytes.data(), static_cast<std::streamsize>(t.bytes.size()));
    if (!file.good()) throw CliError(kExitRefused, out + ": cannot be written");
  }
  if (args.Has("json")) {
    JsonWriter w;
    w.BeginObject();
    w.Key("audio").String(rec.path);
    w.Key("template").String(out);
    w.Key("kind").String(kindName);
    w.Key("bytes").Integer(static_cast<int64_t>(t.bytes.size()));
    w.Key("speech_seconds").Number(t.duration, 3);
    w.Key("volume").Number(t.volume, 2);
    w.Key("snr").Number(t.snr, 2);
    w.EndObject();
    PrintOut(w.text());
  } else {
    char line[1024];
    std::snprintf(line, sizeof line, "%s: %s template of %zu bytes from %.1f s of speech",
                  out.c_str(), kindName.c_str(), t.bytes.size(), t.duration);
    PrintOut(line);
  }
  return kExitDone;
}

int RunCheck(const Arguments& args) {
  const std::string path = args.positional()[0];
  std::ifstream file(path, std::ios::binary);
  if (!file) throw CliError(kExitRefused, path + ": no such file or not readable");
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  EngineSession session(ModelsDir(args));
  const std::string version = session.Check(bytes, path);
  const TemplateHeader h = ReadTemplateHeader(bytes);
  if (args.Has("json")) {
    JsonWriter w;
    w.BeginObject();
    w.Key("template").String(path);
    w.Key("valid").Bool(true);
    w.Key("version").String(version);
    w.Key("bytes").Integer(static_cast<int64_t>(bytes.size()));
    w.Key("speech_seconds").Number(h.duration, 3);
    w.Key("volume").Number(h.volume, 2);
    w.Key("snr").Number(h.snr, 2);
    w.EndObject();
    PrintOut(w.text());
  } else {
    char line[1024];
    std::snprintf(line, sizeof line,
                  "%s: valid template, version %s, %zu bytes, %.2f s of speech, volume %.1f dB, "
                  "SNR %.1f dB",
                  path.c_str(), version.c_str(), bytes.size(), h.duration, h.volume, h.snr);
    PrintOut(line);
  }
  return kExitDone;
}

}  // namespace ravel_cli
