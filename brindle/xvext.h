// X-vector extraction library: the one class the engine links against.
//
// Init loads "xe5.pb" (format in brindle/README.md); GetXvector turns a
// feature matrix (voiced frames, row-major, the model's input dimension per
// row) into the speaker embedding. Results are 0 or (status << 20) | detail
// with details 0x9xxx, listed in brindle/README.md; no exception leaves the
// library.
//
// Thread safety: after a successful Init, GetXvector may be called from any
// number of threads at once. Init must not run concurrently with other calls
// on the same object.
#pragma once

#include <string>
#include <vector>

#include "common/visibility.h"

#if defined(BRINDLE_BUILDING)
#define BRINDLE_API JOR_EXPORT_SYMBOL
#else
#define BRINDLE_API JOR_IMPORT_SYMBOL
#endif

namespace XVECTOR {

class BRINDLE_API C_XVEXT {
 public:
  C_XVEXT();
  virtual ~C_XVEXT();
  C_XVEXT(const C_XVEXT&) = delete;
  C_XVEXT& operator=(const C_XVEXT&) = delete;

  // `path`: the model file. `flags`: reserved, 0. A failed Init leaves the
  // object uninitialised, whatever it held before.
  int Init(std::string path, int flags);
  // `features`: D floats per frame, D the model's input dimension. On success
  // `xvector` holds the embedding (the model's embedding dimension); on
  // failure it is left empty.
  int GetXvector(const std::vector<float>& features, std::vector<float>& xvector);
  // Floats per feature row and per embedding of the loaded model; 0 before a
  // successful Init.
  int InputDim() const;
  int EmbeddingDim() const;

 private:
  class Impl;
  Impl* impl_;
};

}  // namespace XVECTOR
