#include "platform/PollLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace vantor {
namespace {

struct Pipe {
    int r = -1, w = -1;
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        r = fds[0];
        w = fds[1];
    }
    ~Pipe() {
        if (r >= 0) ::close(r);
        if (w >= 0) ::close(w);
    }
    void put(char c = 'x') { ASSERT_EQ(::write(w, &c, 1), 1); }
};

TEST(PollLoop, TimersFireInDueOrderWithTiesInStartOrderAndRepeat) {
    PollLoop loop;
    std::vector<std::string> fired;
    bool done = false;
    loop.startTimer(35, [&] {
        fired.push_back("A");
        done = true;
        loop.quit(0);
    });
    loop.startTimer(10, [&] {
        if (!done) fired.push_back("B");
    });
    loop.startTimer(10, [&] {
        if (!done) fired.push_back("C");
    });
    loop.run();
    ASSERT_GE(fired.size(), 3u);
    EXPECT_EQ(fired[0], "B");
    EXPECT_EQ(fired[1], "C");
    EXPECT_EQ(fired.back(), "A");
    // B and C repeat as a pair until A's first period is over.
    for (std::size_t i = 0; i + 1 < fired.size(); i += 2) {
        EXPECT_EQ(fired[i], "B") << i;
        EXPECT_EQ(fired[i + 1], "C") << i;
    }
}

TEST(PollLoop, TimerStoppedInsideAHandlerNeverFiresAgain) {
    PollLoop loop;
    int selfStopping = 0, stoppedByOther = 0;
    EventLoop::Handle self = 0, other = 0;
    self = loop.startTimer(5, [&] {
        ++selfStopping;
        loop.stopTimer(self);
        loop.stopTimer(other); // due at the same moment, must not fire now
    });
    other = loop.startTimer(5, [&] { ++stoppedByOther; });
    loop.startTimer(60, [&] { loop.quit(); });
    loop.run();
    EXPECT_EQ(selfStopping, 1);
    EXPECT_EQ(stoppedByOther, 0);
}

TEST(PollLoop, PostFromManyThreadsRunsEveryTaskOnTheLoopThread) {
    PollLoop loop;
    constexpr int kThreads = 4, kEach = 500;
    int count = 0; // loop thread only
    std::atomic<int> offThread{0};
    const auto loopId = std::this_thread::get_id();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i)
                loop.post([&] {
                    if (std::this_thread::get_id() != loopId) ++offThread;
                    if (++count == kThreads * kEach) loop.quit(7);
                });
        });
    EXPECT_EQ(loop.run(), 7);
    for (auto& t : threads) t.join();
    EXPECT_EQ(count, kThreads * kEach);
    EXPECT_EQ(offThread.load(), 0);
}

