// The request-reply cycle: sending, waiting, resending, link loss and recovery.
#include <gtest/gtest.h>

#include <stdexcept>

#include "serial/FrameCodec.h"

#include "engine_fixture.h"

using namespace vantor;
using namespace vantor::testing_fakes;

TEST_F(LinkTest, FirstRequestAfterStartIsTheConfigurationUnderSequenceOne) {
    Start();
    Ticks(1);
    ASSERT_EQ(port.packets.size(), 1u);
    EXPECT_EQ(port.packets[0].first, 1);
    EXPECT_EQ(EncodeFrame(port.packets[0].first, port.packets[0].second),
              (Bytes{0xEE, 0x23, 0x02, 0x00, 0x01, 0x0D, 0x03, 0x5F, 0x73, 0x26}));
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    EXPECT_EQ(log.status, ">COM     [100]");
    ASSERT_NE(link.Sent().Find(1), nullptr);
    EXPECT_EQ(link.Sent().Find(1)->kind, 'C');

    // The answer makes the link idle; the next tick sends the next request.
    ReplyLast({0, 1, 2, 3, 4, 2, 0});
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(link.Sent().Count(), 0u);
    Ticks(1);
    EXPECT_EQ(port.packets.back(), (std::pair<std::uint8_t, Bytes>{2, Bytes{2}}));
}

TEST_F(LinkTest, DeadLinkIsReportedOnceAndRetriedAfterEachPause) {
    Start();
    std::vector<int> sentAt;
    for (int tick = 1; tick <= 1400; ++tick) {
        const std::size_t before = port.packets.size();
        Ticks(1);
        if (port.packets.size() != before) sentAt.push_back(tick);
        if (tick == 59) EXPECT_EQ(log.CountLabel("!Err"), 0);
        if (tick == 60) {
            EXPECT_EQ(link.State(), LinkState::LinkDown);
            EXPECT_EQ(log.Count("!Err", "[116]"), 1);
            EXPECT_EQ(mail.traps, std::vector<int>{1});
            EXPECT_FALSE(link.LinkLost()); // set only when the pause ends
        }
    }
    // Sent once and resent five times, 10 ticks apart, with the same number;
    // after 600 paused ticks the initial set starts again.
    EXPECT_EQ(sentAt, (std::vector<int>{1, 11, 21, 31, 41, 51, 661, 671, 681, 691, 701, 711, 1321,
                                        1331, 1341, 1351, 1361, 1371}));
    ASSERT_EQ(port.packets.size(), 18u);
    for (int i = 0; i < 18; ++i) {
        const std::uint8_t cycle = static_cast<std::uint8_t>(1 + i / 6);
        EXPECT_EQ(port.packets[i], (std::pair<std::uint8_t, Bytes>{cycle, Bytes{13}}));
    }
    EXPECT_EQ(log.Count("!Err", "[116]"), 1);
    EXPECT_EQ(mail.traps, std::vector<int>{1});
    EXPECT_TRUE(link.LinkLost());
    EXPECT_EQ(link.Queue().Count(), 3u); // 'I', 'x', 'V' still wait
}

TEST_F(LinkTest, RecoveryIsReportedOnceByAnyFrameWhileWaiting) {
    settings.MaxErrorTick = 5;
    Start();
    Ticks(60 + 5); // six time-outs and the pause
    ASSERT_TRUE(link.LinkLost());
    Ticks(1); // 'C' again under number 2
    ASSERT_EQ(link.State(), LinkState::AwaitingReply);

    Reply(77, {0}); // a stray number: the wait goes on, the recovery is told
    EXPECT_FALSE(link.LinkLost());
    EXPECT_EQ(log.Count("-OK-", "[117]"), 1);
    EXPECT_EQ(mail.traps, (std::vector<int>{1, 2}));
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);

    ReplyLast({0, 0, 0, 0, 0, 2, 0});
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(log.Count("-OK-", "[117]"), 1);
}

