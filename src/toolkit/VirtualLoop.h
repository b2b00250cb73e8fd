#pragma once
// An event loop on a virtual clock, for tests.  Time stands still until the
// test moves it with advance(); timers then fire in due-time order (equal due
// times in the order the timers were started), with posted tasks run between
// firings.  Nothing sleeps and nothing is polled: file-descriptor watches are
// only recorded, and a test delivers readiness with fireFd().
//
// The loop thread is the thread that created the loop (or the one inside
// run()).  post(), invoke() and quit() are safe from any thread; invoke() from
// another thread blocks until the loop thread runs the task in runPending(),
// processEvents(), advance() or run().  Quit, the end of the loop and
// exceptions follow the rules of EventLoop.h.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

#include "toolkit/DateTime.h"
#include "toolkit/LoopCore.h"

namespace vantor {

class VirtualLoop : public LoopCore {
public:
    VirtualLoop();
    // Wakes every thread still blocked in invoke(); their tasks never run.
    ~VirtualLoop() override;

    Handle startTimer(std::uint32_t intervalMs, Task onFire) override;
    void stopTimer(Handle timer) override;
    Handle watchFd(int fd, unsigned events, IoHandler handler) override;
    void setWatchEvents(Handle watch, unsigned events) override;
    void unwatchFd(Handle watch) override;
    // Runs queued tasks, then fires the timers due at the current time.
    void processEvents() override;
    // Runs queued tasks (waiting for new ones) until quit(); virtual time
    // does not move, timers due at the current time do fire.
    int run() override;
    std::int64_t monotonicMs() const override;
    double now() const override;

    // Moves the clock forward by ms (>= 0), firing every timer that falls due
    // on the way at its own due time.
    void advance(std::int64_t ms);
    // Runs posted and invoked tasks, including those they queue, now.
    // Returns the number of tasks run.
    int runPending();
    // The wall clock reads `value` now and moves on with the monotonic clock.
    // Until set it starts at 1 January 2026, 08:00:00.
    void setWallClock(TDateTime value);

    // Delivers readiness to every watch of fd whose event mask meets `events`
    // (Error and HangUp always reach a watch).  Returns how many handlers ran.
    int fireFd(int fd, unsigned events);
    // The events watched on fd (0 when fd is not watched).
    unsigned watchedEvents(int fd) const;
    bool isWatched(int fd) const { return watchedEvents(fd) != 0 || hasWatch(fd); }

    // Number of running timers.
    std::size_t pendingTimers() const;
    // Milliseconds until the next timer falls due, -1 when none runs.
    std::int64_t msToNextTimer() const;
    // Number of tasks queued by post() or invoke() and not yet run.
    std::size_t queuedTasks() const;
    // Blocks the calling thread until a task is queued or the timeout passes
    // (for tests that wait for a helper thread to invoke()).  Returns true
    // when a task is queued.
    bool waitForTask(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    struct Timer {
        std::uint32_t interval;
        std::int64_t due;
        std::uint64_t order; // start order, breaks ties of equal due times
        std::shared_ptr<Task> onFire;
    };
    struct Watch {
        int fd;
        unsigned events;
        std::shared_ptr<IoHandler> handler;
    };

    bool hasWatch(int fd) const;
    // Fires the earliest timer due at or before `limit`; false when none is.
    bool fireNextDue(std::int64_t limit);

    std::int64_t nowMs_ = 0;
    TDateTime wallBase_;
    std::int64_t wallBaseMs_ = 0;
    std::uint64_t nextOrder_ = 1;
    std::map<Handle, Timer> timers_;
    std::map<Handle, Watch> watches_;
};

} // namespace vantor