TEST(PollLoop, InvokeBlocksUntilTheTaskRanAndFailsOnceTheLoopEnded) {
    PollLoop loop;
    // On the loop thread the task runs at once.
    bool direct = false;
    EXPECT_TRUE(loop.invoke([&] { direct = true; }));
    EXPECT_TRUE(direct);

    std::vector<int> seenByCaller;
    int value = 0; // written by the loop thread, read by the caller after invoke
    std::thread caller([&] {
        for (int i = 1; i <= 50; ++i) {
            bool ok = loop.invoke([&, i] { value = i; });
            seenByCaller.push_back(ok ? value : -1);
        }
        loop.quit(3);
    });
    EXPECT_EQ(loop.run(), 3);
    caller.join();
    ASSERT_EQ(seenByCaller.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seenByCaller[i], i + 1);

    // After run() has returned, invoke gives up at once instead of hanging.
    bool ran = false;
    bool result = true;
    std::thread late([&] { result = loop.invoke([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
}

TEST(PollLoop, PendingInvokeIsReleasedWhenTheLoopEndsOrIsDestroyed) {
    for (bool destroy : {false, true}) {
        auto loop = std::make_unique<PollLoop>();
        std::atomic<int> result{-1};
        bool ran = false;
        std::thread caller([&] { result = loop->invoke([&] { ran = true; }) ? 1 : 0; });
        while (loop->pendingTasks() == 0) std::this_thread::yield();
        if (destroy) {
            loop.reset();
        } else {
            loop->quit();
            loop->run(); // quit before run: ends at once, the invocation never runs
        }
        caller.join();
        EXPECT_EQ(result.load(), 0) << destroy;
        EXPECT_FALSE(ran);
    }
}

TEST(PollLoop, QuitFromAnotherThreadWakesABlockedLoop) {
    PollLoop loop;
    std::thread stopper([&] { loop.quit(42); });
    EXPECT_EQ(loop.run(), 42);
    stopper.join();
    EXPECT_TRUE(loop.ended());
}

TEST(PollLoop, NothingMoreStartsInRunAfterQuitButTheShutdownIsServed) {
    PollLoop loop;
    int later = 0;
    bool postedLater = false;
    loop.post([&] { loop.quit(1); });
    loop.post([&] { postedLater = true; });
    EXPECT_EQ(loop.run(), 1);
    EXPECT_FALSE(postedLater);
    // After the end, processEvents() still runs what the shutdown needs.
    loop.processEvents();
    EXPECT_TRUE(postedLater);
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

TEST(PollLoop, FdWatchIsLevelTriggeredAndPausable) {
    PollLoop loop;
    Pipe p;
    int calls = 0;
    unsigned lastEvents = 0;
    auto h = loop.watchFd(p.r, EventLoop::Readable, [&](unsigned ev) {
        ++calls;
        lastEvents = ev;
    });
    loop.processEvents();
    EXPECT_EQ(calls, 0); // nothing to read, and processEvents did not block
    p.put();
    loop.processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(lastEvents, unsigned(EventLoop::Readable));
    loop.processEvents(); // byte still unread: reported again
    EXPECT_EQ(calls, 2);
    loop.setWatchEvents(h, 0);
    loop.processEvents();
    EXPECT_EQ(calls, 2);
    loop.setWatchEvents(h, EventLoop::Readable);
    loop.processEvents();
    EXPECT_EQ(calls, 3);
    loop.unwatchFd(h);
    loop.processEvents();
    EXPECT_EQ(calls, 3);
}

TEST(PollLoop, HandlersMayRemoveThemselvesAndOthersDuringDispatch) {
    PollLoop loop;
    Pipe a, b, c;
    a.put();
    b.put();
    c.put();
    int aCalls = 0, bCalls = 0, cCalls = 0;
    EventLoop::Handle ha = 0, hb = 0, hc = 0;
    ha = loop.watchFd(a.r, EventLoop::Readable, [&](unsigned) {
        ++aCalls;
        loop.unwatchFd(ha); // itself
        loop.unwatchFd(hb); // a later one that is also ready
        // A new watch on b's descriptor must not receive b's stale readiness.
        hb = loop.watchFd(b.r, EventLoop::Writable, [&](unsigned) { ++bCalls; });
    });
    hc = loop.watchFd(c.r, EventLoop::Readable, [&](unsigned) { ++cCalls; });
    loop.processEvents();
    EXPECT_EQ(aCalls, 1);
    EXPECT_EQ(bCalls, 0);
    EXPECT_EQ(cCalls, 1);
    loop.processEvents();
    EXPECT_EQ(aCalls, 1);
    EXPECT_EQ(cCalls, 2);
    loop.unwatchFd(hb);
    loop.unwatchFd(hc);
}

TEST(PollLoop, ReportsHangUpAndStopsSpinningOnAClosedDescriptor) {
    PollLoop loop;
    {
        Pipe p;
        unsigned events = 0;
        auto h = loop.watchFd(p.r, EventLoop::Readable, [&](unsigned ev) { events = ev; });
        ::close(p.w);
        p.w = -1;
        loop.processEvents();
        EXPECT_TRUE(events & EventLoop::HangUp);
        loop.unwatchFd(h);
    }
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

TEST(PollLoop, ExceptionsFromTasksGoToTheHandlerAndTheLoopGoesOn) {
    PollLoop loop;
    std::vector<std::string> caught;
    loop.setExceptionHandler([&](const std::exception& e) { caught.push_back(e.what()); });
    bool after = false;
    loop.post([] { throw std::runtime_error("boom"); });
    loop.post([&] { after = true; });
    std::thread caller([&] {
        loop.invoke([] { throw 5; }); // must still release the caller
        loop.quit();
    });
    loop.run();
    caller.join();
    EXPECT_TRUE(after);
    EXPECT_EQ(caught, (std::vector<std::string>{"boom", "unknown exception"}));
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
