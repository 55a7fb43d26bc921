// Records everything a deployment makes of fixed inputs, for comparing two
// builds: template bytes (i-vector and x-vector), quality values, every pair
// score, template checks, status and detail codes of a few refusals, the
// diarization XML of a recording, and the engine's log lines without their
// time and process prefix. Built and run by scripts/engine-snapshot.sh.
//
// Usage: engine-snapshot DEPLOYMENT_DIR WORK_DIR CONVERSATION_WAV WAV...
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "drumlin/diarization-driver.h"
#include "tests/pellam/pellam-aliases.h"
#include "tools/export/wav-file.h"

namespace {

void Hex(const std::vector<char>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string line;
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    line += kDigits[b >> 4];
    line += kDigits[b & 15];
  }
  std::printf("%s\n", line.c_str());
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  out << in.rdbuf();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: engine-snapshot DEPLOYMENT WORK CONVERSATION WAV...\n");
    return 2;
  }
  const std::string deployment = argv[1];
  const std::string work = argv[2];
  for (const char* name : {"ulxmodel.dat", "mfcc-options.json", "xe5.pb"})
    if (!CopyFile(deployment + "/" + name, work + "/" + name)) {
      std::fprintf(stderr, "cannot copy %s\n", name);
      return 2;
    }
  const std::string logFile = work + "/engine.log";
  std::ofstream(work + "/log-options.json")
      << "{\"LogOptions\":{\"filename\":\"" << logFile << "\",\"level\":0}}";

  const bool share = false;
  int r = RecInit(work.c_str(), &share);
  std::printf("init %d detail %d version %s size %d\n", r, RecDetail(nullptr), RecVersion(),
              RecSize());
  if (r) return 1;
  const size_t bytes = static_cast<size_t>(RecSize());
  void* h = nullptr;
  r = RecCreate_(&h);
  std::printf("create %d\n", r);

  std::vector<std::vector<char>> ivectors, xvectors;
  for (int i = 4; i < argc; ++i) {
    jor_export::WavAudio audio;
    const std::string why = jor_export::ReadWav(argv[i], &audio);
    std::printf("wav %s %s %zu\n", std::strrchr(argv[i], '/') + 1, why.c_str(),
                audio.samples.size());
    // The stream in uneven pieces, then its template.
    for (size_t at = 0; at < audio.samples.size(); at += 3331) {
      const size_t n = std::min<size_t>(3331, audio.samples.size() - at);
      r = RecPut(h, audio.samples.data() + at, &n);
      if (r) std::printf("put %d detail %d\n", r, RecDetail(h));
    }
    float d = 0, v = 0, s = 0;
    r = RecQuality(h, &d, &v, &s);
    std::printf("quality %d %.9g %.9g %.9g\n", r, d, v, s);
    std::vector<char> t(bytes);
    r = RecMakeI(h, t.data(), &bytes, &d, &v, &s);
    std::printf("ivector %d detail %d %.9g %.9g %.9g\n", r, RecDetail(h), d, v, s);
    Hex(t);
    ivectors.push_back(t);
    RecReset_(h);
    const size_t count = audio.samples.size();
    std::vector<char> x(bytes);
    r = RecMakeX(h, audio.samples.data(), &count, x.data(), &bytes, &d, &v, &s);
    std::printf("xvector %d detail %d %.9g %.9g %.9g\n", r, RecDetail(h), d, v, s);
    Hex(x);
    xvectors.push_back(x);
    char version[80] = {};
    const int checkI = RecCheck(t.data(), &bytes, version);
    const int checkX = RecCheck(x.data(), &bytes, version);
    std::printf("check %d %d %s\n", checkI, checkX, version);
  }
  for (const auto* set : {&ivectors, &xvectors})
    for (size_t a = 0; a < set->size(); ++a)
      for (size_t b = 0; b < set->size(); ++b) {
        float score = -1;
        r = RecCompare_(h, (*set)[a].data(), &bytes, (*set)[b].data(), &bytes, &score);
        std::printf("score %zu %zu %d %.9g\n", a, b, r, score);
      }

  // Refusals (each call before its detail is read).
  std::vector<char> bad = ivectors.front();
  bad[40] ^= 1;
  char version[80] = {};
  r = RecCheck(bad.data(), &bytes, version);
  std::printf("check-corrupt %d\n", r);
  float score = 0;
  r = RecCompare_(h, bad.data(), &bytes, ivectors.front().data(), &bytes, &score);
  std::printf("compare-corrupt %d detail %d\n", r, RecDetail(h));
  const size_t shorter = bytes - 4;
  r = RecCompare_(h, bad.data(), &shorter, ivectors.front().data(), &bytes, &score);
  std::printf("compare-short %d detail %d\n", r, RecDetail(h));
  std::vector<char> t(bytes);
  float d, v, s;
  r = RecMakeI(h, t.data(), &bytes, &d, &v, &s);
  std::printf("ivector-empty %d detail %d\n", r, RecDetail(h));
  const short silence[800] = {};
  const size_t n = 800;
  r = RecMakeX(h, silence, &n, t.data(), &bytes, &d, &v, &s);
  std::printf("xvector-silence %d detail %d\n", r, RecDetail(h));
  std::printf("null-handle %d\n", RecPut(nullptr, silence, &n));
  RecDelete_(&h);
  r = RecTerm();
  std::printf("terminate %d detail %d\n", r, RecDetail(nullptr));

  // Diarization through the linked library, on the same deployment.
  const std::string xml = drumlin::Diarize(drumlin::BoundPellamApi(), argv[3], work.c_str());
  std::printf("diarization %s\n", xml.c_str());
  RecTerm();

  std::ifstream log(logFile);
  std::string line;
  while (std::getline(log, line)) {
    // "%Y-%m-%d %H:%M:%S.%e [%P:%t] :%l: %v": drop time, process and thread.
    const size_t cut = line.find("] ");
    if (cut != std::string::npos) line.erase(0, cut + 2);
    // The work folder is a fresh temporary one on every run.
    for (size_t at; (at = line.find(work)) != std::string::npos;) line.replace(at, work.size(), "WORK");
    std::printf("log %s\n", line.c_str());
  }
  return 0;
}
