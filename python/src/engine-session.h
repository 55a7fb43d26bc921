// The process's engine as the Python package uses it: one initialisation of
// the public recognition library per process, a pool of recognition handles
// so that whole-recording calls from many threads run at once, and streams
// that own a handle each.
//
// Every call that does engine work takes plain C++ arguments so that the
// module can release the interpreter lock around it. Failures throw
// EngineError with the call's status and the handle's detail code.
//
// Thread safety: every member of EngineSession may be called from several
// threads at once, except Close. A Stream is used by one thread at a time.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ravel_py {

struct QualityValues {
  float duration = 0, volume = 0, snr = 0, validFreqStart = 0, validFreqEnd = 0;
  std::vector<float> freqSnr;
};

struct TemplateResult {
  std::vector<char> bytes;
  float duration = 0, volume = 0, snr = 0;
};

class EngineSession {
 public:
  // Initialises the engine on `modelsDir` unless this process already has it
  // open on the same directory; a different directory or sharing flag while
  // it is open throws std::invalid_argument.
  EngineSession(const std::string& modelsDir, bool shareModel);
  ~EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  // Deletes this session's handles; the last open session terminates the
  // engine. Idempotent.
  void Close();
  bool closed() const { return closed_; }

  const std::string& modelsDir() const { return modelsDir_; }
  size_t TemplateSize() const { return templateSize_; }
  // Values per feature row (cepstra times delta orders plus one).
  int FeatureDim() const { return featureDim_; }

  // X-vector template of a whole recording (RecMakeXvectorTemplate).
  TemplateResult XvectorTemplate(const int16_t* pcm, size_t count);
  // I-vector template of a whole recording streamed into a fresh handle
  // (RecReset, RecPutPcm, RecMakeIvectorTemplate).
  TemplateResult IvectorTemplate(const int16_t* pcm, size_t count);
  // RecCompare(first, second): the second template's duration counts.
  float Compare(const char* first, size_t firstBytes, const char* second, size_t secondBytes);
  // Voiced feature rows and every quality value of a whole recording.
  std::vector<float> Features(const int16_t* pcm, size_t count, QualityValues* quality);
  // Template version text ("1.1"); throws for a template the engine refuses.
  std::string CheckTemplate(const char* templ, size_t bytes);

  // Throws EngineError after a failed call on `handle` (null: the
  // initialisation detail).
  static void Check(int status, void* handle, const char* operation);

 private:
  friend class Stream;
  friend class PooledHandle;
  void* Acquire();
  void Release(void* handle);
  void EnsureOpen() const;

  std::string modelsDir_;
  bool shareModel_ = false;
  std::atomic<bool> closed_{false};
  size_t templateSize_ = 0;
  int featureDim_ = 0;
  std::mutex poolLock_;
  std::vector<void*> idle_;
  std::vector<void*> all_;
};

// Streamed i-vector enrolment on a handle of its own.
class Stream {
 public:
  explicit Stream(std::shared_ptr<EngineSession> session);
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  void Put(const int16_t* pcm, size_t count);
  QualityValues Quality();
  TemplateResult Template();
  void Reset();
  void Close();

 private:
  void* Handle() const;
  std::shared_ptr<EngineSession> session_;
  void* handle_ = nullptr;
};

}  // namespace ravel_py
