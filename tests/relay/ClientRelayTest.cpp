#include "relay/ClientRelay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "accounting/AccountingRecordList.h"
#include "core/Settings.h"
#include "exchange/CommandFormatter.h"
#include "relay/ReplyCache.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"
#include "toolkit/VirtualLoop.h"

namespace vantor {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FakeSocket : public RelaySocket {
public:
    FakeSocket(std::int32_t handle, std::string address)
        : handle_(handle), address_(std::move(address)) {}
    std::int32_t Handle() const override { return handle_; }
    std::string RemoteAddress() const override { return address_; }
    std::intptr_t UserData() const override { return data_; }
    void SetUserData(std::intptr_t value) override { data_ = value; }
    int ReceiveLength() override { return static_cast<int>(inbox.size()); }
    int ReceiveBuf(void* buffer, int count) override {
        const int n = std::min<int>(count, static_cast<int>(inbox.size()));
        std::copy_n(inbox.begin(), n, static_cast<std::uint8_t*>(buffer));
        inbox.erase(inbox.begin(), inbox.begin() + n);
        ++reads;
        return n;
    }
    int SendBuf(const void* data, int count) override {
        auto p = static_cast<const std::uint8_t*>(data);
        sent.emplace_back(p, p + count);
        return count;
    }

    std::deque<std::uint8_t> inbox;
    std::vector<Bytes> sent;
    int reads = 0;

private:
    std::int32_t handle_;
    std::string address_;
    std::intptr_t data_ = 0;
};

class FakeConnections : public RelayConnections {
public:
    bool WithClient(std::int32_t handle, const std::function<void(RelaySocket&)>& use) override {
        for (FakeSocket* s : sockets)
            if (s->Handle() == handle) {
                use(*s);
                return true;
            }
        return false;
    }
    std::vector<FakeSocket*> sockets;
};

// Keeps one waiting request per client, as the gateway's queue does.
class FakeScheduler : public RelayScheduler {
public:
    bool LinkIdleAndQueueEmpty() const override { return idle && queue.empty(); }
    void RecordClientRequest(std::int32_t handle, std::span<const std::uint8_t> r) override {
        recorded.emplace_back(handle, Bytes(r.begin(), r.end()));
    }
    void SendPacket(std::string_view label, std::string_view text,
                    std::span<const std::uint8_t> r) override {
        packets.push_back({std::string(label), std::string(text), Bytes(r.begin(), r.end())});
    }
    void SetAwaitingClientReply() override {
        awaitingClient = true;
        idle = false;
    }
    void EnqueueClientRequest(std::int32_t handle, std::span<const std::uint8_t> r) override {
        std::erase_if(queue, [&](auto& e) { return e.first == handle; });
        queue.emplace_back(handle, Bytes(r.begin(), r.end()));
    }
    void EnableANPoll() override { ++anPollEnabled; }
    void EnableSWPoll() override { ++swPollEnabled; }

    struct Packet {
        std::string label, text;
        Bytes bytes;
    };
    bool idle = true;
    bool awaitingClient = false;
    std::vector<std::pair<std::int32_t, Bytes>> recorded, queue;
    std::vector<Packet> packets;
    int anPollEnabled = 0, swPollEnabled = 0;
};

class FakeStore : public RelayStore {
public:
    Snapshot ANSnapshot() const override { return {an, anTime}; }
    Snapshot SWSnapshot() const override { return {sw, swTime}; }
    void WriteWatch(std::span<const std::uint8_t> r) override {
        watched.emplace_back(r.begin(), r.end());
    }
    void DecodeInfoReply(std::span<const std::uint8_t> r) override {
        infoReplies.emplace_back(r.begin(), r.end());
    }
    void DecodeConfigurationReply(std::span<const std::uint8_t> r) override {
        configReplies.emplace_back(r.begin(), r.end());
    }
    Bytes an, sw;
    TDateTime anTime = 0, swTime = 0;
    std::vector<Bytes> watched, infoReplies, configReplies;
};

class FakeLog : public LogWriter {
public:
    void WriteLog(std::string_view label, std::string_view text) override {
        lines.emplace_back(std::string(label), std::string(text));
    }
    void WriteStatus(std::string_view, std::string_view) override {}
    void SetStatusText(std::string_view) override {}
    bool Has(std::string_view label, std::string_view text) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](auto& l) { return l.first == label && l.second == text; });
    }
    bool HasLabel(std::string_view label) const {
        return std::any_of(lines.begin(), lines.end(), [&](auto& l) { return l.first == label; });
    }
    std::vector<std::pair<std::string, std::string>> lines;
};

