#pragma once
// The one loop the whole gateway runs on.  Timers, serial and socket
// notifications, menu commands and posted plug-in messages are all tasks of
// this loop, so they never overlap and the protocol state needs no locks.
//
// Implementations: PollLoop (platform/, real time), Win32Loop
// (platform/win32/, the same on Windows), VirtualLoop (toolkit/, virtual
// clock for tests) and QtLoop (desktop/, Qt's event loop).  All of them
// derive from LoopCore, keep their cross-thread tasks in one TaskQueue and
// follow the same rules (tests/support/LoopContract.h checks them on each):
//
// - Exceptions: an exception that escapes a task, a timer or a descriptor
//   handler goes to the exception handler (default: a line on standard error)
//   and the loop goes on, as the desktop's message loop shows the exception
//   box and carries on.  A thread blocked in invoke() is released all the same
//   (invoke returns true: the task ran).  One faulty handler must never stop
//   the gateway's traffic, and must never leave another thread hanging.
// - Quit: once quit() is asked for, run() starts no further task or handler
//   and returns; a quit() before run() makes run() return at once.  The loop
//   has then ended for good: invoke() from another thread returns false at
//   once (and pending invocations are released with false) instead of waiting
//   for a loop that no longer runs; a second run() returns at once.
// - Post after the end: post() still queues the task, and processEvents() runs
//   it, because the shut-down that follows run() (FormDestroy) may need it;
//   tasks nobody runs are dropped with the loop.
// - invoke() on the loop thread runs the task at once, before and after the end.
#include <cstdint>
#include <exception>
#include <functional>

namespace vantor {

class EventLoop {
public:
    using Task = std::function<void()>;
    using Handle = std::uint64_t; // 0 is never a valid handle
    enum IoEvents : unsigned { Readable = 1, Writable = 2, Error = 4, HangUp = 8 };
    using IoHandler = std::function<void(unsigned events)>;
    using ExceptionHandler = std::function<void(const std::exception&)>;

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

    // Readiness of a file descriptor (level-triggered); on Windows a socket
    // (its SOCKET value).  Loop thread only.
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

    // Receives the exceptions that escape tasks and handlers (see above).
    virtual void setExceptionHandler(ExceptionHandler handler) = 0;

    // Work that is cheaper once per pass of the loop than once per event
    // (output written in batches): the hook runs on the loop thread each time
    // the loop is about to look for new events, before it may block, and
    // returns the longest the loop may then wait, in milliseconds (-1: no
    // limit).  A loop without such a moment refuses it (false) and never
    // calls it; the caller then does its work at once.
    using BeforeWait = std::function<int()>;
    virtual bool setBeforeWait(BeforeWait) { return false; }

    // Milliseconds of a monotonic clock (tick counts, time-outs).
    virtual std::int64_t monotonicMs() const = 0;
    // The local wall clock as a date-time: days since 30 December 1899.
    virtual double now() const = 0;
};

} // namespace vantor
