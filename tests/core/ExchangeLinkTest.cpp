// The request-reply cycle through the gateway's own link: sending, waiting,
// resending, link loss and recovery, the frames from the exchange, the poll
// timers, the block downloads, mail counters, relayed requests and the
// accounting hand-over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "GatewayFixture.h"

using namespace vantor;
using namespace vantor::test;

namespace {

class LinkTest : public GatewayTest {};

std::vector<std::string> Keys(const RequestQueue& q) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < q.Count(); ++i) keys.push_back(q.At(i).key);
    return keys;
}

} // namespace

TEST_F(LinkTest, FirstRequestAfterStartIsTheConfigurationUnderSequenceOne) {
    Start();
    Ticks(1);
    ASSERT_EQ(Packets().size(), 1u);
    EXPECT_EQ(Packets()[0].first, 1);
    EXPECT_EQ(EncodeFrame(Packets()[0].first, Packets()[0].second),
              (Bytes{0xEE, 0x23, 0x02, 0x00, 0x01, 0x0D, 0x03, 0x5F, 0x73, 0x26}));
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    EXPECT_EQ(log.status, ">COM     [100]");
    ASSERT_NE(link.Sent().Find(1), nullptr);
    EXPECT_EQ(link.Sent().Find(1)->kind, RequestKind::Configuration);

    // The answer makes the link idle; the next tick sends the next request.
    ReplyLast({0, 1, 2, 3, 4, 2, 0});
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(link.Sent().Count(), 0u);
    Ticks(1);
    EXPECT_EQ(Packets().back(), (std::pair<std::uint8_t, Bytes>{2, Bytes{2}}));
}

TEST_F(LinkTest, DeadLinkIsReportedOnceAndRetriedAfterEachPause) {
    BindMail();
    Start();
    std::vector<int> sentAt;
    for (int tick = 1; tick <= 1400; ++tick) {
        const std::size_t before = Packets().size();
        Ticks(1);
        if (Packets().size() != before) sentAt.push_back(tick);
        if (tick == 59) {
            EXPECT_EQ(log.CountLabel("!Err"), 0);
        }
        if (tick == 60) {
            EXPECT_EQ(link.State(), LinkState::LinkDown);
            EXPECT_EQ(log.Count("!Err", "[116]"), 1);
            EXPECT_EQ(Traps(), std::vector<int>{1});
            EXPECT_FALSE(link.LinkLost()); // set only when the pause ends
        }
    }
    // Sent once and resent five times, 10 ticks apart, with the same number;
    // after 600 paused ticks the initial set starts again.
    EXPECT_EQ(sentAt, (std::vector<int>{1, 11, 21, 31, 41, 51, 661, 671, 681, 691, 701, 711, 1321,
                                        1331, 1341, 1351, 1361, 1371}));
    ASSERT_EQ(Packets().size(), 18u);
    for (int i = 0; i < 18; ++i) {
        const std::uint8_t cycle = static_cast<std::uint8_t>(1 + i / 6);
        EXPECT_EQ(Packets()[i], (std::pair<std::uint8_t, Bytes>{cycle, Bytes{13}}));
    }
    EXPECT_EQ(log.Count("!Err", "[116]"), 1);
    EXPECT_EQ(Traps(), std::vector<int>{1});
    EXPECT_TRUE(link.LinkLost());
    EXPECT_EQ(link.Queue().Count(), 3u); // 'I', 'x', 'V' still wait
}

TEST_F(LinkTest, RecoveryIsReportedOnceByAnyFrameWhileWaiting) {
    BindMail();
    settings.MaxErrorTick = 5;
    Start();
    Ticks(60 + 5); // six time-outs and the pause
    ASSERT_TRUE(link.LinkLost());
    Ticks(1); // 'C' again under number 2
    ASSERT_EQ(link.State(), LinkState::AwaitingReply);

    Reply(77, {0}); // a stray number: the wait goes on, the recovery is told
    EXPECT_FALSE(link.LinkLost());
    EXPECT_EQ(log.Count("-OK-", "[117]"), 1);
    EXPECT_EQ(Traps(), (std::vector<int>{1, 2}));
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);

    ReplyLast({0, 0, 0, 0, 0, 2, 0});
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(log.Count("-OK-", "[117]"), 1);
}

