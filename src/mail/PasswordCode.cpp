#include "mail/PasswordCode.h"

#include <array>
#include <cstdint>

namespace vantor {

namespace {

// 0-9, A-Z, a-z, then "ÁČĎÉĚÍŇÓŘŠŤÚÝŽ" and "áčďéěíňóřšťúýž", then 28 punctuation
// characters (printable ASCII without the two quotes, the backslash and the
// backtick, which configuration editors and shells treat specially).
constexpr std::string_view Reference =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
    "\xC1\xC8\xCF\xC9\xCC\xCD\xD2\xD3\xD8\x8A\x8D\xDA\xDD\x8E"
    "\xE1\xE8\xEF\xE9\xEC\xED\xF2\xF3\xF8\x9A\x9D\xFA\xFD\x9E"
    "!#$%&()*+,-./:;<=>?@[]^_{|}~";

// A fixed shuffle of the same characters in which no character keeps its
// place.
constexpr std::string_view Key = "PsuX|f\xEC\xD2*K.&\x9DohT\xEFJO6\xD8!\x9E"
                                 "aG[M2dI%1cESUFvA\xD3"
                                 "9N\xED]Y\xE8x\xF2i(j+zC\x8E"
                                 "Dr>\x9ARnkV\xDD/\x8A;\xC1~=$g}:7Hm\xE1\xE9)wB\xCDWb\xDA\x8D"
                                 "e\xF8ylt#?\xF3"
                                 "4q0\xC9{,-\xCFQL3\xC8Zp\xFA@\xCC_5<8^\xFD";

static_assert(Reference.size() == 118 && Key.size() == 118);

using Table = std::array<std::uint8_t, 256>;

// Every byte maps to itself, except the characters of `from`, which map to
// the character at the same position in `to`.
constexpr Table MakeTable(std::string_view from, std::string_view to) {
    Table table{};
    for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint8_t>(i);
    // Backwards, so that the first position of a character wins.
    for (std::size_t i = from.size(); i-- > 0;)
        table[static_cast<std::uint8_t>(from[i])] = static_cast<std::uint8_t>(to[i]);
    return table;
}

constexpr Table EncodeTable = MakeTable(Key, Reference);
constexpr Table DecodeTable = MakeTable(Reference, Key);

std::string Substitute(std::string_view text, const Table& table) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(table[static_cast<std::uint8_t>(c)]);
    return out;
}

} // namespace

const std::string_view PasswordReferenceAlphabet = Reference;
const std::string_view PasswordKeyAlphabet = Key;

std::string EncodePassword(std::string_view text) { return Substitute(text, EncodeTable); }

std::string DecodePassword(std::string_view text) { return Substitute(text, DecodeTable); }

} // namespace vantor
