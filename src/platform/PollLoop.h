#pragma once
// The gateway's real-time event loop on Linux, built on poll(2).
//
// One thread owns the loop (the thread that runs run(), or the one that
// created it before run() starts).  Timers and fd watches belong to that
// thread; post(), invoke() and quit() may come from any thread and wake the
// loop through an eventfd.  Handlers run one at a time, so the gateway's state
// needs no locks.  Quit, the end of the loop and exceptions follow the rules
// of EventLoop.h.  A poll() that fails for any reason but a signal is not
// retried in a spin: processEvents() and run() throw std::system_error.
#include "toolkit/EventLoop.h"
#include "toolkit/TaskQueue.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <thread>

namespace vantor {

class PollLoop final : public EventLoop {
public:
    PollLoop();
    ~PollLoop() override;
    PollLoop(const PollLoop&) = delete;
    PollLoop& operator=(const PollLoop&) = delete;

    void post(Task task) override;
    bool invoke(Task task) override;

    Handle startTimer(std::uint32_t intervalMs, Task onFire) override;
    void stopTimer(Handle timer) override;

    // Error and HangUp are reported whether asked for or not (poll does), but
    // only while the watch asks for some event: a watch set to 0 is paused.
    Handle watchFd(int fd, unsigned events, IoHandler handler) override;
    void setWatchEvents(Handle watch, unsigned events) override;
    void unwatchFd(Handle watch) override;

    void processEvents() override;
    // Runs until quit().  Once run() has returned the loop has ended: pending
    // and later invoke() calls from other threads return false, and a second
    // run() returns at once.  Posted tasks may still be run by processEvents().
    int run() override;
    void quit(int code = 0) override;

    std::int64_t monotonicMs() const override;
    double now() const override;

    // Receives exceptions that escape tasks and handlers (default: stderr).
    void setExceptionHandler(ExceptionHandler handler) override;
    // Called before every poll(), the ones that do not block included, so a
    // loop that never waits still gives the hook its turn.
    bool setBeforeWait(BeforeWait hook) override;
    // True once run() has returned or the loop is being destroyed.
    bool ended() const;
    // Posted and invoked tasks that have not run yet.
    std::size_t pendingTasks() const;

    // The events poll(2) reports for one descriptor right now (0: none), in
    // the loop's terms; other loops that see only readable or writable ask
    // it for hang-up and error.
    static unsigned Readiness(int fd);

    // The local date-time (days since 30 December 1899, local time zone) of a
    // moment given in milliseconds since the Unix epoch.
    static double LocalDateTime(std::int64_t unixMs);

private:
    struct Timer {
        std::uint32_t intervalMs = 0;
        std::int64_t dueMs = 0;
        std::shared_ptr<Task> task;
    };
    struct Watch {
        int fd = -1;
        unsigned events = 0;
        std::shared_ptr<IoHandler> handler;
    };

    void wakeUp();
    void drainWake();
    bool stopping() const;
    void runTasks();
    void fireDueTimers();
    int pollTimeoutMs() const;
    void pollOnce(int timeoutMs);
    void iterate(bool mayBlock);

    int wakeFd_ = -1;
    std::atomic<bool> quitRequested_{false};
    std::atomic<int> exitCode_{0};
    TaskQueue tasks_;

    // Loop thread only.
    std::map<Handle, Timer> timers_;
    std::map<Handle, Watch> watches_;
    Handle nextHandle_ = 1;
    bool running_ = false;
    BeforeWait beforeWait_;
};

} // namespace vantor
