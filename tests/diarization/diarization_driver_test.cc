// The driver against a fake recognition library: templates name the piece
// (its first sample) or the cluster, and the test chooses every score.
#include "drumlin/diarization-driver.h"

#include <gtest/gtest.h>
#include <lame/lame.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drumlin/speaker-database.h"
#include "tests/diarization/fake-recogniser.h"
#include "tests/support/test-dir.h"

namespace {

using drumlin::DiarizationReport;
using drumlin::SpeakerEntry;

using jor_test::kPieceSamples;
const std::string& kHeader = jor_test::kSpeakerListHeader;
const std::string& kFooter = jor_test::kSpeakerListFooter;

// What a fake template stands for.
struct Tmpl {
  char kind;  // 'P' piece, 'C' cluster, 'D' database entry
  int id;     // piece index, first piece of the cluster, or entry number
};

struct Fake {
  int initStatus = 0;
  int createStatus = 0;
  bool nullHandle = false;
  int templateSize = 4356;
  // Pieces (by index) and clusters (by first piece) without a template.
  std::vector<int> failPieces, failClusters;
  // Score and status of compare(first, second).
  std::function<float(const Tmpl&, const Tmpl&, int*)> score;

  std::atomic<int> inits{0}, creates{0}, made{0}, deletes{0}, details{0};
  std::atomic<int> dbCompares{0}, dbCompareBytesOk{0};
  std::mutex lock;
  std::string modelDir;
};
Fake* g_fake = nullptr;
int g_handle;

Tmpl Read(const char* t) {
  Tmpl r;
  r.kind = t[0];
  std::memcpy(&r.id, t + 4, 4);
  return r;
}

// The recognition library's exports, answering from g_fake.
struct FakeRecogniser {
  static int Initialize(const char* dir, const bool* share) {
    ++g_fake->inits;
    {
      std::lock_guard<std::mutex> hold(g_fake->lock);
      g_fake->modelDir = dir ? dir : "(null)";
    }
    EXPECT_FALSE(*share);
    return g_fake->initStatus;
  }
  static int Create(void** h) {
    ++g_fake->creates;
    if (g_fake->createStatus) return g_fake->createStatus;
    *h = g_fake->nullHandle ? nullptr : &g_handle;
    if (*h) ++g_fake->made;
    return 0;
  }
  static int Delete(void** h) {
    EXPECT_EQ(*h, &g_handle);
    ++g_fake->deletes;
    *h = nullptr;
    return 0;
  }
  static int MakeXvectorTemplate(void* h, const short* pcm, const size_t* count, void* out,
                                 const size_t* bytes, float* d, float* v, float* s) {
    EXPECT_EQ(h, &g_handle);
    EXPECT_EQ(*bytes, size_t(g_fake->templateSize));
    *d = *v = *s = 1.0f;
    const bool piece = *count == kPieceSamples;
    const int id = pcm[0] - 1;  // piece p is filled with p + 1
    const auto& fails = piece ? g_fake->failPieces : g_fake->failClusters;
    for (int f : fails)
      if (f == id) return 1280;
    char* t = static_cast<char*>(out);
    std::memset(t, 0, *bytes);
    t[0] = piece ? 'P' : 'C';
    std::memcpy(t + 4, &id, 4);
    return 0;
  }
  static int Compare(void* h, const char* a, const size_t* na, const char* b, const size_t* nb,
                     float* score) {
    EXPECT_EQ(h, &g_handle);
    EXPECT_EQ(*na, size_t(g_fake->templateSize));
    const Tmpl ta = Read(a), tb = Read(b);
    if (tb.kind == 'D') {
      ++g_fake->dbCompares;
      if (*nb == 4356) ++g_fake->dbCompareBytesOk;
    }
    int status = 0;
    *score = g_fake->score ? g_fake->score(ta, tb, &status) : 0.0f;
    return status;
  }
  static int GetDetail(void*) {
    ++g_fake->details;
    return 7;
  }
  static int TemplateSize() { return g_fake->templateSize; }
};

drumlin::PellamApi FakeApi() {
  return jor_test::FakePellamApi<FakeRecogniser>();
}

// 8 kHz mono WAV: piece p filled with p + 1, then `tailSamples` of 1000.
std::string Wav(int pieces, int tailSamples = 0) {
  std::vector<int16_t> pcm;
  for (int p = 0; p < pieces; ++p) pcm.insert(pcm.end(), kPieceSamples, int16_t(p + 1));
  pcm.insert(pcm.end(), tailSamples, int16_t(1000));
  return jor_test::MonoWav8k(pcm);
}

// Pieces belong to speakers; same speaker 90 (byte 229), else 0.
std::function<float(const Tmpl&, const Tmpl&, int*)> BySpeaker(std::vector<int> speakerOf) {
  return [speakerOf](const Tmpl& a, const Tmpl& b, int*) -> float {
    if (a.kind != 'P' || b.kind != 'P') return 0.0f;
    return speakerOf[a.id] == speakerOf[b.id] ? 90.0f : 0.0f;
  };
}

SpeakerEntry DbEntry(int number, const std::string& name) {
  SpeakerEntry e;
  e.number = number;
  e.name = name;
  e.templ.assign(4356, 0);
  e.templ[0] = 'D';
  std::memcpy(&e.templ[4], &number, 4);
  return e;
}

class DiarizationDriver : public ::testing::Test {
 protected:
  void SetUp() override { g_fake = &fake_; }
  void TearDown() override {
    // Every handle made is deleted again.
    EXPECT_EQ(fake_.made.load(), fake_.deletes.load());
    g_fake = nullptr;
  }
  std::string Run(const std::string& wav, const std::string& name = "rec.wav",
                  DiarizationReport* report = nullptr) {
    const std::string path = dir_.File(name);
    jor_test::WriteFile(path, wav);
    return drumlin::Diarize(FakeApi(), path.c_str(), dir_.path().c_str(), {}, report);
  }
  void WriteDb(const std::vector<SpeakerEntry>& entries) {
    ASSERT_EQ(drumlin::WriteSpeakerDatabase(dir_.File("spdbdata"), entries), 0);
  }

