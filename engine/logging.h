// Engine log: a rotating spdlog file configured by "log-options.json".
//
// Thread safety: Log/LogF may be called from any thread at any time;
// SetupLogging is called by engine initialisation only.
//
// Messages are formatted printf-style by the caller before they reach spdlog,
// so data is never used as a format string.
#pragma once

#include <memory>
#include <string>

namespace spdlog {
class logger;
}

namespace jor_log {

// spdlog's level scale; 6 turns logging off.
enum Level : int {
  kTrace = 0,
  kDebug = 1,
  kInfo = 2,
  kWarning = 3,
  kError = 4,
  kCritical = 5,
  kOff = 6,
};

struct LogOptions {
  std::string filename = "ULXSdk.log";  // also the logger's name
  int level = kOff;
  int max_size = 10;    // MiB per file
  int max_rotate = 10;  // rotated files kept
  std::shared_ptr<spdlog::logger> logger;
};

// The process-wide record; created on first use from the stored options path.
LogOptions& GetLogOptions();

// Reads the log options file (missing or malformed files leave defaults) and
// replaces the engine logger.
void SetupLogging(const std::string& optionsPath);

// Writes "<base name of file>:<function>:<line> : <message>" at `level` when
// level >= the configured level.
void Log(const char* file, const char* function, int line, int level, const std::string& message);

void LogF(const char* file, const char* function, int line, int level, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

// Base name of a source path: the part after the last '\\' or '/'.
const char* SourceBaseName(const char* path);

}  // namespace jor_log

// Convenience: the current source file with an explicit function name and line.
#define JOR_LOG(level, function, line, ...) \
  ::jor_log::LogF(__FILE__, function, line, level, __VA_ARGS__)