TEST_F(LinkTest, LateReplyCompletesTheResentRequestOnce) {
    Start();
    Ticks(1 + 9 + 1); // sent, timed out, resent
    ASSERT_EQ(Packets().size(), 2u);
    EXPECT_EQ(Packets()[1].first, Packets()[0].first);
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
        link.Enqueue(RequestKind::SWState, 0);
        Ticks(1 + 9 + 1); // sent, one time-out, resent
        ReplyLast({0, 1, 2});
        ASSERT_EQ(link.State(), LinkState::Idle);
        Ticks(30); // quiet time in between
    }
    EXPECT_EQ(link.TimeoutCount(), 5);
    EXPECT_EQ(log.CountLabel("!Err"), 0);
    link.Enqueue(RequestKind::SWState, 0);
    Ticks(1 + 9);
    EXPECT_EQ(link.State(), LinkState::LinkDown);
    EXPECT_EQ(log.Count("!Err", "[116]"), 1);
}

TEST_F(LinkTest, NegativeAcknowledgementEndsTheWaitAtTheNextTick) {
    link.TimerTick().SetEnabled(true);
    link.Enqueue(RequestKind::SWState, 0);
    Ticks(1);
    link.HandleChar(0xE0);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::Resend);
    Ticks(1);
    EXPECT_EQ(Packets().size(), 2u);
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);

    // While a client waits, it just ends the wait.
    ReplyLast({0});
    const Bytes request{0, 24, 3};
    ASSERT_EQ(link.State(), LinkState::Idle);
    link.SubmitClientRequest(5, request);
    ASSERT_EQ(link.State(), LinkState::AwaitingClientReply);
    link.HandleChar(0xE0);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(Packets().size(), 3u);
}

TEST_F(LinkTest, ClientRequestIsNeverResent) {
    FakeClientSocket& client = server->Connect(12);
    link.TimerTick().SetEnabled(true);
    const Bytes request{0, 24, 3};
    link.Enqueue(RequestKind::Client, 12, request);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::AwaitingClientReply);
    EXPECT_EQ(LastPayload(), request);
    Ticks(8);
    EXPECT_EQ(link.State(), LinkState::AwaitingClientReply);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::Idle);
    Ticks(20);
    EXPECT_EQ(Packets().size(), 1u);
    EXPECT_EQ(link.TimeoutCount(), 0);

    // Its reply, when it comes in time, goes to the client.
    link.Enqueue(RequestKind::Client, 12, request);
    Ticks(1);
    ReplyLast({0, 9});
    ASSERT_EQ(client.sent.size(), 1u);
    EXPECT_EQ(client.sent[0], (Bytes{0, 9}));
}

TEST_F(LinkTest, ClientWriteFlushesTheReplyCacheAsItGoesOut) {
    server->Connect(12);
    link.TimerTick().SetEnabled(true);
    ReplyCache& cache = gateway->Cache();
    cache.Allocate(10);
    cache.Store(Bytes{0, 24, 3}, Bytes{0, 24, 3, 1});
    link.Enqueue(RequestKind::Client, 12, Bytes{0, 24, 4});
    Ticks(1 + 9);
    EXPECT_EQ(cache.Count(), 1u) << "a query leaves it";
    link.Enqueue(RequestKind::Client, 12, Bytes{1, 13, 0});
    Ticks(1);
    EXPECT_EQ(cache.Count(), 0u) << "before any reply, which may never come";
}

