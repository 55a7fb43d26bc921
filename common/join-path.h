// The one way the kit joins a directory and a file name (configuration
// files, the model container, the speaker database).
#pragma once

#include <string>

namespace common {

#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// A null or empty directory means the working directory: the bare name. A
// directory that already ends in '/' or '\\' gets the name appended directly;
// any other gets the platform's separator and the name.
inline std::string JoinPath(const char* dir, const char* name) {
  if (dir == nullptr || dir[0] == '\0') return name;
  std::string path(dir);
  if (path.back() != '/' && path.back() != '\\') path += kPathSeparator;
  return path + name;
}

}  // namespace common
