// The ravel program as users run it, on the trained test deployment: every
// subcommand's output, JSON shapes, RTTM lines, exit codes and the messages
// for refused input. Recordings of other rates and layouts are made from the
// deployment's held-out recordings with sox at test time.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "drumlin/diarization-driver.h"
#include "tests/support/test-dir.h"

namespace {

namespace fs = std::filesystem;
using Tree = boost::property_tree::ptree;

const std::string kDeployment = JOR_SOURCE_DIR "/tests/data/trained";
const std::string kHeldout = kDeployment + "/heldout/";
const std::string kConversation = kDeployment + "/conversation/";

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& word) {
  std::string q(1, '\'');
  for (char c : word) {
    if (c == '\'') {
      q.append("'\\''");
    } else {
      q.push_back(c);
    }
  }
  q.push_back('\'');
  return q;
}

class RavelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new jor_test::TestDir();
    hasSox_ = std::system("command -v sox > /dev/null 2>&1") == 0;
    // Two enrolled voices for the database subcommands.
    db_ = File("speakers.db");
    for (const char* voice : {"es-m4", "es-f1"}) {
      const Outcome r = Ravel({"enrol", voice, kConversation + voice + "-enrol.wav", "--db", db_});
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static std::string File(const std::string& name) { return dir_->File(name); }

  // Runs ravel with the trained deployment unless the words name --models.
  static Outcome Ravel(std::vector<std::string> words) {
    bool models = false;
    for (const std::string& w : words) models |= w == "--models";
    if (!models && !words.empty() && words[0] != "--help") {
      words.push_back("--models");
      words.push_back(kDeployment);
    }
    std::string command = Quote(RAVEL_PROGRAM);
    for (const std::string& w : words) {
      command.push_back(' ');
      command.append(Quote(w));
    }
    const std::string out = File("stdout"), err = File("stderr");
    command += " > " + Quote(out) + " 2> " + Quote(err) + " < /dev/null";
    const int status = std::system(command.c_str());
    Outcome r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = jor_test::ReadFile(out);
    r.err = jor_test::ReadFile(err);
    return r;
  }

  static Tree Json(const Outcome& r) {
    Tree t;
    std::istringstream in(r.out);
    try {
      boost::property_tree::read_json(in, t);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not JSON: " << r.out << " (" << e.what() << ")";
    }
    return t;
  }

  static double Number(const Tree& t, const std::string& key) {
    return std::stod(t.get<std::string>(key));
  }

  // A copy of a held-out recording at another rate and channel count.
  static std::string Converted(const std::string& source, const std::string& name,
                               const std::string& soxFormat) {
    const std::string out = File(name);
    const std::string command =
        "sox " + Quote(source) + " " + soxFormat + " " + Quote(out) + " 2> /dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return out;
  }

  static jor_test::TestDir* dir_;
  static bool hasSox_;
  static std::string db_;
};

jor_test::TestDir* RavelTest::dir_ = nullptr;
bool RavelTest::hasSox_ = false;
std::string RavelTest::db_;

// Inserts a LIST/INFO chunk between the format and the data chunk of a WAV
// file, as many editors write them.
void InsertListChunk(const std::string& path) {
  std::string wav = jor_test::ReadFile(path);
  const size_t data = wav.find("data", 12);
  ASSERT_NE(data, std::string::npos);
  std::string info = "INFOISFT";
  const std::string text = std::string("ravel tests") + '\0';  // even: no pad byte
  for (int i = 0; i < 4; ++i) info += static_cast<char>((text.size() >> (8 * i)) & 0xFF);
  info += text;
  std::string chunk = "LIST";
  for (int i = 0; i < 4; ++i) chunk += static_cast<char>((info.size() >> (8 * i)) & 0xFF);
  chunk += info;
  wav.insert(data, chunk);
  uint32_t riff = static_cast<uint32_t>(wav.size() - 8);
  std::memcpy(&wav[4], &riff, 4);
  jor_test::WriteFile(path, wav);
}

