// jor-diarize: the window diarizer over many recordings, with grids of its
// settings, for calibration and evaluation (evaluate_diarization.py). The
// features, windows and pair scores of a recording are computed once; every
// combination of the swept settings then reruns clustering and
// resegmentation and writes its own RTTM folder.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drumlin/window-diarizer.h"

namespace {

const char kUsage[] =
    "Usage: jor-diarize --models DIR --out DIR [options] (--list conversations.tsv | AUDIO...)\n"
    "\n"
    "Writes OUT/<setting>/<recording>.rttm for every combination of the swept\n"
    "settings (comma-separated lists), and OUT/timing.tsv.\n"
    "\n"
    "  --threshold T,...        clustering stop threshold (raw SPLDA LLR)\n"
    "  --switch-penalty P,...   resegmentation cost of a speaker change\n"
    "  --max-gap S,...          longest pause inside a turn (seconds)\n"
    "  --min-cluster-windows N,...\n"
    "  --speakers N             fixed speaker count (0: estimate)\n"
    "  --max-speakers N\n"
    "  --window S  --step S     window length and step (seconds)\n"
    "  --no-resegment\n"
    "  --list FILE              table with columns conversation and path (relative\n"
    "                           paths from the table's folder)\n";

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> out;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) out.push_back(std::strtod(item.c_str(), nullptr));
  return out;
}

struct Recording {
  std::string name, path;
};

bool ReadList(const std::string& path, std::vector<Recording>* out) {
  std::ifstream in(path);
  if (!in) return false;
  const size_t slash = path.find_last_of('/');
  const std::string base = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string line;
  int nameCol = -1, pathCol = -1;
  bool header = true;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) cells.push_back(cell);
    if (header) {
      for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i] == "conversation") nameCol = static_cast<int>(i);
        if (cells[i] == "path") pathCol = static_cast<int>(i);
      }
      if (nameCol < 0 || pathCol < 0) return false;
      header = false;
      continue;
    }
    if (static_cast<int>(cells.size()) <= std::max(nameCol, pathCol)) continue;
    std::string p = cells[pathCol];
    if (!p.empty() && p[0] != '/') p = base + p;
    out->push_back({cells[nameCol], p});
  }
  return true;
}

std::string BaseName(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string Setting(double t, double p, double g, double m) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "t%g_p%g_g%g_m%g", t, p, g, m);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  std::string models, out, list;
  std::vector<double> thresholds{drumlin::kDefaultWindowThreshold};
  std::vector<double> penalties{drumlin::ResegmentationOptions().switchPenalty};
  std::vector<double> gaps{drumlin::WindowDiarizerOptions().maxGapSeconds};
  std::vector<double> minWindows{
      static_cast<double>(drumlin::WindowDiarizerOptions().minClusterWindows)};
  drumlin::WindowDiarizerOptions options;
  std::vector<Recording> recordings;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "jor-diarize: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--models") {
      models = value();
    } else if (a == "--out") {
      out = value();
    } else if (a == "--list") {
      list = value();
    } else if (a == "--threshold") {
      thresholds = Numbers(value());
    } else if (a == "--switch-penalty") {
      penalties = Numbers(value());
    } else if (a == "--max-gap") {
      gaps = Numbers(value());
    } else if (a == "--min-cluster-windows") {
      minWindows = Numbers(value());
    } else if (a == "--speakers") {
      options.speakers = std::atoi(value().c_str());
    } else if (a == "--max-speakers") {
      options.maxSpeakers = std::atoi(value().c_str());
    } else if (a == "--window") {
      options.windowSeconds = std::strtod(value().c_str(), nullptr);
    } else if (a == "--step") {
      options.stepSeconds = std::strtod(value().c_str(), nullptr);
    } else if (a == "--no-resegment") {
      options.resegment = false;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "jor-diarize: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    } else {
      recordings.push_back({BaseName(a), a});
    }
  }
  if (!list.empty() && !ReadList(list, &recordings)) {
    std::fprintf(stderr, "jor-diarize: cannot read %s\n", list.c_str());
    return 2;
  }
  if (models.empty() || out.empty() || recordings.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  drumlin::WindowDiarizer diarizer;
  int r = diarizer.Load(models.c_str());
  if (r != 0) {
    std::fprintf(stderr, "jor-diarize: cannot load the models of %s (0x%08x)\n", models.c_str(),
                 static_cast<unsigned>(r));
    return 2;
  }
  std::system(("mkdir -p '" + out + "'").c_str());
  std::ofstream timing(out + "/timing.tsv");
  timing << "recording\taudio_s\tfeatures_s\tembedding_s\tscoring_s\tclustering_s\t"
            "resegmentation_s\twindows\tspeakers\n";
  int failures = 0;
  for (const Recording& rec : recordings) {
    std::vector<short> pcm;
    r = drumlin::DecodeAudioFile(rec.path.c_str(), &pcm);
    drumlin::WindowAnalysis analysis;
    const auto t0 = std::chrono::steady_clock::now();
    if (r == 0) r = diarizer.Analyse(pcm, options, &analysis);
    const double analyseSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (r != 0) {
      std::fprintf(stderr, "jor-diarize: %s failed (0x%08x)\n", rec.path.c_str(),
                   static_cast<unsigned>(r));
      ++failures;
      continue;
    }
    bool first = true;
    for (double t : thresholds) {
      for (double p : penalties) {
        for (double g : gaps) {
          for (double m : minWindows) {
            drumlin::WindowDiarizerOptions o = options;
            o.threshold = static_cast<float>(t);
            o.resegmentation.switchPenalty = static_cast<float>(p);
            o.maxGapSeconds = g;
            o.minClusterWindows = static_cast<int>(m);
            drumlin::WindowDiarization result;
            r = diarizer.Finish(analysis, o, &result);
            if (r != 0) {
              std::fprintf(stderr, "jor-diarize: %s failed (0x%08x)\n", rec.path.c_str(),
                           static_cast<unsigned>(r));
              ++failures;
              continue;
            }
            const std::string dir = out + "/" + Setting(t, p, g, m);
            std::system(("mkdir -p '" + dir + "'").c_str());
            std::ofstream rttm(dir + "/" + rec.name + ".rttm");
            char line[512];
            for (const drumlin::WindowTurn& turn : result.turns) {
              std::snprintf(line, sizeof line, "SPEAKER %s 1 %.3f %.3f <NA> <NA> %s <NA> <NA>\n",
                            rec.name.c_str(), turn.start, turn.end - turn.start,
                            turn.speaker.c_str());
              rttm << line;
            }
            if (first) {
              first = false;
              timing << rec.name << '\t' << pcm.size() / 8000.0 << '\t'
                     << analyseSeconds - analysis.embeddingSeconds - analysis.scoringSeconds
                     << '\t' << analysis.embeddingSeconds << '\t' << analysis.scoringSeconds
                     << '\t' << result.clusteringSeconds << '\t' << result.resegmentationSeconds
                     << '\t' << result.windowCount << '\t' << result.speakers.size() << '\n';
            }
          }
        }
      }
    }
    std::fprintf(stderr, "%s: %.1f s, %zu windows\n", rec.name.c_str(), pcm.size() / 8000.0,
                 analysis.windows.size());
  }
  return failures ? 1 : 0;
}
