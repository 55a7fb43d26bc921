#include "IvectorExt/ivext/shmem-manager.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/shared_memory_object.hpp>
#include <boost/interprocess/sync/named_sharable_mutex.hpp>
#include <boost/interprocess/sync/scoped_lock.hpp>
#include <boost/interprocess/sync/sharable_lock.hpp>

#include "common/result-codes.h"
#include "engine/logging.h"

namespace ivext {

namespace bip = boost::interprocess;

namespace {

using jor::kSharedMemoryError;
constexpr long long kDefaultTimeoutMs = 30000;
// A writer that waits for the lock looks for a published model this often.
constexpr long long kPollMs = 20;

std::atomic<long long> g_timeoutMs{0};

boost::posix_time::ptime DeadlineAfter(long long ms) {
  return boost::posix_time::microsec_clock::universal_time() + boost::posix_time::milliseconds(ms);
}

}  // namespace

namespace shared_layout {

uint64_t SegmentBytes(int elemSize, int c, int f, int r) {
  const uint64_t header = HeaderBytes(elemSize);
  if (header == 0 || c < 1 || c > kMaxDim || f < 1 || f > kMaxDim || r < 1 || r > kMaxDim) return 0;
  return header +
         static_cast<uint64_t>(elemSize) * (SigmaInvTCount(c, f, r) + QuadTermsCount(c, r));
}

int32_t LoadElemSize(const void* base) {
  return __atomic_load_n(static_cast<const int32_t*>(base), __ATOMIC_ACQUIRE);
}

void PublishElemSize(void* base, int32_t elemSize) {
  __atomic_store_n(static_cast<int32_t*>(base), elemSize, __ATOMIC_RELEASE);
}

}  // namespace shared_layout

ShmemManager::ShmemManager() = default;

ShmemManager::~ShmemManager() {
  region.reset();
  segment.reset();
  readLock.reset();
  writeLock.reset();
  mutex.reset();
}

bool ShmemManager::Exists() {
  try {
    bip::shared_memory_object probe(bip::open_only, kSharedSegmentName, bip::read_only);
    return true;
  } catch (const bip::interprocess_exception&) {
    return false;
  }
}

bool ShmemManager::CompleteSegmentExists() {
  try {
    bip::shared_memory_object shm(bip::open_only, kSharedSegmentName, bip::read_only);
    bip::offset_t size = 0;
    if (!shm.get_size(size) || size < static_cast<bip::offset_t>(shared_layout::HeaderBytes(4)))
      return false;
    // Only the header is mapped: touching pages past the end would fault.
    bip::mapped_region header(shm, bip::read_only, 0,
                              static_cast<size_t>(shared_layout::HeaderBytes(4)));
    const auto* base = static_cast<const unsigned char*>(header.get_address());
    const int32_t elemSize = shared_layout::LoadElemSize(base);
    int32_t dims[3];
    std::memcpy(dims, base + shared_layout::kGaussiansOffset, sizeof dims);
    const uint64_t need = shared_layout::SegmentBytes(elemSize, dims[0], dims[1], dims[2]);
    return need != 0 && static_cast<uint64_t>(size) >= need;
  } catch (const bip::interprocess_exception&) {
    return false;
  }
}

void* ShmemManager::CreateForWrite(size_t size) {
  region.reset();
  segment.reset();
  readLock.reset();
  writeLock.reset();
  mutex = std::make_unique<Mutex>(bip::open_or_create, kSharedMutexName);

  // Readers hold the sharable lock for their whole life, so a writer that
  // lost the race to another process would never get the lock: it looks for
  // the other process's published model between bounded waits.
  const long long timeoutMs = LockTimeout().count();
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const long long waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
    const long long slice = std::max<long long>(1, std::min(kPollMs, timeoutMs - waited));
    auto lock = std::make_unique<bip::scoped_lock<Mutex>>(*mutex, DeadlineAfter(slice));
    if (lock->owns()) {
      if (CompleteSegmentExists()) {
        lock.reset();
        mutex.reset();
        return nullptr;
      }
      writeLock = std::move(lock);
      break;
    }
    lock.reset();
    if (CompleteSegmentExists()) {
      mutex.reset();
      return nullptr;
    }
    if (waited + slice >= timeoutMs) {
      jor_log::LogF(__FILE__, "ShmemManager::CreateForWrite", __LINE__, jor_log::kError,
                    "Timed out after %lld ms waiting for the exclusive lock \"%s\"", timeoutMs,
                    kSharedMutexName);
      mutex.reset();
      throw bip::interprocess_exception("timed out waiting for the shared model lock");
    }
  }

