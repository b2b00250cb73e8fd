// Poll timers, the block downloads, mail counters, relayed requests and the
// accounting hand-over, through the real link, dispatcher and data store.
#include <gtest/gtest.h>

#include <string>

#include "accounting/AccountingRecordList.h"

#include "engine_fixture.h"

using namespace vantor;
using namespace vantor::testing_fakes;

namespace {

std::vector<std::string> Keys(const RequestQueue& q) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < q.Count(); ++i) keys.push_back(q.At(i).key);
    return keys;
}

} // namespace

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
    port.open = false; // keep the tick from serving the queue
    loop.advance(1000);
    EXPECT_EQ(log.Count("<LOC", "[107]"), 1);
    EXPECT_EQ(Keys(link.Queue()), (std::vector<std::string>{"U"}));
}

TEST_F(LinkTest, LinePollRunsWhileClientsAskAndStopsAfterTheirTimeOut) {
    link.TimerTick().SetEnabled(true);
    link.EnableANPoll();
    link.EnableSWPoll();
    loop.advance(600);
    EXPECT_TRUE(link.TimerAN().Enabled());
    EXPECT_TRUE(link.Queue().Contains("A"));
    EXPECT_TRUE(link.Queue().Contains("X"));
    link.Queue().Clear();
    port.open = true;
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
    bool plugin = true;
    link.PluginLoaded = [&] { return plugin; };
    link.TimerAN().SetEnabled(true);
    int queueRequests = 0;
    for (int i = 0; i < 150; ++i) {
        const std::size_t before = port.packets.size();
        loop.advance(100);
        if (port.packets.size() == before) continue;
        queueRequests += LastPayload() == Bytes{33};
        ReplyLast({0});
    }
    EXPECT_TRUE(link.TimerAN().Enabled());
    EXPECT_GE(queueRequests, 20);
}

TEST_F(LinkTest, ShortsTimerIsOneShotAndRestartedByClientWrites) {
    FakePlugin plugin;
    store.SetPluginFeed(&plugin);
    link.TimerTick().SetEnabled(true);
    store.SetBlockCounter(7);
    link.TimerShorts().SetEnabled(true);
    loop.advance(30000);
    // A client's write of short numbers goes out with the next tick: the
    // delay counts from then.
    link.EnqueueClientRequest(4, Bytes{1, 24, 0, 0});
    loop.advance(100);
    EXPECT_EQ(hooks.restarts, 1);
    ReplyLast({0});
    loop.advance(39900);
    EXPECT_FALSE(link.Queue().Contains("p"));
    EXPECT_EQ(store.BlockCounter(), 7);
    port.open = false;
    loop.advance(100);
    EXPECT_TRUE(link.Queue().Contains("p"));
    EXPECT_EQ(store.BlockCounter(), 0);
    EXPECT_FALSE(link.TimerShorts().Enabled());
    loop.advance(100000);
    EXPECT_EQ(link.Queue().Count(), 1u);
}

