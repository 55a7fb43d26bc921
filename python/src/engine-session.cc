#include "python/src/engine-session.h"

#include <stdexcept>
#include <utility>

#include "IvectorExt/featext/mfcc-options.h"
#include "engine/ravel-exports.h"
#include "pellam/pellam.h"
#include "python/src/engine-error.h"

namespace ravel_py {

namespace {

// The public library's exports by ordinal, from the header's table.
template <int Ordinal>
struct Export;
#define RAVEL_PY_EXPORT(ordinal, role, name) \
  template <>                                \
  struct Export<ordinal> {                   \
    static constexpr role function = &name;  \
  };
PELLAM_EXPORTS(RAVEL_PY_EXPORT)
#undef RAVEL_PY_EXPORT

constexpr auto recInitialize = Export<1>::function;
constexpr auto recTerminate = Export<2>::function;
constexpr auto recCreate = Export<4>::function;
constexpr auto recDelete = Export<5>::function;
constexpr auto recMakeXvectorTemplate = Export<6>::function;
constexpr auto recPutPcm = Export<7>::function;
constexpr auto recMakeIvectorTemplate = Export<8>::function;
constexpr auto recReset = Export<10>::function;
constexpr auto recCompare = Export<11>::function;
constexpr auto recCheckTemplate = Export<13>::function;
constexpr auto recGetDetail = Export<14>::function;
constexpr auto recGetTemplateSize = Export<18>::function;

// The engine is process-wide: sessions share one initialisation.
struct ProcessEngine {
  std::mutex lock;
  int openSessions = 0;
  std::string modelsDir;
  bool shareModel = false;
};

ProcessEngine& Process() {
  static ProcessEngine* engine = new ProcessEngine();  // outlives every session
  return *engine;
}

// Borrows a handle of the pool for one call.
}  // namespace

class PooledHandle {
 public:
  explicit PooledHandle(EngineSession* session) : session_(session), handle_(session->Acquire()) {}
  ~PooledHandle() { session_->Release(handle_); }
  PooledHandle(const PooledHandle&) = delete;
  PooledHandle& operator=(const PooledHandle&) = delete;
  void* get() const { return handle_; }

