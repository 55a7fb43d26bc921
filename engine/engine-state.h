// Process-wide engine state, written only by Ravel_Initialize and
// Ravel_Terminate and read by every engine instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "IvectorExt/featext/mfcc-options.h"

namespace ivdist {
class Verifier;
}
namespace XVECTOR {
class C_XVEXT;
}

namespace ravel_engine {

struct EngineState {
  EngineState() = default;
  ~EngineState();  // process exit frees the verifier and the network
  EngineState(const EngineState&) = delete;
  EngineState& operator=(const EngineState&) = delete;

  bool initialized = false;
  int32_t lastDetail = 33;
  std::unique_ptr<jor_feat::MfccOptions> featureOptions;
  bool ivectorReady = false;
  ivdist::Verifier* verifier = nullptr;
  XVECTOR::C_XVEXT* xvectorNet = nullptr;
  size_t templateSize = 0;
  uint8_t templateMajor = 0;
  uint8_t templateMinor = 0;
};

EngineState& State();

// The release step of termination: the GMM/i-vector stage, the verifier, the
// x-vector network.
void ReleaseModels();

}  // namespace ravel_engine
