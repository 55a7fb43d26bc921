// ravel quality AUDIO
#include <cstdio>

#include "cli/commands.h"
#include "cli/engine-session.h"
#include "cli/json-writer.h"
#include "engine/ravel-exports.h"

namespace ravel_cli {

int RunQuality(const Arguments& args) {
  ProgressBar bar;
  const Recording rec = LoadRecording(args.positional()[0], &bar);
  EngineSession session(ModelsDir(args));
  // The band measures are the engine's own; the public library reports only
  // the first three, so they come from the engine's export on the same handle.
  const std::vector<short> pcm(rec.pcm.begin(), rec.pcm.end());
  std::vector<float> features, bands;
  float duration = 0, volume = 0, snr = 0, low = 0, high = 0;
  bar.Update("measuring", 0.5);
  const int r = Ravel_GetFeature(session.handle(), pcm, &features, &duration, &volume, &snr, &low,
                                 &high, &bands);
  bar.Clear();
  if (r != 0) {
    const int detail = Ravel_GetDetail(session.handle());
    throw CliError(kExitRefused,
                   "cannot measure " + rec.path + ": " + DescribeEngineResult(r, detail), r,
                   detail);
  }
  if (args.Has("json")) {
    JsonWriter w;
    w.BeginObject();
    w.Key("audio").String(rec.path);
    w.Key("format").String(rec.info.format);
    w.Key("sample_rate").Integer(rec.info.sampleRate);
    w.Key("channels").Integer(rec.info.channels);
    w.Key("seconds").Number(rec.seconds(), 3);
    w.Key("speech_seconds").Number(duration, 3);
    w.Key("volume").Number(volume, 2);
    w.Key("snr").Number(snr, 2);
    w.Key("valid_band").BeginArray().Number(low, 1).Number(high, 1).EndArray();
    w.Key("band_snr").BeginArray();
    for (float b : bands) w.Number(b, 2);
    w.EndArray().EndObject();
    PrintOut(w.text());
  } else {
    std::string text;
    char line[512];
    std::snprintf(line, sizeof line, "%s: %s, %d Hz, %d channel%s, %.2f s\n", rec.path.c_str(),
                  rec.info.format.c_str(), rec.info.sampleRate, rec.info.channels,
                  rec.info.channels == 1 ? "" : "s", rec.seconds());
    text += line;
    std::snprintf(line, sizeof line,
                  "  speech    %.2f s\n  volume    %.1f dB\n  SNR       %.1f dB\n"
                  "  band      %.0f to %.0f Hz\n  band SNRs",
                  duration, volume, snr, low, high);
    text += line;
    for (float b : bands) {
      std::snprintf(line, sizeof line, " %.1f", b);
      text += line;
    }
    text += " dB\n";
    PrintOut(text);
  }
  return kExitDone;
}

}  // namespace ravel_cli
