#include "engine/config-paths.h"

namespace ravel_engine {

std::string JoinConfigPath(const char* configDir, const char* name) {
  // An empty directory means the working directory, like a null one.
  if (configDir == nullptr || configDir[0] == '\0') return name;
  std::string path(configDir);
  if (!path.empty() && (path.back() == '/' || path.back() == '\\')) return path + name;
  return path + '/' + name;
}

}  // namespace ravel_engine
