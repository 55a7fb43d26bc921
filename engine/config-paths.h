// Paths of the files in the engine's configuration directory.
#pragma once

#include <string>

namespace ravel_engine {

// Null or empty dir: the bare name. A dir ending in '/' or '\\' gets the name
// appended directly; any other dir gets '/' and the name.
std::string JoinConfigPath(const char* configDir, const char* name);

}  // namespace ravel_engine
