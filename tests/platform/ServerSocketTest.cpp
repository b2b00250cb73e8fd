#include "platform/PollLoop.h"
#include "platform/PosixServerSocket.h"
#include "platform/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantor {
namespace {

int CountOpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

class ServerSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        IgnoreSigPipe();
        fdsBefore = CountOpenDescriptors();
        server = std::make_unique<PosixServerSocket>(nullptr, loop);
        server->OnListen = [&](TObject*, TCustomWinSocket*) { events.push_back("listen"); };
        server->OnAccept = [&](TObject*, TCustomWinSocket*) { events.push_back("accept"); };
        server->OnGetSocket = [&](TObject*, int) { events.push_back("getsocket"); };
        server->OnClientConnect = [&](TObject*, TCustomWinSocket* s) {
            events.push_back("connect " + s->RemoteAddress());
        };
        server->OnClientDisconnect = [&](TObject*, TCustomWinSocket* s) {
            events.push_back("disconnect " + s->RemoteAddress());
        };
        server->OnClientError = [&](TObject*, TCustomWinSocket*, TErrorEvent e, int& code) {
            events.push_back("error " + std::to_string(int(e)));
            lastError = code;
            code = 0; // as the gateway does
        };
        server->OnClientWrite = [&](TObject*, TCustomWinSocket*) { events.push_back("write"); };
        server->SetPort(0);
        server->Open();
    }

    void TearDown() override {
        for (int fd : clients)
            if (fd >= 0) ::close(fd);
        server.reset();
        loop.processEvents();
        EXPECT_EQ(CountOpenDescriptors(), fdsBefore) << "descriptor leak";
    }

    int Connect(int receiveBuffer = 0) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_GE(fd, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(server->LocalPort()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0)
            << std::strerror(errno);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        clients.push_back(fd);
        return fd;
    }

    void Drop(int fd) {
        ::close(fd);
        for (int& c : clients)
            if (c == fd) c = -1;
    }

    // Runs the loop until cond holds; the bound only stops a broken test
    // from hanging, it is not a time limit on the code.
    bool PumpUntil(const std::function<bool()>& cond, int rounds = 10000) {
        for (int i = 0; i < rounds; ++i) {
            if (cond()) return true;
            loop.processEvents();
            ::poll(nullptr, 0, 1);
        }
        return cond();
    }

    std::string ReadAll(int fd) {
        std::string got;
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Waits for exactly `want` bytes on a client.
    std::string Receive(int fd, std::size_t want) {
        std::string got;
        PumpUntil([&] {
            got += ReadAll(fd);
            return got.size() >= want;
        });
        return got;
    }

    bool PeerClosed(int fd) {
        char buf[65536];
        return PumpUntil([&] {
            for (;;) { // whatever was sent before the close comes first
                const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) continue;
                return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            }
        });
    }

    PollLoop loop;
    std::unique_ptr<PosixServerSocket> server;
    std::vector<std::string> events;
    std::vector<int> clients;
    int lastError = 0;
    int fdsBefore = 0;
};

