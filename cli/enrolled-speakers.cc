#include "cli/enrolled-speakers.h"

#include <filesystem>

#include "cli/arguments.h"

namespace ravel_cli {

std::vector<drumlin::SpeakerEntry> LoadEnrolled(const std::string& path, EngineSession& session) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw CliError(kExitRefused, path + ": a folder, not a speaker database");
  }
  std::vector<drumlin::SpeakerEntry> entries;
  if (drumlin::ReadSpeakerDatabase(path, &entries) != drumlin::kSpeakerDbOk) {
    throw CliError(kExitRefused, path + ": cannot be read");
  }
  if (entries.empty()) {
    throw CliError(kExitRefused, "speaker database " + path +
                                     " holds no speakers (missing, empty or shorter than one "
                                     "record): enrol some with 'ravel enrol'");
  }
  for (const drumlin::SpeakerEntry& e : entries) {
    session.Check(e.templ, path + ", record " + std::to_string(e.number) + " (\"" + e.name + "\")");
  }
  return entries;
}

std::string NameList(const std::vector<drumlin::SpeakerEntry>& entries) {
  std::string list;
  for (const drumlin::SpeakerEntry& e : entries) {
    if (!list.empty()) list += ", ";
    list += e.name;
  }
  return list;
}

}  // namespace ravel_cli
