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
#include "platform/portable/RealTimeLoop.h"

#include <cstdint>

namespace vantor {

class PollLoop final : public RealTimeLoop {
public:
    PollLoop();
    ~PollLoop() override;

    double now() const override;

    // The hook runs before every poll(), the ones that do not block too.
    bool setBeforeWait(BeforeWait hook) override;

    // The events poll(2) reports for one descriptor right now (0: none), in
    // the loop's terms; other loops that see only readable or writable ask
    // it for hang-up and error.
    static unsigned Readiness(int fd);

    // The local date-time (days since 30 December 1899, local time zone) of a
    // moment given in milliseconds since the Unix epoch.
    static double LocalDateTime(std::int64_t unixMs);

private:
    void wakeUp();
    void drainWake();
    void waitOnce(int timeoutMs) override;

    int wakeFd_ = -1;
};

} // namespace vantor
