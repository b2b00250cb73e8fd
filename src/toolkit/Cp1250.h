#pragma once
// The gateway holds its texts as 8-bit Windows-1250 (the code page of its
// Czech captions and of the language files).  Captions in source are UTF-8
// literals wrapped in Cp1250FromUtf8(); anything shown on a UTF-8 terminal
// or handed to the Qt view goes back through Utf8FromCp1250().
#include <cstdint>
#include <string>
#include <string_view>

namespace vantor {

// Characters without a Windows-1250 code, and malformed UTF-8, become '?'.
std::string Cp1250FromUtf8(std::string_view utf8);
// The five unassigned codes (0x81 0x83 0x88 0x90 0x98) become U+FFFD.
std::string Utf8FromCp1250(std::string_view cp1250);
// One code point of the Basic Multilingual Plane as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t codePoint);
// The same to and from UTF-16 (file names on Windows): the unassigned codes
// become U+FFFD; characters without a Windows-1250 code, surrogate pairs
// included, become '?'.
std::u16string Utf16FromCp1250(std::string_view cp1250);
std::string Cp1250FromUtf16(std::u16string_view utf16);

} // namespace vantor
