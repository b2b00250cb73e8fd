// The configuration reader's defaults and ranges, the writer's failures and
// prefix substitution.
#include "core/Configuration.h"
#include "core/PrefixTable.h"
#include "core/Settings.h"
#include "nls/LanguageTable.h"
#include "toolkit/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Recorders.h"
#include "TempFolder.h"

namespace vantor {
namespace {

using namespace vantor::test;

class ConfigTest : public ::testing::Test {
protected:
    ConfigTest() : dir(folder.Path()), path((dir / "vantor.INI").string()) {
        english.SetLanguage("Eng");
        english.LoadTexts();
        english.Close();
    }
    void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    Settings Read(std::vector<std::string>* warningsOut = nullptr) {
        TIniFile ini(path);
        Settings s;
        PrefixTable p;
        std::vector<std::string> w;
        ConfigReader(ini, english).ReadSettings(s, p, w);
        prefixes = p;
        if (warningsOut) *warningsOut = w;
        return s;
    }
    TLanguageTable english{{VANTOR_BUILD_DIR}};
    TempFolder folder;
    std::filesystem::path dir;
    std::string path;
    PrefixTable prefixes;
};

TEST_F(ConfigTest, MissingFileGivesEveryDefault) {
    std::vector<std::string> warnings;
    const Settings s = Read(&warnings);
    const Settings d;
    EXPECT_EQ(s.Port, "COM2:19200,N,8,1");
    EXPECT_EQ(s.IPPort, 1234);
    EXPECT_EQ(s.Com_In, 1);
    EXPECT_EQ(s.Com_LocOut, 0);
    EXPECT_EQ(s.MaxErrorTick, 600);
    EXPECT_EQ(s.UctFile, "DATA.NEW");
    EXPECT_EQ(s.MaxClients, 1000);
    EXPECT_EQ(s.MSGInterval, d.MSGInterval);
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(prefixes.entries().empty());
    EXPECT_EQ(ConfigReader(TIniFile(path), english).ReadLanguage(), "Eng");
}

TEST_F(ConfigTest, GarbageAndHandWrittenValues) {
    Write("garbage line\n[log]\ncom_in=0\nCOM_LOCOUT=2\nTCP/IP_In=yes\n[Timer]\nMaxTick=$10\n"
          "ANInterval=12abc\nSendOnReply=-1\n[Set]\nUctFile=" +
          std::string(150, 'u') + "\nIPPort=70000\nMaxClients=0");
    std::vector<std::string> warnings;
    const Settings s = Read(&warnings);
    EXPECT_EQ(s.Com_In, 0);
    EXPECT_EQ(s.Com_LocOut, 1); // any non-zero number is true
    EXPECT_EQ(s.TCPIP_In, 1);   // not a number: the default
    EXPECT_EQ(s.MaxTick, 16);
    EXPECT_EQ(s.ANInterval, 600);
    EXPECT_EQ(s.UctFile.size(), SettingsTextCapacity);
    EXPECT_EQ(s.IPPort, 1234);
    EXPECT_EQ(s.SendOnReply, 0);
    EXPECT_EQ(s.MaxClients, 1000);
    // Each refused value is named, in key order, so the log says what to fix.
    ASSERT_EQ(warnings.size(), 4u);
    EXPECT_NE(warnings[0].find("IPPort"), std::string::npos);
    EXPECT_EQ(warnings[1], "[Timer] ANInterval=12abc is not a number, using 600");
    EXPECT_EQ(warnings[2], "[Timer] SendOnReply=-1 is out of range 0..1, using 0");
    EXPECT_EQ(warnings[3], "[Set] MaxClients=0 is out of range 1..1000000, using 1000");
}

TEST_F(ConfigTest, PrefixLinesKeepFileOrderAndTheFirstMatchWins) {
    Write("[Prefix]\r\n0=\r\n00=9\r\n0420=\r\n");
    Read();
    EXPECT_EQ(prefixes.Substitute("004212345"), "04212345");
    EXPECT_EQ(prefixes.Substitute("12345"), "12345");
    EXPECT_EQ(
        PrefixTable(std::vector<PrefixTable::Entry>{{"0", "420"}, {"00", ""}}).Substitute("00123"),
        "4200123");
    EXPECT_EQ(PrefixTable(std::vector<PrefixTable::Entry>{{"", "9"}}).Substitute("55"), "955");
    EXPECT_EQ(PrefixTable(std::vector<PrefixTable::Entry>{{"12", "x"}}).Substitute("1"), "1");
}

TEST_F(ConfigTest, WriterReportsAFailedWriteAndGoesOn) {
    RecordingLog log;
    TIniFile ini(path);
    EXPECT_TRUE(ConfigWriter(ini, log).Write("Set", "Lang", "Cz"));
    EXPECT_EQ(ini.ReadString("Set", "Lang", ""), "Cz");
    EXPECT_TRUE(log.lines.empty());
    TIniFile broken((dir / "missing-folder" / "vantor.INI").string());
    EXPECT_FALSE(ConfigWriter(broken, log).WriteSwitch("Log", "Com_In", 1));
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].label, "!Err");
}

} // namespace
} // namespace vantor
