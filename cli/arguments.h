// Command-line arguments of one subcommand: positional words, options with a
// value ("--db FILE" or "--db=FILE") and flags ("--json").
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ravel_cli {

// A failure that ends the program: its exit code and what to tell the user.
struct CliError : std::runtime_error {
  CliError(int exitCode, const std::string& message, int status = 0, int detail = 0)
      : std::runtime_error(message), exitCode(exitCode), status(status), detail(detail) {}
  int exitCode;
  int status;  // engine status and detail, when the engine refused
  int detail;
};

constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

// What a subcommand accepts.
struct ArgumentSpec {
  std::set<std::string> valueOptions;  // without the leading "--"
  std::set<std::string> flags;
  size_t minPositional = 0;
  size_t maxPositional = 0;  // SIZE_MAX for any number
};

class Arguments {
 public:
  // Throws CliError(kExitUsage) for an unknown option, a missing value or a
  // wrong number of positional words. "--help" is always accepted.
  Arguments(const std::vector<std::string>& words, const ArgumentSpec& spec);

  const std::vector<std::string>& positional() const { return positional_; }
  bool Has(const std::string& name) const;  // a flag or option given
  // The option's value, or `fallback` when it was not given.
  std::string Value(const std::string& name, const std::string& fallback = "") const;
  // Throws CliError(kExitUsage) when the option is missing.
  std::string Required(const std::string& name) const;
  // A number option within [lo, hi]; usage error otherwise.
  double Number(const std::string& name, double fallback, double lo, double hi) const;
  int Integer(const std::string& name, int fallback, int lo, int hi) const;

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
};

}  // namespace ravel_cli
