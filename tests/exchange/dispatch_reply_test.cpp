// Reply acceptance and the handling of each kind of reply.
#include <gtest/gtest.h>

#include "dispatch_fixture.h"

using namespace vantor;
using namespace vantor::testing_fakes;

TEST_F(DispatchTest, FramesAreTakenOnlyWhileAReplyIsAwaited) {
    for (LinkState s : {LinkState::Idle, LinkState::LinkDown, LinkState::Resend}) {
        link.Await(3, 'C', {13}, 0, s);
        link.lost = true;
        Reply(3, {0, 1, 2});
        EXPECT_TRUE(link.pending.has_value());
        EXPECT_TRUE(link.lost);
        EXPECT_EQ(link.State(), s);
    }
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(mail.traps.empty());
}

TEST_F(DispatchTest, AnyFrameWhileWaitingReportsRecoveryButOnlyTheMatchingOneEndsTheWait) {
    link.Await(3, 'X', {14});
    link.lost = true;
    Reply(4, {0, 1}); // another sequence number
    EXPECT_FALSE(link.lost);
    EXPECT_EQ(mail.traps, std::vector<int>{2});
    EXPECT_EQ(log.Count("-OK-", "[117]"), 1);
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    EXPECT_TRUE(link.pending.has_value());

    Reply(3, {0, 1});
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_FALSE(link.pending.has_value());
    EXPECT_EQ(mail.traps.size(), 1u);
    EXPECT_EQ(log.Count("-OK-", "[117]"), 1);
}

TEST_F(DispatchTest, SequenceWithoutRecordIsIgnored) {
    link.Await(9, 'C', {13});
    link.pending.reset(); // already answered once
    Reply(9, {0});
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    EXPECT_TRUE(consumers.cached.empty());
}

TEST_F(DispatchTest, QueryRepliesGoToTheCacheByKind) {
    Answer('x', {0, 0, 0}, {0, 40, 0});
    Answer('A', {0, 0, 0}, {0, 22, 0});
    Answer('X', {0}, {14});
    Answer('T', {0, 5}, {0, 24, 5});
    ASSERT_EQ(consumers.cached.size(), 2u);
    EXPECT_EQ(consumers.cached[0].first, (Bytes{0, 40, 0}));
    EXPECT_EQ(consumers.cached[1].first, (Bytes{0, 24, 5}));
    EXPECT_EQ(consumers.cached[1].second, (Bytes{0, 5}));

    settings.MaxCache = 0;
    Answer('x', {0, 0, 0}, {0, 40, 0});
    EXPECT_EQ(consumers.cached.size(), 2u);
    for (char kind : {'#', 'A', 'F', 'U', 'X', 'Y'})
        EXPECT_FALSE(ReplyDispatcher::KindIsCached(kind));
    for (char kind : {'C', 'I', 'M', 'S', 'T', 'V', 'p', 's', 'x', 'Q'})
        EXPECT_TRUE(ReplyDispatcher::KindIsCached(kind));
}

TEST_F(DispatchTest, RelayedReplyGoesToItsClient) {
    link.Await(2, 'T', {2}, 41, LinkState::AwaitingClientReply);
    Reply(2, {0, 0x10, 0x20});
    ASSERT_EQ(consumers.replies.size(), 1u);
    EXPECT_EQ(consumers.replies[0].handle, 41);
    EXPECT_EQ(consumers.replies[0].firstByte, 2);
    EXPECT_EQ(consumers.replies[0].reply, (Bytes{0, 0x10, 0x20}));
    EXPECT_EQ(link.State(), LinkState::Idle);
}

TEST_F(DispatchTest, ConfigurationAndCounterRepliesAreLoggedByTheirSwitches) {
    settings.Com_In = 0;
    Answer('C', {0, 1, 2, 3});
    EXPECT_TRUE(log.lines.empty());
    settings.Com_In = 1;
    Answer('C', {0, 1, 2, 3});
    Answer('C', {9});
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{"<COM", "[100]"}, {"<COM", "[100] [138]9"}}));

    log.lines.clear();
    settings.Com_PureIn = 0;
    Answer('M', {0});
    Answer('M', {3});
    settings.Com_PureIn = 1;
    Answer('M', {0});
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{"<COM", "[131]3"}, {"<COM", "[132]"}}));
}

TEST_F(DispatchTest, InfoCheckStatuses) {
    // Configuration byte 4 = 2 and byte 5 = 0: the exchange is the right one.
    store.DecodeReply('C', Bytes{0, 0, 0, 0, 0, 2, 0});
    settings.Com_In = 0;
    link.Timer(LinkTimer::Tick).SetEnabled(true);
    Answer('I', {0, 0x3, 0x0A, 0, 0, 0, 0, 0});
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(boxes.empty());
    settings.Com_In = 1;
    Answer('I', {0, 0x3, 0x0A, 0, 0, 0, 0, 0});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[101] [145]"}));

    // An exchange error: logged whatever Com_In says.
    settings.Com_In = 0;
    Answer('I', {4});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[101] [138]4"}));
    EXPECT_TRUE(Enabled(LinkTimer::Tick));
}

