#pragma once
// The rules every EventLoop keeps (written down in toolkit/EventLoop.h), as
// one typed test suite.  Each loop's test folder instantiates it with a
// traits class:
//
//   struct Traits {
//       using Loop = ...;
//       static std::unique_ptr<Loop> Make();
//       // Serves the loop for about `ms` of its own time (a virtual loop
//       // moves its clock; a real one runs processEvents() until then).
//       static void Pass(Loop& loop, int ms);
//       // One processEvents() in which the loop sees the readiness of these
//       // descriptors (a real loop polls them itself; a virtual one is told).
//       static void ServeFds(Loop& loop, std::initializer_list<int> fds);
//       // Tasks posted or invoked that have not run yet.
//       static std::size_t Queued(Loop& loop);
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(PollLoop, LoopContract, PollLoopTraits);
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/EventLoop.h"

namespace vantor::test {

// What the traits of a loop on the real clock have in common: time passes by
// serving the loop, and the loop polls its descriptors itself.
template <class L>
struct RealLoopTraits {
    using Loop = L;
    static void Pass(Loop& loop, int ms) {
        const auto end = loop.monotonicMs() + ms;
        do {
            loop.processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (loop.monotonicMs() < end);
    }
    static void ServeFds(Loop& loop, std::initializer_list<int>) { loop.processEvents(); }
    static std::size_t Queued(Loop& loop) { return loop.pendingTasks(); }
};

// A non-blocking byte channel for the descriptor-watch rules: a pipe, or on
// Windows, where the loops watch sockets, a connected pair of loopback
// sockets (LoopPipe.cpp).
struct LoopPipe {
    int r = -1, w = -1;
    LoopPipe();
    ~LoopPipe();
    LoopPipe(const LoopPipe&) = delete;
    LoopPipe& operator=(const LoopPipe&) = delete;
    void Put(char c = 'x');
    void CloseWriter();
};

// What a loop that cannot see descriptors itself is told: the events poll(2)
// (WSAPoll on Windows) reports now, in the loop's terms.
unsigned ReadinessNow(int fd);

template <class Traits>
class LoopContract : public ::testing::Test {
protected:
    using Loop = typename Traits::Loop;
    std::unique_ptr<Loop> loop = Traits::Make();
    void Pass(int ms) { Traits::Pass(*loop, ms); }
    void ServeFds(std::initializer_list<int> fds) { Traits::ServeFds(*loop, fds); }
};

TYPED_TEST_SUITE_P(LoopContract);

TYPED_TEST_P(LoopContract, PostFromManyThreadsRunsEveryTaskOnTheLoopThread) {
    auto& loop = *this->loop;
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

TYPED_TEST_P(LoopContract, InvokeBlocksUntilTheLoopRanTheTask) {
    auto& loop = *this->loop;
    // On the loop thread the task runs at once.
    bool direct = false;
    EXPECT_TRUE(loop.invoke([&] { direct = true; }));
    EXPECT_TRUE(direct);

    std::vector<int> seenByCaller;
    int value = 0; // written by the loop thread, read by the caller after invoke
    std::thread caller([&] {
        for (int i = 1; i <= 50; ++i) {
            const bool ok = loop.invoke([&, i] { value = i; });
            seenByCaller.push_back(ok ? value : -1);
        }
        loop.quit(3);
    });
    EXPECT_EQ(loop.run(), 3);
    caller.join();
    ASSERT_EQ(seenByCaller.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seenByCaller[i], i + 1);
}

TYPED_TEST_P(LoopContract, AfterTheEndInvokeFailsAtOnceAndPostsWaitForProcessEvents) {
    auto& loop = *this->loop;
    // An invocation queued before the end is released without running.
    std::atomic<int> pending{-1};
    bool pendingRan = false;
    std::thread early([&] { pending = loop.invoke([&] { pendingRan = true; }) ? 1 : 0; });
    while (TypeParam::Queued(loop) == 0) std::this_thread::yield();
    loop.quit(5); // before run(): run() returns at once
    EXPECT_EQ(loop.run(), 5);
    early.join();
    EXPECT_EQ(pending.load(), 0);
    EXPECT_FALSE(pendingRan);

    bool ran = false;
    bool result = true;
    std::thread late([&] { result = loop.invoke([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
    // On the loop thread invoke still runs at once, and a post waits for
    // the shut-down's processEvents().
    EXPECT_TRUE(loop.invoke([&] { ran = true; }));
    EXPECT_TRUE(ran);
    bool posted = false;
    loop.post([&] { posted = true; });
    EXPECT_EQ(loop.run(), 5); // a second run() returns at once
    EXPECT_FALSE(posted);
    loop.processEvents();
    EXPECT_TRUE(posted);
}

TYPED_TEST_P(LoopContract, DestroyingTheLoopReleasesABlockedInvoke) {
    std::atomic<int> result{-1};
    std::atomic<bool> ran{false};
    auto& loop = this->loop;
    std::thread caller([&] { result = loop->invoke([&] { ran = true; }) ? 1 : 0; });
    while (TypeParam::Queued(*loop) == 0) std::this_thread::yield();
    loop.reset();
    caller.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(ran.load());
}

TYPED_TEST_P(LoopContract, TimersFireInDueOrderWithTiesInStartOrderAndRepeat) {
    auto& loop = *this->loop;
    std::vector<std::string> fired;
    bool done = false;
    loop.startTimer(35, [&] {
        fired.push_back("A");
        done = true;
    });
    loop.startTimer(10, [&] {
        if (!done) fired.push_back("B");
    });
    loop.startTimer(10, [&] {
        if (!done) fired.push_back("C");
    });
    for (int i = 0; i < 200 && !done; ++i) this->Pass(5);
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

TYPED_TEST_P(LoopContract, TimerStoppedAndStartedAgainCountsItsPeriodFromTheRestart) {
    auto& loop = *this->loop;
    std::vector<std::int64_t> fired;
    auto record = [&] { fired.push_back(loop.monotonicMs()); };
    EventLoop::Handle t = loop.startTimer(40, record);
    this->Pass(25);
    loop.stopTimer(t);
    const std::int64_t restart = loop.monotonicMs();
    t = loop.startTimer(40, record);
    for (int i = 0; i < 200 && fired.empty(); ++i) this->Pass(5);
    loop.stopTimer(t);
    ASSERT_FALSE(fired.empty());
    // Never early (a millisecond of rounding allowed for the real clocks).
    EXPECT_GE(fired.front() - restart, 39);
    const std::size_t count = fired.size();
    this->Pass(60);
    EXPECT_EQ(fired.size(), count); // stopped for good
}

TYPED_TEST_P(LoopContract, HandlersMayStopTheirOwnAndOtherTimers) {
    auto& loop = *this->loop;
    int selfStopping = 0, stoppedByOther = 0;
    EventLoop::Handle self = 0, other = 0;
    self = loop.startTimer(5, [&] {
        ++selfStopping;
        loop.stopTimer(self);
        loop.stopTimer(other); // due at the same moment, must not fire now
    });
    other = loop.startTimer(5, [&] { ++stoppedByOther; });
    this->Pass(60);
    EXPECT_EQ(selfStopping, 1);
    EXPECT_EQ(stoppedByOther, 0);
}

TYPED_TEST_P(LoopContract, FdWatchIsLevelTriggeredPausableAndRemovable) {
    auto& loop = *this->loop;
    LoopPipe p;
    int calls = 0;
    unsigned lastEvents = 0;
    auto h = loop.watchFd(p.r, EventLoop::Readable, [&](unsigned ev) {
        ++calls;
        lastEvents = ev;
    });
    this->ServeFds({p.r});
    EXPECT_EQ(calls, 0); // nothing to read, and nothing blocked
    p.Put();
    this->ServeFds({p.r});
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(lastEvents, unsigned(EventLoop::Readable));
    this->ServeFds({p.r}); // byte still unread: reported again
    EXPECT_EQ(calls, 2);
    loop.setWatchEvents(h, 0);
    this->ServeFds({p.r});
    EXPECT_EQ(calls, 2);
    loop.setWatchEvents(h, EventLoop::Readable);
    this->ServeFds({p.r});
    EXPECT_EQ(calls, 3);
    loop.unwatchFd(h);
    this->ServeFds({p.r});
    EXPECT_EQ(calls, 3);

    // The writer going away is a hang-up.
    unsigned events = 0;
    LoopPipe q;
    h = loop.watchFd(q.r, EventLoop::Readable, [&](unsigned ev) { events = ev; });
    q.CloseWriter();
    this->ServeFds({q.r});
    EXPECT_TRUE(events & EventLoop::HangUp);
    loop.unwatchFd(h);
}

TYPED_TEST_P(LoopContract, HandlersMayRemoveThemselvesAndOthersDuringDispatch) {
    auto& loop = *this->loop;
    LoopPipe a, b, c;
    a.Put();
    b.Put();
    c.Put();
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
    this->ServeFds({a.r, b.r, c.r});
    EXPECT_EQ(aCalls, 1);
    EXPECT_EQ(bCalls, 0);
    EXPECT_EQ(cCalls, 1);
    this->ServeFds({a.r, b.r, c.r});
    EXPECT_EQ(aCalls, 1);
    EXPECT_EQ(cCalls, 2);
    loop.unwatchFd(hb);
    loop.unwatchFd(hc);
}

TYPED_TEST_P(LoopContract, ProcessEventsRunsWhatIsDueWithoutBlocking) {
    auto& loop = *this->loop;
    int fired = 0, posted = 0;
    auto t = loop.startTimer(60000, [&] { ++fired; });
    loop.post([&] { ++posted; });
    loop.processEvents();
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(fired, 0);
    loop.processEvents(); // nothing due: returns at once
    EXPECT_EQ(posted, 1);
    loop.stopTimer(t);
}

TYPED_TEST_P(LoopContract, QuitFromAnotherThreadWakesABlockedLoop) {
    auto& loop = *this->loop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        loop.quit(42);
    });
    EXPECT_EQ(loop.run(), 42);
    stopper.join();
}

TYPED_TEST_P(LoopContract, NothingMoreStartsInRunAfterQuitButTheShutdownIsServed) {
    auto& loop = *this->loop;
    bool postedLater = false;
    loop.post([&] { loop.quit(1); });
    loop.post([&] { postedLater = true; });
    EXPECT_EQ(loop.run(), 1);
    EXPECT_FALSE(postedLater);
    loop.processEvents();
    EXPECT_TRUE(postedLater);
}

TYPED_TEST_P(LoopContract, ExceptionsGoToTheHandlerAndTheLoopGoesOn) {
    auto& loop = *this->loop;
    std::vector<std::string> caught;
    loop.setExceptionHandler([&](const std::exception& e) { caught.push_back(e.what()); });
    bool after = false;
    loop.post([] { throw std::runtime_error("task"); });
    loop.post([&] { after = true; });
    bool invokeReturned = false;
    std::thread caller([&] {
        invokeReturned = loop.invoke([] { throw 5; }); // must still release the caller
        loop.quit();
    });
    loop.run();
    caller.join();
    EXPECT_TRUE(after);
    EXPECT_TRUE(invokeReturned);
    ASSERT_EQ(caught.size(), 2u);
    EXPECT_EQ(caught[0], "task");
    EXPECT_EQ(caught[1], "unknown exception");
}

TYPED_TEST_P(LoopContract, ExceptionsFromTimersAndWatchesGoToTheHandlerToo) {
    auto loop = TypeParam::Make();
    std::vector<std::string> caught;
    loop->setExceptionHandler([&](const std::exception& e) { caught.push_back(e.what()); });
    int ticks = 0;
    auto t = loop->startTimer(5, [&] {
        ++ticks;
        throw std::runtime_error("timer");
    });
    LoopPipe p;
    p.Put();
    auto w = loop->watchFd(p.r, EventLoop::Readable,
                           [&](unsigned) { throw std::runtime_error("watch"); });
    TypeParam::ServeFds(*loop, {p.r});
    loop->unwatchFd(w);
    for (int i = 0; i < 100 && ticks < 2; ++i) TypeParam::Pass(*loop, 5);
    loop->stopTimer(t);
    EXPECT_GE(ticks, 2); // the timer kept running after its handler threw
    EXPECT_EQ(std::count(caught.begin(), caught.end(), "watch"), 1);
    EXPECT_EQ(std::count(caught.begin(), caught.end(), "timer"), ticks);
}

REGISTER_TYPED_TEST_SUITE_P(
    LoopContract, PostFromManyThreadsRunsEveryTaskOnTheLoopThread,
    InvokeBlocksUntilTheLoopRanTheTask, AfterTheEndInvokeFailsAtOnceAndPostsWaitForProcessEvents,
    DestroyingTheLoopReleasesABlockedInvoke, TimersFireInDueOrderWithTiesInStartOrderAndRepeat,
    TimerStoppedAndStartedAgainCountsItsPeriodFromTheRestart, HandlersMayStopTheirOwnAndOtherTimers,
    FdWatchIsLevelTriggeredPausableAndRemovable, HandlersMayRemoveThemselvesAndOthersDuringDispatch,
    ProcessEventsRunsWhatIsDueWithoutBlocking, QuitFromAnotherThreadWakesABlockedLoop,
    NothingMoreStartsInRunAfterQuitButTheShutdownIsServed, ExceptionsGoToTheHandlerAndTheLoopGoesOn,
    ExceptionsFromTimersAndWatchesGoToTheHandlerToo);

} // namespace vantor::test
