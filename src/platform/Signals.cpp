#include "platform/Signals.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace vantor {

namespace {

// The write end of the current watcher's pipe; the one piece of state a
// signal handler can reach.
std::atomic<int> gSignalPipe{-1};

extern "C" void OnStopSignal(int signalNumber) {
    const int saved = errno;
    const int fd = gSignalPipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] auto n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

void IgnoreSigPipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

void HoldSignals(std::initializer_list<int> signals) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : signals) sigaddset(&set, sig);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(EventLoop& loop, Handler handler, std::initializer_list<int> signals)
    : loop_(loop), handler_(std::move(handler)) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("signal watcher: cannot create its pipe: ") +
                                 std::strerror(errno));
    readFd_.reset(fds[0]);
    writeFd_.reset(fds[1]);
    int expected = -1;
    if (!gSignalPipe.compare_exchange_strong(expected, writeFd_.get()))
        throw std::runtime_error("signal watcher: another watcher is already installed");
    IgnoreSigPipe();
    for (int sig : signals) {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        Saved saved{sig, {}};
        if (::sigaction(sig, &action, &saved.previous) == 0) saved_.push_back(saved);
    }
    // A signal held since the start is delivered now, into the pipe.
    sigset_t watched, before;
    sigemptyset(&watched);
    for (const Saved& s : saved_) sigaddset(&watched, s.signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &watched, &before);
    sigemptyset(&heldBefore_);
    for (const Saved& s : saved_)
        if (sigismember(&before, s.signalNumber) == 1) sigaddset(&heldBefore_, s.signalNumber);
    watch_ = loop_.watchFd(readFd_.get(), EventLoop::Readable, [this](unsigned) { onReadable(); });
}

SignalWatcher::~SignalWatcher() {
    ::pthread_sigmask(SIG_BLOCK, &heldBefore_, nullptr);
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
        ::sigaction(it->signalNumber, &it->previous, nullptr);
    gSignalPipe = -1;
    loop_.unwatchFd(watch_);
}

void SignalWatcher::onReadable() {
    unsigned char buffer[64];
    for (;;) {
        const ssize_t n = ::read(readFd_.get(), buffer, sizeof buffer);
        if (n <= 0) break; // EAGAIN: drained
        for (ssize_t i = 0; i < n; ++i)
            if (handler_) handler_(buffer[i]);
    }
}

} // namespace vantor
