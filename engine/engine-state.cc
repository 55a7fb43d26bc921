#include "engine/engine-state.h"

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "brindle/xvext.h"
#include "ivdist/verifier.h"

namespace ravel_engine {

EngineState::~EngineState() {
  delete verifier;
  delete xvectorNet;
}

EngineState& State() {
  static EngineState state;
  return state;
}

void ReleaseModels() {
  EngineState& s = State();
  gmmpp_ivext::GmmppIvext::ReleaseModels();
  delete s.verifier;
  s.verifier = nullptr;
  delete s.xvectorNet;
  s.xvectorNet = nullptr;
}

}  // namespace ravel_engine
