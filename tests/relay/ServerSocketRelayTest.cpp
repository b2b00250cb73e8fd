// The relay on the listening-socket component: status texts and silenced
// errors with a component double, then whole requests over real TCP
// connections on 127.0.0.1.
#include "relay/ServerSocketRelay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accounting/AccountingRecordList.h"
#include "core/Settings.h"
#include "exchange/CommandFormatter.h"
#ifdef _WIN32
#include "platform/win32/Win32Loop.h"
#include "platform/win32/Win32ServerSocket.h"
#else
#include "platform/PollLoop.h"
#include "platform/PosixServerSocket.h"
#endif
#include "relay/ClientRelay.h"
#include "relay/ReplyCache.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

#include "FakeServerSocket.h"
#include "Recorders.h"
#include "TestSockets.h"

namespace vantor {
namespace {

using namespace vantor::test;

#ifdef _WIN32
using RealLoop = Win32Loop;
#else
using RealLoop = PollLoop;
#endif

// The link as the relay hands it requests.
class SubmittedRequests : public ClientRequestSink {
public:
    void SubmitClientRequest(std::int32_t handle, std::span<const std::uint8_t> r) override {
        submitted.emplace_back(handle, Bytes(r.begin(), r.end()));
    }
    void ClientAskedForLineStates() override {}
    void ClientAskedForSW() override {}
    std::vector<std::pair<std::int32_t, Bytes>> submitted;
};

class NoStore : public RelayStore {
public:
    Snapshot ANSnapshot() const override { return {}; }
    Snapshot SWSnapshot() const override { return {}; }
    bool DecodeInfoReply(std::span<const std::uint8_t>) override { return false; }
    bool DecodeConfigurationReply(std::span<const std::uint8_t>) override { return false; }
};

TEST(ServerSocketRelay, OpeningReportsOnTheLog) {
    FakeServerSocket server;
    RecordingLog log;
    NumberTexts texts;
    ServerSocketRelay relay(server, log, texts);
    EXPECT_TRUE(relay.Open(1234));
    EXPECT_EQ(server.Port(), 1234);
    EXPECT_EQ(log.lines.back(), (LogLine{"-OK-", "[119]"}));
    relay.Close();
    EXPECT_FALSE(server.Active());

    server.refuse = true;
    EXPECT_FALSE(relay.Open(1234));
    EXPECT_EQ(log.lines.back().label, "!Err");
    EXPECT_EQ(log.lines.back().text.rfind("[121]", 0), 0u);
    EXPECT_NE(log.lines.back().text.find("Address already in use"), std::string::npos);
}

TEST(ServerSocketRelay, NotificationsShowOnTheStatusLineAndErrorsAreSilenced) {
    FakeServerSocket server;
    RecordingLog log;
    NumberTexts texts;
    ServerSocketRelay binding(server, log, texts);
    Settings settings;
    CommandFormatter formatter(texts);
    ReplyCache cache(0, [] { return 0.0; });
    AccountingRecordList records;
    SubmittedRequests link;
    NoStore store;
    RealLoop loop;
    ClientRelay relay(
        {loop, settings, settings, log, texts, formatter, cache, records, link, store, binding});
    server.Connect(11, "192.168.1.20");
    FakeClientSocket& b = server.Connect(12, "192.168.1.20");
    binding.Attach(relay);

    server.OnListen(&server, nullptr);
    EXPECT_EQ(log.status, "OnListen");
    server.OnAccept(&server, nullptr);
    EXPECT_EQ(log.status, "OnAccept");
    server.OnGetSocket(&server, 12);
    EXPECT_EQ(log.status, "OnGetSocket");
    server.OnClientConnect(&server, &b);
    EXPECT_EQ(log.status, "OnClientConnect 192.168.1.20");
    server.OnClientWrite(&server, &b);
    EXPECT_EQ(log.status, "OnClientWrite");
    int code = 10054;
    server.OnClientError(&server, &b, eeReceive, code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(log.status, "OnClientError");
    server.OnClientDisconnect(&server, &b);
    EXPECT_EQ(log.status, "OnClientDisconnect 192.168.1.20");
    EXPECT_TRUE(log.lines.empty());

    EXPECT_TRUE(relay.FindClient(12));
    EXPECT_FALSE(relay.FindClient(13));
    server.clients.pop_back();
    EXPECT_FALSE(relay.FindClient(12));
}

// ---- over real sockets ----

class Store : public NoStore {
public:
    Snapshot ANSnapshot() const override { return {an, anTime}; }
    Bytes an;
    TDateTime anTime = 0;
};

class TcpClient {
public:
    explicit TcpClient(int port) : fd_(ConnectLoopback(port)) {}
    ~TcpClient() {
        if (fd_ >= 0) CloseSocket(fd_);
    }
    bool Connected() const { return fd_ >= 0; }
    void Send(const Bytes& bytes) {
        ASSERT_EQ(SendSome(fd_, bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
    }
    // Whatever has arrived, without waiting.
    Bytes Available() {
        Bytes out;
        std::uint8_t buffer[2048];
        for (long n; (n = ReceiveNow(fd_, buffer, sizeof buffer)) > 0;)
            out.insert(out.end(), buffer, buffer + n);
        return out;
    }

private:
    int fd_ = -1;
};

class RealSocketRelay : public ::testing::Test {
protected:
    RealSocketRelay() {
        binding.Attach(relay);
        EXPECT_TRUE(binding.Open(0));
        port = server.LocalPort();
    }
    // Runs the loop until `done` holds; the limit only keeps a broken build
    // from hanging the suite.
    template <class Pred>
    bool RunUntil(Pred done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit) return false;
            loop.processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    RealLoop loop;
    RecordingLog log;
    NumberTexts texts;
    Settings settings;
    CommandFormatter formatter{texts};
    ReplyCache cache{110, [this] { return loop.now(); }};
    AccountingRecordList records;
    SubmittedRequests link;
    Store store;
    std::unique_ptr<TServerSocket> serverOwner = MakeServerSocket(nullptr, loop);
    TServerSocket& server = *serverOwner;
    ServerSocketRelay binding{server, log, texts};
    ClientRelay relay{
        {loop, settings, settings, log, texts, formatter, cache, records, link, store, binding}};
    int port = 0;
};

TEST_F(RealSocketRelay, RequestGoesOutAndTheReplyComesBackToItsClient) {
    TcpClient alice(port), bob(port);
    ASSERT_TRUE(alice.Connected());
    ASSERT_TRUE(bob.Connected());
    ASSERT_TRUE(RunUntil([&] { return server.ActiveConnections() == 2; }));

    alice.Send({0, 24, 5});
    ASSERT_TRUE(RunUntil([&] { return link.submitted.size() == 1; }));
    EXPECT_EQ(link.submitted[0].second, (Bytes{0, 24, 5}));
    bob.Send({0, 24, 6});
    ASSERT_TRUE(RunUntil([&] { return link.submitted.size() == 2; }));
    EXPECT_NE(link.submitted[1].first, link.submitted[0].first) << "two clients, two handles";

    // The exchange's reply reaches Alice only.
    const Bytes reply = {0, 24, 5, 9, 9};
    relay.ReplyToClient(link.submitted[0].first, reply, 0);
    Bytes got;
    ASSERT_TRUE(RunUntil([&] {
        auto more = alice.Available();
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= reply.size();
    }));
    EXPECT_EQ(got, reply);
    EXPECT_TRUE(bob.Available().empty());
}

TEST_F(RealSocketRelay, LocalAnswersAndAGoneClient) {
    auto client = std::make_unique<TcpClient>(port);
    ASSERT_TRUE(RunUntil([&] { return server.ActiveConnections() == 1; }));
    const int handle = server.Connections(0)->SocketHandle();

    client->Send({4}); // SendUct is 0 by default: a lone 0x00
    Bytes got;
    ASSERT_TRUE(RunUntil([&] {
        got = client->Available();
        return !got.empty();
    }));
    EXPECT_EQ(got, (Bytes{0}));

    client.reset(); // hangs up
    ASSERT_TRUE(RunUntil([&] { return server.ActiveConnections() == 0; }));
    EXPECT_FALSE(relay.FindClient(handle));
    relay.ReplyToClient(handle, Bytes{0, 1}, 0); // nobody to send it to
    EXPECT_EQ(log.status.rfind("OnClientDisconnect", 0), 0u);
}

} // namespace
} // namespace vantor

namespace vantor {
namespace {

using namespace vantor::test;

TEST(ServerSocketRelay, ClientsOutsideTheAllowListAreClosedAndLoggedOncePerMinute) {
    FakeServerSocket server;
    RecordingLog log;
    NumberTexts texts;
    ServerSocketRelay binding(server, log, texts);
    std::vector<std::string> errors;
    std::int64_t now = 0;
    binding.SetAccess(ClientAccessList::Parse("10.0.0.0/8", errors), [&now] { return now; });
    server.OnClientConnect = [&](TObject* s, TCustomWinSocket* c) {
        binding.ServerSocket1ClientConnect(s, c);
    };
    EXPECT_TRUE(server.Connect(1, "10.1.2.3").Connected());
    EXPECT_FALSE(server.Connect(2, "192.168.1.20").Connected());
    EXPECT_FALSE(server.Connect(3, "192.168.1.20").Connected());
    EXPECT_EQ(log.CountLabel("!Err"), 1);
    now = 60000;
    EXPECT_FALSE(server.Connect(4, "192.168.1.20").Connected());
    EXPECT_EQ(log.CountLabel("!Err"), 2);
}

TEST(ServerSocketRelay, ConnectionsOverTheLimitsAreLoggedOncePerMinuteWithACount) {
    FakeServerSocket server;
    RecordingLog log;
    NumberTexts texts;
    ServerSocketRelay binding(server, log, texts);
    std::int64_t now = 0;
    binding.SetAccess({}, [&now] { return now; });
    server.SetMaxConnections(1000);
    for (int i = 0; i < 3; ++i) binding.ClientRefused(&server, "10.0.0.9", TRefusal::Limit);
    now = 59999;
    binding.ClientRefused(&server, "10.0.0.9", TRefusal::Limit);
    now = 60000;
    binding.ClientRefused(&server, "10.0.0.9", TRefusal::Descriptors);
    EXPECT_EQ(log.lines,
              (std::vector<LogLine>{{"!Err", "[180]1000[182]1"}, {"!Err", "[181][182]4"}}));
}

} // namespace
} // namespace vantor
