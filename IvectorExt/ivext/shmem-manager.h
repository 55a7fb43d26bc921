// PLACEHOLDER: replaced by the shared-memory model store.
#pragma once

#include <cstdint>

namespace ivext {

class ShmemManager {
 public:
  // Removes the named segment and its mutex: 0, or 0x10107004.
  static uint32_t RemoveShared();
};

}  // namespace ivext
