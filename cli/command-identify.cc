// ravel identify AUDIO --db FILE [--top N]
#include <algorithm>
#include <cstdio>
#include <numeric>

#include "cli/batch-scorer.h"
#include "cli/commands.h"
#include "cli/engine-session.h"
#include "cli/enrolled-speakers.h"
#include "cli/json-writer.h"

namespace ravel_cli {

int RunIdentify(const Arguments& args) {
  const std::string db = args.Required("db");
  const int top = args.Integer("top", 5, 1, 1 << 20);
  const double threshold = args.Number("threshold", kDefaultThreshold, 0, 100);
  ProgressBar bar;
  const Recording rec = LoadRecording(args.positional()[0], &bar);
  EngineSession session(ModelsDir(args));
  const std::vector<drumlin::SpeakerEntry> entries = LoadEnrolled(db, session);
  const BatchScorer scorer(session.modelsDir());
  bar.Update("making the template", 0.5);
  const Template t = session.Make(rec.pcm, TemplateKind::kXvector, rec.path);
  bar.Clear();

  std::vector<const std::vector<char>*> references;
  for (const drumlin::SpeakerEntry& e : entries) references.push_back(&e.templ);
  const std::vector<float> scores = scorer.Score(t.bytes, references);
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), 0);
  // Best first; equal scores keep the database order.
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return scores[a] > scores[b]; });
  order.resize(std::min(order.size(), static_cast<size_t>(top)));
  const bool named = !order.empty() && scores[order[0]] >= threshold;

  if (args.Has("json")) {
    JsonWriter w;
    w.BeginObject();
    w.Key("audio").String(rec.path);
    w.Key("threshold").Number(threshold, 2);
    w.Key("speaker");
    if (named) {
      w.String(entries[order[0]].name);
    } else {
      w.Null();
    }
    w.Key("speech_seconds").Number(t.duration, 3);
    w.Key("candidates").BeginArray();
    for (size_t rank = 0; rank < order.size(); ++rank) {
      w.BeginObject();
      w.Key("rank").Integer(static_cast<int64_t>(rank + 1));
      w.Key("name").String(entries[order[rank]].name);
      w.Key("score").Number(scores[order[rank]], 4);
      w.EndObject();
    }
    w.EndArray().EndObject();
    PrintOut(w.text());
  } else {
    std::string text;
    char line[512];
    std::snprintf(
        line, sizeof line, "%s: %s (threshold %.1f)\n", rec.path.c_str(),
        named ? ("speaker \"" + entries[order[0]].name + "\"").c_str() : "no enrolled speaker",
        threshold);
    text += line;
    for (size_t rank = 0; rank < order.size(); ++rank) {
      std::snprintf(line, sizeof line, "  %2zu. %-24s %6.2f\n", rank + 1,
                    entries[order[rank]].name.c_str(), scores[order[rank]]);
      text += line;
    }
    PrintOut(text);
  }
  return kExitDone;
}

}  // namespace ravel_cli