 private:
  EngineSession* session_;
  void* handle_;
};

void EngineSession::Check(int status, void* handle, const char* operation) {
  if (status == 0) return;
  throw EngineError(status, recGetDetail(handle), operation);
}

EngineSession::EngineSession(const std::string& modelsDir, bool shareModel)
    : modelsDir_(modelsDir), shareModel_(shareModel) {
  ProcessEngine& p = Process();
  std::lock_guard<std::mutex> guard(p.lock);
  if (p.openSessions > 0) {
    if (p.modelsDir != modelsDir || p.shareModel != shareModel) {
      throw std::invalid_argument("the engine of this process is already open on " + p.modelsDir +
                                  (p.shareModel ? " with" : " without") + " the shared model");
    }
  } else {
    const bool share = shareModel;
    const int r = recInitialize(modelsDir.c_str(), &share);
    if (r != 0) throw EngineError(r, recGetDetail(nullptr), "RecInitialize");
    p.modelsDir = modelsDir;
    p.shareModel = shareModel;
  }
  ++p.openSessions;
  templateSize_ = static_cast<size_t>(recGetTemplateSize());
  const std::string dir = modelsDir.empty() ? std::string(".") : modelsDir;
  featureDim_ =
      jor_feat::MfccOptions(dir + "/mfcc-options.json", jor_feat::kModeBatch).FeatureDim();
}

EngineSession::~EngineSession() { Close(); }

void EngineSession::Close() {
  {
    std::lock_guard<std::mutex> guard(poolLock_);
    if (closed_) return;
    closed_ = true;
    for (void* h : all_) recDelete(&h);
    all_.clear();
    idle_.clear();
  }
  ProcessEngine& p = Process();
  std::lock_guard<std::mutex> guard(p.lock);
  if (--p.openSessions == 0) recTerminate();
}

void EngineSession::EnsureOpen() const {
  if (closed_) throw std::logic_error("the engine is closed");
}

void* EngineSession::Acquire() {
  {
    std::lock_guard<std::mutex> guard(poolLock_);
    EnsureOpen();
    if (!idle_.empty()) {
      void* h = idle_.back();
      idle_.pop_back();
      return h;
    }
  }
  void* h = nullptr;
  const int r = recCreate(&h);
  if (r != 0) throw EngineError(r, 0, "RecCreate");
  std::lock_guard<std::mutex> guard(poolLock_);
  all_.push_back(h);
  return h;
}

void EngineSession::Release(void* handle) {
  std::lock_guard<std::mutex> guard(poolLock_);
  if (!closed_) idle_.push_back(handle);
}

TemplateResult EngineSession::XvectorTemplate(const int16_t* pcm, size_t count) {
  PooledHandle h(this);
  TemplateResult t;
  t.bytes.assign(templateSize_, 0);
  const size_t bytes = templateSize_;
  Check(recMakeXvectorTemplate(h.get(), pcm, &count, t.bytes.data(), &bytes, &t.duration,
                               &t.volume, &t.snr),
        h.get(), "RecMakeXvectorTemplate");
  return t;
}

TemplateResult EngineSession::IvectorTemplate(const int16_t* pcm, size_t count) {
  PooledHandle h(this);
  TemplateResult t;
  t.bytes.assign(templateSize_, 0);
  const size_t bytes = templateSize_;
  Check(recReset(h.get()), h.get(), "RecReset");
  int r = recPutPcm(h.get(), pcm, &count);
  if (r == 0) {
    r = recMakeIvectorTemplate(h.get(), t.bytes.data(), &bytes, &t.duration, &t.volume, &t.snr);
  }
  const int detail = r ? recGetDetail(h.get()) : 0;
  // The next borrower starts from an empty stream, whatever happened here.
  recReset(h.get());
  if (r != 0) throw EngineError(r, detail, "RecMakeIvectorTemplate");
  return t;
}

float EngineSession::Compare(const char* first, size_t firstBytes, const char* second,
                             size_t secondBytes) {
  PooledHandle h(this);
  float score = 0.0f;
  Check(recCompare(h.get(), first, &firstBytes, second, &secondBytes, &score), h.get(),
        "RecCompare");
  return score;
}

std::vector<float> EngineSession::Features(const int16_t* pcm, size_t count,
                                           QualityValues* quality) {
  PooledHandle h(this);
  std::vector<short> samples(pcm, pcm + count);
  std::vector<float> features;
  Check(Ravel_GetFeature(h.get(), samples, &features, &quality->duration, &quality->volume,
                         &quality->snr, &quality->validFreqStart, &quality->validFreqEnd,
                         &quality->freqSnr),
        h.get(), "Ravel_GetFeature");
  return features;
}

std::string EngineSession::CheckTemplate(const char* templ, size_t bytes) {
  EnsureOpen();
  char version[80] = {};
  const int r = recCheckTemplate(templ, &bytes, version);
  if (r != 0) throw EngineError(r, 0, "RecCheckTemplate");
  return std::string(version);
}

Stream::Stream(std::shared_ptr<EngineSession> session) : session_(std::move(session)) {
  session_->EnsureOpen();
  const int r = recCreate(&handle_);
  if (r != 0) throw EngineError(r, 0, "RecCreate");
}

Stream::~Stream() { Close(); }

void Stream::Close() {
  if (handle_ != nullptr) recDelete(&handle_);
  handle_ = nullptr;
}

void* Stream::Handle() const {
  if (handle_ == nullptr || session_->closed()) throw std::logic_error("the stream is closed");
  return handle_;
}

void Stream::Put(const int16_t* pcm, size_t count) {
  void* h = Handle();
  EngineSession::Check(recPutPcm(h, pcm, &count), h, "RecPutPcm");
}

QualityValues Stream::Quality() {
  void* h = Handle();
  QualityValues q;
  EngineSession::Check(Ravel_GetQualityMeasures(h, &q.duration, &q.volume, &q.snr,
                                                &q.validFreqStart, &q.validFreqEnd, &q.freqSnr),
                       h, "Ravel_GetQualityMeasures");
  return q;
}

TemplateResult Stream::Template() {
  void* h = Handle();
  TemplateResult t;
  t.bytes.assign(session_->TemplateSize(), 0);
  const size_t bytes = t.bytes.size();
  EngineSession::Check(
      recMakeIvectorTemplate(h, t.bytes.data(), &bytes, &t.duration, &t.volume, &t.snr), h,
      "RecMakeIvectorTemplate");
  return t;
}

void Stream::Reset() {
  void* h = Handle();
  EngineSession::Check(recReset(h), h, "RecReset");
}

}  // namespace ravel_py