TEST_F(LinkTest, SequenceNumberWrapsFrom255ToZero) {
    const Bytes payload{14};
    for (int i = 0; i < 256; ++i) link.SendPacket(">COM", "x", payload);
    EXPECT_EQ(Packets()[0].first, 1);
    EXPECT_EQ(Packets()[254].first, 255);
    EXPECT_EQ(Packets()[255].first, 0);
    EXPECT_EQ(link.SequenceCounter(), 1);

    // Nothing goes out (and nothing is remembered) while the port is closed
    // or the payload is empty.
    link.SendPacket(">COM", "x", {});
    gateway->CommPax1().Close();
    link.SendPacket(">COM", "x", payload);
    EXPECT_EQ(Packets().size(), 256u);
    EXPECT_EQ(link.SequenceCounter(), 1);
}

TEST_F(LinkTest, ClosedPortIdlesButTheTrayIsStillRetried) {
    trayIcon = [this] { return trayAttempts == 3; };
    link.SetHideToTrayRequested(true);
    gateway->CommPax1().Close();
    Start();
    Ticks(5);
    EXPECT_EQ(trayAttempts, 3);
    EXPECT_FALSE(link.HideToTrayRequested());
    EXPECT_TRUE(Packets().empty());
    EXPECT_EQ(link.Queue().Count(), 4u);
}

TEST_F(LinkTest, TickDoesNotRunInsideItself) {
    link.TimerTick().SetEnabled(true);
    link.Enqueue(RequestKind::MessageCounters, 0);
    link.Enqueue(RequestKind::LineStates, 0);
    bool guardSeen = false;
    BindMail();
    mailLib.quickTest = 0; // the mailboxes did not change
    mailLib.onQuickTest = [&] {
        guardSeen = link.TickGuard();
        link.Tick(); // a library that pumps messages during the poll
    };
    Ticks(1);
    EXPECT_TRUE(guardSeen);
    EXPECT_EQ(std::count(mailLib.calls.begin(), mailLib.calls.end(), "RychlyTestZmenVeSchrankach"),
              1);
    EXPECT_TRUE(Packets().empty());
    EXPECT_FALSE(link.TickGuard());
    Ticks(1);
    EXPECT_EQ(LastPayload(), (Bytes{0, 22, 0}));
}

TEST_F(LinkTest, PortChoiceStartsOver) {
    Start();
    Ticks(1 + 9 + 1 + 9); // two time-outs
    ASSERT_EQ(link.TimeoutCount(), 2);
    link.Enqueue(RequestKind::Accounting, 0);
    link.RestartAfterPortChoice();
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(link.TimeoutCount(), 0);
    ASSERT_EQ(link.Queue().Count(), 4u);
    EXPECT_EQ(link.Queue().At(0).key, "C");
    EXPECT_EQ(link.Queue().At(3).key, "V");
}

TEST_F(LinkTest, HeadsThatSendNothingLeaveTheLinkIdle) {
    link.TimerTick().SetEnabled(true);
    TDataStore::CommandRecord command{};
    command[0] = 10; // a command kind without a request
    link.Enqueue(RequestKind::PluginCommand, store.StoreCommand(command));
    Ticks(2);
    EXPECT_TRUE(Packets().empty());
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_TRUE(link.Queue().Empty());

    link.Enqueue(RequestKind::CallerData, 5);
    Ticks(1);
    EXPECT_EQ(LastPayload(), (Bytes{0, 47, 5}));
    EXPECT_EQ(log.status, ">COM     UDATA");
    EXPECT_EQ(link.Sent().Find(Packets().back().first)->kind, RequestKind::CallerData);
}

TEST_F(LinkTest, FailedWriteIsLoggedAndResentLikeALostPacket) {
    line->writeError = EIO;
    Start();
    Ticks(1);
    EXPECT_EQ(log.CountLabel("!Err"), 1);
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    EXPECT_TRUE(Packets().empty());
    line->writeError = 0;
    Ticks(10);
    ASSERT_EQ(Packets().size(), 1u); // the resend, under the same number
    EXPECT_EQ(Packets()[0].first, 1);
}

