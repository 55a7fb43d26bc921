#include "common/model/model_manager.h"

#include <cstring>

#include "engine/logging.h"

namespace common::model {

ModelManager::ModelManager(const char* path) : path_(path) {}

ModelManager::~ModelManager() {
  if (header_stream_) std::fclose(header_stream_);
  for (FILE*& s : sections_) {
    if (s) std::fclose(s);
    s = nullptr;
  }
}

uint32_t ModelManager::initialize() {
  if (path_ == nullptr) return 0;
  header_stream_ = std::fopen(path_, "rb");
  if (header_stream_ == nullptr) return jor::kContainerUnreadable;
  if (std::fread(header_, 1, kHeaderSize, header_stream_) != static_cast<size_t>(kHeaderSize))
    return jor::kContainerUnreadable;
  if (header_[0] != 1 || header_[3] != kSectionCount) return jor::kContainerMalformed;
  std::memcpy(&reserved_, header_ + 1, sizeof(reserved_));

  for (int entry = 0; entry < kSectionCount; ++entry) {
    const unsigned char* e = header_ + 4 + 12 * entry;
    int32_t offset;
    uint32_t type;
    std::memcpy(&offset, e, 4);
    std::memcpy(&type, e + 8, 4);
    if (type >= static_cast<uint32_t>(kSectionCount)) {
      jor_log::LogF(__FILE__, "common::model::ModelManager::initialize", __LINE__,
                    jor_log::kWarning, "Model file %s contains unknown type %d\n", path_,
                    static_cast<int>(type));
      continue;
    }
    FILE* stream = std::fopen(path_, "rb");
    // The header opened a moment ago; a section that does not is the same
    // failure as an unreadable container.
    if (stream == nullptr) return jor::kContainerUnreadable;
    if (sections_[type]) std::fclose(sections_[type]);
    sections_[type] = stream;
    if (std::fseek(stream, offset, SEEK_SET) != 0) return jor::kContainerMalformed;
  }
  return 0;
}

}  // namespace common::model
