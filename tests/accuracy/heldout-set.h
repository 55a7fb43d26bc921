// Held-out recordings stored with the trained test deployment, and the
// same-voice / different-voice trial averages the accuracy tests check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/wavio/wav-reader.h"

namespace jor_accuracy {

// 256 header bytes and 2 x 512 + 1 values: the size a "spdbdata" record holds.
inline constexpr size_t kDatabaseTemplateBytes = 4356;

struct Recording {
  std::string speaker;
  std::string id;
  std::vector<short> pcm;
};

// JOR_TRAINED_DEPLOYMENT points the checks at a freshly made deployment before it is committed.
inline std::string DeploymentDir() {
  if (const char* dir = std::getenv("JOR_TRAINED_DEPLOYMENT"); dir != nullptr && *dir != '\0')
    return dir;
  return std::string(JOR_SOURCE_DIR) + "/tests/data/trained";
}

// DIR/heldout.tsv: speaker, recording, path (relative to DIR), with a header; by
// default the held-out recordings stored with the trained test deployment.
inline std::vector<Recording> ReadHeldout(std::string dir = DeploymentDir() + "/heldout") {
  dir += "/";
  std::ifstream list(dir + "heldout.tsv");
  std::vector<Recording> out;
  std::string line;
  std::getline(list, line);
  while (std::getline(list, line)) {
    std::stringstream row(line);
    Recording r;
    std::string path;
    if (!std::getline(row, r.speaker, '\t') || !std::getline(row, r.id, '\t') ||
        !std::getline(row, path, '\t'))
      continue;
    if (wavio::ReadWav(dir + path, &r.pcm).empty()) out.push_back(std::move(r));
  }
  return out;
}

struct TrialMeans {
  double same = 0.0, different = 0.0;
  int same_count = 0, different_count = 0;
};

// Every unordered pair of recordings, scored both ways round (the second
// template's duration drives the engine's adjustment).
inline TrialMeans ScoreAllPairs(const std::vector<Recording>& recs,
                                const std::function<float(size_t, size_t)>& score) {
  TrialMeans m;
  for (size_t i = 0; i < recs.size(); ++i) {
    for (size_t j = 0; j < recs.size(); ++j) {
      if (i == j) continue;
      const double s = score(i, j);
      if (recs[i].speaker == recs[j].speaker) {
        m.same += s;
        ++m.same_count;
      } else {
        m.different += s;
        ++m.different_count;
      }
    }
  }
  if (m.same_count) m.same /= m.same_count;
  if (m.different_count) m.different /= m.different_count;
  return m;
}

// Share of recordings whose best-scoring other recording is of the same voice.
inline double NearestIsSameVoice(const std::vector<Recording>& recs,
                                 const std::function<float(size_t, size_t)>& score) {
  int hits = 0;
  for (size_t i = 0; i < recs.size(); ++i) {
    double best = -1.0;
    size_t arg = i;
    for (size_t j = 0; j < recs.size(); ++j) {
      if (j == i) continue;
      const double s = score(j, i);
      if (s > best) best = s, arg = j;
    }
    hits += recs[arg].speaker == recs[i].speaker;
  }
  return recs.empty() ? 0.0 : static_cast<double>(hits) / recs.size();
}

// Prints the trial averages of one path and checks that same-voice pairs
// score clearly higher and that most recordings find their own voice first.
inline void CheckSeparation(const char* face, const char* name, const std::vector<Recording>& recs,
                            const std::function<float(size_t, size_t)>& score) {
  const TrialMeans m = ScoreAllPairs(recs, score);
  const double nearest = NearestIsSameVoice(recs, score);
  std::printf(
      "%s %-17s same voice %6.2f (%d trials)  different voices %6.2f (%d trials)"
      "  nearest is same voice %.0f%%\n",
      face, name, m.same, m.same_count, m.different, m.different_count, 100.0 * nearest);
  EXPECT_GT(m.same_count, 0);
  EXPECT_GT(m.same, m.different + 15.0);
  EXPECT_GE(nearest, 0.75);
}

}  // namespace jor_accuracy