TEST_F(LinkTest, TimersAreNamedOwnedAndStartDisabledWithTheirPeriods) {
    const char* names[] = {"TimerTick", "TimerAN", "TimerMSG",   "TimerSMS",
                           "TimerUR",   "TimerSW", "TimerShorts"};
    const std::uint32_t periods[] = {100, 600, 11000, 5000, 1000, 600, 40000};
    for (int i = 0; i < 7; ++i) {
        auto* timer = dynamic_cast<TTimer*>(owner.FindComponent(names[i]));
        ASSERT_NE(timer, nullptr) << names[i];
        EXPECT_FALSE(timer->Enabled());
        EXPECT_EQ(timer->Interval(), periods[i]) << names[i];
    }
    EXPECT_EQ(&link.Timer(LinkTimer::Shorts), &link.TimerShorts());
    link.TimerAN().SetEnabled(true);
    link.StopTimers();
    EXPECT_FALSE(link.TimerAN().Enabled());
}

TEST_F(LinkTest, PollTimersQueueTheirKindsAndLogWhileTheTickRuns) {
    settings.Com_LocOut = 1;
    link.TimerMSG().SetEnabled(true);
    link.TimerSMS().SetEnabled(true);
    link.TimerUR().SetEnabled(true);
    loop.advance(11000);
    // UR fired 11 times, SMS twice, MSG once; each kind waits once.
    EXPECT_EQ(Keys(link.Queue()), (std::vector<std::string>{"U", "S", "M"}));
    EXPECT_EQ(log.CountLabel("<LOC"), 0); // TimerTick is off

    link.Queue().Clear();
    link.TimerTick().SetEnabled(true);
    gateway->CommPax1().Close(); // keep the tick from serving the queue
    loop.advance(1000);
    EXPECT_EQ(log.Count("<LOC", "[107]"), 1);
    EXPECT_EQ(Keys(link.Queue()), (std::vector<std::string>{"U"}));
}

TEST_F(LinkTest, LinePollRunsWhileClientsAskAndStopsAfterTheirTimeOut) {
    link.TimerTick().SetEnabled(true);
    link.ClientAskedForLineStates();
    link.ClientAskedForSW();
    loop.advance(600);
    EXPECT_TRUE(link.TimerAN().Enabled());
    EXPECT_TRUE(link.Queue().Contains("A"));
    EXPECT_TRUE(link.Queue().Contains("X"));
    link.Queue().Clear();
    // Nobody asks again: after ANTimeOut (10 s) the idle tick stops both polls.
    settings.SWTimeOut = 5;
    for (int i = 0; i < 200 && link.TimerSW().Enabled(); ++i) {
        loop.advance(100);
        if (link.State() != LinkState::Idle) ReplyLast({0});
    }
    EXPECT_FALSE(link.TimerSW().Enabled());
    EXPECT_TRUE(link.TimerAN().Enabled());
    for (int i = 0; i < 200 && link.TimerAN().Enabled(); ++i) {
        loop.advance(100);
        if (link.State() != LinkState::Idle) ReplyLast({0});
    }
    EXPECT_FALSE(link.TimerAN().Enabled());

    // With the plug-in the AN poll never stops and also asks for the queue.
    StartPlugin();
    link.TimerAN().SetEnabled(true);
    int queueRequests = 0;
    for (int i = 0; i < 150; ++i) {
        const std::size_t before = Packets().size();
        loop.advance(100);
        if (Packets().size() == before) continue;
        queueRequests += LastPayload() == Bytes{33};
        ReplyLast({0});
    }
    EXPECT_TRUE(link.TimerAN().Enabled());
    EXPECT_GE(queueRequests, 20);
}

