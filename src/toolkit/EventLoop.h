#pragma once
// The one loop the whole gateway runs on.  Timers, serial and socket
// notifications, menu commands and posted plug-in messages are all tasks of
// this loop, so they never overlap and the protocol state needs no locks.
//
// Implementations: PollLoop (platform/, real time), VirtualLoop (toolkit/,
// virtual clock for tests), and later the Qt view's loop.
#include <cstdint>
#include <functional>

namespace vantor {

class EventLoop {
public:
    using Task = std::function<void()>;
    using Handle = std::uint64_t; // 0 is never a valid handle
    enum IoEvents : unsigned { Readable = 1, Writable = 2, Error = 4, HangUp = 8 };
    using IoHandler = std::function<void(unsigned events)>;

    virtual ~EventLoop() = default;

    // Queues a task for the loop thread.  Safe from any thread.
    virtual void post(Task task) = 0;
    // Runs a task on the loop thread and blocks the caller until it has run.
    // On the loop thread itself the task runs at once.  Returns false when the
    // loop has ended and the task will never run (the caller must not wait).
    virtual bool invoke(Task task) = 0;

    // A repeating timer: fires every intervalMs, the first time intervalMs
    // after the start.  Loop thread only.
    virtual Handle startTimer(std::uint32_t intervalMs, Task onFire) = 0;
    virtual void stopTimer(Handle timer) = 0;

    // Readiness of a file descriptor (level-triggered).  Loop thread only.
    virtual Handle watchFd(int fd, unsigned events, IoHandler handler) = 0;
    virtual void setWatchEvents(Handle watch, unsigned events) = 0;
    virtual void unwatchFd(Handle watch) = 0;

    // Runs whatever is due now without blocking; the modal waits of the
    // modem dialogue and message loops inside library calls use it.
    virtual void processEvents() = 0;
    // Runs until quit(); returns the code given to quit().
    virtual int run() = 0;
    // Ends run().  Safe from any thread.
    virtual void quit(int code = 0) = 0;

    // Milliseconds of a monotonic clock (tick counts, time-outs).
    virtual std::int64_t monotonicMs() const = 0;
    // The local wall clock as a date-time: days since 30 December 1899.
    virtual double now() const = 0;
};

} // namespace vantor
