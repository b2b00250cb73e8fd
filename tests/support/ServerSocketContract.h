#pragma once
// The rules every listening-socket component keeps (toolkit/ServerSocket.h),
// on a real loop with real client sockets on 127.0.0.1.  A test program
// includes this header in exactly one of its files and defines the two
// factories below for its platform (PosixServerSocket on PollLoop,
// Win32ServerSocket on Win32Loop).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TestSockets.h"
#include "toolkit/EventLoop.h"
#include "toolkit/ServerSocket.h"

namespace vantor::test {

std::unique_ptr<EventLoop> MakeContractLoop();
std::unique_ptr<TServerSocket> MakeContractServerSocket(EventLoop& loop);

class ServerSocketContract : public ::testing::Test {
protected:
    void SetUp() override {
        fdsBefore = OpenHandleCount();
        server = MakeContractServerSocket(loop);
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
            if (fd >= 0) CloseSocket(fd);
        server.reset();
        loop.processEvents();
        EXPECT_EQ(OpenHandleCount(), fdsBefore) << "descriptor leak";
    }

    int Connect(int receiveBuffer = 0) {
        const int fd = ConnectLoopback(server->LocalPort(), receiveBuffer);
        EXPECT_GE(fd, 0) << "no connection";
        clients.push_back(fd);
        return fd;
    }

    void Drop(int fd) {
        CloseSocket(fd);
        for (int& c : clients)
            if (c == fd) c = -1;
    }

    // Runs the loop until cond holds; the bound only stops a broken test
    // from hanging, it is not a time limit on the code.
    bool PumpUntil(const std::function<bool()>& cond, int rounds = 10000) {
        for (int i = 0; i < rounds; ++i) {
            if (cond()) return true;
            loop.processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return cond();
    }

    std::string ReadAll(int fd) {
        std::string got;
        char buf[65536];
        for (;;) {
            const long n = ReceiveNow(fd, buf, sizeof buf);
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
                const long n = ReceiveNow(fd, buf, sizeof buf);
                if (n > 0) continue;
                return n == 0 || n == -2;
            }
        });
    }

    std::unique_ptr<EventLoop> loopOwner = MakeContractLoop();
    EventLoop& loop = *loopOwner;
    std::unique_ptr<TServerSocket> server;
    std::vector<std::string> events;
    std::vector<int> clients;
    int lastError = 0;
    int fdsBefore = 0;
};

TEST_F(ServerSocketContract, ListensOnAnEphemeralPortAndRefusesAPortInUse) {
    EXPECT_TRUE(server->Active());
    EXPECT_GT(server->LocalPort(), 0);
    EXPECT_EQ(events, std::vector<std::string>{"listen"});
    EXPECT_THROW(server->SetPort(1), ESocketError);
    EXPECT_NO_THROW(server->Open()); // already open: nothing happens
    EXPECT_EQ(events.size(), 1u);

    const auto secondOwner = MakeContractServerSocket(loop);
    TServerSocket& second = *secondOwner;
    second.SetPort(server->LocalPort());
    try {
        second.Open();
        FAIL() << "a second listener on the same port";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.ErrorCode(), kAddressInUse);
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

TEST_F(ServerSocketContract, ConnectReadAndReplyWithThePerConnectionDataWord) {
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
    ASSERT_EQ(SendSome(c, payload.data(), payload.size()), 3);
    EXPECT_EQ(Receive(c, 7), std::string("\x00reply1", 7));
    EXPECT_EQ(request, payload);
    ASSERT_EQ(SendSome(c, "\x04", 1), 1);
    EXPECT_EQ(Receive(c, 7), std::string("\x00reply2", 7));
    EXPECT_EQ(request, "\x04");
}

TEST_F(ServerSocketContract, LongInputMayBeTakenInPartsAndUnreadInputIsNotSpunOn) {
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
    ASSERT_EQ(SendSome(c, big.data(), big.size()), 1200);
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
    ASSERT_EQ(SendSome(c, "abc", 3), 3);
    ASSERT_TRUE(PumpUntil([&] { return !parts.empty(); }));
    for (int i = 0; i < 20; ++i) loop.processEvents();
    EXPECT_EQ(parts.size(), 1u);
    EXPECT_EQ(server->Connections(0)->ReceiveLength(), 0);
}

TEST_F(ServerSocketContract, AVanishingClientIsRemovedAndItsHandleIsNotReusedAtOnce) {
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
    ResetOnClose(b);
    Drop(b);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    EXPECT_EQ(events.back(), "disconnect 127.0.0.1");
}

TEST_F(ServerSocketContract, ClosingInsideAHandlerKeepsTheObjectValidUntilItReturns) {
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
    ASSERT_EQ(SendSome(c, "x", 1), 1);
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 0; }));
    EXPECT_EQ(addressAfterClose, "127.0.0.1");
    EXPECT_FALSE(connectedAfterClose);
    int disconnects = 0;
    for (auto& e : events) disconnects += e.rfind("disconnect", 0) == 0;
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(Receive(c, 3), "bye"); // sent before the close
    EXPECT_TRUE(PeerClosed(c));
}

TEST_F(ServerSocketContract, HeldBackDataIsSentLaterAndAClientThatStopsReadingIsDropped) {
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
    EXPECT_EQ(lastError, kNoBufferSpace);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 3], "backlog");
    EXPECT_EQ(events[events.size() - 2], "error " + std::to_string(int(eeSend)));
    EXPECT_EQ(events[events.size() - 1], "disconnect 127.0.0.1");
    EXPECT_TRUE(PeerClosed(stuck));
    EXPECT_EQ(server->Connections(0)->SocketHandle(), s->SocketHandle()); // the other stays
}

TEST_F(ServerSocketContract, AnErrorLeftStandingByTheHandlerBecomesAnException) {
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
    ASSERT_EQ(SendSome(c, "x", 1), 1);
    ResetOnClose(c);
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

TEST_F(ServerSocketContract, ManyClientsComeAndGoWithoutLeakingDescriptors) {
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
    for (int fd : fds) ASSERT_EQ(SendSome(fd, "e", 1), 1);
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

TEST_F(ServerSocketContract, ConnectionsBeyondTheLimitAreClosedAtOnce) {
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
    EXPECT_EQ(refused, (std::vector<TRefusal>{TRefusal::Limit}));
    server->SetMaxConnections(0);
    Connect();
    EXPECT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 3; }));
    EXPECT_EQ(std::count(events.begin(), events.end(), "accept"), 3) << "no other notification";
}

TEST_F(ServerSocketContract, HandlersThatThrowLeaveNoHalfOpenConnections) {
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

TEST_F(ServerSocketContract, ClosingTheListenerFromADisconnectHandlerIsSafe) {
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

} // namespace vantor::test
