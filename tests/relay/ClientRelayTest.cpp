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

#include "Recorders.h"
#include "exchange/CommandFormatter.h"
#include "relay/ReplyCache.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"
#include "toolkit/VirtualLoop.h"

namespace vantor {
namespace {

using namespace vantor::test;

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

// The link as the relay hands it requests.
class FakeLink : public ClientRequestSink {
public:
    void SubmitClientRequest(std::int32_t handle, std::span<const std::uint8_t> r) override {
        submitted.emplace_back(handle, Bytes(r.begin(), r.end()));
    }
    void ClientAskedForLineStates() override { ++lineStateAsks; }
    void ClientAskedForSW() override { ++swAsks; }
    std::vector<std::pair<std::int32_t, Bytes>> submitted;
    int lineStateAsks = 0, swAsks = 0;
};

class FakeStore : public RelayStore {
public:
    Snapshot ANSnapshot() const override { return {an, anTime, anCut}; }
    Snapshot SWSnapshot() const override { return {sw, swTime, swCut}; }
    bool DecodeInfoReply(std::span<const std::uint8_t> r) override {
        infoReplies.emplace_back(r.begin(), r.end());
        return changes;
    }
    bool DecodeConfigurationReply(std::span<const std::uint8_t> r) override {
        configReplies.emplace_back(r.begin(), r.end());
        return changes;
    }
    Bytes an, sw;
    TDateTime anTime = 0, swTime = 0;
    std::size_t anCut = 0, swCut = 0; // the exchange's reply was this long
    bool changes = false;             // whether a decoded reply changes the exchange's picture
    std::vector<Bytes> infoReplies, configReplies;
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
    }
    std::string RequestText(const Bytes& r) const {
        return formatter.format(Direction::Request, r);
    }

    VirtualLoop loop;
    Settings settings;
    RecordingLog log;
    NumberTexts texts;
    CommandFormatter formatter{texts};
    ReplyCache cache{110, [this] { return loop.now(); }};
    AccountingRecordList records;
    FakeLink link;
    FakeStore store;
    FakeConnections connections;
    FakeSocket alice{7, "10.0.0.5"};
    FakeSocket bob{9, "10.0.0.6"};
    ClientRelay relay{{loop, settings, settings, log, texts, formatter, cache, records, link, store,
                       connections}};
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
    EXPECT_TRUE(log.Has("<CCH", "[102]"));
    EXPECT_TRUE(log.Has(">IP:10.0.0.5:7", "[102]"));
    EXPECT_TRUE(link.submitted.empty());
    EXPECT_EQ(link.lineStateAsks, 1);