TEST_F(ServerSocketTest, ListensOnAnEphemeralPortAndRefusesAPortInUse) {
    EXPECT_TRUE(server->Active());
    EXPECT_GT(server->LocalPort(), 0);
    EXPECT_EQ(events, std::vector<std::string>{"listen"});
    EXPECT_THROW(server->SetPort(1), ESocketError);
    EXPECT_NO_THROW(server->Open()); // already open: nothing happens
    EXPECT_EQ(events.size(), 1u);

    PosixServerSocket second(nullptr, loop);
    second.SetPort(server->LocalPort());
    try {
        second.Open();
        FAIL() << "a second listener on the same port";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.ErrorCode(), EADDRINUSE);
        EXPECT_NE(std::string(e.what()).find("bind"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(second.Active());

    const int port = server->LocalPort();
    server->Close();
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(server->LocalPort(), 0);
    second.Open(); // the port is free again at once
    EXPECT_EQ(second.LocalPort(), port);
    second.Close();
}

TEST_F(ServerSocketTest, ConnectReadAndReplyWithThePerConnectionDataWord) {
    std::string request;
    server->OnClientRead = [&](TObject*, TCustomWinSocket* s) {
        const int n = s->ReceiveLength();
        std::vector<char> buf(static_cast<std::size_t>(n));
        const int got = s->ReceiveBuf(buf.data(), n);
        request.assign(buf.data(), static_cast<std::size_t>(got));
        s->Data += 1; // e.g. a cursor of the client's own
        const std::string reply = std::string("\x00", 1) + "reply" + std::to_string(s->Data);
        EXPECT_EQ(s->SendText(reply), static_cast<int>(reply.size()));
    };
    const int c = Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    EXPECT_EQ(events,
              (std::vector<std::string>{"listen", "accept", "getsocket", "connect 127.0.0.1"}));
    TCustomWinSocket* s = server->Connections(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(server->Connections(1), nullptr);
    EXPECT_EQ(server->Connections(-1), nullptr);
    EXPECT_EQ(s->RemoteAddress(), "127.0.0.1");
    EXPECT_EQ(s->Data, 0);
    EXPECT_TRUE(s->Connected());

    const std::string payload("\x00\x16\x00", 3);
    ASSERT_EQ(::send(c, payload.data(), payload.size(), 0), 3);
    EXPECT_EQ(Receive(c, 7), std::string("\x00reply1", 7));
    EXPECT_EQ(request, payload);
    ASSERT_EQ(::send(c, "\x04", 1, 0), 1);
    EXPECT_EQ(Receive(c, 7), std::string("\x00reply2", 7));
    EXPECT_EQ(request, "\x04");
}

TEST_F(ServerSocketTest, LongInputMayBeTakenInPartsAndUnreadInputIsNotSpunOn) {
    std::vector<std::size_t> parts;
    bool ignore = false;
    server->OnClientRead = [&](TObject*, TCustomWinSocket* s) {
        if (ignore) {
            parts.push_back(0);
            return;
        }
        char buf[500];
        parts.push_back(static_cast<std::size_t>(s->ReceiveBuf(buf, sizeof buf)));
    };
    const int c = Connect();
    const std::string big(1200, 'q');
    ASSERT_EQ(::send(c, big.data(), big.size(), 0), 1200);
    ASSERT_TRUE(PumpUntil([&] {
        std::size_t sum = 0;
        for (auto p : parts) sum += p;
        return sum == 1200;
    }));
    for (auto p : parts) EXPECT_LE(p, 500u);
    EXPECT_GE(parts.size(), 3u);

    // A handler that reads nothing gets one notification; the bytes go.
    ignore = true;
    parts.clear();
    ASSERT_EQ(::send(c, "abc", 3, 0), 3);
    ASSERT_TRUE(PumpUntil([&] { return !parts.empty(); }));
    for (int i = 0; i < 20; ++i) loop.processEvents();
    EXPECT_EQ(parts.size(), 1u);
    EXPECT_EQ(server->Connections(0)->ReceiveLength(), 0);
}

TEST_F(ServerSocketTest, AVanishingClientIsRemovedAndItsHandleIsNotReusedAtOnce) {
    const int a = Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    const int handleA = server->Connections(0)->SocketHandle();
    Drop(a);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 0; }));
    EXPECT_EQ(events.back(), "disconnect 127.0.0.1");

    // The next client may well get the same descriptor; its handle differs,
    // so a reply still owed to the first client cannot reach it.
    Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    EXPECT_NE(server->Connections(0)->SocketHandle(), handleA);

    // A reset connection goes the same way.
    const int b = Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 2; }));
    linger hard{1, 0};
    ::setsockopt(b, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Drop(b);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    EXPECT_EQ(events.back(), "disconnect 127.0.0.1");
}

TEST_F(ServerSocketTest, ClosingInsideAHandlerKeepsTheObjectValidUntilItReturns) {
    std::string addressAfterClose;
    bool connectedAfterClose = true;
    server->OnClientRead = [&](TObject*, TCustomWinSocket* s) {
        char buf[16];
        s->ReceiveBuf(buf, sizeof buf);
        s->SendText("bye");
        s->Close();
        s->Close(); // twice is harmless
        addressAfterClose = s->RemoteAddress();
        connectedAfterClose = s->Connected();
        EXPECT_EQ(s->SendText("late"), -1);
        EXPECT_EQ(s->ReceiveBuf(buf, sizeof buf), 0);
    };
    const int c = Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    ASSERT_EQ(::send(c, "x", 1, 0), 1);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 0; }));
    EXPECT_EQ(addressAfterClose, "127.0.0.1");
    EXPECT_FALSE(connectedAfterClose);
    int disconnects = 0;
    for (auto& e : events) disconnects += e.rfind("disconnect", 0) == 0;
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(Receive(c, 3), "bye"); // sent before the close
    EXPECT_TRUE(PeerClosed(c));
}

