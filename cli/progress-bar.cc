#include "cli/progress-bar.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace ravel_cli {
namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ProgressBar::ProgressBar() : terminal_(isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  Clear();
}

void ProgressBar::SetRecordingSeconds(double seconds) {
  enabled_ = terminal_ && seconds > kMinSeconds;
}

void ProgressBar::Update(const std::string& label, double fraction) {
  if (!enabled_) return;
  if (fraction < 0) fraction = 0;
  if (fraction > 1) fraction = 1;
  const int percent = static_cast<int>(fraction * 100.0);
  const double now = Now();
  if (percent == lastPercent_ || (now - lastDraw_ < 0.1 && percent < 100)) return;
  lastPercent_ = percent;
  lastDraw_ = now;
  constexpr int kWidth = 30;
  const int filled = static_cast<int>(fraction * kWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%-22.22s [%s] %3d%%", label.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%72s\r", "");
  std::fflush(stderr);
  drawn_ = false;
  lastPercent_ = -1;
}

}  // namespace ravel_cli