TEST_F(LinkTest, ShortsTimerIsOneShotAndRestartedByClientWrites) {
    StartPlugin();
    link.TimerTick().SetEnabled(true);
    store.SetBlockCounter(7);
    link.TimerShorts().SetEnabled(true);
    loop.advance(30000);
    // A client's write of short numbers goes out with the next tick: the
    // delay counts from then.
    link.Enqueue(RequestKind::Client, 4, Bytes{1, 24, 0, 0});
    loop.advance(100);
    EXPECT_TRUE(link.TimerShorts().Enabled());
    ReplyLast({0});
    loop.advance(39900);
    EXPECT_FALSE(link.Queue().Contains("p"));
    EXPECT_EQ(store.BlockCounter(), 7);
    gateway->CommPax1().Close();
    loop.advance(100);
    EXPECT_TRUE(link.Queue().Contains("p"));
    EXPECT_EQ(store.BlockCounter(), 0);
    EXPECT_FALSE(link.TimerShorts().Enabled());
    loop.advance(100000);
    EXPECT_EQ(link.Queue().Count(), 1u);
}

TEST_F(LinkTest, PersonalAndShortNumberDownload) {
    StartPlugin();
    // Three personal-data blocks; the exchange is the right kind.
    store.DecodeReply(RequestKind::Configuration, Bytes{0, 0, 0, 0, 0, 2, 0});
    store.DecodeReply(RequestKind::Identification, Bytes{0, 0, 0, 0, 3, 0, 0, 0});
    link.TimerTick().SetEnabled(true);
    store.SetBlockCounter(0);
    link.Enqueue(RequestKind::PersonalData, 0);

    // Block 1 holds a word pointing into short-number block 5 (1190 =
    // 5 x 236 + 10); every other word is 0, which points into block 0.
    std::vector<Bytes> requests;
    for (int i = 0; i < 200 && link.Queue().Count() + (link.State() != LinkState::Idle) > 0; ++i) {
        const std::size_t before = Packets().size();
        loop.advance(100);
        if (Packets().size() == before) continue;
        const Bytes request = LastPayload();
        requests.push_back(request);
        Bytes reply{0, 0, 0};
        if (request[1] == 25) {
            reply.resize(3 + 64, 0);
            if (request[2] == 1) {
                reply[3] = 1190 >> 8;
                reply[4] = 1190 & 0xFF;
            }
        } else {
            reply.resize(3 + 236, static_cast<std::uint8_t>(request[2]));
        }
        ReplyLast(reply);
    }
    EXPECT_EQ(requests,
              (std::vector<Bytes>{{0, 25, 0}, {0, 25, 1}, {0, 25, 2}, {0, 24, 0}, {0, 24, 5}}));
    EXPECT_EQ(std::count(pluginLib.calls.begin(), pluginLib.calls.end(), "PutShorts"),
              1); // the download ended after block 65
    EXPECT_EQ(store.BlockCounter(), 66);
    EXPECT_EQ(store.ShortNumbers()[5 * 236], 5);
    EXPECT_EQ(log.status.substr(0, 4), "<COM");
}

TEST_F(LinkTest, MessageCountersAreSentOnlyWhenThePollReadSomething) {
    BindMail();
    mailLib.quickTest = 0; // the mailboxes did not change
    link.TimerTick().SetEnabled(true);
    settings.Extent = 1;
    link.Enqueue(RequestKind::MessageCounters, 0);
    Ticks(1);
    EXPECT_EQ(std::count(mailLib.calls.begin(), mailLib.calls.end(), "RychlyTestZmenVeSchrankach"),
              1);
    EXPECT_TRUE(Packets().empty());
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(log.lines.back(), (LogLine{"<602", "[115]"}));

    mailLib.quickTest = 1;
    settings.Extent = 0;
    link.Enqueue(RequestKind::MessageCounters, 0);
    Ticks(1);
    ASSERT_EQ(Packets().size(), 1u);
    EXPECT_EQ(LastPayload(), (Bytes{1, 17, 0}));
    EXPECT_EQ(log.lines.back(), (LogLine{"<602", "[114]"}));
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    ReplyLast({0});
    EXPECT_EQ(link.State(), LinkState::Idle);

    // With Extent the packet itself is shown.
    settings.Extent = 1;
    link.Enqueue(RequestKind::MessageCounters, 0);
    Ticks(1);
    EXPECT_EQ(log.lines.back().label, "<602");
    EXPECT_NE(log.lines.back().text, "[114]");
}