class NumberTexts : public TextSource {
public:
    std::string Msg(int number) const override { return "M" + std::to_string(number); }
    std::string Text(int number) override { return "X" + std::to_string(number); }
};

class ClientRelayTest : public ::testing::Test {
protected:
    ClientRelayTest() { connections.sockets = {&alice, &bob}; }

    void Send(FakeSocket& client, const Bytes& request) {
        client.inbox.insert(client.inbox.end(), request.begin(), request.end());
        relay.ClientRead(client);
    }
    // What the reply dispatch does for a relayed request's reply.
    void ExchangeReplies(std::int32_t handle, const Bytes& request, const Bytes& reply) {
        relay.ReplyToClient(handle, reply, request[0]);
        cache.Store(request, reply);
        scheduler.idle = true;
    }
    std::string RequestText(const Bytes& r) const {
        return formatter.format(Direction::Request, r);
    }

    VirtualLoop loop;
    Settings settings;
    FakeLog log;
    NumberTexts texts;
    CommandFormatter formatter{texts};
    ReplyCache cache{110, [this] { return loop.now(); }};
    AccountingRecordList records;
    FakeScheduler scheduler;
    FakeStore store;
    FakeConnections connections;
    FakeSocket alice{7, "10.0.0.5"};
    FakeSocket bob{9, "10.0.0.6"};
    ClientRelay relay{
        {loop, settings, log, texts, formatter, cache, records, scheduler, store, connections}};
};

TEST_F(ClientRelayTest, LogsEveryRequestUnderTheClientsLabel) {
    Send(alice, {0, 24, 5});
    EXPECT_TRUE(log.Has("<IP:10.0.0.5:7", RequestText({0, 24, 5})));

    settings.TCPIP_In = 0;
    log.lines.clear();
    Send(bob, {0, 24, 6});
    EXPECT_FALSE(log.HasLabel("<IP:10.0.0.6:9"));
}

TEST_F(ClientRelayTest, LineStateSnapshotServesForThreeHundredMilliseconds) {
    const Bytes an = {0, 22, 0, 8, 0, 0, 1};
    store.an = an;
    store.anTime = loop.now();
    settings.TCPIP_Out = 1;
    loop.advance(300);

    Send(alice, {0, 22, 0});
    ASSERT_EQ(alice.sent.size(), 1u);
    EXPECT_EQ(alice.sent[0], an);
    EXPECT_TRUE(log.Has("<CCH", "M102"));
    EXPECT_TRUE(log.Has(">IP:10.0.0.5:7", "M102"));
    EXPECT_TRUE(scheduler.packets.empty());
    EXPECT_EQ(scheduler.anPollEnabled, 1);
    EXPECT_DOUBLE_EQ(relay.LastANRequest(), loop.now());

    loop.advance(1); // 301 ms: too old, the request goes on to the exchange
    Send(alice, {0, 22, 0});
    EXPECT_EQ(alice.sent.size(), 1u);
    ASSERT_EQ(scheduler.packets.size(), 1u);
    EXPECT_EQ(scheduler.packets[0].bytes, (Bytes{0, 22, 0}));
    EXPECT_EQ(scheduler.anPollEnabled, 2) << "the poll is kept on by every AN request";
}

TEST_F(ClientRelayTest, EmptySnapshotIsNeverServed) {
    store.anTime = loop.now();
    store.swTime = loop.now();
    Send(alice, {0, 22});
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_EQ(scheduler.packets.size(), 1u);
    scheduler.idle = true;
    Send(alice, {14});
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_EQ(scheduler.packets.size(), 2u);
}

