// The recognition engine as the program uses it: the deployment folder, one
// initialised library with one handle, templates and scores, and engine
// refusals turned into readable errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/audio-input.h"
#include "cli/progress-bar.h"

namespace ravel_cli {

// The default deployment, found from the program's own location: the
// installed data folder beside it, or models/default of the source tree it
// was built from. Empty when neither holds "ulxmodel.dat".
std::string DefaultModelsDir();

struct Recording {
  std::string path;
  std::vector<int16_t> pcm;  // 8000 Hz mono
  ravel_audio::AudioInfo info;
  double seconds() const { return static_cast<double>(pcm.size()) / ravel_audio::kEngineRate; }
};

// Reads a recording; throws CliError(kExitRefused) for a missing, unreadable
// or non-audio file.
Recording LoadRecording(const std::string& path, ProgressBar* bar);

struct Template {
  std::vector<char> bytes;
  float duration = 0;  // seconds of speech
  float volume = 0;
  float snr = 0;
};

enum class TemplateKind { kXvector, kIvector };

// "status S (meaning), detail 0xDDDDD (meaning)" from the one table of codes.
std::string DescribeEngineResult(int status, int detail);

class EngineSession {
 public:
  // Initialises the library on `modelsDir` and creates a handle; throws
  // CliError(kExitRefused) with the engine's status and detail.
  explicit EngineSession(const std::string& modelsDir);
  ~EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  const std::string& modelsDir() const { return modelsDir_; }
  size_t templateSize() const { return templateSize_; }
  void* handle() const { return handle_; }

  // Template of a whole recording; throws CliError naming `what`.
  Template Make(const std::vector<int16_t>& pcm, TemplateKind kind, const std::string& what);
  // Score (0..100) of `probe` against `reference`; the reference's duration
  // counts, as when the diarization names speakers.
  float Compare(const std::vector<char>& probe, const std::vector<char>& reference);
  // Throws CliError(kExitRefused) unless `bytes` is a valid template of this
  // deployment; returns its version ("1.1").
  std::string Check(const std::vector<char>& bytes, const std::string& what);

 private:
  [[noreturn]] void Refuse(const std::string& what, int status, int detail);

  std::string modelsDir_;
  void* handle_ = nullptr;
  size_t templateSize_ = 0;
};

// Header fields of a template (no validation).
struct TemplateHeader {
  int major = 0;
  int minor = 0;
  float duration = 0;
  float volume = 0;
  float snr = 0;
};
TemplateHeader ReadTemplateHeader(const std::vector<char>& bytes);

}  // namespace ravel_cli
