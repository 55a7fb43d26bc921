// The reader-writer lock of the shared i-vector model: an advisory lock
// (flock) on the named object "jor_speaker_recognition_mutex".
//
// The kernel drops such a lock when its holder exits or is killed, so a
// reader or writer that died never leaves the lock taken: the next process
// gets it at once instead of waiting out a timeout. A lock is held on one
// open object; when the name is removed (Ravel_DeleteShmem) and made again
// while a process waits, the process notices on acquiring, drops the lock on
// the removed object and locks the current one, so that two writers can never
// hold "the" lock on two different objects.
//
// The named object is created owner-only (0600): only processes of the same
// user share the model.
#pragma once

#include <chrono>
#include <functional>

namespace ivext {

class SharedModelLock {
 public:
  enum class Mode { kShared, kExclusive };
  enum class Result { kHeld, kTimedOut, kGaveUp, kFailed };

  SharedModelLock() = default;
  ~SharedModelLock() { Release(); }
  SharedModelLock(const SharedModelLock&) = delete;
  SharedModelLock& operator=(const SharedModelLock&) = delete;

  // Waits until the lock is held in `mode` or `deadline` passes. Between
  // tries `giveUp` (when given) is asked whether waiting still makes sense.
  // kFailed: the named object cannot be opened or locked (errno tells why).
  Result Acquire(Mode mode, std::chrono::steady_clock::time_point deadline,
                 const std::function<bool()>& giveUp = {});
  void Release();
  bool Held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace ivext
