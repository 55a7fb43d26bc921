#include "cli/engine-session.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "cli/arguments.h"
#include "common/result-text.h"
#include "pellam/pellam-names.h"

namespace ravel_cli {
namespace {

bool HoldsModels(const std::filesystem::path& dir) {
  std::error_code ec;
  return std::filesystem::is_regular_file(dir / "ulxmodel.dat", ec);
}

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self.parent_path();
}

float ReadFloat(const std::vector<char>& bytes, size_t at) {
  float v = 0;
  if (bytes.size() >= at + 4) std::memcpy(&v, bytes.data() + at, 4);
  return v;
}

}  // namespace

std::string DefaultModelsDir() {
  const std::filesystem::path folder = ProgramFolder();
  if (!folder.empty()) {
    const std::filesystem::path installed = folder / RAVEL_INSTALLED_MODELS;
    if (HoldsModels(installed)) return installed.lexically_normal().string();
  }
#ifdef RAVEL_SOURCE_MODELS
  if (HoldsModels(RAVEL_SOURCE_MODELS)) return RAVEL_SOURCE_MODELS;
#endif
  return {};
}

Recording LoadRecording(const std::string& path, ProgressBar* bar) {
  Recording rec;
  rec.path = path;
  ravel_audio::ProgressCallback progress;
  if (bar != nullptr) {
    progress = [&rec, bar](double fraction) {
      bar->SetRecordingSeconds(rec.info.seconds);
      bar->Update("reading", fraction);
    };
  }
  const ravel_audio::AudioResult r = ravel_audio::ReadAudio(path, &rec.pcm, &rec.info, progress);
  switch (r.status) {
    case ravel_audio::AudioStatus::kOk:
      break;
    case ravel_audio::AudioStatus::kMissing:
      throw CliError(kExitRefused, path + ": no such file");
    case ravel_audio::AudioStatus::kUnreadable:
      throw CliError(kExitRefused, path + ": cannot be read (" + r.message + ")");
    case ravel_audio::AudioStatus::kNotAudio:
      throw CliError(kExitRefused, path + ": " + r.message);
    case ravel_audio::AudioStatus::kTooLarge:
      throw CliError(kExitRefused, path + ": " + r.message);
  }
  if (rec.pcm.empty()) throw CliError(kExitRefused, path + ": the recording holds no samples");
  return rec;
}

std::string DescribeEngineResult(int status, int detail) {
  return jor::DescribeResult(status, static_cast<uint32_t>(detail));
}

EngineSession::EngineSession(const std::string& modelsDir) : modelsDir_(modelsDir) {
  if (modelsDir_.empty()) {
    throw CliError(kExitRefused,
                   "no default deployment found beside the program: give --models DIR");
  }
  const bool share = false;
  int r = PellamInitialize(modelsDir_.c_str(), &share);
  if (r != 0) {
    Refuse("cannot load the deployment in " + modelsDir_, r, PellamGetDetail(nullptr));
  }
  r = PellamCreate(&handle_);
  if (r != 0) Refuse("cannot create a recognition handle", r, PellamGetDetail(nullptr));
  const int size = PellamGetTemplateSize();
  if (size <= 0) Refuse("the deployment gives no template size", 769, 0);
  templateSize_ = static_cast<size_t>(size);
}

EngineSession::~EngineSession() {
  if (handle_ != nullptr) PellamDelete(&handle_);
  PellamTerminate();
}

void EngineSession::Refuse(const std::string& what, int status, int detail) {
  throw CliError(kExitRefused, what + ": " + DescribeEngineResult(status, detail), status, detail);
}

Template EngineSession::Make(const std::vector<int16_t>& pcm, TemplateKind kind,
                             const std::string& what) {
  Template t;
  t.bytes.assign(templateSize_, 0);
  const size_t count = pcm.size();
  if (kind == TemplateKind::kXvector) {
    const int r = PellamMakeXvectorTemplate(handle_, pcm.data(), &count, t.bytes.data(),
                                            &templateSize_, &t.duration, &t.volume, &t.snr);
    if (r != 0) Refuse("cannot make a template of " + what, r, PellamGetDetail(handle_));
  } else {
    const std::vector<short> samples(pcm.begin(), pcm.end());
    std::vector<float> features;
    int r = PellamGetFeature(handle_, &samples, &features, &t.duration, &t.volume, &t.snr);
    if (r != 0) Refuse("cannot make a template of " + what, r, PellamGetDetail(handle_));
    r = PellamMakeIvectorTemplateFromFeatures(handle_, &features, &t.duration, &t.volume, &t.snr,
                                              &t.bytes);
    if (r != 0) Refuse("cannot make a template of " + what, r, PellamGetDetail(handle_));
    if (t.bytes.size() != templateSize_) {
      Refuse("cannot make a template of " + what, 768, 0);
    }
  }
  return t;
}

float EngineSession::Compare(const std::vector<char>& probe, const std::vector<char>& reference) {
  float score = 0;
  const size_t a = probe.size(), b = reference.size();
  const int r = PellamCompare(handle_, probe.data(), &a, reference.data(), &b, &score);
  if (r != 0) Refuse("cannot compare the templates", r, PellamGetDetail(handle_));
  return score;
}

std::string EngineSession::Check(const std::vector<char>& bytes, const std::string& what) {
  if (bytes.size() != templateSize_) {
    throw CliError(kExitRefused,
                   what + ": not a template of this deployment (" + std::to_string(bytes.size()) +
                       " bytes, its templates have " + std::to_string(templateSize_) +
                       "): " + DescribeEngineResult(768, 0),
                   768, 0);
  }
  char version[80] = {0};
  const size_t n = bytes.size();
  const int r = PellamCheckTemplate(bytes.data(), &n, version);
  if (r != 0) {
    // The check keeps no detail; its status names the fault.
    const int detail = r == 1792 ? 0x2030 : (r == 1793 ? 0x2031 : 0);
    throw CliError(kExitRefused, what + ": damaged template: " + DescribeEngineResult(r, detail), r,
                   detail);
  }
  return version;
}

TemplateHeader ReadTemplateHeader(const std::vector<char>& bytes) {
  TemplateHeader h;
  if (bytes.size() > 14) {
    h.major = static_cast<unsigned char>(bytes[13]);
    h.minor = static_cast<unsigned char>(bytes[14]);
  }
  h.duration = ReadFloat(bytes, 15);
  h.volume = ReadFloat(bytes, 19);
  h.snr = ReadFloat(bytes, 23);
  return h;
}

}  // namespace ravel_cli
