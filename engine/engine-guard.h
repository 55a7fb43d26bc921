// The engine's error boundary: what a call throws becomes one result.
//
// Exceptions live only inside the engine (the MFCC machinery's configuration
// errors, the JSON parser, the shared-memory library, memory exhaustion); the
// exports and the instance operations run their work through CatchAll, so a
// caller only ever sees results: memory exhaustion is jor::kEngineNoMemory
// (status 256, detail 0x2100), anything else jor::kEngineException (status
// 4095, detail 0x2FFF).
#pragma once

#include <new>

#include "common/result-codes.h"

namespace ravel_engine {

// Runs `body` (returning an internal result) and maps what it throws.
template <typename F>
jor::Result CatchAll(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return jor::kEngineNoMemory;
  } catch (...) {
    return jor::kEngineException;
  }
}

}  // namespace ravel_engine
