// The speaker-list writer on arbitrary names and labels. Lines of the input
// up to the first empty line are cluster names; each byte after it is one
// piece's label. The document must be valid UTF-8, hold one element per turn,
// and no name may break out of its attribute.
#include <cstdint>
#include <string>
#include <vector>

#include "drumlin/diarization-driver.h"
#include "fuzz/fuzz-util.h"

namespace {

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    const int extra = b < 0x80   ? 0
                      : b < 0xC2 ? -1
                      : b < 0xE0 ? 1
                      : b < 0xF0 ? 2
                      : b < 0xF5 ? 3
                                 : -1;
    if (extra < 0 || i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k)
      if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    if (extra > 0) {
      const uint8_t b1 = static_cast<uint8_t>(s[i + 1]);
      // Overlong forms, surrogates and code points beyond U+10FFFF.
      if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0) || (b == 0xF0 && b1 < 0x90) ||
          (b == 0xF4 && b1 >= 0x90))
        return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < input.size() && names.size() < 16) {
    const size_t eol = input.find('\n', pos);
    const std::string line =
        input.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
    pos = eol == std::string::npos ? input.size() : eol + 1;
    if (line.empty()) break;
    names.push_back(line);
  }
  std::vector<int> labels;
  for (; pos < input.size() && labels.size() < 512; ++pos)
    labels.push_back(static_cast<int>(static_cast<uint8_t>(input[pos]) % (names.size() + 1)) - 1);

  const std::vector<drumlin::SpeakerTurn> turns = drumlin::MakeTurns(labels, names);
  const std::string xml = drumlin::FormatSpeakerList(turns);
  if (!ValidUtf8(xml)) jor_fuzz::Broken("XML that is not UTF-8");
  size_t elements = 0;
  for (size_t at = xml.find("<speaker "); at != std::string::npos;
       at = xml.find("<speaker ", at + 1))
    ++elements;
  if (elements != turns.size()) jor_fuzz::Broken("a name opened an element of its own");
  for (const std::string& n : names) {
    const std::string escaped = drumlin::EscapeXmlAttribute(n);
    if (escaped.find_first_of("<>\"'") != std::string::npos || !ValidUtf8(escaped))
      jor_fuzz::Broken("an attribute value that is not safe");
  }
  return 0;
}