TEST_F(LinkTest, RelayedRequestsAreLoggedOnce) {
    link.TimerTick().SetEnabled(true);
    const Bytes request{0, 24, 3};
    auto sendOne = [&] {
        link.Enqueue(RequestKind::Client, 8, request);
        Ticks(1);
        ReplyLast({0});
    };
    settings.Com_Out = 1;
    settings.Com_LocOut = 0;
    sendOne();
    EXPECT_EQ(log.CountLabel(">COM"), 1);
    settings.Com_LocOut = 1;
    sendOne();
    EXPECT_EQ(log.CountLabel(">COM"), 2);
    settings.Com_Out = 0;
    settings.Com_LocOut = 0;
    sendOne();
    EXPECT_EQ(log.CountLabel(">COM"), 2);
    EXPECT_EQ(log.status.substr(0, 4), ">COM");
}

TEST_F(LinkTest, OwnRequestsAreLoggedOnlyWithComLocOut) {
    Start();
    Ticks(1);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(log.status, ">COM     [100]");
    ReplyLast({0, 0, 0, 0, 0, 2, 0});
    log.lines.clear();

    settings.Com_LocOut = 1;
    settings.Com_In = 0;
    Ticks(1); // 'I': the start requests also get a "<LOC" line
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{"<LOC", "[101]"}, {">COM", "[101]"}}));
    // After a time-out the start requests get only the sender's line.
    Ticks(9 + 1);
    EXPECT_EQ(log.lines.back(), (LogLine{">COM", "[101]"}));
    ReplyLast({0, 0, 0, 0, 0, 0, 0, 0});
    log.lines.clear();
    Ticks(1); // 'x'
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{">COM", "PortStruct"}}));
}

TEST_F(LinkTest, AccountingRecordsReachFileAndList) {
    const AccountingRecordList& list = gateway->AccountingRecords();
    link.TimerTick().SetEnabled(true);
    auto fetch = [&](const std::string& text) {
        link.Enqueue(RequestKind::Accounting, 0);
        Ticks(1);
        Bytes reply{0};
        reply.insert(reply.end(), text.begin(), text.end());
        ReplyLast(reply);
    };

    fetch("same");
    fetch("same");
    EXPECT_EQ(appends.appends.size(), 2u); // the file has it twice
    EXPECT_EQ(list.Total(), 1u);           // the list once

    // A locked file: the same record is asked for with 05 until it can be written.
    appends.fail = true;
    fetch("r1");
    EXPECT_EQ(LastPayload(), Bytes{4});
    fetch("r1");
    EXPECT_EQ(LastPayload(), Bytes{5});
    appends.fail = false;
    fetch("r1");
    EXPECT_EQ(LastPayload(), Bytes{5});
    EXPECT_EQ(list.Total(), 2u);
    link.Enqueue(RequestKind::Accounting, 0);
    Ticks(1);
    EXPECT_EQ(LastPayload(), Bytes{4});
    ReplyLast({0});

    // 202 records in all: the list keeps the last 201.
    for (int i = 2; i < 202; ++i) fetch("rec" + std::to_string(i));
    EXPECT_EQ(list.Total(), 202u);
    EXPECT_EQ(list.FirstKept(), 1u);
    EXPECT_EQ(list.Size(), 201u);
    EXPECT_EQ(list.Text(1).value_or(""), "r1");
}

TEST_F(LinkTest, FramesAreTakenOnlyWhileAReplyIsAwaited) {
    BindMail();
    settings.MaxErrorTick = 5;
    Start();
    Ticks(60 + 5); // six time-outs and the pause: the loss is reported, Idle again
    ASSERT_TRUE(link.LinkLost());
    ASSERT_EQ(link.State(), LinkState::Idle);
    Reply(1, {0, 1, 2}); // nothing is awaited
    Ticks(1 + 9);        // 'C' again, timed out: Resend
    ASSERT_EQ(link.State(), LinkState::Resend);
    Reply(Packets().back().first, {0, 1, 2});
    EXPECT_TRUE(link.LinkLost());
    EXPECT_EQ(link.State(), LinkState::Resend);
    EXPECT_EQ(log.Count("-OK-", "[117]"), 0);
    EXPECT_EQ(Traps(), std::vector<int>{1});
}

