#pragma once
// The substitution that keeps the mail password out of plain sight in the
// configuration file.  Two constant alphabets of the same 118 characters
// (Windows-1250: digits, Latin letters, Czech accented letters, punctuation;
// no blank) pair up position by position.  Encoding replaces a character of
// the key alphabet by the reference character at its position, decoding goes
// the other way; anything outside the alphabets (blanks, control characters,
// letters of other code pages, NUL) passes unchanged, so the length is kept
// and Decode(Encode(x)) == x for every byte string.
//
// This is obscuring, not encryption: it only stops the password being read
// over a shoulder.  The alphabets must never change, or passwords stored by
// earlier installations no longer decode.
#include <string>
#include <string_view>

namespace vantor {

// Reference and key alphabets (Windows-1250 bytes, 118 each).
extern const std::string_view PasswordReferenceAlphabet;
extern const std::string_view PasswordKeyAlphabet;

std::string EncodePassword(std::string_view text);
std::string DecodePassword(std::string_view text);

} // namespace vantor
