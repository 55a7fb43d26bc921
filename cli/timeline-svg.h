// The timeline picture of a diarization: one row per speaker, a bar per
// turn, a time axis. Plain SVG that any browser shows.
#pragma once

#include <string>
#include <vector>

#include "cli/speaker-turns.h"

namespace ravel_cli {

std::string TimelineSvg(const std::string& title, double seconds,
                        const std::vector<LabelledTurn>& turns);

}  // namespace ravel_cli
