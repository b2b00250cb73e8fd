#pragma once
// The console's stop requests as loop tasks: Ctrl+C, Ctrl+Break, closing the
// console window and the system shutting down ask the gateway to stop, as
// SIGINT and SIGTERM do on Linux (SignalWatcher).  Windows calls the console
// handler on a thread of its own; the watcher only posts the request to the
// loop, where closing the gateway is safe.  When the console window is closed
// or the system shuts down, Windows ends the process as soon as the handler
// returns, so there the handler waits, a few seconds at most, until the
// watcher is destroyed: the program's orderly stop has then run.  A user's
// logoff stops a console program but not a service (stopOnLogoff false),
// which goes on for the next user.  Only one watcher may exist at a time.
#include "toolkit/EventLoop.h"

#include <functional>
#include <memory>

namespace vantor {

class ConsoleStopWatcher {
public:
    // The console events, as the handler is given them.
    enum Event : unsigned { CtrlC = 0, CtrlBreak = 1, Close = 2, Logoff = 5, Shutdown = 6 };
    using Handler = std::function<void(unsigned event)>;

    // Throws std::runtime_error when another watcher exists or the system
    // refuses the handler.
    ConsoleStopWatcher(EventLoop& loop, Handler handler, bool stopOnLogoff = true);
    // Takes the handler off and lets a waiting console handler return.
    ~ConsoleStopWatcher();
    ConsoleStopWatcher(const ConsoleStopWatcher&) = delete;
    ConsoleStopWatcher& operator=(const ConsoleStopWatcher&) = delete;

    // What the system's handler does with one event (a thread of the caller's):
    // true when the event was taken as a stop request.
    bool Deliver(unsigned event);

    struct State; // shared with a handler thread that may outlive the watcher

private:
    std::shared_ptr<State> state_;
};

} // namespace vantor
