// Whole files as byte strings.
#pragma once

#include <string>

namespace modelio {

// Writes `bytes` to `path`, replacing the file.
void WriteFile(const std::string& path, const std::string& bytes);
// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace modelio
