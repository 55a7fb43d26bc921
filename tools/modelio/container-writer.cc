#include "tools/modelio/container-writer.h"

#include <cstring>
#include <stdexcept>

namespace modelio {

std::string BuildContainer(const std::vector<ContainerSection>& sections, uint8_t version,
                           uint8_t count) {
  if (sections.size() != 6) throw std::invalid_argument("a container has six sections");
  std::string out(76, '\0');
  out[0] = static_cast<char>(version);
  out[1] = 0x34;  // the uint16 at 1..2 is not interpreted
  out[2] = 0x12;
  out[3] = static_cast<char>(count);
  std::string body;
  for (size_t i = 0; i < sections.size(); ++i) {
    const int32_t offset = static_cast<int32_t>(76 + body.size());
    const uint32_t size = static_cast<uint32_t>(sections[i].bytes.size());
    std::memcpy(&out[4 + 12 * i], &offset, 4);
    std::memcpy(&out[4 + 12 * i + 4], &size, 4);
    std::memcpy(&out[4 + 12 * i + 8], &sections[i].type, 4);
    body += sections[i].bytes;
  }
  return out + body;
}

}  // namespace modelio
