// The traffic log's list rules and stamps.
#include "core/TrafficLog.h"
#include "toolkit/Controls.h"
#include "toolkit/VirtualLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

} // namespace
} // namespace vantor
