#include "platform/PollLoop.h"

#include "toolkit/DateTime.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vantor {

namespace {

unsigned ToPollEvents(unsigned events) {
    unsigned result = 0;
    if (events & EventLoop::Readable) result |= POLLIN;
    if (events & EventLoop::Writable) result |= POLLOUT;
    return result;
}

// Whole seconds and milliseconds of a moment in milliseconds since the Unix
// epoch; the milliseconds are 0..999 before 1970 too.
std::pair<std::int64_t, int> SplitUnixMs(std::int64_t unixMs) {
    std::int64_t secs = unixMs / 1000;
    std::int64_t msec = unixMs % 1000;
    if (msec < 0) {
        msec += 1000;
        secs -= 1;
    }
    return {secs, static_cast<int>(msec)};
}

double LocalFieldsDateTime(const std::tm& local, int msec) {
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, msec);
}

unsigned FromPollEvents(unsigned revents) {
    unsigned result = 0;
    if (revents & (POLLIN | POLLPRI)) result |= EventLoop::Readable;
    if (revents & POLLOUT) result |= EventLoop::Writable;
    if (revents & (POLLERR | POLLNVAL)) result |= EventLoop::Error;
    if (revents & POLLHUP) result |= EventLoop::HangUp;
    return result;
}

} // namespace

PollLoop::PollLoop() : RealTimeLoop([this] { wakeUp(); }) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throw std::runtime_error(std::string("event loop: cannot create its wake-up descriptor: ") +
                                 std::strerror(errno));
    ::tzset();
}

PollLoop::~PollLoop() {
    tasks_.end();
    ::close(wakeFd_);
}

void PollLoop::wakeUp() {
    const std::uint64_t one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

void PollLoop::drainWake() {
    std::uint64_t value = 0;
    [[maybe_unused]] auto n = ::read(wakeFd_, &value, sizeof value);
}

bool PollLoop::setBeforeWait(BeforeWait hook) {
    beforeWait_ = std::move(hook);
    return true;
}

void PollLoop::waitOnce(int timeoutMs) {
    std::vector<pollfd> fds;
    std::vector<Handle> owners;
    fds.reserve(watches().size() + 1);
    owners.reserve(watches().size() + 1);
    fds.push_back({wakeFd_, POLLIN, 0});
    owners.push_back(0);
    for (const auto& [h, w] : watches()) {
        if (w.events == 0) continue;
        fds.push_back({w.fd, static_cast<short>(ToPollEvents(w.events)), 0});
        owners.push_back(h);
    }
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0) {
        // A signal: the next pass looks again.  Anything else (too many
        // descriptors for the process limit, no kernel memory) would fail
        // again at once, and retrying would spin the processor while the
        // gateway did nothing: say so instead.
        if (errno == EINTR) return;
        const int error = errno;
        throw std::system_error(error, std::generic_category(),
                                "event loop: poll() on " + std::to_string(fds.size()) +
                                    " descriptors failed");
    }
    if (n == 0) return; // time-out
    if (fds[0].revents & POLLIN) drainWake();
    for (std::size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents != 0)
            deliver(owners[i], FromPollEvents(fds[i].revents), fds[i].revents & POLLNVAL);
}

double PollLoop::now() const {
    using namespace std::chrono;
    const std::int64_t unixMs =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    // The zone's conversion is most of the cost of a time stamp, and the log
    // takes one a line: the local fields of the current second are kept (per
    // thread) and only the milliseconds change within it.  A zone's offset
    // changes at a whole second, so the result is the same (a zone set anew
    // by tzset() counts from the next second).
    thread_local std::int64_t keptSecond = INT64_MIN;
    thread_local std::tm kept{};
    const auto [secs, msec] = SplitUnixMs(unixMs);
    if (secs != keptSecond) {
        const std::time_t t = static_cast<std::time_t>(secs);
        std::tm local{};
        if (!::localtime_r(&t, &local)) return 0.0;
        kept = local;
        keptSecond = secs;
    }
    return LocalFieldsDateTime(kept, msec);
}

unsigned PollLoop::Readiness(int fd) {
    pollfd p{fd, POLLIN | POLLOUT, 0};
    int n = 0;
    do {
        n = ::poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? FromPollEvents(static_cast<unsigned>(p.revents)) : 0;
}

double PollLoop::LocalDateTime(std::int64_t unixMs) {
    const auto [secs, msec] = SplitUnixMs(unixMs);
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm local{};
    if (!::localtime_r(&t, &local)) return 0.0;
    return LocalFieldsDateTime(local, msec);
}

} // namespace vantor
