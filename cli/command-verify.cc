// ravel verify AUDIO --db FILE --name NAME, and ravel compare AUDIO AUDIO.
#include <cstdio>

#include "cli/commands.h"
#include "cli/engine-session.h"
#include "cli/enrolled-speakers.h"
#include "cli/json-writer.h"

namespace ravel_cli {
namespace {

void PrintDecision(const Arguments& args, const std::string& probe, const std::string& reference,
                   const char* referenceKey, float score, double threshold, float speech) {
  const bool accepted = score >= threshold;
  if (args.Has("json")) {
    JsonWriter w;
    w.BeginObject();
    w.Key("audio").String(probe);
    w.Key(referenceKey).String(reference);
    w.Key("score").Number(score, 4);
    w.Key("threshold").Number(threshold, 2);
    w.Key("accepted").Bool(accepted);
    w.Key("speech_seconds").Number(speech, 3);
    w.EndObject();
    PrintOut(w.text());
  } else {
    char line[1024];
    std::snprintf(line, sizeof line, "%s against %s: score %.2f -> %s (threshold %.1f)",
                  probe.c_str(), reference.c_str(), score, accepted ? "ACCEPT" : "REJECT",
                  threshold);
    PrintOut(line);
  }
}

}  // namespace

int RunVerify(const Arguments& args) {
  const std::string db = args.Required("db");
  const std::string name = args.Required("name");
  const double threshold = args.Number("threshold", kDefaultThreshold, 0, 100);
  ProgressBar bar;
  const Recording rec = LoadRecording(args.positional()[0], &bar);
  EngineSession session(ModelsDir(args));
  const std::vector<drumlin::SpeakerEntry> entries = LoadEnrolled(db, session);
  const drumlin::SpeakerEntry* entry = nullptr;
  for (const drumlin::SpeakerEntry& e : entries) {
    if (e.name == name) entry = &e;
  }
  if (entry == nullptr) {
    throw CliError(kExitRefused, "no speaker \"" + name + "\" in " + db +
                                     " (enrolled: " + NameList(entries) + ")");
  }
  bar.Update("making the template", 0.5);
  const Template t = session.Make(rec.pcm, TemplateKind::kXvector, rec.path);
  bar.Clear();
  const float score = session.Compare(t.bytes, entry->templ);
  PrintDecision(args, rec.path, name, "name", score, threshold, t.duration);
  return kExitDone;
}

int RunCompare(const Arguments& args) {
  const double threshold = args.Number("threshold", kDefaultThreshold, 0, 100);
  ProgressBar bar;
  const Recording a = LoadRecording(args.positional()[0], &bar);
  const Recording b = LoadRecording(args.positional()[1], &bar);
  EngineSession session(ModelsDir(args));
  bar.Update("making the templates", 0.5);
  const Template ta = session.Make(a.pcm, TemplateKind::kXvector, a.path);
  const Template tb = session.Make(b.pcm, TemplateKind::kXvector, b.path);
  bar.Clear();
  const float score = session.Compare(ta.bytes, tb.bytes);
  PrintDecision(args, a.path, b.path, "reference", score, threshold, ta.duration);
  return kExitDone;
}

}  // namespace ravel_cli