  Fake fake_;
  jor_test::TestDir dir_;
};

TEST_F(DiarizationDriver, ShortRecordingsGiveAnEmptyList) {
  fake_.score = [](const Tmpl&, const Tmpl&, int*) { return 100.0f; };
  EXPECT_EQ(Run(Wav(7, 16000)), kHeader + kFooter);  // 30 s: 7 pieces
  EXPECT_EQ(Run(Wav(9, 31999)), kHeader + kFooter);
  EXPECT_EQ(fake_.modelDir, dir_.path().string());
}

TEST_F(DiarizationDriver, TurnsEndAtTheLastWholePiece) {
  // 10 × 4 s + 3 s: the last 3 seconds are not analysed.
  fake_.score = BySpeaker(std::vector<int>(10, 0));
  DiarizationReport report;
  EXPECT_EQ(Run(Wav(10, 24000), "rec.wav", &report),
            kHeader + "    <speaker name=\"Unknown\" start=\"0\" end=\"40\" />\n" + kFooter);
  EXPECT_EQ(report.pieceCount, 10);
}

TEST_F(DiarizationDriver, QuantisesScoresIntoTheMatrix) {
  // Pair scores by (first, second) piece; the rest 90.
  fake_.score = [](const Tmpl& a, const Tmpl& b, int* status) -> float {
    if (a.id == 2 && b.id == 5) return 63.0f;
    if (a.id == 5 && b.id == 2) return 62.9f;
    if (a.id == 3 && b.id == 4) {
      *status = 1536;  // a failed comparison counts as 0 whatever it left
      return 99.0f;
    }
    if (a.id == 6 && b.id == 7) return std::numeric_limits<float>::quiet_NaN();
    if (a.id == 7 && b.id == 6) return 100.0f;
    if (a.id == 8 && b.id == 9) return 80.0f;  // 204 in single precision
    if (a.id == 9 && b.id == 8) return 19.0f;
    return 90.0f;
  };
  DiarizationReport report;
  Run(Wav(12), "rec.wav", &report);
  ASSERT_EQ(report.matrix.size(), 144u);
  auto at = [&](int k, int j) { return int(report.matrix[k * 12 + j]); };
  EXPECT_EQ(at(2, 5), 160);
  EXPECT_EQ(at(5, 2), 0);
  EXPECT_EQ(at(3, 4), 0);
  EXPECT_EQ(at(4, 3), 229);
  EXPECT_EQ(at(6, 7), 0);
  EXPECT_EQ(at(7, 6), 255);
  EXPECT_EQ(at(8, 9), 204);
  EXPECT_EQ(at(9, 8), 0);
  EXPECT_EQ(at(0, 0), 229);
  EXPECT_GE(fake_.details.load(), 1);
}

TEST(QuantiseScore, MatchesIntegerArithmetic) {
  // trunc(s) × 2.55 equals trunc(s) × 51 / 20 exactly; only whole multiples
  // of 20 sit on an integer, where single precision lands on it.
  for (int s = 63; s <= 100; ++s) {
    for (float frac : {0.0f, 0.25f, 0.99f}) {
      const float score = float(s) + frac;
      if (score > 100.0f) continue;
      EXPECT_EQ(int(drumlin::QuantiseScore(score)), s * 51 / 20) << score;
    }
  }
  const float zero[] = {-1.0f, 0.0f, 19.99f, 20.0f, 62.99f, std::nanf("")};
  for (float s : zero) EXPECT_EQ(drumlin::QuantiseScore(s), 0) << s;
  EXPECT_EQ(drumlin::QuantiseScore(250.0f), 255);
  EXPECT_EQ(drumlin::QuantiseScore(std::numeric_limits<float>::infinity()), 255);
}

TEST_F(DiarizationDriver, NamesFromTheDatabase) {
  struct Case {
    float alice, bob;  // scores of entries 7 and 8 against the cluster
    const char* name;
  };
  const Case cases[] = {
      {69.9f, 0.0f, "Unknown"}, {70.0f, 0.0f, "Alice"}, {70.0f, 70.0f, "Alice"},
      {70.0f, 80.0f, "Bob"},    {NAN, 75.0f, "Bob"},    {62.0f, 69.99f, "Unknown"},
  };
  WriteDb({DbEntry(7, "Alice"), DbEntry(8, "Bob")});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.score = [c](const Tmpl& a, const Tmpl& b, int*) -> float {
      if (a.kind == 'P') return 90.0f;
      EXPECT_EQ(a.kind, 'C');
      EXPECT_EQ(b.kind, 'D');
      return b.id == 7 ? c.alice : c.bob;
    };
    EXPECT_EQ(Run(Wav(11)), kHeader + "    <speaker name=\"" + c.name +
                                "\" start=\"0\" end=\"44\" />\n" + kFooter);
  }
  EXPECT_EQ(fake_.dbCompares.load(), 12);
  EXPECT_EQ(fake_.dbCompareBytesOk.load(), 12);
}

