// Diarization of a recording file: which speaker talks when.
//
// The recording is cut into 4-second pieces, every piece gets an x-vector
// template from the recognition library, every piece is scored against every
// other, the byte-quantised similarity matrix is clustered into speakers,
// each speaker is named from the speaker database "spdbdata" of the model
// directory, and the turns come back as an XML speaker list.
//
// Each call owns all of its state (decoder, buffers, clustering, recognition
// handle); calls may run on several threads at once. The recognition library
// is reached through a PellamApi table so that tests can stand in for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drumlin/speaker-clustering.h"
#include "pellam/pellam.h"

namespace drumlin {

// The recognition library's exports used here, by role.
struct PellamApi {
  RecInitialize initialize = nullptr;                    // ordinal 1
  RecCreate create = nullptr;                            // ordinal 4
  RecDelete destroy = nullptr;                           // ordinal 5
  RecMakeXvectorTemplate makeXvectorTemplate = nullptr;  // ordinal 6
  RecCompare compare = nullptr;                          // ordinal 11
  RecGetDetail getDetail = nullptr;                      // ordinal 14
  RecGetTemplateSize getTemplateSize = nullptr;          // ordinal 18
};

// The table bound to the linked Pellam library.
const PellamApi& BoundPellamApi();

// Result texts other than the speaker list; Java callers match on them.
extern const char kWaveSplitError[];      // "Wave sprit Error"
extern const char kInitializeError[];     // "ulx Initialize error"
extern const char kCrossMatchingError[];  // "ulx cross matching error"
extern const char kDiarizationError[];    // "Diarization error"

constexpr int kPieceSeconds = 4;
// Largest recording file read (512 MiB, far beyond the 2,048 s the
// clustering can take at any common format); larger files, and anything that
// is not a regular file (a FIFO, a device, a directory), give
// "Wave sprit Error" without being read.
constexpr uint64_t kMaxRecordingBytes = uint64_t{512} << 20;
// Engine scores (0..100) below this count as no similarity.
constexpr float kScoreFloor = 63.0f;
constexpr float kMinScore = 20.0f;
constexpr float kScoreToByte = 2.55f;
// Lowest database score that names a speaker.
constexpr float kNameThreshold = 70.0f;
constexpr char kUnknownSpeaker[] = "Unknown";

struct DiarizationOptions {
  // Prints progress and failures to standard output as "### DEBUG : ...".
  bool debug = false;
  // Speaker database to name clusters from; empty: "spdbdata" of the model
  // directory.
  std::string databasePath;
  // Called after each piece template and each row of comparisons with the
  // work done so far and the whole (pieces + rows); for progress displays.
  std::function<void(int done, int total)> progress;
};

struct SpeakerTurn {
  std::string name;
  int start = 0;  // seconds
  int end = 0;    // seconds
};

// What a run found, for tests and measurements.
struct DiarizationReport {
  int pieceCount = 0;
  std::vector<uint8_t> matrix;  // pieceCount × pieceCount, row-major
  std::vector<int> labels;      // per piece, -1 for none
  int clusterCount = 0;
  ClusteringStats stats;
  std::vector<std::string> names;  // per cluster
  std::vector<SpeakerTurn> turns;
  // Wall time of the stages, in seconds.
  double loadSeconds = 0;
  double pieceTemplateSeconds = 0;
  double compareSeconds = 0;
  double clusteringSeconds = 0;
  double namingSeconds = 0;
};

// Runs the whole diarization of the file at `audioPath` (".mp3" exactly is
// read as MP3, anything else as WAV) with the models of `modelDir`. Returns
// the XML speaker list or one of the result texts above. Never throws.
std::string Diarize(const PellamApi& api, const char* audioPath, const char* modelDir,
                    const DiarizationOptions& options = {}, DiarizationReport* report = nullptr);

// Byte of the similarity matrix for one engine score.
uint8_t QuantiseScore(float score);

// Runs of equal labels in piece order; label -1 gives no turn.
std::vector<SpeakerTurn> MakeTurns(const std::vector<int>& labels,
                                   const std::vector<std::string>& clusterNames);

// The XML speaker list; names are escaped.
std::string FormatSpeakerList(const std::vector<SpeakerTurn>& turns);

// `text` made safe for an XML attribute value in a UTF-8 document: markup
// characters become entities, bytes that are not UTF-8 or not allowed in
// XML become U+FFFD.
std::string EscapeXmlAttribute(const std::string& text);

}  // namespace drumlin