TEST_F(ClientRelayTest, SwSnapshotServesForOnePollPeriod) {
    store.sw = {0, 1, 2, 3};
    store.swTime = loop.now();
    loop.advance(600);
    Send(bob, {14});
    ASSERT_EQ(bob.sent.size(), 1u);
    EXPECT_EQ(bob.sent[0], store.sw);
    EXPECT_TRUE(log.Has("<CCH", "M104"));
    EXPECT_FALSE(log.HasLabel(">IP:10.0.0.6:9")) << "TCP/IP_Out is off by default";
    EXPECT_EQ(scheduler.swPollEnabled, 1);

    loop.advance(1);
    Send(bob, {14, 0}); // any length
    EXPECT_EQ(bob.sent.size(), 1u);
    EXPECT_EQ(scheduler.packets.size(), 1u);
    EXPECT_EQ(scheduler.swPollEnabled, 2);
    EXPECT_DOUBLE_EQ(relay.LastSWRequest(), loop.now());
}

TEST_F(ClientRelayTest, AccountingRequestsFollowTheSwitches) {
    records.Add("REC 1");
    // SendUct 0: a lone 0x00, whatever ReadUct says.
    for (std::uint8_t readUct : {0, 1}) {
        settings.SendUct = 0;
        settings.ReadUct = readUct;
        alice.sent.clear();
        Send(alice, {4});
        Send(alice, {5});
        EXPECT_EQ(alice.sent, (std::vector<Bytes>{{0}, {0}})) << "ReadUct " << int(readUct);
    }
    EXPECT_TRUE(scheduler.packets.empty());
    // SendUct 1 with ReadUct 0: the exchange is asked instead.
    settings.SendUct = 1;
    settings.ReadUct = 0;
    Send(alice, {4});
    ASSERT_EQ(scheduler.packets.size(), 1u);
    EXPECT_EQ(scheduler.packets[0].bytes, (Bytes{4}));
}

TEST_F(ClientRelayTest, ClientWalksTheRecordsWithItsOwnCursor) {
    settings.SendUct = 1;
    settings.TCPIP_Out = 1;
    auto answer = [](std::string text) {
        Bytes b{0};
        b.insert(b.end(), text.begin(), text.end());
        return b;
    };
    Send(alice, {4});
    EXPECT_EQ(alice.sent.back(), (Bytes{0})) << "empty list";

    records.Add("REC 1");
    records.Add("REC 2");
    Send(alice, {4});
    EXPECT_EQ(alice.sent.back(), answer("REC 1"));
    EXPECT_TRUE(log.Has(">IP:10.0.0.5:7", "REC 1"));
    Send(alice, {5});
    EXPECT_EQ(alice.sent.back(), answer("REC 1"));
    Send(alice, {4});
    EXPECT_EQ(alice.sent.back(), answer("REC 2"));
    Send(alice, {4});
    EXPECT_EQ(alice.sent.back(), (Bytes{0})) << "nothing after the last";
    // Bob has a cursor of his own.
    Send(bob, {4});
    EXPECT_EQ(bob.sent.back(), answer("REC 1"));
    EXPECT_TRUE(scheduler.packets.empty());
}

TEST_F(ClientRelayTest, NewClientStartsAtTheOldestKeptRecord) {
    settings.SendUct = 1;
    for (int i = 0; i < 202; ++i) records.Add("REC " + std::to_string(i));
    Send(bob, {4});
    const std::string expected = std::string(1, '\0') + "REC 1";
    ASSERT_EQ(bob.sent.size(), 1u);
    EXPECT_EQ(std::string(bob.sent[0].begin(), bob.sent[0].end()), expected);
    EXPECT_EQ(bob.UserData(), 2);
}

