#include "drumlin/speaker-database.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common/join-path.h"

namespace drumlin {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

std::string SpeakerDatabasePath(const char* modelDir) {
  return common::JoinPath(modelDir, kSpeakerDatabaseName);
}

SpeakerEntry DecodeSpeakerRecord(const uint8_t* record) {
  SpeakerEntry entry;
  entry.number = static_cast<int32_t>(
      static_cast<uint32_t>(record[0]) | static_cast<uint32_t>(record[1]) << 8 |
      static_cast<uint32_t>(record[2]) << 16 | static_cast<uint32_t>(record[3]) << 24);
  const char* name = reinterpret_cast<const char*>(record + kSpeakerNameOffset);
  // A name field without its NUL ends with the field.
  entry.name.assign(name, strnlen(name, kSpeakerNameBytes));
  entry.flag = record[kSpeakerFlagOffset];
  const char* templ = reinterpret_cast<const char*>(record + kSpeakerTemplateOffset);
  entry.templ.assign(templ, templ + kSpeakerTemplateBytes);
  return entry;
}

int EncodeSpeakerRecord(const SpeakerEntry& entry, uint8_t* record) {
  if (entry.name.size() >= kSpeakerNameBytes || entry.name.find('\0') != std::string::npos) {
    return kSpeakerDbNameTooLong;
  }
  if (entry.templ.size() != kSpeakerTemplateBytes) return kSpeakerDbTemplateSize;
  std::memset(record, 0, kSpeakerRecordBytes);
  const uint32_t number = static_cast<uint32_t>(entry.number);
  for (int i = 0; i < 4; ++i) record[i] = static_cast<uint8_t>(number >> (8 * i));
  std::memcpy(record + kSpeakerNameOffset, entry.name.data(), entry.name.size());
  record[kSpeakerFlagOffset] = entry.flag;
  std::memcpy(record + kSpeakerTemplateOffset, entry.templ.data(), kSpeakerTemplateBytes);
  return kSpeakerDbOk;
}

int ReadSpeakerDatabase(const std::string& path, std::vector<SpeakerEntry>* entries) {
  entries->clear();
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) return kSpeakerDbOk;
  try {
    std::vector<uint8_t> record(kSpeakerRecordBytes);
    while (std::fread(record.data(), 1, kSpeakerRecordBytes, f.get()) == kSpeakerRecordBytes) {
      entries->push_back(DecodeSpeakerRecord(record.data()));
    }
  } catch (const std::bad_alloc&) {
    entries->clear();
    return kSpeakerDbNoMemory;
  }
  return kSpeakerDbOk;
}

int WriteSpeakerDatabase(const std::string& path, const std::vector<SpeakerEntry>& entries) {
  std::vector<uint8_t> record(kSpeakerRecordBytes);
  for (const SpeakerEntry& entry : entries) {
    const int r = EncodeSpeakerRecord(entry, record.data());
    if (r != kSpeakerDbOk) return r;
  }
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) return kSpeakerDbIoError;
  for (const SpeakerEntry& entry : entries) {
    EncodeSpeakerRecord(entry, record.data());
    if (std::fwrite(record.data(), 1, kSpeakerRecordBytes, f.get()) != kSpeakerRecordBytes) {
      return kSpeakerDbIoError;
    }
  }
  if (std::fclose(f.release()) != 0) return kSpeakerDbIoError;
  return kSpeakerDbOk;
}

}  // namespace drumlin
