// Diarization on short overlapping windows: which speaker talks when, for
// recordings of any length and speakers who talk for only a few seconds.
//
//   1. Features of the whole recording once (the engine's batch pipeline and
//      its energy voice activity detector), with the time of every voiced row.
//   2. Voiced regions (pauses under `bridgeSeconds` bridged) cut into windows
//      of `windowSeconds` every `stepSeconds`; each window's voiced rows give
//      an x-vector, transformed by the verifier into a template.
//   3. Every pair of windows scored by the SPLDA model (raw log-likelihood
//      ratio, the batch scorer); average-linkage clustering merges windows
//      while clusters score at least `threshold`, or down to `speakers`.
//   4. Resegmentation: per-speaker GMMs and a Viterbi pass over the feature
//      rows move boundaries to the frame (viterbi-resegmentation.h).
//   5. Turns: runs of one speaker, pauses under `maxGapSeconds` bridged.
//   6. Names: each speaker's audio is compared with the speaker database
//      "spdbdata" of the model folder through the recognition library, as the
//      4-second driver names its clusters (score 70 or more); speakers without
//      a name are "spk1", "spk2", ... in order of their first turn.
//
// The Java entry point keeps the 4-second driver (diarization-driver.h); this
// is the method of the command-line program and the Python package.
//
// A WindowDiarizer is immutable after Load; Diarize may run on several
// threads at once. Errors come back as status codes, nothing throws.
#pragma once

#include "common/result-codes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drumlin/diarization-driver.h"
#include "drumlin/viterbi-resegmentation.h"
#include "drumlin/window-models.h"

namespace drumlin {

// Average raw SPLDA log-likelihood ratio at which two clusters of windows
// stop being merged; calibrated on development conversations
// (tools/diarize/evaluate_diarization.py).
constexpr float kDefaultWindowThreshold = 10.0f;

struct WindowDiarizerOptions {
  int speakers = 0;      // > 0: exactly this many (when there are that many windows)
  int maxSpeakers = 10;  // > 0: at most this many
  double windowSeconds = 1.5;
  double stepSeconds = 0.75;
  float threshold = kDefaultWindowThreshold;
  bool resegment = true;
  ResegmentationOptions resegmentation;
  double bridgeSeconds = 0.3;    // pauses inside one voiced region
  double minWindowSeconds = 0.4;  // voiced speech a window needs
  double maxGapSeconds = 1.0;    // pause inside one turn
  int minClusterWindows = 1;     // smaller clusters join their closest neighbour
  size_t maxWindows = 4000;      // the step grows on longer recordings (memory is windows^2)
};

// Status codes beyond those of the models and the feature pipeline.
constexpr int kWindowOk = 0;
constexpr int kWindowNotLoaded = static_cast<int>(jor::kWindowNotLoaded);   // Diarize before a successful Load
constexpr int kWindowBadOptions = static_cast<int>(jor::kWindowBadOptions);  // a window, step or count out of range
constexpr int kWindowUnreadable = static_cast<int>(jor::kWindowUnreadable);  // the audio file cannot be read or decoded
constexpr int kWindowNoMemory = static_cast<int>(jor::kEngineNoMemory);
constexpr int kWindowInternal = static_cast<int>(jor::kWindowInternal);

struct WindowTurn {
  std::string speaker;
  double start = 0;  // seconds
  double end = 0;
};

// Everything up to the pair scores; clustering and the later steps can be run
// on it again with other options (the evaluation tool sweeps thresholds).
struct WindowAnalysis {
  double frameSeconds = 0.01;
  int frameCount = 0;
  int dim = 0;
  std::vector<float> rows;     // voiced feature rows, dim each
  std::vector<int> rowFrames;  // frame of each voiced row
  struct Window {
    size_t firstRow = 0;
    size_t rowCount = 0;
    int firstFrame = 0;
    int endFrame = 0;  // one past the last
  };
  std::vector<Window> windows;
  std::vector<float> scores;  // windows x windows, symmetric
  double embeddingSeconds = 0;
  double scoringSeconds = 0;
};

struct WindowDiarization {
  std::vector<WindowTurn> turns;      // in time order
  std::vector<std::string> speakers;  // one label per speaker, by first turn
  int windowCount = 0;
  // Wall time of the stages, in seconds.
  double featureSeconds = 0;
  double embeddingSeconds = 0;
  double scoringSeconds = 0;
  double clusteringSeconds = 0;
  double resegmentationSeconds = 0;
};

class WindowDiarizer {
 public:
  // Reads the models of `modelDir` (see window-models.h).
  int Load(const char* modelDir);
  const WindowModels& models() const { return models_; }

  // 8 kHz mono 16-bit PCM. Speakers are labelled spk1, spk2, ...
  int Diarize(const std::vector<short>& pcm, const WindowDiarizerOptions& options,
              WindowDiarization* result) const;
  // A WAV or MP3 file (".mp3" in any case is MP3), decoded to 8 kHz mono as
  // the 4-second driver decodes it, diarized and named from the database of
  // the model folder given to Load. `pcm`, when given, receives the samples.
  int DiarizeFile(const char* audioPath, const WindowDiarizerOptions& options,
                  WindowDiarization* result, std::vector<short>* pcm = nullptr) const;

  // The steps of Diarize, for tools that rerun the later ones.
  int Analyse(const std::vector<short>& pcm, const WindowDiarizerOptions& options,
              WindowAnalysis* analysis) const;
  int Finish(const WindowAnalysis& analysis, const WindowDiarizerOptions& options,
             WindowDiarization* result) const;

 private:
  WindowModels models_;
  std::string modelDir_;
};

// Renames the speakers of `result` that the speaker database file
// `databasePath` ("spdbdata" format, speaker-database.h) recognises, through
// the recognition library `api` initialised here on `modelDir`; others keep
// their labels. A missing or empty database changes nothing. 0, or the
// library's status (the labels are then left as they were).
int NameWindowSpeakers(const PellamApi& api, const char* modelDir, const std::string& databasePath,
                       const std::vector<short>& pcm, WindowDiarization* result);

// Decodes a WAV or MP3 file to 8 kHz mono PCM with the diarization decoder.
int DecodeAudioFile(const char* audioPath, std::vector<short>* pcm);

}  // namespace drumlin