TEST_F(DispatchTest, WrongExchangeStopsPollingWithAStopBox) {
    store.DecodeReply('C', Bytes{0, 0, 0, 0, 0, 1, 0}); // byte 4 is not 2
    link.Timer(LinkTimer::Tick).SetEnabled(true);
    Answer('I', {0, 0xB, 0x05, 0, 3, 0, 0, 0});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, 0x10u);
    EXPECT_EQ(boxes[0].caption, "[137]");
    EXPECT_EQ(boxes[0].text, "[139]1.00    [140]B.05\n[141]");
    EXPECT_FALSE(Enabled(LinkTimer::Tick));
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[101][142]"}));
    EXPECT_EQ(link.State(), LinkState::Idle);
}

TEST_F(DispatchTest, DoubtfulExchangeAsksAndGoesOnOnlyOnYes) {
    store.DecodeReply('C', Bytes{0, 0, 0, 0, 0, 2, 1}); // byte 5 is not 0
    link.Timer(LinkTimer::Tick).SetEnabled(true);
    boxAnswer = 7; // No
    Answer('I', {0, 0x12, 0xAB, 0, 0, 0, 0, 0});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, 0x24u);
    EXPECT_EQ(boxes[0].caption, "[123]");
    EXPECT_EQ(boxes[0].text, "[139]1.00    [140]12.AB\n[143]");
    EXPECT_FALSE(Enabled(LinkTimer::Tick));
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[101][144]"}));

    boxAnswer = 6; // Yes
    Answer('I', {0, 0x12, 0xAB, 0, 0, 0, 0, 0});
    EXPECT_TRUE(Enabled(LinkTimer::Tick));
}

TEST_F(DispatchTest, PortListStartsThePollTimersOnlyWhenItListsPorts) {
    mail.bound = true;
    Answer('V', {0, 0, 0}); // the header alone lists nothing
    EXPECT_FALSE(Enabled(LinkTimer::MSG));
    EXPECT_FALSE(Enabled(LinkTimer::UR));
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[105]0"}));
    Answer('V', {5, 0, 0, 1, 2, 0, 0});
    EXPECT_FALSE(Enabled(LinkTimer::SMS));
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[105]5"}));

    Answer('V', {0, 0, 0, 1, 2, 0, 0});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[106]"}));
    EXPECT_EQ(store.PortCount(), 1);
    EXPECT_EQ(store.Port(0).Number(), "12");
    EXPECT_TRUE(Enabled(LinkTimer::MSG));
    EXPECT_TRUE(Enabled(LinkTimer::SMS));
    EXPECT_TRUE(Enabled(LinkTimer::UR));
    EXPECT_FALSE(Enabled(LinkTimer::AN)); // no plug-in
}

TEST_F(DispatchTest, PortListWithoutMailOrAccountingAndWithThePlugIn) {
    FakePlugin plugin;
    dispatcher.SetPluginFeed(&plugin);
    settings.ReadUct = 0;
    Answer('V', {0, 0, 0}); // even a failed port list starts the AN poll for the plug-in
    EXPECT_TRUE(Enabled(LinkTimer::AN));
    Answer('V', {0, 0, 0, 1, 2, 0, 0});
    EXPECT_FALSE(Enabled(LinkTimer::MSG));
    EXPECT_FALSE(Enabled(LinkTimer::UR));
}

TEST_F(DispatchTest, LineStatesFeedThePlugInAndAskForCallerData) {
    FakePlugin plugin;
    store.SetPluginFeed(&plugin);
    dispatcher.SetPluginFeed(&plugin);
    // First reply: nothing kept yet, so the plug-in gets nothing.
    Answer('A', {0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0});
    EXPECT_TRUE(plugin.stateCalls.empty());
    // Line 1 enters state 8 with bit 0 set; line 0 is in state 3 with flags.
    Answer('A', {0, 0, 0, 3, 0, 0, 0xFF, 8, 0, 0, 1});
    EXPECT_EQ(link.queued, (std::vector<std::pair<char, std::int32_t>>{{'Y', 1}}));
    ASSERT_EQ(plugin.stateCalls.size(), 1u);
    EXPECT_EQ(plugin.stateCalls[0].first, 2);
    EXPECT_EQ(plugin.stateCalls[0].second, (Bytes{3, 0, 0, 0, 8, 0, 0, 1}));
    // The store keeps the reply with the cleared flags.
    EXPECT_EQ(store.ANSnapshot()[6], 0);
    // Staying in state 8 with the bit set asks for nothing more.
    Answer('A', {0, 0, 0, 3, 0, 0, 0, 8, 0, 0, 1});
    EXPECT_EQ(link.queued.size(), 1u);
    EXPECT_EQ(log.Count("<COM", "[102]"), 3);
}

TEST_F(DispatchTest, NegativeAcknowledgementIsTheOnlyByteThatCounts) {
    dispatcher.HandleChar(0x41);
    dispatcher.HandleChar(0xE1);
    EXPECT_EQ(link.naks, 0);
    dispatcher.HandleChar(0xE0);
    EXPECT_EQ(link.naks, 1);
}

TEST_F(DispatchTest, ShortOrEmptyFramesDoNoHarm) {
    link.Await(1, 'S', {0, 1, 0});
    link.lost = true;
    dispatcher.HandlePacket(0, nullptr); // an empty frame still proves the link
    EXPECT_FALSE(link.lost);
    EXPECT_TRUE(link.pending.has_value());
    Reply(1, {}); // sequence byte alone
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_TRUE(link.sent.empty());
    for (char kind : {'A', 'C', 'I', 'M', 'U', 'V', 'X', 'p', 's', 'x', 'F', 'Y', '#'}) {
        Answer(kind, {});
        EXPECT_EQ(link.State(), LinkState::Idle) << kind;
    }
}