TEST_F(LinkTest, NegativeAcknowledgementIsTheOnlyByteThatCounts) {
    Start();
    Ticks(1);
    link.HandleChar(0x41);
    link.HandleChar(0xE1);
    EXPECT_EQ(link.TickCounter(), 0);
    link.HandleChar(0xE0);
    EXPECT_EQ(link.TickCounter(), settings.MaxTick);
}

TEST_F(LinkTest, ShortOrEmptyFramesDoNoHarm) {
    BindMail();
    settings.MaxErrorTick = 5;
    Start();
    Ticks(60 + 5 + 1); // lost, paused, 'C' out again
    ASSERT_TRUE(link.LinkLost());
    link.HandleFrame(0, nullptr); // an empty frame still proves the link
    EXPECT_FALSE(link.LinkLost());
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    const std::size_t sent = Packets().size();
    Reply(Packets().back().first, {}); // the sequence byte alone ends the wait
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(Packets().size(), sent);
}

TEST_F(LinkTest, ClientRequestGoesAtOnceWhenIdleAndWaitsOnePerClientOtherwise) {
    settings.Com_Out = 1;
    link.SubmitClientRequest(7, Bytes{1, 13, 0, 5});
    ASSERT_EQ(Packets().size(), 1u);
    EXPECT_EQ(LastPayload(), (Bytes{1, 13, 0, 5}));
    EXPECT_EQ(link.State(), LinkState::AwaitingClientReply);
    const SentRequest* record = link.Sent().Find(Packets().back().first);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->value, 7);
    EXPECT_EQ(log.Count(">COM", "[1001] [2013]"), 1);

    // The link is busy now: three from client 7 leave its last, client 9 adds one.
    link.SubmitClientRequest(7, Bytes{0, 30, 1});
    link.SubmitClientRequest(9, Bytes{0, 30, 2});
    link.SubmitClientRequest(7, Bytes{0, 30, 3});
    link.SubmitClientRequest(7, Bytes{0, 30, 4});
    EXPECT_EQ(Packets().size(), 1u);
    ASSERT_EQ(link.Queue().Count(), 2u);
    EXPECT_EQ(link.Queue().At(0).key, "T9");
    EXPECT_EQ(link.Queue().At(1).key, "T7");
    EXPECT_EQ(link.Queue().At(1).relayed->bytes, (Bytes{0, 30, 4}));

    // With Com_LocOut on the packet sender logs it; it is not logged again.
    ReplyLast({0});
    link.Queue().Clear();
    settings.Com_LocOut = 1;
    log.lines.clear();
    link.SubmitClientRequest(7, Bytes{0, 30, 1});
    EXPECT_EQ(log.CountLabel(">COM"), 1);
}

// With SendOnReply each matched reply serves the queue head on the same turn,
// exactly as the next tick would have: same packets, numbers, records and log.
TEST_F(LinkTest, ReplyDrivenSendIsTheTickSendBroughtForward) {
    settings.Com_Out = 1;
    link.TimerTick().SetEnabled(true);
    auto run = [this](int sendOnReply) -> std::vector<std::string> {
        settings.SendOnReply = sendOnReply;
        log.lines.clear();
        const std::size_t first = Packets().size();
        for (std::uint8_t client = 1; client <= 4; ++client)
            link.SubmitClientRequest(client, Bytes{0, 30, client});
        for (int i = 0; i < 3; ++i) {
            ReplyLast({0});
            if (!sendOnReply) {
                EXPECT_EQ(Packets().size(), first + 1 + i);
                Ticks(1);
            }
            EXPECT_EQ(Packets().size(), first + 2 + i);
            EXPECT_EQ(link.State(), LinkState::AwaitingClientReply);
            EXPECT_EQ(link.Sent().Count(), 1u);
            const SentRequest* record = link.Sent().Find(Packets().back().first);
            if (record == nullptr) {
                ADD_FAILURE() << "no record of the request just sent";
                return {};
            }
            EXPECT_EQ(record->value, i + 2);
        }
        ReplyLast({0});
        EXPECT_EQ(link.State(), LinkState::Idle);
        std::vector<std::string> transcript;
        for (std::size_t i = first; i < Packets().size(); ++i)
            transcript.push_back(std::to_string(Packets()[i].first - Packets()[first].first) +
                                 ":" + std::to_string(Packets()[i].second.back()));
        for (const auto& line : log.lines) transcript.push_back(line.label + line.text);
        return transcript;
    };
    const std::vector<std::string> byTick = run(0);
    EXPECT_EQ(run(1), byTick);
    EXPECT_EQ(byTick[3], "3:4");
}

