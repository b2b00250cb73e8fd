#include "platform/PollLoop.h"
#include "platform/Signals.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace vantor {
namespace {

TEST(SignalWatcher, StopSignalsArriveAsLoopTasksInOrder) {
    PollLoop loop;
    std::vector<int> got;
    SignalWatcher watcher(loop, [&](int sig) {
        got.push_back(sig);
        if (sig == SIGTERM) loop.quit(0);
    });
    ::raise(SIGHUP);
    ::raise(SIGINT);
    EXPECT_TRUE(got.empty()); // nothing runs inside the signal handler itself
    ::raise(SIGTERM);
    EXPECT_EQ(loop.run(), 0);
    EXPECT_EQ(got, (std::vector<int>{SIGHUP, SIGINT, SIGTERM}));
}

TEST(SignalWatcher, RestoresThePreviousDispositionAndAllowsOnlyOneWatcher) {
    struct sigaction ignore {
    }, before{}, after{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0);
    {
        PollLoop loop;
        SignalWatcher watcher(loop, [](int) {});
        EXPECT_THROW(SignalWatcher(loop, [](int) {}), std::runtime_error);
        struct sigaction during {};
        ::sigaction(SIGHUP, nullptr, &during);
        EXPECT_NE(during.sa_handler, SIG_IGN);
    }
    ::sigaction(SIGHUP, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
    ::sigaction(SIGHUP, &before, nullptr);
    // A new watcher may be made once the old one is gone.
    PollLoop loop;
    EXPECT_NO_THROW(SignalWatcher(loop, [](int) {}));
}

TEST(SignalWatcher, BrokenPipeIsAnErrorNotTheEndOfTheProcess) {
    IgnoreSigPipe();
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[0]);
    const char c = 'x';
    errno = 0;
    EXPECT_EQ(::write(fds[1], &c, 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(fds[1]);
}

} // namespace
} // namespace vantor
