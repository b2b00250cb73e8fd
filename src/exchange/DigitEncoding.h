#pragma once
// The two digit alphabets of the exchange.  Port numbers arrive as one-byte
// codes of the port-number alphabet; numbers the gateway dials for the
// call-centre plug-in leave as codes of the dial alphabet.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantor {

// Code to character; code 20 is the end of the text.
inline constexpr std::string_view PortNumberAlphabet = ".1234567890*#FPSABCD";
// Character to code: the code is the 1-based position of the character's
// first occurrence; characters that do not occur get code 0.
inline constexpr std::string_view DialAlphabet = "1234567890*#F,SABCDTW-xxxxxxxx?P";

// Character shown for a port code above 20, which the exchange never should
// send: a visible marker keeps the port distinguishable in logs and in the
// plug-in's list without inventing a digit.
inline constexpr char UnknownPortDigit = '?';

// Decodes at most maxCodes codes (and never more than codes holds).  Stops at
// the first code 0 or 20, so the result never contains '.'.
std::string DecodePortNumber(std::span<const std::uint8_t> codes, std::size_t maxCodes);

// The dial code of one character (0 when it has none).
std::uint8_t DialCode(char c);

// Fills every element of codes: position i gets the code of text[i] while i is
// below the text's length, else 0.  Characters beyond codes.size() are dropped.
void EncodeDialText(std::string_view text, std::span<std::uint8_t> codes);

} // namespace vantor
