// Shared by the driver tests and the driver benchmark: recordings whose
// pieces a stand-in recognition library can tell apart, and the recognition
// table over such a stand-in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drumlin/diarization-driver.h"

namespace jor_test {

// Samples in one piece the driver cuts (4 s at 8 kHz).
constexpr int kPieceSamples = drumlin::kPieceSeconds * 8000;

// First lines of every speaker list and its last line.
inline const std::string kSpeakerListHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<speakerList>\n";
inline const std::string kSpeakerListFooter = "</speakerList>\n";

// An 8 kHz mono 16-bit PCM WAV file holding `pcm`.
inline std::string MonoWav8k(const std::vector<int16_t>& pcm) {
  const uint32_t data = uint32_t(pcm.size() * 2);
  std::string w = "RIFF";
  auto le = [&w](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) w.push_back(char(v >> (8 * i)));
  };
  le(data + 36, 4);
  w += "WAVEfmt ";
  le(16, 4), le(1, 2), le(1, 2), le(8000, 4), le(16000, 4), le(2, 2), le(16, 2);
  w += "data";
  le(data, 4);
  w.append(reinterpret_cast<const char*>(pcm.data()), data);
  return w;
}

// The recognition table over a stand-in whose static member functions
// Initialize, Create, Delete, MakeXvectorTemplate, Compare, GetDetail and
// TemplateSize play the library's exports.
template <typename Fake>
drumlin::PellamApi FakePellamApi() {
  drumlin::PellamApi api;
  api.initialize = Fake::Initialize;
  api.create = Fake::Create;
  api.destroy = Fake::Delete;
  api.makeXvectorTemplate = Fake::MakeXvectorTemplate;
  api.compare = Fake::Compare;
  api.getDetail = Fake::GetDetail;
  api.getTemplateSize = Fake::TemplateSize;
  return api;
}

}  // namespace jor_test
