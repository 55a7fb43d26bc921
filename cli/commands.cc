#include "cli/commands.h"

#include <cstdint>
#include <cstdio>

#include "cli/engine-session.h"

namespace ravel_cli {
namespace {

const std::set<std::string> kCommon = {"models"};
const std::set<std::string> kCommonFlags = {"json"};

std::set<std::string> With(std::set<std::string> base, std::initializer_list<const char*> more) {
  for (const char* m : more) base.insert(m);
  return base;
}

constexpr char kModelsHelp[] =
    "  --models DIR   deployment folder (default: the one installed with the program)\n"
    "  --json         print one JSON document instead of text\n";

const char kEnrolHelp[] =
    "usage: ravel enrol NAME AUDIO... --db FILE [--models DIR] [--json]\n\n"
    "Makes one x-vector template of all the recordings together and stores it under NAME\n"
    "in the speaker database FILE (\"spdbdata\" format, read by the diarization too).\n"
    "A record of the same name is replaced; a new name is appended. FILE is created\n"
    "when missing.\n\noptions:\n  --db FILE      speaker database to write\n";
const char kVerifyHelp[] =
    "usage: ravel verify AUDIO --db FILE --name NAME [--threshold T] [--models DIR] [--json]\n\n"
    "Scores AUDIO against NAME's enrolled template: 0 to 100, accepted from the\n"
    "threshold on (default 70).\n\noptions:\n  --db FILE      speaker database\n"
    "  --name NAME    enrolled speaker to verify\n  --threshold T  decision threshold, 0..100\n";
const char kCompareHelp[] =
    "usage: ravel compare AUDIO AUDIO [--threshold T] [--models DIR] [--json]\n\n"
    "Scores the first recording against the second: 0 to 100, the same speaker from\n"
    "the threshold on (default 70).\n\noptions:\n  --threshold T  decision threshold, 0..100\n";
const char kIdentifyHelp[] =
    "usage: ravel identify AUDIO --db FILE [--top N] [--threshold T] [--models DIR] [--json]\n\n"
    "Scores AUDIO against every speaker of the database at once and lists the best\n"
    "N (default 5), best first; the best is named when it reaches the threshold\n"
    "(default 70).\n\noptions:\n  --db FILE      speaker database\n"
    "  --top N        how many speakers to list\n  --threshold T  decision threshold, 0..100\n";
const char kDiarizeHelp[] =
    "usage: ravel diarize AUDIO [--db FILE] [--rttm FILE] [--xml FILE] [--plot FILE.svg]\n"
    "                     [--method pieces] [--models DIR] [--json]\n\n"
    "Finds who speaks when: the recording is cut into 4-second pieces, the pieces are\n"
    "clustered into speakers (a speaker needs at least ten pieces, 40 s), and each\n"
    "speaker is named from the database when one scores 70 or more; the others are\n"
    "spk1, spk2, ... in RTTM, JSON and the report.\n\noptions:\n"
    "  --db FILE      speaker database for the names (default: \"spdbdata\" of the deployment)\n"
    "  --rttm FILE    write the turns as RTTM\n"
    "  --xml FILE     write the speaker list exactly as the Java entry point returns it\n"
    "  --plot FILE    write a timeline picture (SVG)\n"
    "  --method M     pieces (the 4-second pass; the only method so far)\n";
const char kQualityHelp[] =
    "usage: ravel quality AUDIO [--models DIR] [--json]\n\n"
    "Measures the recording as the engine sees it: seconds of speech, volume, SNR, the\n"
    "usable frequency band and the SNR of 16 bands.\n\noptions:\n";
const char kTemplateHelp[] =
    "usage: ravel template AUDIO --out FILE [--kind xvector|ivector] [--models DIR] [--json]\n\n"
    "Writes the template of a recording (x-vector by default) to FILE.\n\noptions:\n"
    "  --out FILE     template file to write\n  --kind KIND    xvector or ivector\n";
const char kCheckHelp[] =
    "usage: ravel check FILE [--models DIR] [--json]\n\n"
    "Validates a template file against the deployment and prints its header.\n\noptions:\n";

std::string Help(const char* body) {
  return std::string(body) + kModelsHelp;
}

const std::string kHelps[] = {Help(kEnrolHelp),    Help(kVerifyHelp),  Help(kCompareHelp),
                              Help(kIdentifyHelp), Help(kDiarizeHelp), Help(kQualityHelp),
                              Help(kTemplateHelp), Help(kCheckHelp)};

const Command kCommands[] = {
    {"enrol",
     "store a speaker's template in a database",
     kHelps[0].c_str(),
     {With(kCommon, {"db"}), kCommonFlags, 2, SIZE_MAX},
     RunEnrol},
    {"verify",
     "score a recording against an enrolled speaker",
     kHelps[1].c_str(),
     {With(kCommon, {"db", "name", "threshold"}), kCommonFlags, 1, 1},
     RunVerify},
    {"compare",
     "score two recordings against each other",
     kHelps[2].c_str(),
     {With(kCommon, {"threshold"}), kCommonFlags, 2, 2},
     RunCompare},
    {"identify",
     "rank the enrolled speakers for a recording",
     kHelps[3].c_str(),
     {With(kCommon, {"db", "top", "threshold"}), kCommonFlags, 1, 1},
     RunIdentify},
    {"diarize",
     "find who speaks when",
     kHelps[4].c_str(),
     {With(kCommon, {"db", "rttm", "xml", "plot", "method"}), kCommonFlags, 1, 1},
     RunDiarize},
    {"quality",
     "measure a recording",
     kHelps[5].c_str(),
     {kCommon, kCommonFlags, 1, 1},
     RunQuality},
    {"template",
     "write a recording's template to a file",
     kHelps[6].c_str(),
     {With(kCommon, {"out", "kind"}), kCommonFlags, 1, 1},
     RunTemplate},
    {"check",
     "validate a template file",
     kHelps[7].c_str(),
     {kCommon, kCommonFlags, 1, 1},
     RunCheck},
};

}  // namespace

const Command* Commands() {
  return kCommands;
}
size_t CommandCount() {
  return sizeof kCommands / sizeof kCommands[0];
}

std::string ModelsDir(const Arguments& args) {
  return args.Has("models") ? args.Value("models") : DefaultModelsDir();
}

void PrintOut(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace ravel_cli
