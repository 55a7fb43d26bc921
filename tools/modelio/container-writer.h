// Writer of model container files: the 76-byte directory and the sections in
// the order given (the directory names each section's offset and type).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modelio {

struct ContainerSection {
  uint32_t type;      // 0..5 are known; others are logged and skipped
  std::string bytes;  // the section as its loader reads it
};

// Exactly six directory entries are written; `sections` must hold six.
std::string BuildContainer(const std::vector<ContainerSection>& sections, uint8_t version = 1,
                           uint8_t count = 6);

}  // namespace modelio
