#pragma once
// The half of the gateway's real-time loop that is the same on every system:
// its timers on the steady clock, the order of one pass, and the watches with
// the delivery of what the system reports for them.  A system's loop derives
// from it and adds only its wait (poll(2); the Windows wait with WSAPoll).
//
// One pass runs the queued tasks, then the due timers, then the before-wait
// hook (when the loop offers one), then waits for the system's events and
// dispatches them, then runs tasks and due timers once more.  Once quit() was
// asked for, nothing more starts in that pass of run(): a closing gateway
// should not see one more tick after it asked to stop.  After run() has
// returned, processEvents() serves the shutdown normally.
//
// Timers fire in due order, equal due times in start order; each is
// rescheduled before it fires, so a nested processEvents() in its handler
// does not fire it again, and missed periods are skipped rather than fired in
// a burst.
#include "toolkit/LoopCore.h"

#include <cstdint>
#include <map>
#include <memory>

namespace vantor {

class RealTimeLoop : public LoopCore {
public:
    Handle startTimer(std::uint32_t intervalMs, Task onFire) override;
    void stopTimer(Handle timer) override;

    // Error and HangUp are reported whether asked for or not, but only while
    // the watch asks for some event: a watch set to 0 is paused.
    Handle watchFd(int fd, unsigned events, IoHandler handler) override;
    void setWatchEvents(Handle watch, unsigned events) override;
    void unwatchFd(Handle watch) override;

    void processEvents() override;
    // Runs until quit().  Once run() has returned the loop has ended: pending
    // and later invoke() calls from other threads return false, and a second
    // run() returns at once.  Posted tasks may still be run by processEvents().
    int run() override;

protected:
    using LoopCore::LoopCore;

    // Waits for the system's events at most timeoutMs (-1: no limit, 0: only
    // looks) and dispatches them.  A wait that fails for good throws
    // std::system_error rather than being retried in a spin.
    virtual void waitOnce(int timeoutMs) = 0;

    struct Watch {
        int fd = -1;
        unsigned events = 0;
        std::shared_ptr<IoHandler> handler;
    };
    // Loop thread only.
    const std::map<Handle, Watch>& watches() const { return watches_; }
    // Hands what the system reported for one watch to its handler: the events
    // it asks for, and Error and HangUp.  A descriptor the system calls
    // invalid was closed without removing its watch: it is reported once and
    // the watch paused, instead of spinning on it.  False when the watch is
    // gone, paused or asked for none of it.
    bool deliver(Handle watch, unsigned reported, bool invalid);

    // One pass; mayBlock false never waits.
    void iterate(bool mayBlock);
    void runTasks();
    void fireDueTimers();

    // Called before every wait, the ones that do not block included, so a
    // loop that never waits still gives the hook its turn; a loop that
    // offers setBeforeWait() keeps it here.
    BeforeWait beforeWait_;

private:
    struct Timer {
        std::uint32_t intervalMs = 0;
        std::int64_t dueMs = 0;
        std::shared_ptr<Task> task;
    };

    // Until the next timer is due (-1: none runs, 0: work is waiting).
    int waitTimeoutMs() const;

    // Loop thread only.
    std::map<Handle, Timer> timers_;
    std::map<Handle, Watch> watches_;
};

} // namespace vantor