TEST_F(DiarizationDriver, WritesTheSpeakerListByteForByte) {
  // Speakers alternate every 6 pieces; both clusters have 12 pieces. Names
  // with markup characters are escaped.
  std::vector<int> speakerOf(24);
  for (int p = 0; p < 24; ++p) speakerOf[p] = (p / 6) % 2;
  const auto pieces = BySpeaker(speakerOf);
  fake_.score = [pieces, speakerOf](const Tmpl& a, const Tmpl& b, int* s) -> float {
    if (a.kind == 'P') return pieces(a, b, s);
    return speakerOf[a.id] == b.id ? 88.0f : 10.0f;
  };
  WriteDb({DbEntry(0, "Ann & \"Jo\""), DbEntry(1, "<Bob's>")});
  const std::string expected =
      kHeader +
      "    <speaker name=\"Ann &amp; &quot;Jo&quot;\" start=\"0\" end=\"24\" />\n"
      "    <speaker name=\"&lt;Bob&apos;s&gt;\" start=\"24\" end=\"48\" />\n"
      "    <speaker name=\"Ann &amp; &quot;Jo&quot;\" start=\"48\" end=\"72\" />\n"
      "    <speaker name=\"&lt;Bob&apos;s&gt;\" start=\"72\" end=\"96\" />\n" +
      kFooter;
  EXPECT_EQ(Run(Wav(24)), expected);
}

TEST_F(DiarizationDriver, AdjacentClustersWithOneNameStayApart) {
  std::vector<int> speakerOf(24);
  for (int p = 12; p < 24; ++p) speakerOf[p] = 1;
  const auto pieces = BySpeaker(speakerOf);
  fake_.score = [pieces](const Tmpl& a, const Tmpl& b, int* s) -> float {
    return a.kind == 'P' ? pieces(a, b, s) : 85.0f;
  };
  WriteDb({DbEntry(3, "Carol")});
  DiarizationReport report;
  EXPECT_EQ(Run(Wav(24), "rec.wav", &report),
            kHeader + "    <speaker name=\"Carol\" start=\"0\" end=\"48\" />\n" +
                "    <speaker name=\"Carol\" start=\"48\" end=\"96\" />\n" + kFooter);
  EXPECT_EQ(report.clusterCount, 2);
}

