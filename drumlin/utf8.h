// UTF-8 decoding and encoding for the speaker list: the XML escaper and the
// JNI layer read names with the same decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace drumlin {

// Decodes one UTF-8 sequence at text[*i] and moves *i past it. Anything
// malformed, overlong, a surrogate or beyond U+10FFFF gives U+FFFD and
// consumes one byte. *i must be below text.size().
uint32_t NextCodePoint(const std::string& text, size_t* i);

// Appends the UTF-8 bytes of `cp` (at most U+10FFFF).
void AppendUtf8(uint32_t cp, std::string* out);

}  // namespace drumlin
