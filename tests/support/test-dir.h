// Scratch directories for tests: a fresh folder under the system temp
// directory, removed with its contents when the object goes away.
#pragma once

#include <filesystem>
#include <string>

#include "tools/modelio/file-bytes.h"

namespace jor_test {

class TestDir {
 public:
  TestDir();
  ~TestDir();
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

using modelio::ReadFile;
using modelio::WriteFile;

}  // namespace jor_test