// The reply-driven send stands in for a tick: none while the tick is stopped.
TEST_F(LinkTest, ReplyDrivenSendWaitsWhileTheTickIsStopped) {
    settings.SendOnReply = 1;
    const auto answerInfo = [this] { ReplyLast({0, 0xB, 0x05, 0, 3, 0, 0, 0}); };
    const struct {
        const char* legend;
        std::uint8_t byte4; // configuration byte 4: 2 for an exchange the gateway serves
        std::function<void()> answer;
    } rows[] = {
        {"an exchange it cannot serve (130)", 1, answerInfo},
        {"Zastavit", 2,
         [&] {
             gateway->TogglePolling();
             answerInfo();
         }},
        {"a modal dialog", 2,
         [&] {
             const TimerPause pause = gateway->PauseTick();
             answerInfo();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.legend);
        link.RestartAfterPortChoice();
        link.TimerTick().SetEnabled(true);
        Ticks(1);
        ReplyLast({0, 0, 0, 0, 0, row.byte4, 0});
        ASSERT_EQ(LastPayload(), Bytes{2}); // the identification, sent on the reply
        const std::size_t sent = Packets().size();
        row.answer();
        EXPECT_EQ(Packets().size(), sent);
        EXPECT_EQ(Keys(link.Queue()), (std::vector<std::string>{"x", "V"}));
    }
}

// Time-outs and resends count from the reply-driven send as from a tick's;
// duplicate and stale replies never put a second request on the line.
TEST_F(LinkTest, ReplyDrivenSendKeepsTimeoutsAndOneRequestOutstanding) {
    settings.SendOnReply = 1;
    link.TimerTick().SetEnabled(true);
    link.Enqueue(RequestKind::SWState, 0);
    link.Enqueue(RequestKind::LineStates, 0);
    link.Enqueue(RequestKind::PortList, 0);
    Ticks(1);
    ASSERT_EQ(Packets().size(), 1u);
    const std::uint8_t firstNumber = Packets()[0].first;
    ReplyLast({0, 1, 2});
    ASSERT_EQ(Packets().size(), 2u);
    for (int storm = 0; storm < 5; ++storm) {
        Reply(firstNumber, {0, 1, 2});                       // repeated
        Reply(static_cast<std::uint8_t>(firstNumber - 1), {}); // stale
        Reply(static_cast<std::uint8_t>(Packets().back().first + 1), {0}); // not sent yet
    }
    EXPECT_EQ(Packets().size(), 2u);
    EXPECT_EQ(link.Sent().Count(), 1u);

    Ticks(8);
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    Ticks(1);
    EXPECT_EQ(link.State(), LinkState::Resend);
    Ticks(1);
    ASSERT_EQ(Packets().size(), 3u);
    EXPECT_EQ(Packets()[2].first, Packets()[1].first);
    EXPECT_EQ(link.TimeoutCount(), 1);
    ReplyLast({0});
    EXPECT_EQ(Packets().size(), 4u); // the last one, at once
    ReplyLast({0});
    EXPECT_EQ(Packets().size(), 4u);
    EXPECT_EQ(link.State(), LinkState::Idle);
}
