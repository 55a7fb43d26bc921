// ravel: enrol, verify, identify and diarize speakers in recordings with the
// kit's engine, from the command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json-writer.h"

namespace {

constexpr char kOverviewHead[] =
    "ravel: speaker recognition from the command line\n"
    "\n"
    "usage: ravel COMMAND [ARGUMENTS] [--models DIR] [--json]\n"
    "\n"
    "commands:\n";
constexpr char kOverviewTail[] =
    "\n"
    "Recordings: WAV (any rate, channels, sample width), FLAC or MP3; they are\n"
    "brought to 8 kHz mono. --models DIR picks the deployment (default: the one\n"
    "installed with the program). --json prints one JSON document. 'ravel COMMAND\n"
    "--help' tells more. Exit codes: 0 done, 1 input refused, 2 usage.\n";

void PrintOverview(std::FILE* to) {
  std::fputs(kOverviewHead, to);
  for (size_t i = 0; i < ravel_cli::CommandCount(); ++i) {
    const ravel_cli::Command& c = ravel_cli::Commands()[i];
    std::fprintf(to, "  %-9s %s\n", c.name, c.summary);
  }
  std::fputs(kOverviewTail, to);
}

bool WantsJson(const std::vector<std::string>& words) {
  for (const std::string& w : words) {
    if (w == "--json") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) {
    PrintOverview(stderr);
    return ravel_cli::kExitUsage;
  }
  if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    PrintOverview(stdout);
    return ravel_cli::kExitDone;
  }
  const ravel_cli::Command* command = nullptr;
  for (size_t i = 0; i < ravel_cli::CommandCount(); ++i) {
    if (words[0] == ravel_cli::Commands()[i].name) command = &ravel_cli::Commands()[i];
  }
  const bool json = WantsJson(words);
  try {
    if (command == nullptr) {
      throw ravel_cli::CliError(ravel_cli::kExitUsage, "unknown command \"" + words[0] + "\"");
    }
    words.erase(words.begin());
    const ravel_cli::Arguments args(words, command->spec);
    if (args.Has("help")) {
      std::fputs(command->help, stdout);
      return ravel_cli::kExitDone;
    }
    return command->run(args);
  } catch (const ravel_cli::CliError& e) {
    std::fprintf(stderr, "ravel: %s\n", e.what());
    if (e.exitCode == ravel_cli::kExitUsage) {
      if (command != nullptr) {
        std::fprintf(stderr, "see 'ravel %s --help'\n", command->name);
      } else {
        std::fprintf(stderr, "see 'ravel --help'\n");
      }
    }
    if (json) {
      ravel_cli::JsonWriter w;
      w.BeginObject().Key("error").BeginObject();
      w.Key("message").String(e.what());
      w.Key("exit_code").Integer(e.exitCode);
      w.Key("status").Integer(e.status);
      w.Key("detail").Integer(e.detail);
      w.EndObject().EndObject();
      ravel_cli::PrintOut(w.text());
    }
    return e.exitCode;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "ravel: out of memory\n");
    return ravel_cli::kExitRefused;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ravel: %s\n", e.what());
    return ravel_cli::kExitRefused;
  }
}