TEST_F(LinkTest, PersonalAndShortNumberDownload) {
    FakePlugin plugin;
    store.SetPluginFeed(&plugin);
    // Three personal-data blocks; the exchange is the right kind.
    store.DecodeReply('C', Bytes{0, 0, 0, 0, 0, 2, 0});
    store.DecodeReply('I', Bytes{0, 0, 0, 0, 3, 0, 0, 0});
    link.TimerTick().SetEnabled(true);
    store.SetBlockCounter(0);
    link.Enqueue('p', 0);

    // Block 1 holds a word pointing into short-number block 5 (1190 =
    // 5 x 236 + 10); every other word is 0, which points into block 0.
    std::vector<Bytes> requests;
    for (int i = 0; i < 200 && link.Queue().Count() + (link.State() != LinkState::Idle) > 0; ++i) {
        const std::size_t before = port.packets.size();
        loop.advance(100);
        if (port.packets.size() == before) continue;
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
    EXPECT_EQ(plugin.shorts, 1); // the download ended after block 65
    EXPECT_EQ(store.BlockCounter(), 66);
    EXPECT_EQ(store.ShortNumbers()[5 * 236], 5);
    EXPECT_EQ(log.status.substr(0, 4), "<COM");
}

TEST_F(LinkTest, MessageCountersAreSentOnlyWhenThePollReadSomething) {
    link.TimerTick().SetEnabled(true);
    settings.Extent = 1;
    link.Enqueue('M', 0);
    Ticks(1);
    EXPECT_EQ(mail.polls, 1);
    EXPECT_TRUE(port.packets.empty());
    EXPECT_EQ(link.State(), LinkState::Idle);
    EXPECT_EQ(log.lines.back(), (LogLine{"<602", "[115]"}));

    mail.pollResult = true;
    settings.Extent = 0;
    link.Enqueue('M', 0);
    Ticks(1);
    ASSERT_EQ(port.packets.size(), 1u);
    EXPECT_EQ(LastPayload(), (Bytes{1, 17, 0}));
    EXPECT_EQ(log.lines.back(), (LogLine{"<602", "[114]"}));
    EXPECT_EQ(link.State(), LinkState::AwaitingReply);
    ReplyLast({0});
    EXPECT_EQ(link.State(), LinkState::Idle);

    // With Extent the packet itself is shown.
    settings.Extent = 1;
    link.Enqueue('M', 0);
    Ticks(1);
    EXPECT_EQ(log.lines.back().label, "<602");
    EXPECT_NE(log.lines.back().text, "[114]");
}

TEST_F(LinkTest, RelayedRequestsAreLoggedOnce) {
    link.TimerTick().SetEnabled(true);
    const Bytes request{0, 24, 3};
    auto sendOne = [&] {
        link.EnqueueClientRequest(8, request);
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

// Hands accounting records to a real record list, as the main window does.
class ListConsumers : public FakeConsumers {
public:
    void KeepAccountingRecord(std::string_view text) override { list.Add(text); }
    AccountingRecordList list;
};

TEST_F(LinkTest, AccountingRecordsReachFileAndList) {
    ListConsumers records;
    ReplyDispatcher accounting(link, store, settings, log, texts, mail, records, nullptr, "1.00");
    link.TimerTick().SetEnabled(true);
    auto fetch = [&](const std::string& text) {
        link.Enqueue('U', 0);
        Ticks(1);
        Bytes reply{0};
        reply.insert(reply.end(), text.begin(), text.end());
        accounting.HandlePacket(Frame(port.packets.back().first, reply));
    };

    fetch("same");
    fetch("same");
    EXPECT_EQ(appends.appends.size(), 2u); // the file has it twice
    EXPECT_EQ(records.list.Total(), 1u);   // the list once

    // A locked file: the same record is asked for with 05 until it can be written.
    appends.fail = true;
    fetch("r1");
    EXPECT_EQ(LastPayload(), Bytes{4});
    fetch("r1");
    EXPECT_EQ(LastPayload(), Bytes{5});
    appends.fail = false;
    fetch("r1");
    EXPECT_EQ(LastPayload(), Bytes{5});
    EXPECT_EQ(records.list.Total(), 2u);
    link.Enqueue('U', 0);
    Ticks(1);
    EXPECT_EQ(LastPayload(), Bytes{4});
    accounting.HandlePacket(Frame(port.packets.back().first, Bytes{0}));

    // 202 records in all: the list keeps the last 201.
    for (int i = 2; i < 202; ++i) fetch("rec" + std::to_string(i));
    EXPECT_EQ(records.list.Total(), 202u);
    EXPECT_EQ(records.list.FirstKept(), 1u);
    EXPECT_EQ(records.list.Size(), 201u);
    EXPECT_EQ(records.list.Text(1).value_or(""), "r1");
}
