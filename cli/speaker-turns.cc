#include "cli/speaker-turns.h"

#include <cstdio>
#include <map>

namespace ravel_cli {
namespace {

std::string NoSpaces(std::string s) {
  for (char& c : s) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') c = '_';
  }
  return s.empty() ? "_" : s;
}

}  // namespace

std::vector<LabelledTurn> LabelTurns(const std::vector<int>& pieceLabels,
                                     const std::vector<std::string>& clusterNames,
                                     const std::string& unknownName, double pieceSeconds) {
  std::vector<LabelledTurn> turns;
  std::map<int, std::string> unnamed;  // cluster -> spkN
  const size_t n = pieceLabels.size();
  for (size_t p = 0; p < n;) {
    size_t q = p + 1;
    while (q < n && pieceLabels[q] == pieceLabels[p]) ++q;
    const int cluster = pieceLabels[p];
    if (cluster >= 0) {
      LabelledTurn t;
      t.cluster = cluster;
      const std::string name =
          static_cast<size_t>(cluster) < clusterNames.size() ? clusterNames[cluster] : unknownName;
      if (name != unknownName) {
        t.label = name;
        t.named = true;
      } else {
        auto it = unnamed.find(cluster);
        if (it == unnamed.end()) {
          it = unnamed.emplace(cluster, "spk" + std::to_string(unnamed.size() + 1)).first;
        }
        t.label = it->second;
      }
      t.start = pieceSeconds * static_cast<double>(p);
      t.end = pieceSeconds * static_cast<double>(q);
      turns.push_back(t);
    }
    p = q;
  }
  return turns;
}

std::vector<SpeakerSummary> Summarise(const std::vector<LabelledTurn>& turns) {
  std::vector<SpeakerSummary> speakers;
  for (const LabelledTurn& t : turns) {
    SpeakerSummary* s = nullptr;
    for (SpeakerSummary& k : speakers) {
      if (k.label == t.label) s = &k;
    }
    if (s == nullptr) {
      speakers.push_back({t.label, t.named, 0.0, 0});
      s = &speakers.back();
    }
    s->seconds += t.end - t.start;
    s->turns += 1;
  }
  return speakers;
}

std::string FormatRttm(const std::string& fileId, const std::vector<LabelledTurn>& turns) {
  std::string out;
  char line[1024];
  for (const LabelledTurn& t : turns) {
    std::snprintf(line, sizeof line, "SPEAKER %s 1 %.3f %.3f <NA> <NA> %s <NA> <NA>\n",
                  NoSpaces(fileId).c_str(), t.start, t.end - t.start, NoSpaces(t.label).c_str());
    out += line;
  }
  return out;
}

std::string FileId(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base = base.substr(0, dot);
  return base;
}

}  // namespace ravel_cli
