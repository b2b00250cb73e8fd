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
//
// The desktop view runs its modal dialogs on this loop too
// (waitAndProcessEvents), sees each window message before it is dispatched
// (its dialog keys and accelerators: setMessageFilter), and keeps the
// gateway served while the system runs a modal loop of its own, a message
// box, a menu or a window being moved, that takes the messages itself
// (processEventsWithoutMessages).
#include "platform/portable/RealTimeLoop.h"

#include <functional>
#include <memory>

struct tagMSG; // <windows.h>'s MSG

namespace vantor {

class Win32Loop final : public RealTimeLoop {
public:
    Win32Loop();
    ~Win32Loop() override;

    Handle watchFd(int socket, unsigned events, IoHandler handler) override;
    void unwatchFd(Handle watch) override;

    // Waits until something is due (a task, a timer, a socket, a window
    // message) and runs it: one pass of run(), for a modal dialog's own loop.
    void waitAndProcessEvents();
    // Runs the tasks, due timers and ready sockets, leaving the window
    // messages to whoever pumps them now (the system's own modal loops).
    void processEventsWithoutMessages();
    // Sees every window message before it is translated and dispatched; a
    // filter that returns true has handled the message.  Loop thread only.
    using MessageFilter = std::function<bool(tagMSG& message)>;
    void setMessageFilter(MessageFilter filter) { messageFilter_ = std::move(filter); }

    double now() const override;

private:
    struct Events; // the wake-up and socket events (Win32 handles)

    void waitOnce(int timeoutMs) override;
    bool dispatchReadySockets();
    void dispatchMessages();

    std::unique_ptr<Events> events_;
    MessageFilter messageFilter_; // loop thread only
};

} // namespace vantor
