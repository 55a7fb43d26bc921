// PLACEHOLDER: replaced by the shared-memory model store.
#include "IvectorExt/ivext/shmem-manager.h"

namespace ivext {
uint32_t ShmemManager::RemoveShared() { return 0; }
}  // namespace ivext
