// The models the window diarizer reads from a deployment folder: the feature
// options ("mfcc-options.json"), the x-vector network ("xe5.pb") and the
// scoring sections of "ulxmodel.dat" (mean/variance, whitening, SPLDA).
//
// The diarizer computes features once per recording and runs the network on
// many short windows of them, which the recognition library's exports cannot
// do (they take PCM and keep only voiced rows without their times); so it
// loads the same files with the engine's own classes. Immutable after Load;
// every const operation may run on several threads at once.
#pragma once

#include "common/result-codes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IvectorExt/featext/mfcc-options.h"
#include "brindle/xvext.h"
#include "ivdist/splda.h"
#include "ivdist/verifier.h"

namespace drumlin {

// Load failures other than the readers' own codes.
constexpr int kWindowModelsNoSplda = static_cast<int>(jor::kSpldaUnreadable);      // no SPLDA section in the container
constexpr int kWindowModelsMismatch = static_cast<int>(jor::kWindowModelsMismatch);     // network output != scoring dimension
constexpr int kWindowModelsNoMemory = static_cast<int>(jor::kEngineNoMemory);

class WindowModels {
 public:
  WindowModels() = default;
  WindowModels(const WindowModels&) = delete;
  WindowModels& operator=(const WindowModels&) = delete;

  // Reads the three files of `modelDir` (null or "" for the working
  // directory). Returns 0 or the status of the failing reader.
  int Load(const char* modelDir);

  bool loaded() const { return loaded_; }
  const jor_feat::MfccOptions& options() const { return *options_; }
  // Raw embedding of voiced feature rows (D floats each), as the engine
  // computes it for an x-vector template. 0 or Brindle's result.
  int Embed(const std::vector<float>& rows, std::vector<float>* embedding) const;
  // Transformed template values (2D+1) of a raw embedding.
  int Transform(const std::vector<float>& embedding, std::vector<float>* values) const;
  // results[j] = raw SPLDA score of `probe` against template j of `n`
  // templates stored back to back.
  int ScoreMany(const float* probe, const float* templates, size_t n, float* results) const;
  uint32_t TemplateValues() const { return templateValues_; }

 private:
  std::unique_ptr<jor_feat::MfccOptions> options_;
  std::unique_ptr<ivdist::Verifier> verifier_;
  std::unique_ptr<ivdist::splda::Splda<float>> splda_;
  // GetXvector is not const, though it changes nothing: see brindle/xvext.h.
  std::unique_ptr<XVECTOR::C_XVEXT> network_;
  uint32_t templateValues_ = 0;
  bool loaded_ = false;
};

}  // namespace drumlin
