// PosixServerSocket keeps the rules of every listening socket, and gives
// clients waiting to be accepted their turn once descriptors are free again.
#include "platform/PollLoop.h"
#include "platform/PosixServerSocket.h"
#include "platform/Signals.h"
#include "support/ServerSocketContract.h"

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

} // namespace
} // namespace vantor::test
