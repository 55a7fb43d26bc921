#include "IvectorExt/ivext/shmem-manager.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/permissions.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include "common/result-codes.h"
#include "engine/logging.h"

namespace ivext {

namespace bip = boost::interprocess;

namespace {

using jor::kSharedMemoryError;
constexpr long long kDefaultTimeoutMs = 30000;
constexpr unsigned kOwnerOnly = 0600;

std::atomic<long long> g_timeoutMs{0};

std::chrono::steady_clock::time_point Deadline() {
  return std::chrono::steady_clock::now() + ShmemManager::LockTimeout();
}

// The named object is gone afterwards (removed now or never there).
bool RemoveNamed(const char* name) {
  if (bip::shared_memory_object::remove(name)) return true;
  try {
    bip::shared_memory_object probe(bip::open_only, name, bip::read_only);
    return false;
  } catch (const bip::interprocess_exception&) {
    return true;
  }
}

}  // namespace

namespace shared_layout {

uint64_t SegmentBytes(int elemSize, int c, int f, int r) {
  const uint64_t header = HeaderBytes(elemSize);
  if (header == 0 || c < 1 || c > kMaxDim || f < 1 || f > kMaxDim || r < 1 || r > kMaxDim) return 0;
  return header +
         static_cast<uint64_t>(elemSize) * (SigmaInvTCount(c, f, r) + QuadTermsCount(c, r));
}

uint64_t ModelHash(const void* bytes, size_t count, uint64_t hash) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (size_t i = 0; i < count; ++i) {
    hash ^= p[i];
    hash *= 1099511628211ull;
  }
  return hash;
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
  lock.Release();
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
  // Readers hold the sharable lock for their whole life, so a writer that
  // lost the race to another process would never get the lock: it gives up
  // waiting as soon as that process has published its model.
  const long long timeoutMs = LockTimeout().count();
  switch (lock.Acquire(SharedModelLock::Mode::kExclusive, Deadline(), &CompleteSegmentExists)) {
    case SharedModelLock::Result::kHeld:
      break;
    case SharedModelLock::Result::kGaveUp:
      return nullptr;
    case SharedModelLock::Result::kTimedOut:
      jor_log::LogF(__FILE__, "ShmemManager::CreateForWrite", __LINE__, jor_log::kError,
                    "Timed out after %lld ms waiting for the exclusive lock \"%s\"", timeoutMs,
                    kSharedMutexName);
      throw bip::interprocess_exception("timed out waiting for the shared model lock");
    case SharedModelLock::Result::kFailed:
      throw bip::interprocess_exception("cannot lock the shared model");
  }
  if (CompleteSegmentExists()) {
    lock.Release();
    return nullptr;
  }
  // No live writer holds the lock: a segment still here was left half written
  // by one that died, and is written again.
  segment = std::make_unique<bip::shared_memory_object>(
      bip::open_or_create, kSharedSegmentName, bip::read_write, bip::permissions(kOwnerOnly));
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
  const long long timeoutMs = LockTimeout().count();
  switch (lock.Acquire(SharedModelLock::Mode::kShared, Deadline())) {
    case SharedModelLock::Result::kHeld:
      break;
    case SharedModelLock::Result::kGaveUp:
    case SharedModelLock::Result::kTimedOut:
      jor_log::LogF(__FILE__, "ShmemManager::OpenForRead", __LINE__, jor_log::kError,
                    "Timed out after %lld ms waiting for the sharable lock \"%s\"", timeoutMs,
                    kSharedMutexName);
      throw bip::interprocess_exception("timed out waiting for the shared model lock");
    case SharedModelLock::Result::kFailed:
      throw bip::interprocess_exception("cannot lock the shared model");
  }
  try {
    segment = std::make_unique<bip::shared_memory_object>(bip::open_only, kSharedSegmentName,
                                                          bip::read_only);
    region = std::make_unique<bip::mapped_region>(*segment, bip::read_only);
  } catch (...) {
    region.reset();
    segment.reset();
    lock.Release();
    throw;
  }
  return region->get_address();
}

size_t ShmemManager::RegionSize() const {
  return region ? region->get_size() : 0;
}

uint32_t ShmemManager::RemoveShared() {
  try {
    // remove() reports failure as false without saying why: an object that
    // is still there afterwards is a real failure.
    if (!RemoveNamed(kSharedSegmentName))
      throw bip::interprocess_exception("cannot remove the shared segment");
    if (!RemoveNamed(kSharedMutexName))
      throw bip::interprocess_exception("cannot remove the shared mutex");
    return 0;
  } catch (const std::exception& e) {
    jor_log::LogF(__FILE__, "ShmemManager::RemoveShared", __LINE__, jor_log::kError,
                  "Cannot remove the shared model: %s", e.what());
    return jor::kSharedMemoryError;
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
