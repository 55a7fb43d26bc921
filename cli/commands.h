// The subcommands of the `ravel` program. Each runs with its parsed
// arguments, prints its result (text, or one JSON document with --json) on
// standard output and returns the exit code; refusals are thrown as CliError.
#pragma once

#include <string>

#include "cli/arguments.h"

namespace ravel_cli {

// Default decision threshold of verify, compare and identify (0..100): the
// score from which the diarization pass also names a speaker.
constexpr double kDefaultThreshold = 70.0;

struct Command {
  const char* name;
  const char* summary;  // one line for the overview
  const char* help;     // the whole --help text
  ArgumentSpec spec;
  int (*run)(const Arguments& args);
};

int RunEnrol(const Arguments& args);
int RunVerify(const Arguments& args);
int RunCompare(const Arguments& args);
int RunIdentify(const Arguments& args);
int RunDiarize(const Arguments& args);
int RunQuality(const Arguments& args);
int RunTemplate(const Arguments& args);
int RunCheck(const Arguments& args);

// Every subcommand, in the order of the overview.
const Command* Commands();
size_t CommandCount();

// Shared by the subcommands: --models or the default deployment.
std::string ModelsDir(const Arguments& args);
// Prints a finished JSON document or text to standard output.
void PrintOut(const std::string& text);

}  // namespace ravel_cli
