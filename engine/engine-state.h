// Engine state: whether the engine is initialised, the detail of the last
// initialisation outcome and the deployment's model set. The exports hold the
// one instance of the process; it is written only by Ravel_Initialize and
// Ravel_Terminate.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/model-set.h"

namespace ravel_engine {

struct EngineState {
  bool initialized = false;
  int32_t lastDetail = 33;
  // Present exactly while initialised; instances hold references into it.
  std::unique_ptr<const ModelSet> models;
  // Counts successful initialisations: an instance made under an earlier
  // one must not reach a later model set.
  uint64_t generation = 0;
};

}  // namespace ravel_engine