TEST_F(DiarizationDriver, FailedTemplates) {
  // Piece 3 has no template: no similarity, no cluster. The cluster's own
  // template fails: "Unknown" although the database would name it.
  fake_.failPieces = {3};
  fake_.failClusters = {0};
  fake_.score = [](const Tmpl& a, const Tmpl&, int*) { return a.kind == 'P' ? 90.0f : 99.0f; };
  WriteDb({DbEntry(1, "Dora")});
  DiarizationReport report;
  EXPECT_EQ(Run(Wav(12), "rec.wav", &report),
            kHeader + "    <speaker name=\"Unknown\" start=\"0\" end=\"12\" />\n" +
                "    <speaker name=\"Unknown\" start=\"16\" end=\"48\" />\n" + kFooter);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(report.matrix[3 * 12 + i], 0);
    EXPECT_EQ(report.matrix[i * 12 + 3], 0);
  }
  EXPECT_EQ(report.labels[3], -1);
  EXPECT_EQ(fake_.dbCompares.load(), 0);
}

TEST_F(DiarizationDriver, DatabaseOfAnotherTemplateSize) {
  // Engine templates of 4,000 bytes cannot be compared with 4,356-byte
  // entries: every entry scores 0 and nothing reads past a record.
  fake_.templateSize = 4000;
  fake_.score = [](const Tmpl&, const Tmpl&, int*) { return 95.0f; };
  WriteDb({DbEntry(1, "Eve")});
  EXPECT_EQ(Run(Wav(10)),
            kHeader + "    <speaker name=\"Unknown\" start=\"0\" end=\"40\" />\n" + kFooter);
  EXPECT_EQ(fake_.dbCompares.load(), 0);
}

TEST_F(DiarizationDriver, ErrorTexts) {
  fake_.score = [](const Tmpl&, const Tmpl&, int*) { return 90.0f; };
  const std::string wav = Wav(10);
  EXPECT_EQ(drumlin::Diarize(FakeApi(), dir_.File("missing.wav").c_str(), nullptr),
            "Wave sprit Error");
  EXPECT_EQ(drumlin::Diarize(FakeApi(), dir_.path().c_str(), nullptr), "Wave sprit Error");
  EXPECT_EQ(drumlin::Diarize(FakeApi(), nullptr, nullptr), "Wave sprit Error");
  EXPECT_EQ(Run(""), "Wave sprit Error");
  EXPECT_EQ(Run(Wav(0, 3 * 8000)), "Wave sprit Error");  // shorter than one piece
  EXPECT_EQ(Run(wav.substr(0, wav.size() - 1)), "Wave sprit Error");
  EXPECT_EQ(fake_.inits.load(), 0);

  fake_.initStatus = 1024;
  EXPECT_EQ(Run(wav), "ulx Initialize error");
  EXPECT_EQ(fake_.creates.load(), 0);
  fake_.initStatus = 0;
  fake_.createStatus = 769;
  EXPECT_EQ(Run(wav), "ulx Initialize error");
  fake_.createStatus = 0;
  fake_.nullHandle = true;
  EXPECT_EQ(Run(wav), "ulx cross matching error");
  fake_.nullHandle = false;
  fake_.templateSize = -1;
  EXPECT_EQ(Run(wav), "ulx cross matching error");
  EXPECT_EQ(fake_.creates.load(), 3);
  EXPECT_EQ(fake_.made.load(), 1);
  EXPECT_EQ(fake_.deletes.load(), 1);
}

// Only regular files up to kMaxRecordingBytes are read: a FIFO must not
// block the call, and an oversized file is refused before it is read.
TEST_F(DiarizationDriver, RefusesWhatIsNotARegularFileOrTooLarge) {
  const std::string fifo = dir_.File("pipe.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A sparse file one byte over the limit that starts as a valid WAV.
  const std::string big = dir_.File("big.wav");
  {
    const uint64_t size = drumlin::kMaxRecordingBytes + 1;
    std::string header = Wav(0, 0).substr(0, 44);
    const uint32_t riff = static_cast<uint32_t>(size - 8), data = static_cast<uint32_t>(size - 44);
    std::memcpy(&header[4], &riff, 4);
    std::memcpy(&header[40], &data, 4);
    jor_test::WriteFile(big, header);
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(size)), 0);
  }
  for (const std::string& path : {fifo, big, std::string("/dev/zero"), std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    auto result = std::async(std::launch::async,
                             [&] { return drumlin::Diarize(FakeApi(), path.c_str(), nullptr); });
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "the call blocked";
      // Release a reader that waits for a writer, so the test can end.
      const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
    EXPECT_EQ(result.get(), "Wave sprit Error");
  }
  EXPECT_EQ(fake_.inits.load(), 0);
}

