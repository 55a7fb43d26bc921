#include "engine/engine-state.h"

#include "IvectorExt/GMMPP_IVEXT/gmmpp/gmmpp-ivext.h"
#include "brindle/xvext.h"
#include "engine/config-paths.h"
#include "ivdist/verifier.h"

namespace ravel_engine {

std::string JoinConfigPath(const char* configDir, const char* name) {
  // An empty directory means the working directory, like a null one.
  if (configDir == nullptr || configDir[0] == '\0') return name;
  std::string path(configDir);
  if (!path.empty() && (path.back() == '/' || path.back() == '\\')) return path + name;
  return path + '/' + name;
}

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