  segment = std::make_unique<bip::shared_memory_object>(bip::open_or_create, kSharedSegmentName,
                                                        bip::read_write);
  segment->truncate(static_cast<bip::offset_t>(size));
  region = std::make_unique<bip::mapped_region>(*segment, bip::read_write);
  void* base = region->get_address();
  // A reused segment keeps its old bytes: withdraw its completion mark first.
  if (region->get_size() >= sizeof(int32_t)) shared_layout::PublishElemSize(base, 0);
  return base;
}

const void* ShmemManager::OpenForRead() {
  region.reset();
  segment.reset();
  readLock.reset();
  writeLock.reset();
  mutex = std::make_unique<Mutex>(bip::open_only, kSharedMutexName);

  const long long timeoutMs = LockTimeout().count();
  readLock = std::make_unique<bip::sharable_lock<Mutex>>(*mutex, DeadlineAfter(timeoutMs));
  if (!readLock->owns()) {
    readLock.reset();
    mutex.reset();
    jor_log::LogF(__FILE__, "ShmemManager::OpenForRead", __LINE__, jor_log::kError,
                  "Timed out after %lld ms waiting for the sharable lock \"%s\"", timeoutMs,
                  kSharedMutexName);
    throw bip::interprocess_exception("timed out waiting for the shared model lock");
  }
  segment = std::make_unique<bip::shared_memory_object>(bip::open_only, kSharedSegmentName,
                                                        bip::read_only);
  region = std::make_unique<bip::mapped_region>(*segment, bip::read_only);
  return region->get_address();
}

size_t ShmemManager::RegionSize() const {
  return region ? region->get_size() : 0;
}

uint32_t ShmemManager::RemoveShared() {
  try {
    // remove() reports failure as false without saying why: an object that
    // is still there afterwards is a real failure.
    if (!bip::shared_memory_object::remove(kSharedSegmentName)) {
      bool stillThere = false;
      try {
        bip::shared_memory_object probe(bip::open_only, kSharedSegmentName, bip::read_only);
        stillThere = true;
      } catch (const bip::interprocess_exception&) {
      }
      if (stillThere) throw bip::interprocess_exception("cannot remove the shared segment");
    }
    if (!bip::named_sharable_mutex::remove(kSharedMutexName)) {
      bool stillThere = false;
      try {
        bip::shared_memory_object probe(bip::open_only, kSharedMutexName, bip::read_only);
        stillThere = true;
      } catch (const bip::interprocess_exception&) {
      }
      if (stillThere) throw bip::interprocess_exception("cannot remove the shared mutex");
    }
    return 0;
  } catch (const std::exception& e) {
    jor_log::LogF(__FILE__, "ShmemManager::RemoveShared", __LINE__, jor_log::kError,
                  "Cannot remove the shared model: %s", e.what());
    return kSharedMemoryError;
  }
}

std::chrono::milliseconds ShmemManager::LockTimeout() {
  long long ms = g_timeoutMs.load(std::memory_order_relaxed);
  if (ms > 0) return std::chrono::milliseconds(ms);
  if (const char* env = std::getenv("JOR_SHMEM_LOCK_TIMEOUT_MS")) {
    char* end = nullptr;
    ms = std::strtoll(env, &end, 10);
    if (end != env && *end == '\0' && ms > 0) return std::chrono::milliseconds(ms);
  }
  return std::chrono::milliseconds(kDefaultTimeoutMs);
}

void ShmemManager::SetLockTimeout(std::chrono::milliseconds timeout) {
  g_timeoutMs.store(timeout.count() > 0 ? timeout.count() : 0, std::memory_order_relaxed);
}

}  // namespace ivext