TEST_F(ServerSocketTest, HeldBackDataIsSentLaterAndAClientThatStopsReadingIsDropped) {
    const int slow = Connect(4096);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    TCustomWinSocket* s = server->Connections(0);
    // Fill the system's buffers until the component has to hold data back.
    std::string sent;
    std::string chunk(8192, '\0');
    for (int i = 0; i < 4000 && s->PendingSendBytes() == 0; ++i) {
        for (std::size_t k = 0; k < chunk.size(); ++k)
            chunk[k] = static_cast<char>('a' + (i + k) % 26);
        ASSERT_EQ(s->SendText(chunk), static_cast<int>(chunk.size()));
        sent += chunk;
    }
    ASSERT_GT(s->PendingSendBytes(), 0u);
    ASSERT_LE(s->PendingSendBytes(), server->SendBacklogLimit());
    const auto writesBefore = std::count(events.begin(), events.end(), "write");
    // The client reads again: everything arrives, in order, and the
    // component says it may write.
    EXPECT_EQ(Receive(slow, sent.size()), sent);
    ASSERT_TRUE(PumpUntil(
        [&] { return std::count(events.begin(), events.end(), "write") > writesBefore; }));
    EXPECT_EQ(s->PendingSendBytes(), 0u);

    // Now a client that never reads.
    std::size_t reported = 0;
    server->OnBacklogExceeded = [&](TObject*, TCustomWinSocket*, std::size_t unsent) {
        reported = unsent;
        events.push_back("backlog");
    };
    const int stuck = Connect(4096);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 2; }));
    TCustomWinSocket* t = server->Connections(1);
    int result = 0;
    std::size_t taken = 0; // what the component took for the stuck client before it gave up
    for (int i = 0; i < 4000 && result >= 0; ++i) {
        result = t->SendText(chunk);
        if (result > 0) taken += static_cast<std::size_t>(result);
        loop.processEvents(); // the system grows a socket's buffers as time goes by
    }
    EXPECT_EQ(result, -1);
    EXPECT_GT(reported, server->SendBacklogLimit());
    // The system's share stays small too: left to itself it grows the send
    // buffer to megabytes for a client that never reads.
    EXPECT_LT(taken, 512u * 1024) << "bytes held for a client that never reads";
    EXPECT_EQ(server->ActiveConnections(), 1);
    EXPECT_EQ(lastError, ENOBUFS);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 3], "backlog");
    EXPECT_EQ(events[events.size() - 2], "error " + std::to_string(int(eeSend)));
    EXPECT_EQ(events[events.size() - 1], "disconnect 127.0.0.1");
    EXPECT_TRUE(PeerClosed(stuck));
    EXPECT_EQ(server->Connections(0)->SocketHandle(), s->SocketHandle()); // the other stays
}

TEST_F(ServerSocketTest, AnErrorLeftStandingByTheHandlerBecomesAnException) {
    std::vector<std::string> escaped;
    loop.setExceptionHandler([&](const std::exception& e) { escaped.push_back(e.what()); });
    server->OnClientError = [&](TObject*, TCustomWinSocket*, TErrorEvent, int& code) {
        lastError = code; // not cleared
    };
    server->OnClientRead = [&](TObject*, TCustomWinSocket* s) {
        char buf[8];
        s->ReceiveBuf(buf, sizeof buf);
        // The client has reset the connection meanwhile: sending fails.
        for (int i = 0; i < 100 && s->Connected(); ++i) s->SendText("data");
    };
    const int c = Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    ASSERT_EQ(::send(c, "x", 1, 0), 1);
    linger hard{1, 0};
    ::setsockopt(c, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    Drop(c);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 0; }));
    // Whether the reset shows on the read or on a send, the connection is
    // gone; when it came as an error, the uncleared code was thrown.
    // Whether the reset shows on the read or on a send, it is an error whose
    // uncleared code was thrown into the loop, and the connection is gone.
    EXPECT_NE(lastError, 0);
    ASSERT_EQ(escaped.size(), 1u);
    EXPECT_NE(escaped[0].find("Socket error"), std::string::npos) << escaped[0];
}