TEST_F(LinkTest, LateReplyCompletesTheResentRequestOnce) {
    Start();
    Ticks(1 + 9 + 1); // sent, timed out, resent
    ASSERT_EQ(port.packets.size(), 2u);
    EXPECT_EQ(port.packets[1].first, port.packets[0].first);
    EXPECT_EQ(link.TimeoutCount(), 1);

    Reply(1, {0, 0, 0, 0, 0, 2, 0});
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(log.Count("<COM", "[100]"), 1);
    Ticks(1);                        // 'I' goes out under number 2
    Reply(1, {0, 0, 0, 0, 0, 2, 0}); // a second copy of the old reply
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    EXPECT_EQ(log.Count("<COM", "[100]"), 1);
}

TEST_F(LinkTest, TimeoutsAddUpOverGoodReplies) {
    link.TimerTick().SetEnabled(true);
    for (int i = 0; i < 5; ++i) {
        link.Enqueue('X', 0);
        Ticks(1 + 9 + 1); // sent, one time-out, resent
        ReplyLast({0, 1, 2});
        ASSERT_EQ(link.State(), LinkState::Idle);
        Ticks(30); // quiet time in between
    }
    EXPECT_EQ(link.TimeoutCount(), 5);
    EXPECT_EQ(log.CountLabel("!Err"), 0);
    link.Enqueue('X', 0);
    Ticks(1 + 9);
    EXPECT_EQ(link.State(), LinkState::LinkDown);
    EXPECT_EQ(log.Count("!Err", "[116]"), 1);
}

TEST_F(LinkTest, NegativeAcknowledgementEndsTheWaitAtTheNextTick) {
    link.TimerTick().SetEnabled(true);
    link.Enqueue('X', 0);
    Ticks(1);
    dispatcher.HandleChar(0xE0);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::Resend);
    Ticks(1);
    EXPECT_EQ(port.packets.size(), 2u);
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);

    // While a client waits, it just ends the wait.
    ReplyLast({0});
    const Bytes request{0, 24, 3};
    ASSERT_TRUE(link.LinkIdleAndQueueEmpty());
    link.RecordClientRequest(5, request);
    link.SendPacket(">COM", "q", request);
    link.SetAwaitingClientReply();
    dispatcher.HandleChar(0xE0);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(port.packets.size(), 3u);
}

TEST_F(LinkTest, ClientRequestIsNeverResent) {
    link.TimerTick().SetEnabled(true);
    const Bytes request{0, 24, 3};
    link.EnqueueClientRequest(12, request);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::AwaitingClientReply);
    EXPECT_EQ(LastPayload(), request);
    Ticks(8);
    EXPECT_EQ(link.State(), LinkState::AwaitingClientReply);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::Idle);
    Ticks(20);
    EXPECT_EQ(port.packets.size(), 1u);
    EXPECT_EQ(link.TimeoutCount(), 0);

    // Its reply, when it comes in time, goes to the client.
    link.EnqueueClientRequest(12, request);
    Ticks(1);
    ReplyLast({0, 9});
    ASSERT_EQ(consumers.replies.size(), 1u);
    EXPECT_EQ(consumers.replies[0].handle, 12);
    EXPECT_EQ(consumers.replies[0].reply, (Bytes{0, 9}));
}

TEST_F(LinkTest, SequenceNumberWrapsFrom255ToZero) {
    const Bytes payload{14};
    for (int i = 0; i < 256; ++i) link.SendPacket(">COM", "x", payload);
    EXPECT_EQ(port.packets[0].first, 1);
    EXPECT_EQ(port.packets[254].first, 255);
    EXPECT_EQ(port.packets[255].first, 0);
    EXPECT_EQ(link.SequenceCounter(), 1);

    // Nothing goes out (and nothing is remembered) while the port is closed
    // or the payload is empty.
    link.SendPacket(">COM", "x", {});
    port.open = false;
    link.SendPacket(">COM", "x", payload);
    EXPECT_EQ(port.packets.size(), 256u);
    EXPECT_EQ(link.SequenceCounter(), 1);
}

