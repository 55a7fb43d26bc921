#include "tests/support/test-dir.h"

#include <unistd.h>
#include <atomic>
#include <random>

namespace jor_test {

TestDir::TestDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("jor_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" +
           std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TestDir::~TestDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace jor_test