TEST_F(ServerSocketTest, ManyClientsComeAndGoWithoutLeakingDescriptors) {
    constexpr int kClients = 220;
    std::set<int> handles;
    server->OnClientRead = [&](TObject*, TCustomWinSocket* s) {
        char buf[8];
        const int n = s->ReceiveBuf(buf, sizeof buf);
        if (n > 0) s->SendBuf(buf, n);
    };
    std::vector<int> fds;
    for (int i = 0; i < kClients; ++i) {
        fds.push_back(Connect());
        if (i % 50 == 49) loop.processEvents(); // keep the accept queue short
    }
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == kClients; }));
    for (int i = 0; i < kClients; ++i) handles.insert(server->Connections(i)->SocketHandle());
    EXPECT_EQ(handles.size(), static_cast<std::size_t>(kClients));
    for (int fd : fds) ASSERT_EQ(::send(fd, "e", 1, 0), 1);
    for (int fd : fds) EXPECT_EQ(Receive(fd, 1), "e");
    // Half vanish on their own, the rest go with the listener.
    for (int i = 0; i < kClients; i += 2) Drop(fds[i]);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == kClients / 2; }));
    server->Close();
    EXPECT_EQ(server->ActiveConnections(), 0);
    for (int i = 1; i < kClients; i += 2) EXPECT_TRUE(PeerClosed(fds[i]));
    int disconnects = 0;
    for (auto& e : events) disconnects += e.rfind("disconnect", 0) == 0;
    EXPECT_EQ(disconnects, kClients);
    // TearDown checks that every descriptor is back.
}

TEST_F(ServerSocketTest, RunningOutOfDescriptorsKeepsWaitingClientsUntilSomeAreFree) {
    Connect();
    Connect();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    // The limit applies to descriptor numbers: stop below the lowest free one.
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int i = 0; i < 50; ++i) loop.processEvents();
    const int whileTight = server->ActiveConnections();
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(whileTight, 0);
    // The waiting connections were kept, and are taken once accepting resumes.
    EXPECT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 2; }));
}

TEST_F(ServerSocketTest, ConnectionsBeyondTheLimitOrTheDescriptorReserveAreClosedAtOnce) {
    std::vector<TRefusal> refused;
    server->OnClientRefused = [&](TObject*, const std::string& address, TRefusal why) {
        EXPECT_EQ(address, "127.0.0.1");
        refused.push_back(why);
    };
    server->SetMaxConnections(2);
    Connect();
    Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 2; }));
    EXPECT_TRUE(PeerClosed(Connect()));

    // Under MaxConnections, but the client's socket and the accepted one
    // leave fewer than the reserve free.
    server->SetMaxConnections(0);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur =
        static_cast<rlim_t>(CountOpenDescriptors() - 1 + PosixServerSocket::DescriptorReserve);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const bool closed = PeerClosed(Connect());
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(closed);
    EXPECT_EQ(refused, (std::vector<TRefusal>{TRefusal::Limit, TRefusal::Descriptors}));
    Connect();
    EXPECT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 3; }));
    EXPECT_EQ(std::count(events.begin(), events.end(), "accept"), 3) << "no other notification";
}

TEST_F(ServerSocketTest, HandlersThatThrowLeaveNoHalfOpenConnections) {
    std::vector<std::string> escaped;
    loop.setExceptionHandler([&](const std::exception& e) { escaped.push_back(e.what()); });
    bool refuse = true;
    server->OnAccept = [&](TObject*, TCustomWinSocket*) {
        if (refuse) throw std::runtime_error("accept handler");
    };
    const int refused = Connect();
    EXPECT_TRUE(PeerClosed(refused));
    EXPECT_EQ(server->ActiveConnections(), 0);

    refuse = false;
    server->OnClientDisconnect = [&](TObject*, TCustomWinSocket*) {
        throw std::runtime_error("disconnect handler");
    };
    const int c = Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    Drop(c);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 0; }));
    EXPECT_EQ(escaped, (std::vector<std::string>{"accept handler", "disconnect handler"}));
    // TearDown checks that both descriptors were closed.
}

TEST_F(ServerSocketTest, ClosingTheListenerFromADisconnectHandlerIsSafe) {
    Connect();
    Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 2; }));
    int disconnects = 0;
    server->OnClientDisconnect = [&](TObject*, TCustomWinSocket*) {
        ++disconnects;
        server->Close(); // re-entering from inside the close
    };
    server->Connections(0)->Close();
    EXPECT_EQ(disconnects, 2);
    EXPECT_FALSE(server->Active());
    EXPECT_EQ(server->ActiveConnections(), 0);
}

} // namespace
} // namespace vantor
