// The speaker database "spdbdata" on arbitrary bytes: every whole record is
// read, and entries whose names fit the writer (a name field without its NUL
// is read whole, 128 bytes, which the writer refuses) come back unchanged
// through a file written from them.
#include <cstdint>
#include <string>
#include <vector>

#include "drumlin/speaker-database.h"
#include "fuzz/fuzz-util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  jor_fuzz::InputFile file("speaker_db_fuzz", data, size);
  std::vector<drumlin::SpeakerEntry> entries;
  if (drumlin::ReadSpeakerDatabase(file.path(), &entries) != drumlin::kSpeakerDbOk) return 0;
  if (entries.size() != size / drumlin::kSpeakerRecordBytes)
    jor_fuzz::Broken("a whole record was not read");
  for (const drumlin::SpeakerEntry& e : entries) {
    if (e.name.size() > drumlin::kSpeakerNameBytes) jor_fuzz::Broken("a name beyond its field");
    if (e.templ.size() != drumlin::kSpeakerTemplateBytes) jor_fuzz::Broken("a short template");
    if (e.name.size() == drumlin::kSpeakerNameBytes) return 0;
  }
  jor_fuzz::InputFile out("speaker_db_fuzz_out", nullptr, 0);
  if (drumlin::WriteSpeakerDatabase(out.path(), entries) != drumlin::kSpeakerDbOk)
    jor_fuzz::Broken("entries read cannot be written back");
  std::vector<drumlin::SpeakerEntry> again;
  if (drumlin::ReadSpeakerDatabase(out.path(), &again) != drumlin::kSpeakerDbOk ||
      again.size() != entries.size())
    jor_fuzz::Broken("entries written cannot be read back");
  for (size_t i = 0; i < entries.size(); ++i) {
    if (again[i].name != entries[i].name || again[i].templ != entries[i].templ ||
        again[i].number != entries[i].number || again[i].flag != entries[i].flag)
      jor_fuzz::Broken("an entry changed on the way through the file");
  }
  return 0;
}
