#pragma once
// The gateway's real-time event loop on Windows.
//
// One thread owns the loop (the thread that runs run(), or the one that
// created it before run() starts).  Each pass waits in
// MsgWaitForMultipleObjectsEx for three things at once: its wake-up event
// (post(), invoke() and quit() from any thread set it), the one event that
// every watched socket signals (WSAEventSelect), and the thread's window
// message queue, whose messages it dispatches, so windows made on the loop
// thread live on this loop too.  Timers are the loop's own, as in PollLoop.
//
// Descriptors: on Windows the loop watches sockets, given as their Winsock
// SOCKET value (kernel handles fit in 32 bits).  Readiness is level-triggered
// as with poll(2): before each wait the loop asks WSAPoll what the watched
// sockets can do now, so bytes a handler leaves unread are reported again.
// A socket closed without removing its watch is reported once as Error and
// its watch paused.  Quit, the end of the loop and exceptions follow
// EventLoop.h; a WSAPoll or wait that fails is not retried in a spin:
// processEvents() and run() throw std::system_error.
//
// A WM_QUIT message in the queue (PostQuitMessage) ends run() as quit() does.
#include "toolkit/EventLoop.h"
#include "toolkit/TaskQueue.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

namespace vantor {

class Win32Loop final : public EventLoop {
public:
    Win32Loop();
    ~Win32Loop() override;
    Win32Loop(const Win32Loop&) = delete;
    Win32Loop& operator=(const Win32Loop&) = delete;

    void post(Task task) override;
    bool invoke(Task task) override;

    Handle startTimer(std::uint32_t intervalMs, Task onFire) override;
    void stopTimer(Handle timer) override;

    // Error and HangUp are reported whether asked for or not, but only while
    // the watch asks for some event: a watch set to 0 is paused.
    Handle watchFd(int socket, unsigned events, IoHandler handler) override;
    void setWatchEvents(Handle watch, unsigned events) override;
    void unwatchFd(Handle watch) override;

    void processEvents() override;
    int run() override;
    void quit(int code = 0) override;

    std::int64_t monotonicMs() const override;
    double now() const override;

    void setExceptionHandler(ExceptionHandler handler) override;
    // True once run() has returned or the loop is being destroyed.
    bool ended() const;
    // Posted and invoked tasks that have not run yet.
    std::size_t pendingTasks() const;

private:
    struct Timer {
        std::uint32_t intervalMs = 0;
        std::int64_t dueMs = 0;
        std::shared_ptr<Task> task;
    };
    struct Watch {
        int socket = -1;
        unsigned events = 0;
        std::shared_ptr<IoHandler> handler;
    };
    struct Events; // the wake-up and socket events (Win32 handles)

    bool stopping() const;
    void runTasks();
    void fireDueTimers();
    unsigned long waitTimeoutMs() const;
    void waitOnce(unsigned long timeoutMs);
    bool dispatchReadySockets();
    void dispatchMessages();
    void iterate(bool mayBlock);

    std::unique_ptr<Events> events_;
    std::atomic<bool> quitRequested_{false};
    std::atomic<int> exitCode_{0};
    TaskQueue tasks_;

    // Loop thread only.
    std::map<Handle, Timer> timers_;
    std::map<Handle, Watch> watches_;
    Handle nextHandle_ = 1;
    bool running_ = false;
};

} // namespace vantor
