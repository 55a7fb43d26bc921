// The speaker database "spdbdata": a plain sequence of 4,489-byte records
// kept in the model directory, each holding an enrolled speaker's name and
// template. The diarization driver names clusters from it; tools and tests
// write it.
//
// Record layout (little-endian):
//   0     4  int32 entry number
//   4   128  speaker name, NUL-terminated
//   132   1  flag byte (not used by diarization)
//   133 4356 template in the engine's format (256-byte header + 1,025 floats)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace drumlin {

constexpr char kSpeakerDatabaseName[] = "spdbdata";
constexpr size_t kSpeakerRecordBytes = 4489;
constexpr size_t kSpeakerNameBytes = 128;
constexpr size_t kSpeakerTemplateBytes = 4356;
constexpr size_t kSpeakerNameOffset = 4;
constexpr size_t kSpeakerFlagOffset = 132;
constexpr size_t kSpeakerTemplateOffset = 133;

constexpr int kSpeakerDbOk = 0;
constexpr int kSpeakerDbNameTooLong = -1;   // the name does not fit 127 bytes + NUL
constexpr int kSpeakerDbTemplateSize = -2;  // the template is not 4,356 bytes
constexpr int kSpeakerDbIoError = -3;       // the file cannot be opened or written
constexpr int kSpeakerDbNoMemory = -4;

struct SpeakerEntry {
  int32_t number = 0;
  std::string name;  // up to the first NUL of the 128-byte field
  uint8_t flag = 0;
  std::vector<char> templ;  // kSpeakerTemplateBytes bytes
};

// "spdbdata" in `modelDir`, joined as common::JoinPath does.
std::string SpeakerDatabasePath(const char* modelDir);

// Decodes one record of kSpeakerRecordBytes bytes.
SpeakerEntry DecodeSpeakerRecord(const uint8_t* record);
// Encodes one record; fails on a long name or a template of the wrong size.
int EncodeSpeakerRecord(const SpeakerEntry& entry, uint8_t* record);

// Reads whole records until the end of the file or the first short read; a
// missing file gives no entries and succeeds.
int ReadSpeakerDatabase(const std::string& path, std::vector<SpeakerEntry>* entries);
// Writes the entries as a new file, replacing any old one.
int WriteSpeakerDatabase(const std::string& path, const std::vector<SpeakerEntry>& entries);

}  // namespace drumlin
