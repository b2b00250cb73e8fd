#pragma once
// Stop signals as loop tasks.  SIGTERM (the service manager's stop request),
// SIGINT and SIGHUP are caught by a tiny handler that only writes the signal
// number into a pipe; the loop reads the pipe and calls the handler on the
// loop thread, where closing the gateway is safe.  SIGPIPE is ignored, so a
// client that vanished turns a send into an error code instead of killing the
// process.  Only one watcher may exist at a time.
//
// The program holds the stop signals (blocks them) from its first moment on;
// a watcher lets them through while it exists, so a stop request that came
// during start-up is taken up as soon as the watcher is there, and one that
// comes after it is gone can no longer end the process by the signal.
#include "platform/FileDescriptor.h"
#include "toolkit/EventLoop.h"

#include <csignal>
#include <functional>
#include <initializer_list>
#include <vector>

namespace vantor {

// Sets SIGPIPE to be ignored for the whole process.
void IgnoreSigPipe();

// Blocks the signals on the calling thread (and the threads it starts later).
// Safe to call before any constructor has run.
void HoldSignals(std::initializer_list<int> signals = {SIGTERM, SIGINT, SIGHUP});

class SignalWatcher {
public:
    using Handler = std::function<void(int signalNumber)>;

    // Throws std::runtime_error when the pipe cannot be made or another
    // watcher exists.  Unblocks the signals on the calling thread, which
    // must be the one that destroys the watcher.
    SignalWatcher(EventLoop& loop, Handler handler,
                  std::initializer_list<int> signals = {SIGTERM, SIGINT, SIGHUP});
    // Blocks again what was blocked before, then restores the dispositions
    // the signals had before.
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    struct Saved {
        int signalNumber;
        struct sigaction previous;
    };
    void onReadable();

    EventLoop& loop_;
    Handler handler_;
    FileDescriptor readFd_;
    FileDescriptor writeFd_;
    EventLoop::Handle watch_ = 0;
    std::vector<Saved> saved_;
    sigset_t heldBefore_; // those of the signals that were blocked before
};

} // namespace vantor
