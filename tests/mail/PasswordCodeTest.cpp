// The stored password's substitution: its two alphabets and both directions.
#include "mail/PasswordCode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace vantor {
namespace {

TEST(PasswordCode, BothAlphabetsHoldTheSame118CharactersOnce) {
    for (std::string_view alphabet : {PasswordReferenceAlphabet, PasswordKeyAlphabet}) {
        ASSERT_EQ(alphabet.size(), 118u);
        EXPECT_EQ(std::set<char>(alphabet.begin(), alphabet.end()).size(), 118u);
    }
    std::string ref(PasswordReferenceAlphabet), key(PasswordKeyAlphabet);
    std::sort(ref.begin(), ref.end());
    std::sort(key.begin(), key.end());
    EXPECT_EQ(ref, key);
    EXPECT_NE(PasswordReferenceAlphabet, PasswordKeyAlphabet);

    int digits = 0, upper = 0, lower = 0, accented = 0, punctuation = 0;
    for (unsigned char c : PasswordReferenceAlphabet) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c >= 'A' && c <= 'Z')
            ++upper;
        else if (c >= 'a' && c <= 'z')
            ++lower;
        else if (c >= 0x80)
            ++accented;
        else if (c > ' ' && c < 0x7F)
            ++punctuation;
    }
    EXPECT_EQ(digits, 10);
    EXPECT_EQ(upper, 26);
    EXPECT_EQ(lower, 26);
    EXPECT_EQ(accented, 28);
    EXPECT_EQ(punctuation, 28);
    // Windows-1250: "Č", "ř", "ž" are in; the blank is not.
    for (char c : {'\xC8', '\xF8', '\x9E'})
        EXPECT_NE(PasswordReferenceAlphabet.find(c), std::string_view::npos);
    EXPECT_EQ(PasswordReferenceAlphabet.find(' '), std::string_view::npos);
}

TEST(PasswordCode, EncodingPermutesTheAlphabetAndDecodingUndoesIt) {
    const std::string alphabet(PasswordReferenceAlphabet);
    std::string encoded = EncodePassword(alphabet);
    EXPECT_EQ(encoded.size(), 118u);
    std::string sorted = encoded, expected = alphabet;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected) << "one-to-one onto the alphabet itself";
    EXPECT_EQ(EncodePassword(PasswordKeyAlphabet), alphabet);
    EXPECT_EQ(DecodePassword(alphabet), PasswordKeyAlphabet);

    // Any byte string, embedded NULs and 8-bit bytes included, comes back.
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::string text(random() % 40, '\0');
        for (char& c : text) c = static_cast<char>(random());
        EXPECT_EQ(DecodePassword(EncodePassword(text)), text);
        EXPECT_EQ(EncodePassword(DecodePassword(text)), text);
    }
}

TEST(PasswordCode, CharactersOutsideTheAlphabetsPassUnchangedInPlace) {
    // Blank, tab, control characters, NUL, the quotes, 8-bit letters of other
    // code pages (ä, ů, ß in Windows-1252/1250) and DEL.
    const std::string outside{' ',  '\t', '\x01', '\0',   '"',    '\'',
                              '\\', '`',  '\xE4', '\xF9', '\xDF', '\x7F'};
    EXPECT_EQ(EncodePassword(outside), outside);
    EXPECT_EQ(DecodePassword(outside), outside);
    const std::string encoded = EncodePassword("ab cd");
    EXPECT_EQ(encoded.size(), 5u);
    EXPECT_EQ(encoded[2], ' ');
    EXPECT_NE(encoded, "ab cd");
}

} // namespace
} // namespace vantor
