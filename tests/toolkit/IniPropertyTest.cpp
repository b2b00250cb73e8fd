#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "toolkit/Cp1250.h"
#include "toolkit/IniFile.h"

namespace vantor {
namespace {

// Random profile texts made of the bytes that matter to the parser.
std::string RandomProfile(std::mt19937& rng) {
    static const std::string alphabet = "[]=; \t\r\n\nabAB01\xE8\x9A";
    static const std::vector<std::string> pieces = {
        "[S]", "[s]\r\n", "k=", "K = v", "\n", "\r\n", ";k=c", "[T]\n", "x=1\n", "garbage\n"};
    std::string text;
    const int n = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int i = 0; i < n; ++i) {
        if (rng() % 2)
            text += pieces[rng() % pieces.size()];
        else
            text += alphabet[rng() % alphabet.size()];
    }
    return text;
}

TEST(IniProperties, ParseKeepsEveryByteAndSetChangesOnlyItsKey) {
    std::mt19937 rng(20261208);
    const std::vector<std::string> sections = {"S", "T", "U"};
    const std::vector<std::string> keys = {"k", "x", "a", "new"};
    for (int round = 0; round < 3000; ++round) {
        const std::string text = RandomProfile(rng);
        IniDocument doc = IniDocument::Parse(text);
        ASSERT_EQ(doc.Serialize(), text);

        const std::string& sec = sections[rng() % sections.size()];
        const std::string& key = keys[rng() % keys.size()];
        const std::string value = (rng() % 3 == 0) ? "" : "v" + std::to_string(round);
        std::vector<std::optional<std::string>> before;
        for (const auto& s : sections)
            for (const auto& k : keys) before.push_back(doc.Value(s, k));

        doc.Set(sec, key, value);
        const std::string written = doc.Serialize();
        // What was written reads back the same way after a fresh parse.
        IniDocument again = IniDocument::Parse(written);
        ASSERT_EQ(again.Value(sec, key).value_or("<none>"), value) << "text: " << text;
        std::size_t i = 0;
        for (const auto& s : sections)
            for (const auto& k : keys) {
                if (!(s == sec && k == key)) {
                    ASSERT_EQ(again.Value(s, k), before[i])
                        << "text: " << text << " set " << sec << "/" << key;
                }
                ++i;
            }
        // An existing value is replaced in place; otherwise lines are only added.
        const auto old = IniDocument::Parse(text).Value(sec, key);
        if (old)
            ASSERT_EQ(written.size(), text.size() - old->size() + value.size()) << "text: " << text;
        else
            ASSERT_GT(written.size(), text.size());
    }
}

TEST(Cp1250Properties, AnyBytesConvertWithoutOverrun) {
    std::mt19937 rng(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(rng() % 24, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        const std::string cp = Cp1250FromUtf8(bytes);
        ASSERT_LE(cp.size(), bytes.size());
        const std::string utf8 = Utf8FromCp1250(bytes);
        // Valid UTF-8 comes out, and Windows-1250 text survives the round trip
        // apart from the unassigned codes.
        std::string expected = bytes;
        for (char& c : expected) {
            const auto b = static_cast<unsigned char>(c);
            if (b == 0x81 || b == 0x83 || b == 0x88 || b == 0x90 || b == 0x98) c = '?';
        }
        ASSERT_EQ(Cp1250FromUtf8(utf8), expected);
    }
}

} // namespace
} // namespace vantor
