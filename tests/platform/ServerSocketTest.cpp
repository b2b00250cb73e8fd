// PosixServerSocket keeps the rules of every listening socket, gives clients
// waiting to be accepted their turn once descriptors are free again, and
// keeps a reserve of descriptors for the program's own files.
#include "platform/PollLoop.h"
#include "platform/PosixServerSocket.h"
#include "platform/Signals.h"
#include "support/ServerSocketContract.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vantor::test {

std::unique_ptr<EventLoop> MakeContractLoop() {
    IgnoreSigPipe();
    return std::make_unique<PollLoop>();
}

std::unique_ptr<TServerSocket> MakeContractServerSocket(EventLoop& loop) {
    return std::make_unique<PosixServerSocket>(nullptr, loop);
}

namespace {

TEST_F(ServerSocketContract, RunningOutOfDescriptorsKeepsWaitingClientsUntilSomeAreFree) {
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

TEST_F(ServerSocketContract, ConnectionsThatWouldTakeTheDescriptorReserveAreClosedAtOnce) {
    std::vector<TRefusal> refused;
    server->OnClientRefused = [&](TObject*, const std::string& address, TRefusal why) {
        EXPECT_EQ(address, "127.0.0.1");
        refused.push_back(why);
    };
    Connect();
    ASSERT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 1; }));
    // The client's socket and the accepted one leave fewer than the reserve free.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur =
        static_cast<rlim_t>(OpenHandleCount() - 1 + PosixServerSocket::DescriptorReserve);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    const bool closed = PeerClosed(Connect());
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(closed);
    EXPECT_EQ(refused, (std::vector<TRefusal>{TRefusal::Descriptors}));
    Connect();
    EXPECT_TRUE(PumpUntil([&] { return server->ActiveConnections() == 2; }));
    EXPECT_EQ(std::count(events.begin(), events.end(), "accept"), 2) << "no other notification";
}

} // namespace
} // namespace vantor::test
