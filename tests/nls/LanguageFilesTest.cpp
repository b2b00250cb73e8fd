// The language files shipped with the gateway: every one parses, defines
// every number and Tag the gateway uses, matches its UTF-8 source, and
// keeps the blanks of the texts that other text is appended to.
#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "nls/LanguageTable.h"
#include "toolkit/Cp1250.h"
#include "toolkit/IniFile.h"
#include "toolkit/Strings.h"

namespace vantor {
namespace {

const char* const kCodes[] = {"Cz", "De", "Eng", "Spa"};

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
}

// Numbered texts the gateway looks up; 118 and 120 are not used.
std::vector<int> TextyNumbers() {
    std::vector<int> v = Range(100, 117);
    v.push_back(119);
    for (int i : Range(121, 158)) v.push_back(i);
    v.push_back(200);
    return v;
}
// Names of the exchange commands and sub-commands in the traffic log.
const std::vector<int> kCommandNames = {1000, 1001, 1002, 1004, 1005, 1013, 1014, 1018, 1033, 1034,
                                        1036, 1038, 2001, 2014, 2017, 2022, 2024, 2025, 2040, 2047};
const std::vector<int> kTextNumbers = {100, 101, 102, 103, 199, 200, 299, 300, 301, 399};
// Tags of the main window, its button and every dialog and control.
const std::vector<int> kCommonTags = {0,    1,    100,  101,  102,  1000, 1001, 1002, 2000, 3000,
                                      3200, 3201, 3202, 3203, 3204, 3205, 3300, 3301, 4000, 4001,
                                      4002, 4003, 4004, 4005, 5000, 5001, 5002, 5003, 5004, 5005,
                                      5006, 5007, 5008, 5100, 5101, 5102, 5103, 5104, 6000, 6001};
const std::vector<int> kMenuTags = {100, 101, 102, 103, 200, 201, 202, 203, 204, 205, 206, 210,
                                    211, 212, 230, 231, 300, 301, 302, 303, 304, 400, 401};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Built(const std::string& code) {
    return (std::filesystem::path(VANTOR_BUILD_DIR) / ("TVantor." + code)).string();
}
std::string Source(const std::string& code) {
    return std::string(VANTOR_SOURCE_DIR) + "/lang/TVantor." + code + ".utf8";
}

TEST(ShippedLanguageFiles, AreTheSourcesInWindows1250) {
    for (const char* code : kCodes) {
        SCOPED_TRACE(code);
        std::string source = ReadAll(Source(code));
        const std::string built = ReadAll(Built(code));
        ASSERT_FALSE(source.empty());
#ifdef _WIN32
        // The services dialog's page bears the name of Windows' manager.
        const std::size_t tab = source.find("\n1=systemd\n");
        ASSERT_NE(tab, std::string::npos);
        source.replace(tab + 1, 9, "1=Windows NT");
#endif
        ASSERT_FALSE(built.empty()) << "build the vantor_languages target first";
        EXPECT_EQ(built, Cp1250FromUtf8(source));
        EXPECT_EQ(Utf8FromCp1250(built), source) << "a character has no Windows-1250 code";
    }
}

TEST(ShippedLanguageFiles, DefineEveryNumberAndTagTheGatewayUses) {
    for (const char* code : kCodes) {
        SCOPED_TRACE(code);
        TLanguageTable table({VANTOR_BUILD_DIR});
        table.SetLanguage(code);
        ASSERT_EQ(table.FilePath(), Built(code));
        table.LoadTexts();
        table.Close();
        for (int n : TextyNumbers()) EXPECT_NE(table.Msg(n), "") << "Texty " << n;
        for (int n : kCommandNames) EXPECT_NE(table.Msg(n), "") << "Texty " << n;
        // Fetched as the callers fetch them: runs from x00 to x99.
        for (int n : kTextNumbers) EXPECT_NE(table.Text(n), "") << "Text " << n;
        EXPECT_FALSE(table.IsOpen());

        IniDocument doc = IniDocument::Parse(ReadAll(Built(code)));
        for (int tag : kCommonTags) {
            auto v = doc.Value("Common", IntToStr(tag));
            EXPECT_TRUE(v && !v->empty()) << "Common " << tag;
        }
        for (int tag : kMenuTags) {
            auto v = doc.Value("Menu", IntToStr(tag));
            EXPECT_TRUE(v && !v->empty()) << "Menu " << tag;
        }
    }
}

TEST(ShippedLanguageFiles, AllLanguagesHaveTheSameKeys) {
    const IniDocument reference = IniDocument::Parse(ReadAll(Built("Cz")));
    for (const char* section : {"Common", "Menu", "Texty", "Text"}) {
        const auto keys = reference.Keys(section);
        const std::set<std::string> expected(keys.begin(), keys.end());
        EXPECT_EQ(expected.size(), keys.size()) << section << " has a key twice";
        for (const char* code : kCodes) {
            SCOPED_TRACE(std::string(code) + " " + section);
            const auto other = IniDocument::Parse(ReadAll(Built(code))).Keys(section);
            EXPECT_EQ(std::set<std::string>(other.begin(), other.end()), expected);
            for (const auto& key : other) EXPECT_TRUE(ParseInt32(key).has_value()) << key;
        }
    }
}

TEST(ShippedLanguageFiles, TextsFollowedByAValueEndInABlankOrMarkTheirValues) {
    // These texts are followed directly by a number, a settings string or a
    // version.
    const std::vector<int> prefixes = {105, 112, 124, 125, 131, 138, 139, 140};
    for (const char* code : kCodes) {
        SCOPED_TRACE(code);
        TLanguageTable table({VANTOR_BUILD_DIR});
        table.SetLanguage(code);
        table.LoadTexts();
        table.Close();
        for (int n : prefixes) {
            const std::string text = table.Msg(n);
            ASSERT_FALSE(text.empty()) << n;
            EXPECT_EQ(text.back(), ' ') << "Texty " << n;
        }
        // Texts with values mark where each one goes, in every language.
        const std::pair<int, int> marks[] = {{148, 1}, {149, 2}, {150, 2}, {151, 4}, {152, 1},
                                             {154, 1}, {155, 2}, {156, 2}, {158, 3}};
        for (auto [n, count] : marks)
            for (int m = 1; m <= count; ++m)
                EXPECT_NE(table.Msg(n).find("%" + std::to_string(m)), std::string::npos) << n;
        table.Text(300);
        EXPECT_EQ(table.Text(301).back(), ' ');
        EXPECT_EQ(table.Text(399).back(), ' ');
        // The command names are also read by plain profile readers, which do
        // not take quotes off.
        for (int n : kCommandNames) EXPECT_NE(table.Msg(n).front(), '"') << n;
    }
}

} // namespace
} // namespace vantor
