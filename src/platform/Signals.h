#pragma once
// Stop signals as loop tasks.  SIGTERM (the service manager's stop request),
// SIGINT and SIGHUP are caught by a tiny handler that only writes the signal
// number into a pipe; the loop reads the pipe and calls the handler on the
// loop thread, where closing the gateway is safe.  SIGPIPE is ignored, so a
// client that vanished turns a send into an error code instead of killing the
// process.  Only one watcher may exist at a time.
#include "platform/FileDescriptor.h"
#include "toolkit/EventLoop.h"

#include <csignal>
#include <functional>
#include <initializer_list>
#include <vector>

namespace vantor {

// Sets SIGPIPE to be ignored for the whole process.
void IgnoreSigPipe();

class SignalWatcher {
public:
    using Handler = std::function<void(int signalNumber)>;

    // Throws std::runtime_error when the pipe cannot be made or another
    // watcher exists.
    SignalWatcher(EventLoop& loop, Handler handler,
                  std::initializer_list<int> signals = {SIGTERM, SIGINT, SIGHUP});
    // Restores the dispositions the signals had before.
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
};

} // namespace vantor