// 8 kHz mono MP3 of `pieces` × 4 s plus a little.
std::string Mp3(int pieces) {
  std::vector<short> pcm(size_t(pieces) * kPieceSamples + 4000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = short(8000 * std::sin(i * 0.05));
  lame_t lame = lame_init();
  lame_set_in_samplerate(lame, 8000);
  lame_set_out_samplerate(lame, 8000);
  lame_set_num_channels(lame, 1);
  lame_set_mode(lame, MONO);
  lame_set_quality(lame, 7);
  EXPECT_GE(lame_init_params(lame), 0);
  std::vector<unsigned char> out(pcm.size() + 8192);
  int n = lame_encode_buffer(lame, pcm.data(), pcm.data(), int(pcm.size()), out.data(),
                             int(out.size()));
  EXPECT_GE(n, 0);
  n += lame_encode_flush(lame, out.data() + n, int(out.size()) - n);
  lame_close(lame);
  return std::string(reinterpret_cast<char*>(out.data()), size_t(n));
}

TEST_F(DiarizationDriver, ExtensionDecidesMp3CaseSensitively) {
  fake_.score = [](const Tmpl&, const Tmpl&, int*) { return 90.0f; };
  const std::string mp3 = Mp3(10);
  const std::string xml = Run(mp3, "talk.mp3");
  EXPECT_EQ(xml.rfind(kHeader + "    <speaker name=\"Unknown\" start=\"0\" end=\"4", 0), 0u) << xml;
  EXPECT_EQ(Run(mp3, "talk.MP3"), "Wave sprit Error");
  EXPECT_EQ(Run(mp3, "talk.mp3.wav"), "Wave sprit Error");
  // A ".mp3" directory does not make the file an MP3.
  std::filesystem::create_directory(dir_.path() / "d.mp3");
  EXPECT_EQ(Run(Wav(10), "d.mp3/talk"),
            kHeader + "    <speaker name=\"Unknown\" start=\"0\" end=\"40\" />\n" + kFooter);
}

TEST_F(DiarizationDriver, ConcurrentCallsKeepTheirOwnResults) {
  std::vector<int> speakerOf(24);
  for (int p = 12; p < 24; ++p) speakerOf[p] = 1;
  fake_.score = BySpeaker(speakerOf);
  jor_test::WriteFile(dir_.File("a.wav"), Wav(24));
  jor_test::WriteFile(dir_.File("b.wav"), Wav(10));
  const std::string a = dir_.File("a.wav"), b = dir_.File("b.wav");
  std::string ra[4], rb[4];
  std::thread ta([&] {
    for (auto& r : ra) r = drumlin::Diarize(FakeApi(), a.c_str(), nullptr);
  });
  std::thread tb([&] {
    for (auto& r : rb) r = drumlin::Diarize(FakeApi(), b.c_str(), nullptr);
  });
  ta.join();
  tb.join();
  for (const auto& r : ra) {
    EXPECT_EQ(r, kHeader + "    <speaker name=\"Unknown\" start=\"0\" end=\"48\" />\n" +
                     "    <speaker name=\"Unknown\" start=\"48\" end=\"96\" />\n" + kFooter);
  }
  for (const auto& r : rb) {
    EXPECT_EQ(r, kHeader + "    <speaker name=\"Unknown\" start=\"0\" end=\"40\" />\n" + kFooter);
  }
}

TEST(SpeakerList, TurnsAndEscaping) {
  const std::vector<int> labels = {-1, 0, 0, 1, 1, -1, 1, 0};
  const auto turns = drumlin::MakeTurns(labels, {"A", "B"});
  ASSERT_EQ(turns.size(), 4u);
  const int expected[][2] = {{4, 12}, {12, 20}, {24, 28}, {28, 32}};
  const char* names[] = {"A", "B", "B", "A"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(turns[i].name, names[i]);
    EXPECT_EQ(turns[i].start, expected[i][0]);
    EXPECT_EQ(turns[i].end, expected[i][1]);
  }
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"Plain Name-1.2", "Plain Name-1.2"},
      {"a&b<c>d\"e'f", "a&amp;b&lt;c&gt;d&quot;e&apos;f"},
      {"tab\there\nnl", "tab&#9;here&#10;nl"},
      {"\xC3\xA9l\xC3\xA8ve \xE6\x97\xA5 \xF0\x9F\x98\x80",
       "\xC3\xA9l\xC3\xA8ve \xE6\x97\xA5 \xF0\x9F\x98\x80"},
      {"bad\xFF"
       "byte",
       "bad\xEF\xBF\xBD"
       "byte"},
      {"cut\xC3", "cut\xEF\xBF\xBD"},
      {"ctl\x01", "ctl\xEF\xBF\xBD"},
      {"over\xC0\xAF", "over\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) EXPECT_EQ(drumlin::EscapeXmlAttribute(c.in), c.out) << c.in;
}

}  // namespace
