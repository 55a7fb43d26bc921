#include "cli/arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ravel_cli {

Arguments::Arguments(const std::vector<std::string>& words, const ArgumentSpec& spec) {
  bool onlyPositional = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (onlyPositional || w.size() < 2 || w.compare(0, 2, "--") != 0) {
      positional_.push_back(w);
      continue;
    }
    if (w == "--") {
      onlyPositional = true;
      continue;
    }
    std::string name = w.substr(2);
    std::string value;
    bool hasValue = false;
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "help" || spec.flags.count(name)) {
      if (hasValue) throw CliError(kExitUsage, "--" + name + " takes no value");
      flags_.insert(name);
    } else if (spec.valueOptions.count(name)) {
      if (!hasValue) {
        if (i + 1 >= words.size()) throw CliError(kExitUsage, "--" + name + " needs a value");
        value = words[++i];
      }
      values_[name] = value;
    } else {
      throw CliError(kExitUsage, "unknown option --" + name);
    }
  }
  if (flags_.count("help")) return;  // help needs no other argument
  if (positional_.size() < spec.minPositional) {
    throw CliError(kExitUsage, "missing arguments");
  }
  if (positional_.size() > spec.maxPositional) {
    throw CliError(kExitUsage, "unexpected argument \"" + positional_[spec.maxPositional] + "\"");
  }
}

bool Arguments::Has(const std::string& name) const {
  return flags_.count(name) > 0 || values_.count(name) > 0;
}

std::string Arguments::Value(const std::string& name, const std::string& fallback) const {
  const auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

std::string Arguments::Required(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) throw CliError(kExitUsage, "--" + name + " is required");
  return it->second;
}

double Arguments::Number(const std::string& name, double fallback, double lo, double hi) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(it->second.c_str(), &end);
  if (it->second.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v < lo || v > hi) {
    char range[96];
    std::snprintf(range, sizeof range, " must be a number from %g to %g", lo, hi);
    throw CliError(kExitUsage, "--" + name + range);
  }
  return v;
}

int Arguments::Integer(const std::string& name, int fallback, int lo, int hi) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(it->second.c_str(), &end, 10);
  if (it->second.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) {
    throw CliError(kExitUsage, "--" + name + " must be a whole number from " + std::to_string(lo) +
                                   " to " + std::to_string(hi));
  }
  return static_cast<int>(v);
}

}  // namespace ravel_cli
