#include "platform/PollLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/resource.h>
#include <poll.h>
#include <unistd.h>

namespace vantor {
namespace {

// The rules every loop shares are in tests/support/LoopContract.h
// (instantiated in PollLoopContractTest.cpp); these are PollLoop's own.

TEST(PollLoop, EndsForGoodWhenRunReturns) {
    PollLoop loop;
    std::thread stopper([&] { loop.quit(42); });
    EXPECT_EQ(loop.run(), 42);
    stopper.join();
    EXPECT_TRUE(loop.ended());
}

TEST(PollLoop, ATimerDueInThePassOfTheQuitWaits) {
    int later = 0;
    PollLoop second;
    // Two timers due in the same pass: the one after the quitting one waits.
    auto a = second.startTimer(1, [&] { second.quit(2); });
    auto b = second.startTimer(1, [&] { ++later; });
    second.post([] { ::poll(nullptr, 0, 5); }); // both are due by the time timers run
    EXPECT_EQ(second.run(), 2);
    EXPECT_EQ(later, 0);
    second.stopTimer(a);
    second.stopTimer(b);
}

TEST(PollLoop, StopsSpinningOnADescriptorClosedBehindItsWatch) {
    PollLoop loop;
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int calls = 0;
    unsigned events = 0;
    auto h = loop.watchFd(fd, EventLoop::Readable, [&](unsigned ev) {
        ++calls;
        events = ev;
    });
    ::close(fd); // closed behind the watch's back
    loop.processEvents();
    loop.processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(events & EventLoop::Error);
    loop.unwatchFd(h);
}

TEST(PollLoop, APollThatKeepsFailingIsReportedInsteadOfSpun) {
    // More descriptors than the process may have open: poll() fails with
    // EINVAL every time, whatever the loop does.
    struct LowLimit {
        rlimit saved{};
        LowLimit() {
            EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
            rlimit low = saved;
            low.rlim_cur = 64;
            EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
        }
        ~LowLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); } // whatever the test did
    } limit;
    {
        PollLoop loop;
        std::vector<EventLoop::Handle> watches;
        for (int i = 0; i < 80; ++i)
            watches.push_back(loop.watchFd(0, EventLoop::Readable, [](unsigned) {}));
        try {
            loop.processEvents();
            ADD_FAILURE() << "processEvents() went on after poll() failed";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), EINVAL);
            EXPECT_NE(std::string(e.what()).find("poll"), std::string::npos) << e.what();
        }
        bool ranFirst = false;
        loop.post([&] { ranFirst = true; });
        EXPECT_THROW(loop.run(), std::system_error);
        EXPECT_TRUE(ranFirst); // the tasks before the failing poll did run
        for (auto w : watches) loop.unwatchFd(w);
        loop.processEvents(); // a sane set of watches polls again
    }
}

TEST(PollLoop, AsksItsHookBeforeEveryWaitAndWaitsNoLongerThanItSays) {
    PollLoop loop;
    int calls = 0;
    ASSERT_TRUE(loop.setBeforeWait([&] {
        if (++calls == 3) loop.quit(1);
        return 1;
    }));
    // Nothing else would wake the loop before this timer.
    loop.startTimer(5000, [&] { loop.quit(2); });
    EXPECT_EQ(loop.run(), 1);
    EXPECT_EQ(calls, 3);
}

TEST(PollLoop, LocalDateTimeCountsDaysSince1899InTheLocalZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    // 2000-01-01 00:00:00 UTC is day 36526.
    EXPECT_DOUBLE_EQ(PollLoop::LocalDateTime(946684800000LL), 36526.0);
    // 12:00:00.500 of the same day.
    EXPECT_NEAR(PollLoop::LocalDateTime(946684800000LL + 43200500LL), 36526.5 + 500 / 86400000.0,
                1e-9);
    // Before 1970 too: 1969-12-31 23:59:59.900.
    EXPECT_NEAR(PollLoop::LocalDateTime(-100), 25568.0 + (86399900.0 / 86400000.0), 1e-9);
    ::setenv("TZ", "CET-1", 1);
    ::tzset();
    EXPECT_NEAR(PollLoop::LocalDateTime(946684800000LL), 36526.0 + 1.0 / 24, 1e-9);
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
    EXPECT_GT(PollLoop().now(), 45000.0); // the real clock: later than 2023
}

} // namespace
} // namespace vantor
