#pragma once
// Texts cross between the gateway, which holds them as 8-bit Windows-1250
// (its language files, its configuration, the exchange's messages), and the
// mail world, which wants UTF-8.  The conversion is the C library's iconv;
// bytes that have no character (five codes are unassigned in Windows-1250,
// and broken UTF-8) become U+FFFD, characters that Windows-1250 cannot hold
// become '?', so no input makes a conversion fail.
#include <string>
#include <string_view>

namespace vantorq9 {

enum class TextCharset { Windows1250, Utf8 };

// "windows-1250" (also "cp1250") or "utf-8" (also "utf8"), any case.
bool ParseCharset(std::string_view name, TextCharset& out);

std::string ToUtf8(std::string_view text, TextCharset from);
std::string FromUtf8(std::string_view utf8, TextCharset to);

} // namespace vantorq9
