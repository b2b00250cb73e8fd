#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/Component.h"
#include "toolkit/DateTime.h"
#include "toolkit/Timer.h"
#include "toolkit/VirtualLoop.h"

namespace vantor {
namespace {

TEST(VirtualLoop, TimersFireInDueOrderWithTiesInStartOrder) {
    VirtualLoop loop;
    std::vector<std::string> fired;
    loop.startTimer(300, [&] { fired.push_back("A@" + std::to_string(loop.monotonicMs())); });
    loop.startTimer(100, [&] { fired.push_back("B@" + std::to_string(loop.monotonicMs())); });
    loop.startTimer(150, [&] { fired.push_back("C@" + std::to_string(loop.monotonicMs())); });
    loop.advance(300);
    // At 300 A, B and C are all due; A was started first.
    EXPECT_EQ(fired,
              (std::vector<std::string>{"B@100", "C@150", "B@200", "A@300", "B@300", "C@300"}));
    EXPECT_EQ(loop.monotonicMs(), 300);
}

TEST(VirtualLoop, PostedTasksRunBetweenFiringsAndHandlersMayStopTimers) {
    VirtualLoop loop;
    std::vector<std::string> log;
    EventLoop::Handle b = 0;
    loop.startTimer(100, [&] {
        log.push_back("A");
        loop.post([&] { log.push_back("posted by A"); });
        loop.stopTimer(b); // B is due at the same time but must not fire
    });
    b = loop.startTimer(100, [&] { log.push_back("B"); });
    loop.advance(100);
    EXPECT_EQ(log, (std::vector<std::string>{"A", "posted by A"}));
    EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST(VirtualLoop, TimerStoppingItselfAndTimersStartedInsideAdvance) {
    VirtualLoop loop;
    int once = 0, late = 0;
    EventLoop::Handle self = 0;
    self = loop.startTimer(50, [&] {
        ++once;
        loop.stopTimer(self); // destroys the running handler's slot
        loop.startTimer(30, [&] { ++late; });
    });
    loop.advance(200);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(late, 5); // started at 50: fires at 80, 110, 140, 170, 200
    EXPECT_EQ(loop.msToNextTimer(), 30);
}

TEST(VirtualLoop, ProcessEventsFiresOnlyWhatIsDueNow) {
    VirtualLoop loop;
    int fired = 0, posted = 0;
    loop.startTimer(10, [&] { ++fired; });
    loop.post([&] { ++posted; });
    loop.processEvents();
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(fired, 0);
    loop.advance(9);
    EXPECT_EQ(fired, 0);
    loop.advance(1);
    EXPECT_EQ(fired, 1);
    loop.processEvents(); // the period starts over: nothing more is due
    EXPECT_EQ(fired, 1);
}

TEST(VirtualLoop, InvokeFromAnotherThreadBlocksUntilTheLoopRunsIt) {
    VirtualLoop loop;
    std::atomic<int> stage{0};
    int valueSeenByLoop = 0;
    std::thread worker([&] {
        stage = 1;
        const bool ran = loop.invoke([&] { valueSeenByLoop = stage.load(); });
        // Only after the loop thread ran the task may the worker go on.
        EXPECT_TRUE(ran);
        EXPECT_EQ(valueSeenByLoop, 1);
        stage = 2;
    });
    ASSERT_TRUE(loop.waitForTask());
    EXPECT_EQ(stage.load(), 1); // still blocked
    EXPECT_EQ(loop.runPending(), 1);
    worker.join();
    EXPECT_EQ(stage.load(), 2);
    // On the loop thread itself invoke runs at once.
    int direct = 0;
    EXPECT_TRUE(loop.invoke([&] { ++direct; }));
    EXPECT_EQ(direct, 1);
}

TEST(VirtualLoop, RunServesAnotherThreadUntilQuit) {
    VirtualLoop loop;
    int served = 0;
    std::thread client([&] {
        for (int i = 0; i < 3; ++i) loop.invoke([&] { ++served; });
        loop.quit(7);
    });
    std::thread host([&] { EXPECT_EQ(loop.run(), 7); });
    client.join();
    host.join();
    EXPECT_EQ(served, 3);
    // Afterwards the test thread is the loop thread again: invoke runs at once.
    EXPECT_TRUE(loop.invoke([&] { ++served; }));
    EXPECT_EQ(served, 4);
}

TEST(VirtualLoop, FdWatchesAreRecordedAndFiredOnRequest) {
    VirtualLoop loop;
    std::vector<unsigned> got;
    auto w = loop.watchFd(5, EventLoop::Readable, [&](unsigned ev) { got.push_back(ev); });
    EXPECT_EQ(loop.watchedEvents(5), unsigned(EventLoop::Readable));
    EXPECT_EQ(loop.fireFd(5, EventLoop::Writable), 0); // not asked for
    EXPECT_EQ(loop.fireFd(5, EventLoop::Readable | EventLoop::Writable), 1);
    EXPECT_EQ(loop.fireFd(5, EventLoop::HangUp), 1); // always delivered
    loop.setWatchEvents(w, EventLoop::Writable);
    EXPECT_EQ(loop.fireFd(5, EventLoop::Writable), 1);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], unsigned(EventLoop::Readable));
    EXPECT_EQ(got[1], unsigned(EventLoop::HangUp));
    EXPECT_EQ(got[2], unsigned(EventLoop::Writable));
    // A handler that removes its own watch is safe.
    loop.setWatchEvents(w, EventLoop::Readable);
    int calls = 0;
    auto w2 = loop.watchFd(6, EventLoop::Readable, [&](unsigned) { ++calls; });
    loop.unwatchFd(w2);
    EXPECT_EQ(loop.fireFd(6, EventLoop::Readable), 0);
    EXPECT_FALSE(loop.isWatched(6));
    EXPECT_EQ(calls, 0);
}

TEST(VirtualLoop, WallClockMovesWithTheMonotonicClock) {
    VirtualLoop loop;
    loop.setWallClock(EncodeDateTime(2026, 3, 1, 23, 59, 59, 500));
    loop.advance(600);
    const TimeOfDay t = DecodeTime(loop.now());
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.minute, 0);
    EXPECT_EQ(t.second, 0);
    EXPECT_EQ(t.msec, 100);
    EXPECT_EQ(FormatLongTime(loop.now()), "00:00:00");
    EXPECT_DOUBLE_EQ(std::floor(loop.now()), EncodeDateTime(2026, 3, 2));
}

