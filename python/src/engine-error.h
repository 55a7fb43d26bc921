// Failure of an engine call as seen by the Python package: the status class
// returned by the call, the detail code the engine kept for it, and the
// operation that failed. The module turns it into ravel.RavelError.
#pragma once

#include <stdexcept>
#include <string>

namespace ravel_py {

class EngineError : public std::runtime_error {
 public:
  EngineError(int status, int detail, const std::string& operation)
      : std::runtime_error(operation), status_(status), detail_(detail) {}
  int status() const { return status_; }
  int detail() const { return detail_; }

 private:
  int status_;
  int detail_;
};

}  // namespace ravel_py
