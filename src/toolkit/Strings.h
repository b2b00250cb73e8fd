#pragma once
// Small text helpers with the framework's semantics (8-bit texts, ASCII case
// rules), so that number parsing and case comparison behave the same
// everywhere in the gateway.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vantor {

// Parses a whole text as a 32-bit integer: optional sign, then decimal
// digits, or hexadecimal after "$", "0x" or "0X".  Anything else (empty text,
// stray characters, out of range) gives nullopt.  Blanks are not skipped.
std::optional<std::int32_t> ParseInt32(std::string_view text);
// ParseInt32 with leading and trailing blanks ignored, `def` on failure.
std::int32_t StrToIntDef(std::string_view text, std::int32_t def);

std::string IntToStr(std::int64_t value);
// Upper-case hexadecimal, at least `digits` digits (zero-padded).  Negative
// values are shown as their two's complement of 32 bits.
std::string IntToHex(std::int64_t value, int digits);

// ASCII-only case rules: bytes >= 0x80 are left alone.
bool SameText(std::string_view a, std::string_view b);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Removes leading and trailing bytes <= ' ' (blanks and control characters).
std::string_view TrimView(std::string_view text);
std::string Trim(std::string_view text);
bool StartsWith(std::string_view text, std::string_view prefix);

// Settings texts have a fixed capacity; a longer configured value is cut to
// the field.
inline constexpr std::size_t SettingsTextCapacity = 100;
std::string CutToField(std::string text, std::size_t capacity = SettingsTextCapacity);

// A numbered language text with its values: "%1" to "%9" stand for the
// values in order (a language puts them where its sentence needs them).  A
// value whose mark the text lacks follows the text after a blank, so a
// language file without the text still shows the values.
std::string FormatText(std::string_view text, std::initializer_list<std::string_view> values);

} // namespace vantor