TEST_F(ClientRelayTest, IdleLinkSendsAtOnceBusyLinkQueuesOnePerClient) {
    settings.Com_Out = 1;
    Send(alice, {1, 13, 0, 5});
    ASSERT_EQ(scheduler.recorded.size(), 1u);
    EXPECT_EQ(scheduler.recorded[0], (std::pair<std::int32_t, Bytes>{7, {1, 13, 0, 5}}));
    EXPECT_EQ(store.watched, (std::vector<Bytes>{{1, 13, 0, 5}}));
    ASSERT_EQ(scheduler.packets.size(), 1u);
    EXPECT_EQ(scheduler.packets[0].label, ">COM");
    EXPECT_EQ(scheduler.packets[0].text, RequestText({1, 13, 0, 5}));
    EXPECT_TRUE(scheduler.awaitingClient);
    EXPECT_TRUE(log.Has(">COM", RequestText({1, 13, 0, 5})));

    // The link is busy now: three from Alice leave her last, Bob adds one.
    Send(alice, {0, 30, 1});
    Send(bob, {0, 30, 2});
    Send(alice, {0, 30, 3});
    Send(alice, {0, 30, 4});
    EXPECT_EQ(scheduler.packets.size(), 1u);
    EXPECT_EQ(scheduler.recorded.size(), 1u);
    ASSERT_EQ(scheduler.queue.size(), 2u);
    EXPECT_EQ(scheduler.queue[0], (std::pair<std::int32_t, Bytes>{9, {0, 30, 2}}));
    EXPECT_EQ(scheduler.queue[1], (std::pair<std::int32_t, Bytes>{7, {0, 30, 4}}));
}

TEST_F(ClientRelayTest, DirectSendIsLoggedOnceWhateverTheSwitches) {
    // With Com_LocOut on the packet sender logs it; the relay must not again.
    settings.Com_Out = 1;
    settings.Com_LocOut = 1;
    Send(alice, {0, 30, 1});
    EXPECT_FALSE(log.HasLabel(">COM"));
    settings.Com_Out = 0;
    settings.Com_LocOut = 0;
    scheduler.idle = true;
    Send(alice, {0, 30, 2});
    EXPECT_FALSE(log.HasLabel(">COM"));
    EXPECT_EQ(scheduler.packets.size(), 2u);
}

TEST_F(ClientRelayTest, RepeatedQueryIsAnsweredFromTheCacheWithinItsLifetime) {
    const Bytes request = {0, 24, 5};
    const Bytes reply = {0, 24, 5, 1, 2, 3};
    Send(alice, request);
    ExchangeReplies(7, request, reply);
    EXPECT_EQ(alice.sent.back(), reply);

    settings.TCPIP_Out = 1;
    loop.advance(59999);
    Send(bob, {0, 24}); // a shorter request finds the longer stored one
    ASSERT_EQ(bob.sent.size(), 1u);
    EXPECT_EQ(bob.sent[0], reply);
    const std::string text = formatter.format(Direction::Request, reply);
    EXPECT_TRUE(log.Has("<CCH", text));
    EXPECT_TRUE(log.Has(">IP:10.0.0.6:9", text));
    EXPECT_EQ(scheduler.packets.size(), 1u);

    loop.advance(1); // lifetime of sub-command 24 is over
    Send(bob, request);
    EXPECT_EQ(bob.sent.size(), 1u);
    EXPECT_EQ(scheduler.packets.size(), 2u);
}

TEST_F(ClientRelayTest, ReplyGoesToItsClientWithFollowUps) {
    settings.TCPIP_Out = 1;
    cache.Store(Bytes{0, 2, 0}, Bytes{0, 2, 0});
    ASSERT_TRUE(relay.ReplyToClient(9, Bytes{0, 7}, 1));
    EXPECT_EQ(bob.sent, (std::vector<Bytes>{{0, 7}}));
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_EQ(cache.Count(), 0u) << "a change request flushes the cache";
    const std::string text = formatter.format(Direction::Reply, Bytes{0, 7}, 1);
    EXPECT_TRUE(log.Has("<COM", text));
    EXPECT_TRUE(log.Has(">IP:10.0.0.6:9", text));

    relay.ReplyToClient(7, Bytes{0, 1, 2, 3}, 2);
    EXPECT_EQ(store.infoReplies, (std::vector<Bytes>{{0, 1, 2, 3}}));
    relay.ReplyToClient(7, Bytes{0, 9, 9}, 13);
    EXPECT_EQ(store.configReplies, (std::vector<Bytes>{{0, 9, 9}}));
    relay.ReplyToClient(7, Bytes{0, 5}, 0);
    EXPECT_EQ(store.infoReplies.size(), 1u);
    EXPECT_EQ(store.configReplies.size(), 1u);
    EXPECT_EQ(alice.sent.size(), 3u);
}

