// Numbered texts: the cached "Texty" section, the on-demand "Text" section
// with its open/close rule, and how language files of any shape are read.
#include <gtest/gtest.h>

#include <string>

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
    EXPECT_EQ(table.FilePath(), dir.Path() + "/TVantor.Eng");
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

TEST(LanguageTexts, MissingFileGivesEmptyTexts) {
    TempFolder dir;
    dir.Write("TVantor.Eng", "[Texty]\n100=Configuration\n[Text]\n200=Restored\n");
    TLanguageTable table({dir.Path()});
    table.SetLanguage("De");
    table.LoadTexts();
    table.Close();
    EXPECT_EQ(table.Msg(100), "");
    EXPECT_EQ(table.Text(200), "");
    EXPECT_EQ(table.Text(299), "");
    EXPECT_EQ(table.FilePath(), "");
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
    EXPECT_EQ(table.FilePath(), data + "/TVantor.Eng");
    table.SetLanguage("De");
    table.LoadTexts();
    table.Close();
    EXPECT_EQ(table.Msg(100), "beside the program");
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
        EXPECT_EQ(table.Msg(100), "");
        EXPECT_EQ(table.FilePath(), "");
    }
}

} // namespace
} // namespace vantor
