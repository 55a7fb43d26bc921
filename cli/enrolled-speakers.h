// The speaker database as the program reads it: every record checked
// against the deployment before any score is made from it.
#pragma once

#include <string>
#include <vector>

#include "cli/engine-session.h"
#include "drumlin/speaker-database.h"

namespace ravel_cli {

// Reads `path`; throws CliError(kExitRefused) when it holds no speaker or a
// record whose template this deployment refuses.
std::vector<drumlin::SpeakerEntry> LoadEnrolled(const std::string& path, EngineSession& session);

// The names, comma-separated, for messages.
std::string NameList(const std::vector<drumlin::SpeakerEntry>& entries);

}  // namespace ravel_cli