TEST_F(RavelTest, RefusalsAndUsage) {
  jor_test::WriteFile(File("notes.wav"), "These are meeting notes, not a recording.\n");
  jor_test::WriteFile(File("empty.db"), "");
  const Outcome made = Ravel({"template", kHeldout + "es-f1-008.wav", "--out", File("t.bin")});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  std::string templ = jor_test::ReadFile(File("t.bin"));
  templ[300] = static_cast<char>(templ[300] ^ 0x40);
  jor_test::WriteFile(File("damaged.bin"), templ);
  jor_test::WriteFile(File("short.bin"), templ.substr(0, 1000));

  struct Case {
    std::vector<std::string> words;
    int exitCode;
    std::string message;  // in standard error
  };
  const std::string wav = kHeldout + "es-f1-008.wav";
  const Case cases[] = {
      {{"quality", File("missing.wav")}, 1, "missing.wav: no such file"},
      {{"verify", File("notes.wav"), "--db", db_, "--name", "es-f1"},
       1,
       "notes.wav: not a recording of a known format"},
      {{"compare", wav, File(".")}, 1, "cannot be read (a folder, not a file)"},
      {{"identify", wav, "--db", File("empty.db")}, 1, "empty.db holds no speakers"},
      {{"verify", wav, "--db", File("no-such.db"), "--name", "x"},
       1,
       "no-such.db holds no speakers"},
      {{"verify", wav, "--db", db_, "--name", "nobody"},
       1,
       "no speaker \"nobody\" in " + db_ + " (enrolled: es-m4, es-f1)"},
      {{"check", File("damaged.bin")},
       1,
       "damaged.bin: damaged template: status 1792 (template malformed or of the wrong length), "
       "detail 0x02030"},
      {{"check", File("short.bin")}, 1, "1000 bytes, its templates have 4356): status 768"},
      {{"check", File("missing.bin")}, 1, "missing.bin: no such file"},
      {{"quality", wav, "--models", File("nowhere")},
       1,
       "cannot load the deployment in " + File("nowhere") +
           ": status 1024 (model data unreadable or inconsistent), detail 0x01015"},
      {{}, 2, "usage: ravel COMMAND"},
      {{"listen", wav}, 2, "unknown command \"listen\""},
      {{"verify", wav, "--db", db_}, 2, "--name is required"},
      {{"verify", wav, "--db", db_, "--name", "es-f1", "--threshold", "101"}, 2, "--threshold"},
      {{"identify", wav, "--db", db_, "--top", "0"}, 2, "--top"},
      {{"compare", wav}, 2, "missing arguments"},
      {{"quality", wav, "--loud"}, 2, "unknown option --loud"},
      {{"diarize", wav, "--method", "windows"}, 2, "--method must be pieces"},
      {{"template", wav, "--out", File("x"), "--kind", "dvector"}, 2, "--kind must be"},
  };
  for (const Case& c : cases) {
    const Outcome r = Ravel(c.words);
    std::string line;
    for (const auto& w : c.words) line += w + " ";
    EXPECT_EQ(r.exitCode, c.exitCode) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << line << "\n" << r.err;
    EXPECT_EQ(r.out, "") << line;
  }
  // With --json, scripts get the refusal on standard output too.
  const Tree e = Json(Ravel({"check", File("damaged.bin"), "--json"}));
  EXPECT_EQ(e.get<int>("error.exit_code"), 1);
  EXPECT_EQ(e.get<int>("error.status"), 1792);
  EXPECT_EQ(e.get<int>("error.detail"), 0x2030);
}

