// One process's handles on the shared i-vector model segment
// "jor_speaker_recognition" and its reader-writer lock on the named object
// "jor_speaker_recognition_mutex" (SharedModelLock).
//
// The writer fills the segment under the exclusive lock; readers hold the
// sharable lock for as long as they use the mapping. The kernel drops the lock
// of a process that exits or dies, so a killed writer or reader never blocks
// later processes; every wait is still bounded (LockTimeout) for a live holder
// that hangs.
//
// Both named objects are created owner-only (0600): processes of other users
// cannot read, replace or lock the model.
//
// After its arrays the segment carries a 16-byte trailer: "JORMHASH" and the
// 64-bit hash of the extractor model it was computed from (ModelHash). A
// process that loads another model file never takes that segment for its own
// (the extractor then keeps a private copy, see Extractor<T>::LoadModel).
//
// Errors of the shared-memory layer, timeouts included, surface as
// boost::interprocess::interprocess_exception; the extractor turns them into
// 0x10107004.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "IvectorExt/ivext/shared-model-lock.h"

namespace boost {
namespace interprocess {
class shared_memory_object;
class mapped_region;
}  // namespace interprocess
}  // namespace boost

namespace ivext {

inline constexpr const char* kSharedSegmentName = "jor_speaker_recognition";
inline constexpr const char* kSharedMutexName = "jor_speaker_recognition_mutex";

class ShmemManager {
 public:
  ShmemManager();
  virtual ~ShmemManager();
  ShmemManager(const ShmemManager&) = delete;
  ShmemManager& operator=(const ShmemManager&) = delete;

  // True when the named segment can be opened read-only.
  virtual bool Exists();

  // Takes the exclusive lock, creates (or reuses: a segment whose writer died
  // is rewritten) the segment with `size` bytes, owner-only, and maps it
  // read-write; returns its base. Returns nullptr, holding nothing, when a
  // complete model is published before or while it waits: the caller
  // attaches with OpenForRead instead of writing it again.
  virtual void* CreateForWrite(size_t size);

  // Takes the sharable lock (waiting while a writer fills the segment), maps
  // the existing segment read-only and returns its base.
  virtual const void* OpenForRead();

  // Bytes mapped by the last CreateForWrite/OpenForRead; 0 when none.
  size_t RegionSize() const;

  // Removes the segment, then the mutex: 0, or 0x10107004 on a library error.
  // Removing objects that do not exist is not an error.
  static uint32_t RemoveShared();

  // True when a segment exists whose header carries the completion mark and
  // whose size holds the layout that header describes.
  static bool CompleteSegmentExists();

  // Bound of every lock wait. Default 30 s; the environment variable
  // JOR_SHMEM_LOCK_TIMEOUT_MS overrides it, SetLockTimeout overrides both
  // (a zero or negative value restores the default behaviour).
  static std::chrono::milliseconds LockTimeout();
  static void SetLockTimeout(std::chrono::milliseconds timeout);

 private:
  SharedModelLock lock;
  std::unique_ptr<boost::interprocess::shared_memory_object> segment;
  std::unique_ptr<boost::interprocess::mapped_region> region;
};

// Segment header shared by the writer and the readers. The element size at
// offset 0 doubles as the completion mark: the segment starts zero-filled and
// the writer stores the element size last, so a segment whose writer died half
// way never carries a valid element size.
namespace shared_layout {
inline constexpr size_t kElemSizeOffset = 0;
inline constexpr size_t kGaussiansOffset = 4;
inline constexpr size_t kFeatureDimOffset = 8;
inline constexpr size_t kIvectorDimOffset = 12;
inline constexpr size_t kReservedOffset = 16;
inline constexpr size_t kPriorOffset = 20;
inline constexpr int kMaxDim = 1000000;

// Header bytes for an element size of 4 or 8 (24 or 28); 0 for others.
constexpr uint64_t HeaderBytes(int elemSize) {
  return elemSize == 4 || elemSize == 8 ? 20u + static_cast<uint64_t>(elemSize) : 0u;
}
// Values of sigmaInvT (C·F·R) and quadTerms (C·R(R+1)/2), in 64 bits.
constexpr uint64_t SigmaInvTCount(int c, int f, int r) {
  return static_cast<uint64_t>(c) * static_cast<uint64_t>(f) * static_cast<uint64_t>(r);
}
constexpr uint64_t QuadTermsCount(int c, int r) {
  return static_cast<uint64_t>(c) *
         (static_cast<uint64_t>(r) * (static_cast<uint64_t>(r) + 1u) / 2u);
}
// Header and both arrays (the trailer follows at this offset); 0 for an
// invalid element size or dimension (each of C, F, R in 1..1000000 keeps
// every term below 2^64).
uint64_t SegmentBytes(int elemSize, int c, int f, int r);

// The trailer after the arrays: 8 bytes "JORMHASH", then the model hash.
inline constexpr size_t kTrailerBytes = 16;
inline constexpr char kTrailerTag[8] = {'J', 'O', 'R', 'M', 'H', 'A', 'S', 'H'};

// FNV-1a (64-bit) of a byte range, continued from `hash`; the model hash is
// taken over the section as read: element size, C, F, R, prior offset, the
// factor matrices and the packed inverse covariances.
uint64_t ModelHash(const void* bytes, size_t count, uint64_t hash = 14695981039346656037ull);

// Loads the completion mark with acquire ordering / publishes it last.
int32_t LoadElemSize(const void* base);
void PublishElemSize(void* base, int32_t elemSize);
}  // namespace shared_layout

}  // namespace ivext