TEST_F(LinkTest, ClosedPortIdlesButTheTrayIsStillRetried) {
    int attempts = 0;
    link.AddTrayIcon = [&] { return ++attempts == 3; };
    link.SetHideToTrayRequested(true);
    port.open = false;
    Start();
    Ticks(5);
    EXPECT_EQ(attempts, 3);
    EXPECT_FALSE(link.HideToTrayRequested());
    EXPECT_TRUE(port.packets.empty());
    EXPECT_EQ(link.Queue().Count(), 4u);
}

TEST_F(LinkTest, TickDoesNotRunInsideItself) {
    link.TimerTick().SetEnabled(true);
    link.Enqueue('M', 0);
    link.Enqueue('A', 0);
    bool guardSeen = false;
    mail.onPoll = [&] {
        guardSeen = link.TickGuard();
        link.Tick(); // a library that pumps messages during the poll
    };
    Ticks(1);
    EXPECT_TRUE(guardSeen);
    EXPECT_EQ(mail.polls, 1);
    EXPECT_TRUE(port.packets.empty());
    EXPECT_FALSE(link.TickGuard());
    Ticks(1);
    EXPECT_EQ(LastPayload(), (Bytes{0, 22, 0}));
}

TEST_F(LinkTest, PortChoiceStartsOver) {
    Start();
    Ticks(1 + 9 + 1 + 9); // two time-outs
    ASSERT_EQ(link.TimeoutCount(), 2);
    link.Enqueue('U', 0);
    link.RestartAfterPortChoice();
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(link.TimeoutCount(), 0);
    ASSERT_EQ(link.Queue().Count(), 4u);
    EXPECT_EQ(link.Queue().At(0).key, "C");
    EXPECT_EQ(link.Queue().At(3).key, "V");
}

TEST_F(LinkTest, HeadsThatSendNothingLeaveTheLinkIdle) {
    link.TimerTick().SetEnabled(true);
    link.Enqueue('Q', 0); // a letter the cycle does not know
    TDataStore::CommandRecord command{};
    command[0] = 10; // a command kind without a request
    link.Enqueue('#', store.StoreCommand(command));
    Ticks(2);
    EXPECT_TRUE(port.packets.empty());
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_TRUE(link.Queue().Empty());

    link.Enqueue('Y', 5);
    Ticks(1);
    EXPECT_EQ(LastPayload(), (Bytes{0, 47, 5}));
    EXPECT_EQ(log.status, ">COM     UDATA");
    EXPECT_EQ(link.Sent().Find(port.packets.back().first)->kind, 'Y');

    // A state value outside the cycle's list does nothing at all.
    link.SetState(static_cast<LinkState>(7));
    link.Enqueue('X', 0);
    Ticks(20);
    EXPECT_EQ(port.packets.size(), 1u);
    EXPECT_EQ(link.TickCounter(), 0);
}

TEST_F(LinkTest, FailedWriteIsLoggedAndResentLikeALostPacket) {
    struct ThrowingPort : PacketPort {
        bool IsOpen() const override { return true; }
        void WritePacket(std::uint8_t, std::span<const std::uint8_t>) override {
            if (++writes == 1) throw std::runtime_error("write failed");
        }
        int writes = 0;
    } failing;
    ExchangeLink other(nullptr, loop, settings, failing, store, mail, log, texts, formatter);
    other.InitialRequestSet();
    other.TimerTick().SetEnabled(true);
    Ticks(1);
    EXPECT_EQ(log.Count("!Err", "write failed"), 1);
    EXPECT_EQ(other.State(), LinkState::AwaitingReply);
    Ticks(10);
    EXPECT_EQ(failing.writes, 2);
}