TEST_F(RavelTest, HelpOfEveryCommand) {
  for (const char* c :
       {"enrol", "verify", "compare", "identify", "diarize", "quality", "template", "check"}) {
    const Outcome r = Ravel({c, "--help"});
    EXPECT_EQ(r.exitCode, 0) << c;
    EXPECT_EQ(r.out.rfind(std::string("usage: ravel ") + c, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("--models DIR"), std::string::npos) << c;
    EXPECT_NE(r.out.find("--json"), std::string::npos) << c;
  }
  const Outcome r = Ravel({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Exit codes: 0 done, 1 input refused, 2 usage."), std::string::npos);
}

TEST_F(RavelTest, EnrolReplacesByName) {
  const std::string db = File("replace.db");
  Tree t = Json(Ravel({"enrol", "es-m4", kHeldout + "es-m4-008.wav", "--db", db, "--json"}));
  EXPECT_EQ(t.get<int>("record"), 1);
  EXPECT_EQ(t.get<bool>("replaced"), false);
  t = Json(Ravel({"enrol", "es-f1", kHeldout + "es-f1-008.wav", "--db", db, "--json"}));
  EXPECT_EQ(t.get<int>("record"), 2);
  t = Json(Ravel({"enrol", "es-m4", kHeldout + "es-m4-008.wav", kHeldout + "es-m4-009.wav", "--db",
                  db, "--json"}));
  EXPECT_EQ(t.get<int>("record"), 1);
  EXPECT_EQ(t.get<bool>("replaced"), true);
  EXPECT_EQ(t.get<int>("speakers"), 2);
  EXPECT_EQ(t.get_child("recordings").size(), 2u);
  // Two recordings give more speech than either alone.
  EXPECT_GT(Number(t, "speech_seconds"), 5.0);
  // Whole 4,489-byte records, in the diarization's format.
  EXPECT_EQ(fs::file_size(db), 2u * 4489u);
  const std::string bytes = jor_test::ReadFile(db);
  EXPECT_EQ(std::string(bytes.c_str() + 4), "es-m4");
  EXPECT_EQ(std::string(bytes.c_str() + 4489 + 4), "es-f1");
}

TEST_F(RavelTest, VerifyIdentifyAndCompareAgree) {
  const std::string genuine = kHeldout + "es-f1-009.wav";
  Tree same = Json(Ravel({"verify", genuine, "--db", db_, "--name", "es-f1", "--json"}));
  Tree other = Json(Ravel({"verify", genuine, "--db", db_, "--name", "es-m4", "--json"}));
  const double sameScore = Number(same, "score"), otherScore = Number(other, "score");
  EXPECT_GT(sameScore, otherScore + 30.0);
  EXPECT_EQ(same.get<std::string>("name"), "es-f1");
  EXPECT_EQ(Number(same, "threshold"), 70.0);
  EXPECT_EQ(same.get<bool>("accepted"), sameScore >= 70.0);
  EXPECT_FALSE(other.get<bool>("accepted"));
  const Tree low = Json(
      Ravel({"verify", genuine, "--db", db_, "--name", "es-f1", "--threshold", "50", "--json"}));
  EXPECT_TRUE(low.get<bool>("accepted"));

  // The batch scorer gives the library's scores, best first.
  const Tree id = Json(Ravel({"identify", genuine, "--db", db_, "--threshold", "50", "--json"}));
  const Tree& candidates = id.get_child("candidates");
  ASSERT_EQ(candidates.size(), 2u);
  auto it = candidates.begin();
  EXPECT_EQ(it->second.get<int>("rank"), 1);
  EXPECT_EQ(it->second.get<std::string>("name"), "es-f1");
  EXPECT_EQ(Number(it->second, "score"), sameScore);
  ++it;
  EXPECT_EQ(it->second.get<std::string>("name"), "es-m4");
  EXPECT_EQ(Number(it->second, "score"), otherScore);
  EXPECT_EQ(id.get<std::string>("speaker"), "es-f1");
  const Tree top = Json(Ravel({"identify", genuine, "--db", db_, "--top", "1", "--json"}));
  EXPECT_EQ(top.get_child("candidates").size(), 1u);

  const Outcome text = Ravel({"verify", genuine, "--db", db_, "--name", "es-m4"});
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("against es-m4: score"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("-> REJECT (threshold 70.0)"), std::string::npos) << text.out;

  const Tree pair = Json(Ravel({"compare", genuine, kHeldout + "es-f1-008.wav", "--json"}));
  EXPECT_GT(
      Number(pair, "score"),
      Number(Json(Ravel({"compare", genuine, kHeldout + "es-m4-008.wav", "--json"})), "score"));
}

// Recordings of other rates, channel counts, sample widths and chunk layouts
// are brought to 8 kHz: same length, and the same voice as the original.
TEST_F(RavelTest, OtherFormatsAreResampled) {
  if (!hasSox_) GTEST_SKIP() << "sox missing";
  const std::string original = kHeldout + "es-f1-009.wav";
  const std::string listed = Converted(original, "stereo-44k.wav", "-r 44100 -c 2 -b 16");
  InsertListChunk(listed);
  const std::string files[] = {
      Converted(original, "mono-16k.wav", "-r 16000"),
      listed,
      Converted(original, "stereo-48k-24bit.wav", "-r 48000 -c 2 -b 24"),
      Converted(original, "mono-22k.flac", "-r 22050"),
  };
  const Tree base = Json(Ravel({"quality", original, "--json"}));
  const double seconds = Number(base, "seconds");
  const double self = Number(Json(Ravel({"compare", original, original, "--json"})), "score");
  for (const std::string& f : files) {
    const Tree q = Json(Ravel({"quality", f, "--json"}));
    EXPECT_NEAR(Number(q, "seconds"), seconds, 0.01) << f;
    EXPECT_NEAR(Number(q, "speech_seconds"), Number(base, "speech_seconds"), 0.1) << f;
    const Tree c = Json(Ravel({"compare", original, f, "--json"}));
    EXPECT_NEAR(Number(c, "score"), self, 3.0) << f;
    EXPECT_TRUE(c.get<bool>("accepted")) << f;
  }
  const Tree q = Json(Ravel({"quality", listed, "--json"}));
  EXPECT_EQ(q.get<int>("sample_rate"), 44100);
  EXPECT_EQ(q.get<int>("channels"), 2);
}

TEST_F(RavelTest, QualityTemplateAndCheck) {
  const std::string wav = kHeldout + "es-m4-009.wav";
  const Tree q = Json(Ravel({"quality", wav, "--json"}));
  EXPECT_EQ(q.get<int>("sample_rate"), 8000);
  EXPECT_EQ(q.get_child("band_snr").size(), 16u);
  EXPECT_EQ(q.get_child("valid_band").size(), 2u);
  EXPECT_GT(Number(q, "speech_seconds"), 1.0);
  EXPECT_LE(Number(q, "speech_seconds"), Number(q, "seconds"));

  for (const char* kind : {"xvector", "ivector"}) {
    const std::string out = File(std::string(kind) + ".bin");
    const Tree t = Json(Ravel({"template", wav, "--out", out, "--kind", kind, "--json"}));
    EXPECT_EQ(t.get<std::string>("kind"), kind);
    EXPECT_EQ(t.get<int>("bytes"), 4356);
    EXPECT_EQ(fs::file_size(out), 4356u);
    const Tree c = Json(Ravel({"check", out, "--json"}));
    EXPECT_TRUE(c.get<bool>("valid"));
    EXPECT_EQ(c.get<std::string>("version"), "1.1");
    EXPECT_EQ(Number(c, "speech_seconds"), Number(t, "speech_seconds"));
  }
}

TEST_F(RavelTest, DiarizeConversation) {
  const std::string wav = kConversation + "two-voices.wav";
  const std::string rttm = File("c.rttm"), xml = File("c.xml"), svg = File("c.svg");
  const Tree t = Json(
      Ravel({"diarize", wav, "--db", db_, "--rttm", rttm, "--xml", xml, "--plot", svg, "--json"}));
  EXPECT_EQ(t.get<int>("pieces"), 20);
  EXPECT_EQ(t.get<std::string>("method"), "pieces");
  std::vector<std::string> labels;
  for (const auto& s : t.get_child("speakers"))
    labels.push_back(s.second.get<std::string>("label"));
  EXPECT_EQ(labels, (std::vector<std::string>{"es-m4", "es-f1"}));
  const Tree& turns = t.get_child("turns");
  ASSERT_FALSE(turns.empty());
  EXPECT_EQ(turns.back().second.get<std::string>("speaker"), "es-f1");
  EXPECT_EQ(Number(turns.back().second, "end"), 80.0);

  // RTTM: one standard line per turn.
  const std::regex line(
      R"(SPEAKER two-voices 1 \d+\.000 \d+\.000 <NA> <NA> (es-m4|es-f1) <NA> <NA>)");
  std::istringstream lines(jor_test::ReadFile(rttm));
  std::string l;
  size_t count = 0;
  while (std::getline(lines, l)) {
    EXPECT_TRUE(std::regex_match(l, line)) << l;
    ++count;
  }
  EXPECT_EQ(count, turns.size());

  // The XML is the Java entry point's text for the same recording and names.
  drumlin::DiarizationOptions options;
  options.databasePath = db_;
  EXPECT_EQ(jor_test::ReadFile(xml),
            drumlin::Diarize(drumlin::BoundPellamApi(), wav.c_str(), kDeployment.c_str(), options));
  const std::string picture = jor_test::ReadFile(svg);
  EXPECT_EQ(picture.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
  EXPECT_NE(picture.find(">es-f1</text>"), std::string::npos);
  EXPECT_NE(picture.find("</svg>"), std::string::npos);
}

TEST_F(RavelTest, DiarizeWithoutNamesAndShortRecordings) {
  jor_test::WriteFile(File("none.db"), "");
  const std::string rttm = File("u.rttm"), xml = File("u.xml");
  const Outcome r = Ravel({"diarize", kConversation + "two-voices.wav", "--db", File("none.db"),
                           "--rttm", rttm, "--xml", xml});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("none.db holds no speakers"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("2 speakers"), std::string::npos) << r.out;
  const std::string text = jor_test::ReadFile(rttm);
  EXPECT_NE(text.find(" spk1 "), std::string::npos) << text;
  EXPECT_NE(text.find(" spk2 "), std::string::npos) << text;
  EXPECT_EQ(text.find("Unknown"), std::string::npos) << text;
  // The XML keeps the entry point's names.
  EXPECT_NE(jor_test::ReadFile(xml).find("<speaker name=\"Unknown\""), std::string::npos);
  EXPECT_EQ(jor_test::ReadFile(xml).find("spk1"), std::string::npos);

  // Too short for any speaker: a warning and an empty result, not silence.
  const Outcome s = Ravel({"diarize", kConversation + "es-f1-enrol.wav", "--json"});
  EXPECT_EQ(s.exitCode, 0) << s.err;
  EXPECT_NE(s.err.find("warning: "), std::string::npos);
  EXPECT_NE(s.err.find("5 pieces of 4 s; a speaker needs at least 10 (40 s)"), std::string::npos)
      << s.err;
  const Tree t = Json(s);
  EXPECT_EQ(t.get<int>("pieces"), 5);
  EXPECT_TRUE(t.get_child("speakers").empty());
}

}  // namespace