TEST_F(ClientRelayTest, ReplyForAGoneClientIsDropped) {
    cache.Store(Bytes{0, 2, 0}, Bytes{0, 2, 0});
    Send(alice, {1, 13, 0});
    connections.sockets = {&bob}; // Alice hung up meanwhile
    log.lines.clear();
    EXPECT_FALSE(relay.FindClient(7));
    EXPECT_TRUE(relay.FindClient(9));
    EXPECT_FALSE(relay.ReplyToClient(7, Bytes{0, 1}, 1));
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_TRUE(bob.sent.empty());
    EXPECT_EQ(cache.Count(), 1u) << "nothing follows for a gone client";
}

TEST_F(ClientRelayTest, OverlongRequestIsDrainedAndDroppedWhole) {
    Bytes big(600, 0);
    big[0] = 1;
    big[1] = 24;
    Send(alice, big);
    EXPECT_TRUE(alice.inbox.empty()) << "no tail left for the next notification";
    EXPECT_GE(alice.reads, 2) << "never more than the buffer at once";
    EXPECT_TRUE(scheduler.packets.empty());
    EXPECT_TRUE(scheduler.queue.empty());
    EXPECT_TRUE(alice.sent.empty());
    ASSERT_TRUE(log.HasLabel("!Err"));
    EXPECT_NE(log.lines.back().second.find("600"), std::string::npos);

    // The next request of normal size is handled as usual, up to the full buffer.
    Bytes full(500, 0);
    full[0] = 1;
    Send(alice, full);
    ASSERT_EQ(scheduler.packets.size(), 1u);
    EXPECT_EQ(scheduler.packets[0].bytes, full);
}

TEST_F(ClientRelayTest, NothingPendingDoesNothing) {
    relay.ClientRead(alice);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(scheduler.packets.empty());
}

} // namespace
} // namespace vantor

namespace vantor {
namespace {

// Whatever a client sends, of whatever length, under any log and accounting
// switches: the relay answers, forwards or drops it without touching memory it
// does not own (run under the sanitizers) and never forwards more than the
// receive buffer.
TEST_F(ClientRelayTest, ArbitraryInputNeverBreaksTheRelay) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    records.Add("REC 1");
    store.an = {0, 22, 0, 8, 0, 0, 1};
    store.sw = {0, 1};
    for (int round = 0; round < 3000; ++round) {
        settings.SendUct = next() & 1;
        settings.ReadUct = next() & 1;
        settings.TCPIP_Out = next() & 1;
        settings.Com_In = next() & 1;
        scheduler.idle = (next() & 3) == 0;
        if (next() % 50 == 0) loop.advance(next() % 2000);
        const std::size_t length = 1 + next() % 700;
        Bytes request(length);
        for (auto& b : request) b = static_cast<std::uint8_t>(next());
        // Favour the commands with local answers.
        const std::uint8_t firsts[] = {0, 4, 5, 14, 1, 2, 13};
        request[0] = firsts[next() % 7];
        if (length > 1 && (next() & 1)) request[1] = 22;
        FakeSocket& client = (next() & 1) ? alice : bob;
        Send(client, request);
        EXPECT_TRUE(client.inbox.empty());
        if (next() % 4 == 0) {
            relay.ReplyToClient(client.Handle(), request, request[0]);
            cache.Store(request, request);
        }
    }
    for (auto& packet : scheduler.packets)
        EXPECT_LE(packet.bytes.size(), ClientRelay::ReceiveBufferSize);
    for (auto& entry : scheduler.queue)
        EXPECT_LE(entry.second.size(), ClientRelay::ReceiveBufferSize);
}

} // namespace
} // namespace vantor