TEST(DateTime, EncodesDaysSinceTheEpochOfTheDateType) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1), 36526.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12), 36526.5);
    EXPECT_EQ(FormatLongTime(EncodeDateTime(2026, 12, 8, 14, 3, 7, 999)), "14:03:07");
    const TimeOfDay t = DecodeTime(EncodeDateTime(2026, 12, 8, 9, 5, 1, 250));
    EXPECT_EQ(t.hour * 10000000 + t.minute * 100000 + t.second * 1000 + t.msec, 90501250);
    // Date-time differences carry rounding, so ages are compared a little off
    // the exact boundary.
    EXPECT_TRUE(
        WithinMs(EncodeDateTime(2026, 1, 1, 0, 0, 0, 999), EncodeDateTime(2026, 1, 1), 1000));
    EXPECT_FALSE(
        WithinMs(EncodeDateTime(2026, 1, 1, 0, 0, 1, 1), EncodeDateTime(2026, 1, 1), 1000));
}

// ---------------------------------------------------------------- TTimer

struct TimerFixture : ::testing::Test {
    VirtualLoop loop;
    TComponent owner{nullptr};
    std::vector<std::int64_t> fired;
    TNotifyEvent record = [this](TObject*) { fired.push_back(loop.monotonicMs()); };
};

TEST_F(TimerFixture, DefaultsAndDisabledTimerStaysSilent) {
    TTimer t(&owner, loop);
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000u);
    EXPECT_EQ(t.ClassName(), "TTimer");
    t.SetEnabled(false);
    t.SetOnTimer(record);
    loop.advance(5000);
    EXPECT_TRUE(fired.empty());
    EXPECT_FALSE(t.Running());
    EXPECT_EQ(loop.pendingTimers(), 0u);
    t.SetInterval(0);
    t.SetEnabled(true); // interval 0: does not run either
    loop.advance(5000);
    EXPECT_TRUE(fired.empty());
    EXPECT_FALSE(t.Running());
}

TEST_F(TimerFixture, ChangingIntervalRestartsThePeriod) {
    TTimer t(&owner, loop);
    t.SetEnabled(false);
    t.SetInterval(100);
    t.OnTimer = record;
    t.SetEnabled(true);
    loop.advance(250);  // 100, 200
    t.SetInterval(100); // unchanged: no restart
    loop.advance(50);   // 300
    t.SetInterval(40);  // restart at 300
    loop.advance(100);  // 340, 380
    t.SetEnabled(false);
    t.SetEnabled(true); // restart at 400
    loop.advance(40);   // 440
    EXPECT_EQ(fired, (std::vector<std::int64_t>{100, 200, 300, 340, 380, 440}));
}

TEST_F(TimerFixture, HandlerMayDisableOrFreeItsTimer) {
    // The one-shot pattern: the handler disables its own timer.
    TTimer oneShot(&owner, loop);
    oneShot.SetInterval(40);
    oneShot.SetOnTimer([&](TObject* sender) {
        record(sender);
        static_cast<TTimer*>(sender)->SetEnabled(false);
    });
    loop.advance(200);
    EXPECT_EQ(fired, (std::vector<std::int64_t>{40}));

    auto& owned = owner.Create<TTimer>(loop);
    owned.SetInterval(10);
    int calls = 0;
    owned.SetOnTimer([&](TObject* sender) {
        ++calls;
        EXPECT_TRUE(owner.FreeComponent(static_cast<TComponent*>(static_cast<TTimer*>(sender))));
    });
    loop.advance(100);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(TimerFixture, OwnerFreesItsTimersAndStopsThem) {
    {
        TComponent form(nullptr);
        auto& a = form.Create<TTimer>(loop);
        auto& b = form.Create<TTimer>(loop);
        a.SetOnTimer(record);
        b.SetOnTimer(record);
        EXPECT_EQ(form.ComponentCount(), 2u);
        EXPECT_EQ(loop.pendingTimers(), 2u);
    }
    EXPECT_EQ(loop.pendingTimers(), 0u);
    loop.advance(5000);
    EXPECT_TRUE(fired.empty());
}

} // namespace
} // namespace vantor
