#include "IvectorExt/ivext/shared-model-lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "IvectorExt/ivext/shmem-manager.h"

namespace ivext {

namespace {

// A waiting process looks again this often.
constexpr std::chrono::milliseconds kPoll(5);

std::string ObjectName() {
  return std::string("/") + kSharedMutexName;
}

// True when `fd` is the object the name stands for now.
bool StillNamed(int fd) {
  const int named = ::shm_open(ObjectName().c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (named < 0) return false;
  struct stat a, b;
  const bool same = ::fstat(fd, &a) == 0 && ::fstat(named, &b) == 0 && a.st_ino == b.st_ino &&
                    a.st_dev == b.st_dev;
  ::close(named);
  return same;
}

}  // namespace

SharedModelLock::Result SharedModelLock::Acquire(Mode mode,
                                                 std::chrono::steady_clock::time_point deadline,
                                                 const std::function<bool()>& giveUp) {
  Release();
  const int op = (mode == Mode::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  for (;;) {
    if (fd_ < 0) {
      fd_ = ::shm_open(ObjectName().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (fd_ < 0) return Result::kFailed;
    }
    if (::flock(fd_, op) == 0) {
      if (StillNamed(fd_)) {
        held_ = true;
        return Result::kHeld;
      }
      // Removed while this process waited: lock the object of the name now.
      ::close(fd_);
      fd_ = -1;
      continue;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      const int saved = errno;
      ::close(fd_);
      fd_ = -1;
      errno = saved;
      return Result::kFailed;
    }
    if (!StillNamed(fd_)) {
      // Removed while this process waits for the holder of the old object:
      // the old object's holder no longer matters.
      ::close(fd_);
      fd_ = -1;
      continue;
    }
    if (giveUp && giveUp()) {
      ::close(fd_);
      fd_ = -1;
      return Result::kGaveUp;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      ::close(fd_);
      fd_ = -1;
      return Result::kTimedOut;
    }
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kPoll, deadline - now));
  }
}

void SharedModelLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor drops the lock
  fd_ = -1;
  held_ = false;
}

}  // namespace ivext
