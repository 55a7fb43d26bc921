#include "engine/logging.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

namespace jor_log {
namespace {

constexpr const char* kPattern = "%Y-%m-%d %H:%M:%S.%e [%P:%t] :%l: %v";

std::mutex& PathMutex() {
  static std::mutex m;
  return m;
}

std::string& OptionsPath() {
  static std::string path;
  return path;
}

void ReadLogOptions(const std::string& path, LogOptions* opts) {
  *opts = LogOptions{};
  try {
    boost::property_tree::ptree tree;
    boost::property_tree::read_json(path, tree);
    auto child = tree.get_child_optional("LogOptions");
    if (!child) return;
    if (auto v = child->get_optional<std::string>("filename")) opts->filename = *v;
    if (auto v = child->get_optional<int>("level")) opts->level = *v;
    if (auto v = child->get_optional<int>("max_size")) opts->max_size = *v;
    if (auto v = child->get_optional<int>("max_rotate")) opts->max_rotate = *v;
  } catch (...) {
    // Unreadable log options are not reported: there is no log yet.
  }
}

void Configure(const std::string& path, LogOptions* opts) {
  std::shared_ptr<spdlog::logger> old = opts->logger;
  ReadLogOptions(path, opts);
  if (old) spdlog::drop(old->name());
  spdlog::drop(opts->filename);
  const int level = opts->level < kTrace ? kTrace : (opts->level > kOff ? kOff : opts->level);
  spdlog::set_level(static_cast<spdlog::level::level_enum>(level));
  spdlog::set_pattern(kPattern);
  try {
    if (level == kOff) {
      // Logging off writes nothing, so it leaves no empty log file behind
      // either: the logger exists, without a file sink.
      opts->logger = std::make_shared<spdlog::logger>(opts->filename);
      opts->logger->set_level(spdlog::level::off);
      return;
    }
    const size_t max_bytes =
        static_cast<size_t>(opts->max_size > 0 ? opts->max_size : 1) << 20;
    const size_t max_files = opts->max_rotate > 0 ? static_cast<size_t>(opts->max_rotate) : 0;
    opts->logger = spdlog::rotating_logger_mt(opts->filename, opts->filename, max_bytes, max_files);
    // A log is read after failures, often after a crash: keep it on disk.
    opts->logger->flush_on(spdlog::level::trace);
  } catch (...) {
    // An unwritable log location leaves the engine without a log, never fails it.
    opts->logger.reset();
  }
}

}  // namespace

LogOptions& GetLogOptions() {
  static LogOptions* options = [] {
    auto* opts = new LogOptions();
    std::string path;
    {
      std::lock_guard<std::mutex> lock(PathMutex());
      path = OptionsPath();
    }
    // Code that logs before any engine initialisation (tools linking the
    // engine's parts) gets no log file: the log belongs to a deployment.
    if (!path.empty()) Configure(path, opts);
    return opts;
  }();
  return *options;
}

void SetupLogging(const std::string& optionsPath) {
  {
    std::lock_guard<std::mutex> lock(PathMutex());
    OptionsPath() = optionsPath;
  }
  LogOptions& opts = GetLogOptions();
  Configure(optionsPath, &opts);
}

const char* SourceBaseName(const char* path) {
  if (path == nullptr) return "";
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') base = p + 1;
  }
  return base;
}

void Log(const char* file, const char* function, int line, int level,
         const std::string& message) {
  LogOptions& opts = GetLogOptions();
  if (level < opts.level || level >= kOff) return;
  std::shared_ptr<spdlog::logger> logger = opts.logger;
  if (!logger) return;
  try {
    logger->log(static_cast<spdlog::level::level_enum>(level), "{}:{}:{} : {}",
                SourceBaseName(file), function ? function : "", line, message);
  } catch (...) {
    // Logging never takes the engine down.
  }
}

void LogF(const char* file, const char* function, int line, int level, const char* format, ...) {
  LogOptions& opts = GetLogOptions();
  if (level < opts.level || level >= kOff || !opts.logger) return;
  char stack_buf[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(stack_buf, sizeof(stack_buf), format, args);
  va_end(args);
  if (needed < 0) {
    va_end(copy);
    return;
  }
  if (static_cast<size_t>(needed) < sizeof(stack_buf)) {
    va_end(copy);
    Log(file, function, line, level, std::string(stack_buf, static_cast<size_t>(needed)));
    return;
  }
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, copy);
  va_end(copy);
  text.resize(static_cast<size_t>(needed));
  Log(file, function, line, level, text);
}

}  // namespace jor_log
