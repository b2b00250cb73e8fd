// The traffic log's list rules and stamps, the configuration reader's
// defaults and ranges, prefix substitution and the version text.
#include "core/Configuration.h"
#include "core/PrefixTable.h"
#include "core/TrafficLog.h"
#include "toolkit/Controls.h"
#include "toolkit/IniFile.h"
#include "toolkit/LogWriter.h"
#include "toolkit/VirtualLoop.h"
#include "ui/AboutBox.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace vantor {
namespace {

class TrafficLogTest : public ::testing::Test {
protected:
    TrafficLogTest() { loop.setWallClock(EncodeDateTime(2026, 12, 8, 14, 3, 7, 250)); }
    VirtualLoop loop;
    TComponent owner{nullptr};
    TListBox list{&owner};
    TStatusBar status{&owner};
    TrafficLog log{list, status, loop};
};

TEST_F(TrafficLogTest, LineAndStatusFormat) {
    log.WriteLog("<COM", "text");
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items()[0], "14:03:07.2  <COM text");
    EXPECT_EQ(status.SimpleText(), "<COM     text");
    log.WriteStatus(">COM", "x");
    EXPECT_EQ(status.SimpleText(), ">COM     x");
    EXPECT_EQ(list.Count(), 1);
}

TEST_F(TrafficLogTest, StampsDifferOnlyInTheTenthWithinASecond) {
    log.WriteLog("----", "a");
    loop.advance(40); // 14:03:07.290: same tenth
    log.WriteLog("----", "b");
    loop.advance(20); // .310
    log.WriteLog("----", "c");
    EXPECT_EQ(list.Items()[0].substr(0, 10), list.Items()[1].substr(0, 10));
    EXPECT_EQ(list.Items()[2].substr(0, 10), "14:03:07.3");
}

TEST_F(TrafficLogTest, FollowsTheEndWhileTheLastLineIsSelected) {
    for (int i = 0; i < 3; ++i) log.WriteLog("----", std::to_string(i));
    EXPECT_EQ(list.ItemIndex(), 2);
    for (int i = 0; i < 600; ++i) log.WriteLog("----", std::to_string(i));
    EXPECT_EQ(list.Count(), TrafficLog::MaxLines);
    EXPECT_EQ(list.ItemIndex(), TrafficLog::MaxLines - 1);
    EXPECT_NE(list.Items()[499].find(" 599"), std::string::npos);
}

TEST_F(TrafficLogTest, AnOlderSelectionStaysOnItsLineAsOldLinesGo) {
    for (int i = 0; i < 500; ++i) log.WriteLog("----", "line" + std::to_string(i));
    list.SetItemIndex(10); // line10
    log.WriteLog("----", "new1");
    EXPECT_EQ(list.Count(), 500);
    EXPECT_EQ(list.ItemIndex(), 9);
    EXPECT_NE(list.Items()[9].find("line10"), std::string::npos);
    list.SetItemIndex(0); // the oldest line is selected and then deleted
    log.WriteLog("----", "new2");
    EXPECT_EQ(list.ItemIndex(), -1);
    // Only an empty list without a selection follows the end; this one stays put.
    log.WriteLog("----", "new3");
    EXPECT_EQ(list.ItemIndex(), -1);
}

TEST_F(TrafficLogTest, MirrorSeesEveryLineAsListed) {
    std::vector<std::string> mirrored;
    log.OnLine = [&](const std::string& l) { mirrored.push_back(l); };
    log.WriteLog("!Err", "x");
    ASSERT_EQ(mirrored.size(), 1u);
    EXPECT_EQ(mirrored[0], list.Items()[0]);
}

class RecordingLog : public LogWriter {
public:
    void WriteLog(std::string_view label, std::string_view text) override {
        lines.push_back(std::string(label) + " " + std::string(text));
    }
    void WriteStatus(std::string_view, std::string_view) override {}
    void SetStatusText(std::string_view) override {}
    std::vector<std::string> lines;
};

class ConfigTest : public ::testing::Test {
protected:
    ConfigTest() {
        std::random_device rd;
        dir = std::filesystem::temp_directory_path() / ("vantor-config-" + std::to_string(rd()));
        std::filesystem::create_directories(dir);
        path = (dir / "vantor.INI").string();
    }
    ~ConfigTest() override {
        std::error_code ec;
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir, ec);
    }
    void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    Settings Read(std::vector<std::string>* warningsOut = nullptr) {
        TIniFile ini(path);
        Settings s;
        PrefixTable p;
        std::vector<std::string> w;
        ConfigReader(ini).ReadSettings(s, p, w);
        prefixes = p;
        if (warningsOut) *warningsOut = w;
        return s;
    }
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
    EXPECT_EQ(s.MSGInterval, d.MSGInterval);
    EXPECT_TRUE(warnings.empty());
    EXPECT_TRUE(prefixes.entries().empty());
    EXPECT_EQ(ConfigReader(TIniFile(path)).ReadLanguage(), "Eng");
}

TEST_F(ConfigTest, GarbageAndHandWrittenValues) {
    Write("garbage line\n[log]\ncom_in=0\nCOM_LOCOUT=2\nTCP/IP_In=yes\n[Timer]\nMaxTick=$10\n"
          "ANInterval=12abc\n[Set]\nUctFile=" +
          std::string(150, 'u') + "\nIPPort=70000");
    std::vector<std::string> warnings;
    const Settings s = Read(&warnings);
    EXPECT_EQ(s.Com_In, 0);
    EXPECT_EQ(s.Com_LocOut, 1); // any non-zero number is true
    EXPECT_EQ(s.TCPIP_In, 1);   // not a number: the default
    EXPECT_EQ(s.MaxTick, 16);
    EXPECT_EQ(s.ANInterval, 600);
    EXPECT_EQ(s.UctFile.size(), SettingsTextCapacity);
    EXPECT_EQ(s.IPPort, 1234);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("IPPort"), std::string::npos);
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
    EXPECT_EQ(log.lines[0].rfind("!Err ", 0), 0u);
}

TEST(VersionText, MajorMinorAndLetter) {
    EXPECT_EQ(VersionText(1, 0, 0), "1.00");
    EXPECT_EQ(VersionText(2, 5, 1), "2.05 A");
    EXPECT_EQ(VersionText(2, 5, 26), "2.05 Z");
    EXPECT_EQ(VersionText(3, 12, 0), "3.12");
}

} // namespace
} // namespace vantor
