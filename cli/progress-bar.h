// A progress bar on standard error for long recordings. It draws only when
// standard error is a terminal and the recording lasts over a minute, so
// scripts and logs never see it.
#pragma once

#include <string>

namespace ravel_cli {

class ProgressBar {
 public:
  ProgressBar();
  ~ProgressBar();  // clears the line
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Decides, once the recording's length is known, whether to draw.
  void SetRecordingSeconds(double seconds);
  // Draws `label` and the fraction done (0..1), at most every 100 ms.
  void Update(const std::string& label, double fraction);
  void Clear();

  static constexpr double kMinSeconds = 60.0;

 private:
  bool terminal_;
  bool enabled_ = false;
  bool drawn_ = false;
  double lastDraw_ = -1.0;
  int lastPercent_ = -1;
};

}  // namespace ravel_cli
