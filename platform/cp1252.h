#pragma once

#include <string>
#include <string_view>

// Windows-1252, the code page of the shop's data files. Data stays in these bytes; only the widget
// edge and the error messages see UTF-8.
namespace velmo::cp1252 {

// Every byte maps to one code point. The five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) map to the C1 control of the same number, so all 256 bytes survive a round trip.
char32_t toUnicode(unsigned char byte);

// The byte for a code point, or '?' when the code page has none.
char fromUnicode(char32_t cp);

std::string toUtf8(std::string_view bytes);
// Invalid UTF-8 sequences become '?'.
std::string fromUtf8(std::string_view utf8);
// True when fromUtf8 keeps every character of the text (valid UTF-8, each character in the code
// page), so the bytes name the same thing as the text.
bool representable(std::string_view utf8);

} // namespace velmo::cp1252
