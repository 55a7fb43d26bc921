// Speaker turns as the program reports them: the diarization's clusters with
// readable labels (the database name, or spk1, spk2, ... in order of first
// appearance for clusters without one), and their RTTM form.
#pragma once

#include <string>
#include <vector>

namespace ravel_cli {

struct LabelledTurn {
  std::string label;  // name, or spkN
  bool named = false;
  int cluster = -1;
  double start = 0;  // seconds
  double end = 0;
};

struct SpeakerSummary {
  std::string label;
  bool named = false;
  double seconds = 0;
  int turns = 0;
};

// Runs of equal cluster labels over the pieces (-1: no speaker, no turn);
// `clusterNames` holds the database name of each cluster or the unknown name.
std::vector<LabelledTurn> LabelTurns(const std::vector<int>& pieceLabels,
                                     const std::vector<std::string>& clusterNames,
                                     const std::string& unknownName, double pieceSeconds);

// Speakers in order of first appearance, with their talk time.
std::vector<SpeakerSummary> Summarise(const std::vector<LabelledTurn>& turns);

// Standard RTTM: one "SPEAKER file 1 start duration <NA> <NA> label <NA> <NA>"
// line per turn. White space in the file id and labels becomes '_'.
std::string FormatRttm(const std::string& fileId, const std::vector<LabelledTurn>& turns);

// The base name of `path` without its extension.
std::string FileId(const std::string& path);

}  // namespace ravel_cli