    loop.advance(1); // 301 ms: too old, the request goes on to the exchange
    Send(alice, {0, 22, 0});
    EXPECT_EQ(alice.sent.size(), 1u);
    ASSERT_EQ(link.submitted.size(), 1u);
    EXPECT_EQ(link.submitted[0].second, (Bytes{0, 22, 0}));
    EXPECT_EQ(link.lineStateAsks, 2) << "the poll is kept on by every AN request";
}

TEST_F(ClientRelayTest, EmptyOrCutSnapshotIsNeverServed) {
    store.anTime = loop.now();
    store.swTime = loop.now();
    Send(alice, {0, 22});
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_EQ(link.submitted.size(), 1u);
    Send(alice, {14});
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_EQ(link.submitted.size(), 2u);

    // Fresh, but only the beginning of a longer reply: reported once per kind.
    store.an = {0, 22, 0, 8};
    store.anCut = 300;
    store.sw = {0, 1};
    store.swCut = 14;
    for (int i = 0; i < 2; ++i) {
        Send(alice, {0, 22});
        Send(alice, {14});
    }
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_EQ(link.submitted.size(), 6u);
    EXPECT_EQ(log.CountLabel("!Err"), 2);
    EXPECT_TRUE(log.Has("!Err", "[183]300 > 4"));
    EXPECT_TRUE(log.Has("!Err", "[184]14 > 2"));
}

TEST_F(ClientRelayTest, SwSnapshotServesForOnePollPeriod) {
    store.sw = {0, 1, 2, 3};
    store.swTime = loop.now();
    loop.advance(600);
    Send(bob, {14});
    ASSERT_EQ(bob.sent.size(), 1u);
    EXPECT_EQ(bob.sent[0], store.sw);
    EXPECT_TRUE(log.Has("<CCH", "[104]"));
    EXPECT_FALSE(log.HasLabel(">IP:10.0.0.6:9")) << "TCP/IP_Out is off by default";
    EXPECT_EQ(link.swAsks, 1);

    loop.advance(1);
    Send(bob, {14, 0}); // any length
    EXPECT_EQ(bob.sent.size(), 1u);
    EXPECT_EQ(link.submitted.size(), 1u);
    EXPECT_EQ(link.swAsks, 2);
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
    EXPECT_TRUE(link.submitted.empty());
    // SendUct 1 with ReadUct 0: the exchange is asked instead.
    settings.SendUct = 1;
    settings.ReadUct = 0;
    Send(alice, {4});
    ASSERT_EQ(link.submitted.size(), 1u);
    EXPECT_EQ(link.submitted[0].second, (Bytes{4}));
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
    EXPECT_TRUE(link.submitted.empty());
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

TEST_F(ClientRelayTest, RequestsNotAnsweredHereGoToTheLinkInTheirOrder) {
    Send(alice, {1, 13, 0, 5});
    Send(alice, {0, 30, 1});
    Send(bob, {0, 30, 2});
    EXPECT_EQ(link.submitted, (std::vector<std::pair<std::int32_t, Bytes>>{
                                  {7, {1, 13, 0, 5}}, {7, {0, 30, 1}}, {9, {0, 30, 2}}}));
    // The relay itself logs only the request as it came.
    EXPECT_FALSE(log.HasLabel(">COM"));
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
    EXPECT_EQ(link.submitted.size(), 1u);

    loop.advance(1); // lifetime of sub-command 24 is over
    Send(bob, request);
    EXPECT_EQ(bob.sent.size(), 1u);
    EXPECT_EQ(link.submitted.size(), 2u);
}

TEST_F(ClientRelayTest, ReplyGoesToItsClientWithFollowUps) {
    settings.TCPIP_Out = 1;
    cache.Store(Bytes{0, 2, 0}, Bytes{0, 2, 0});
    relay.ReplyToClient(9, Bytes{0, 7}, 1);
    EXPECT_EQ(bob.sent, (std::vector<Bytes>{{0, 7}}));
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_EQ(cache.Count(), 0u) << "a change request flushes the cache";
    const std::string text = formatter.format(Direction::Reply, Bytes{0, 7}, 1);
    EXPECT_TRUE(log.Has("<COM", text));
    EXPECT_TRUE(log.Has(">IP:10.0.0.6:9", text));

    cache.Store(Bytes{0, 2, 0}, Bytes{0, 2, 0});
    relay.ReplyToClient(7, Bytes{0, 1, 2, 3}, 2);
    EXPECT_EQ(store.infoReplies, (std::vector<Bytes>{{0, 1, 2, 3}}));
    EXPECT_EQ(cache.Count(), 1u) << "an unchanged exchange keeps the cache";
    store.changes = true;
    relay.ReplyToClient(7, Bytes{0, 9, 9}, 13);
    EXPECT_EQ(store.configReplies, (std::vector<Bytes>{{0, 9, 9}}));
    EXPECT_EQ(cache.Count(), 0u) << "a changed one flushes it";
    relay.ReplyToClient(7, Bytes{0, 5}, 0);
    EXPECT_EQ(store.infoReplies.size(), 1u);
    EXPECT_EQ(store.configReplies.size(), 1u);
    EXPECT_EQ(alice.sent.size(), 3u);
}

TEST_F(ClientRelayTest, ReplyForAGoneClientIsDroppedButWhatTheExchangeDidStillCounts) {
    cache.Store(Bytes{0, 2, 0}, Bytes{0, 2, 0});
    Send(alice, {1, 13, 0});
    connections.sockets = {&bob}; // Alice hung up meanwhile
    log.lines.clear();
    EXPECT_FALSE(relay.FindClient(7));
    EXPECT_TRUE(relay.FindClient(9));
    relay.ReplyToClient(7, Bytes{0, 1}, 1);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_TRUE(bob.sent.empty());
    EXPECT_EQ(cache.Count(), 0u) << "the write was carried out all the same";
    relay.ReplyToClient(7, Bytes{0, 9, 9}, 13);
    EXPECT_EQ(store.configReplies, (std::vector<Bytes>{{0, 9, 9}}));

    // A write flushes as it goes out, so one whose reply never comes leaves
    // no answer from before it; a query does not.
    cache.Store(Bytes{0, 2, 0}, Bytes{0, 2, 0});
    relay.ClientRequestSent(Bytes{0, 2, 0});
    EXPECT_EQ(cache.Count(), 1u);
    relay.ClientRequestSent(Bytes{1, 13, 0});
    EXPECT_EQ(cache.Count(), 0u);
}

TEST_F(ClientRelayTest, OverlongRequestIsDrainedAndDroppedWhole) {
    Bytes big(600, 0);
    big[0] = 1;
    big[1] = 24;
    Send(alice, big);
    EXPECT_TRUE(alice.inbox.empty()) << "no tail left for the next notification";
    EXPECT_GE(alice.reads, 2) << "never more than the buffer at once";
    EXPECT_TRUE(link.submitted.empty());
    EXPECT_TRUE(alice.sent.empty());
    ASSERT_TRUE(log.HasLabel("!Err"));
    EXPECT_NE(log.lines.back().text.find("600"), std::string::npos);

    // The next request of normal size is handled as usual, up to the full buffer.
    Bytes full(500, 0);
    full[0] = 1;
    Send(alice, full);
    ASSERT_EQ(link.submitted.size(), 1u);
    EXPECT_EQ(link.submitted[0].second, full);
}

TEST_F(ClientRelayTest, NothingPendingDoesNothing) {
    relay.ClientRead(alice);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(link.submitted.empty());
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
    for (auto& entry : link.submitted)
        EXPECT_LE(entry.second.size(), ClientRelay::ReceiveBufferSize);
}

} // namespace
} // namespace vantor
