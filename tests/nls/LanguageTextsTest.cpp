// Numbered texts: the cached "Texty" section, the on-demand "Text" section
// with its open/close rule, and how language files of any shape are read.
#include <gtest/gtest.h>

#include <filesystem>

#include <string>
#include <vector>

#include "support/TempFolder.h"
#include "nls/LanguageTable.h"

namespace vantor {
namespace {

using test::TempFolder;

TEST(LanguageTexts, MsgComesFromTheCacheFilledByLoadTexts) {
    TempFolder dir;
    dir.Write("TVantor.Eng",
              "[Texty]\n116=Link lost\n117=Link restored\n[Text]\n116=other section\n");
    TLanguageTable table({dir.Path()});
    EXPECT_EQ(table.Language(), "Cz");

    table.SetLanguage("Eng");
    EXPECT_EQ(table.Msg(116), "") << "nothing is cached before LoadTexts";
    table.LoadTexts();
    table.Close();
    EXPECT_EQ(table.Msg(116), "Link lost");
    EXPECT_EQ(table.Msg(117), "Link restored");
    EXPECT_EQ(table.Msg(118), "");
    EXPECT_EQ(table.FilePath(), (std::filesystem::path(dir.Path()) / "TVantor.Eng").string());
}

TEST(LanguageTexts, LoadTextsKeepsOldEntriesAndDropsEmptiedOnes) {
    TempFolder dir;
    dir.Write("TVantor.Eng", "[Texty]\n100=Configuration\n101=Identification\n102=Line states\n");
    dir.Write("TVantor.De", "[Texty]\n100=Konfiguration\n101=\n");
    TLanguageTable table({dir.Path()});
    table.SetLanguage("Eng");
    table.LoadTexts();
    table.SetLanguage("De");
    table.LoadTexts();
    table.Close();

    EXPECT_EQ(table.Msg(100), "Konfiguration");
    EXPECT_EQ(table.Msg(101), "") << "an empty value removes the entry";
    EXPECT_EQ(table.Msg(102), "Line states") << "a key the new file lacks keeps its old text";
    // The list handed to the plug-in holds the entries in the order they were made.
    ASSERT_EQ(table.Texts().Count(), 2);
    EXPECT_EQ(table.Texts()[0], "100=Konfiguration");
    EXPECT_EQ(table.Texts()[1], "102=Line states");
}

TEST(LanguageTexts, TextOpensOnHundredsAndClosesOnNinetyNines) {
    TempFolder dir;
    dir.Write("TVantor.Cz", "[Text]\n100=Internet\n101=SMS\n199=ZModem\n");
    TLanguageTable table({dir.Path()});

    EXPECT_EQ(table.Text(100), "Internet");
    EXPECT_TRUE(table.IsOpen());
    // The run reads the file once: a change on disk in the middle is not seen.
    dir.Write("TVantor.Cz", "[Text]\n100=Internet 2\n101=SMS 2\n199=ZModem 2\n");
    EXPECT_EQ(table.Text(101), "SMS");
    EXPECT_TRUE(table.IsOpen());
    EXPECT_EQ(table.Text(199), "ZModem");
    EXPECT_FALSE(table.IsOpen());

    // The next run opens the file afresh.
    EXPECT_EQ(table.Text(100), "Internet 2");
    EXPECT_EQ(table.Text(101), "SMS 2");
    EXPECT_EQ(table.Text(199), "ZModem 2");
    EXPECT_FALSE(table.IsOpen());

    // A number outside a run is still read, without leaving the file open.
    EXPECT_EQ(table.Text(101), "SMS 2");
    EXPECT_FALSE(table.IsOpen());
    EXPECT_EQ(table.Text(102), "");
}

TEST(LanguageTexts, WithoutAnyFileTextsAreEmptyAndAWarningSaysSo) {
    TempFolder dir;
    TLanguageTable table({dir.Path()});
    std::vector<std::string> warnings;
    table.SetWarningSink([&](const std::string& w) { warnings.push_back(w); });
    table.SetLanguage("De");
    table.LoadTexts();
    table.Close();
    EXPECT_EQ(table.Msg(100), "");
    EXPECT_EQ(table.Text(200), "");
    EXPECT_EQ(table.Text(299), "");
    EXPECT_EQ(table.FilePath(), "");
    ASSERT_EQ(warnings.size(), 1u) << "the same warning is given once";
    EXPECT_NE(warnings[0].find("TVantor.De: not found in " + dir.Path()), std::string::npos)
        << warnings[0];
}

// Which file a language is read from when files are missing or broken: the
// same language further down the folder list (the installed files), then
// English, so that log lines never go blank; each skip is a warning.
TEST(LanguageTexts, MissingOrTextlessFilesFallBackToTheInstalledOnes) {
    const std::string texts = "[Texty]\n100=";
    struct Case {
        const char* legend;
        std::vector<std::pair<std::string, std::string>> files; // relative path, content
        std::string used;                                       // relative path, or "" for none
        std::string warning;                                    // part of it, or "" for none
    };
    const std::string huge = texts + std::string(TLanguageTable::MaxFileSize, 'x') + "\n";
    const Case cases[] = {
        {"the gateway's own file wins when it is good",
         {{"gateway/TVantor.De", texts + "own"}, {"data/TVantor.De", texts + "installed"}},
         "gateway/TVantor.De",
         ""},
        {"missing beside the gateway is normal: the installed one, silently",
         {{"data/TVantor.De", texts + "installed"}},
         "data/TVantor.De",
         ""},
        {"a file without texts does not hide the installed one",
         {{"gateway/TVantor.De", "[Common]\n1=Ausblenden\n"}, {"data/TVantor.De", texts + "x"}},
         "data/TVantor.De",
         "gateway/TVantor.De holds no texts"},
        {"a file above the size limit is refused",
         {{"gateway/TVantor.De", huge}, {"data/TVantor.De", texts + "x"}},
         "data/TVantor.De",
         "gateway/TVantor.De is larger than 1 MiB"},
        {"no file of the language anywhere: English",
         {{"data/TVantor.Eng", texts + "english"}},
         "data/TVantor.Eng",
         "TVantor.De: not found in "},
        {"only broken files of the language: English",
         {{"gateway/TVantor.De", ""}, {"data/TVantor.Eng", texts + "english"}},
         "data/TVantor.Eng",
         "gateway/TVantor.De holds no texts"},
        {"nothing with texts: the language's own file still gives its captions",
         {{"gateway/TVantor.De", "[Common]\n1=Ausblenden\n"}},
         "gateway/TVantor.De",
         "no language file with texts"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        TempFolder dir;
        const std::vector<std::string> folders{dir.Sub("gateway"), dir.Sub("data")};
        for (const auto& [path, content] : c.files) dir.Write(path, content);
        TLanguageTable table(folders);
        std::vector<std::string> warnings;
        table.SetWarningSink([&](const std::string& w) { warnings.push_back(w); });
        table.SetLanguage("De");
        table.Close();
        table.SetLanguage("De"); // a second read warns no more
        table.Close();
        // (the system's separators: backslashes on Windows)
        const std::string used =
            (std::filesystem::path(dir.Path()) / c.used).make_preferred().string();
        EXPECT_EQ(table.FilePath(), c.used.empty() ? "" : used);
        if (std::string(c.warning).empty()) {
            EXPECT_TRUE(warnings.empty()) << warnings.front();
        } else {
            ASSERT_EQ(warnings.size(), 1u);
            const std::string warning =
                std::filesystem::path(c.warning).make_preferred().string();
            EXPECT_NE(warnings[0].find(warning), std::string::npos) << warnings[0];
            EXPECT_NE(warnings[0].find("using " + used), std::string::npos)
                << warnings[0];
        }
    }
}

TEST(LanguageTexts, LineEndsAndMissingFinalNewlineReadAlike) {
    const std::string variants[] = {
        "[Texty]\n124=Serial port opened\n[Text]\n300=Re-read\n",
        "[Texty]\r\n124=Serial port opened\r\n[Text]\r\n300=Re-read\r\n",
        "[Texty]\r\n124=Serial port opened\r\n[Text]\r\n300=Re-read",
        "[texty]\n  124 =  Serial port opened  \n[TEXT]\n300=Re-read",
    };
    for (const std::string& content : variants) {
        SCOPED_TRACE(content);
        TempFolder dir;
        dir.Write("TVantor.Eng", content);
        TLanguageTable table({dir.Path()});
        table.SetLanguage("Eng");
        table.LoadTexts();
        table.Close();
        EXPECT_EQ(table.Msg(124), "Serial port opened");
        EXPECT_EQ(table.Text(300), "Re-read");
    }
}

TEST(LanguageTexts, QuotedValuesKeepTheirBlanks) {
    TempFolder dir;
    dir.Write("TVantor.Eng",
              "[Texty]\n124=\"Serial port opened: \"\n138=' error '\n139=\"unbalanced\n140=\"\"\n"
              "[Text]\n301=\"Mailbox read failed, code \"\n");
    TLanguageTable table({dir.Path()});
    table.SetLanguage("Eng");
    table.LoadTexts();
    table.Close();
    EXPECT_EQ(table.Msg(124) + "COM2:19200,N,8,1", "Serial port opened: COM2:19200,N,8,1");
    EXPECT_EQ(table.Msg(138), " error ");
    EXPECT_EQ(table.Msg(139), "\"unbalanced") << "a lone quote is part of the text";
    EXPECT_EQ(table.Msg(140), "");
    EXPECT_EQ(table.Text(301), "Mailbox read failed, code ");
}

TEST(LanguageTexts, GarbageAndOverlongValuesDoNotHurt) {
    std::string content = "\xEF\xBB\xBFgarbage without equals\n[unclosed section\n=no key\n";
    content += std::string("\0\x01\x02[]]==\n", 10);
    content += "[Texty]\n100=Good\nnot a line\n101=" + std::string(100000, 'x') + "\n";
    content += "102=a=b=c\n[Texty]\n100=Second section is ignored\n103";
    TempFolder dir;
    dir.Write("TVantor.Eng", content);
    TLanguageTable table({dir.Path()});
    table.SetLanguage("Eng");
    table.LoadTexts();
    table.Close();
    EXPECT_EQ(table.Msg(100), "Good");
    EXPECT_EQ(table.Msg(101), std::string(TLanguageTable::MaxValueLength, 'x'));
    EXPECT_EQ(table.Msg(102), "a=b=c");
    EXPECT_EQ(table.Msg(103), "");
    EXPECT_EQ(table.Text(100), "");
}

TEST(LanguageTexts, FoldersAreSearchedInOrder) {
    TempFolder dir;
    const std::string gateway = dir.Sub("gateway");
    const std::string data = dir.Sub("data");
    dir.Write("data/TVantor.Eng", "[Texty]\n100=installed\n");
    dir.Write("data/TVantor.De", "[Texty]\n100=installiert\n");
    dir.Write("gateway/TVantor.De", "[Texty]\n100=beside the program\n");
    // A directory of the file's name is not a language file.
    dir.Sub("gateway/TVantor.Eng");

    TLanguageTable table({gateway, data});
    table.SetLanguage("Eng");
    table.LoadTexts();
    EXPECT_EQ(table.Msg(100), "installed");
    EXPECT_EQ(table.FilePath(), (std::filesystem::path(data) / "TVantor.Eng").string());
    table.SetLanguage("De");
    table.LoadTexts();
    table.Close();
    EXPECT_EQ(table.Msg(100), "beside the program");
    // The code in any letter case finds its file and is spelt as the file is.
    table.SetLanguage("dE");
    table.Close();
    EXPECT_EQ(table.FilePath(), (std::filesystem::path(gateway) / "TVantor.De").string());
    EXPECT_EQ(table.Language(), "De");
}

TEST(LanguageTexts, CodeCannotReachOutsideTheFolders) {
    TempFolder dir;
    const std::string folder = dir.Sub("lang");
    dir.Sub("lang/TVantor.x");
    dir.Write("secret", "[Texty]\n100=not a language file\n");
    dir.Write("lang/TVantor.Eng", "[Texty]\n100=not this one either\n");
    TLanguageTable table({folder});
    for (std::string code : {std::string("x/../../secret"), std::string("Eng\0x", 5)}) {
        table.SetLanguage(code);
        table.LoadTexts();
        table.Close();
        // Such a code names no file: the texts come from the English one.
        EXPECT_EQ(table.Msg(100), "not this one either");
        EXPECT_EQ(table.FilePath(), (std::filesystem::path(folder) / "TVantor.Eng").string());
    }
}

} // namespace
} // namespace vantor
