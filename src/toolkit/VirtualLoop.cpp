#include "toolkit/VirtualLoop.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace vantor {

VirtualLoop::VirtualLoop() : wallBase_(EncodeDateTime(2026, 1, 1, 8, 0, 0)) {}

VirtualLoop::~VirtualLoop() = default;

int VirtualLoop::runPending() {
    int count = 0;
    // Tasks queued by tasks run too: a test that calls runPending() wants
    // the loop quiet afterwards.
    for (;;) {
        const int n = tasks_.runBatch([this] { return stopping(); });
        count += n;
        if (n == 0 || stopping()) break;
    }
    return count;
}

EventLoop::Handle VirtualLoop::startTimer(std::uint32_t intervalMs, Task onFire) {
    // A period of 0 would never let virtual time move on; the system's
    // timers round it up too.
    const std::uint32_t interval = std::max<std::uint32_t>(intervalMs, 1);
    const Handle h = newHandle();
    timers_[h] =
        Timer{interval, nowMs_ + interval, nextOrder_++, std::make_shared<Task>(std::move(onFire))};
    return h;
}

void VirtualLoop::stopTimer(Handle timer) { timers_.erase(timer); }

EventLoop::Handle VirtualLoop::watchFd(int fd, unsigned events, IoHandler handler) {
    const Handle h = newHandle();
    watches_[h] = Watch{fd, events, std::make_shared<IoHandler>(std::move(handler))};
    return h;
}

void VirtualLoop::setWatchEvents(Handle watch, unsigned events) {
    auto it = watches_.find(watch);
    if (it != watches_.end()) it->second.events = events;
}

void VirtualLoop::unwatchFd(Handle watch) { watches_.erase(watch); }

bool VirtualLoop::fireNextDue(std::int64_t limit) {
    auto best = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.due > limit) continue;
        if (best == timers_.end() || it->second.due < best->second.due ||
            (it->second.due == best->second.due && it->second.order < best->second.order))
            best = it;
    }
    if (best == timers_.end()) return false;
    Timer& t = best->second;
    nowMs_ = std::max(nowMs_, t.due);
    t.due += t.interval;
    // The handler may stop (and so destroy) its own timer: keep it alive.
    std::shared_ptr<Task> fire = t.onFire;
    if (*fire) tasks_.guarded(*fire);
    return true;
}

void VirtualLoop::processEvents() {
    runPending();
    while (!stopping() && fireNextDue(nowMs_)) runPending();
}

void VirtualLoop::advance(std::int64_t ms) {
    const std::int64_t target = nowMs_ + std::max<std::int64_t>(ms, 0);
    runPending();
    while (fireNextDue(target)) runPending();
    // A handler that advanced the clock itself may have gone past target.
    nowMs_ = std::max(nowMs_, target);
    runPending();
}

int VirtualLoop::run() {
    const std::thread::id previous = tasks_.loopThread();
    const int code = runOnThisThread([this] {
        while (!quitRequested()) {
            processEvents();
            if (quitRequested()) break;
            tasks_.waitForWork(std::chrono::hours(1));
        }
    });
    // The thread that drove the loop before run() drives it again.
    tasks_.setLoopThread(previous);
    return code;
}

std::int64_t VirtualLoop::monotonicMs() const { return nowMs_; }

double VirtualLoop::now() const {
    return wallBase_ + static_cast<double>(nowMs_ - wallBaseMs_) / MSecsPerDay;
}

void VirtualLoop::setWallClock(TDateTime value) {
    wallBase_ = value;
    wallBaseMs_ = nowMs_;
}

int VirtualLoop::fireFd(int fd, unsigned events) {
    std::vector<Handle> targets;
    for (const auto& [h, w] : watches_)
        if (w.fd == fd) targets.push_back(h);
    int count = 0;
    const unsigned always = Error | HangUp;
    for (Handle h : targets) {
        auto it = watches_.find(h); // an earlier handler may have removed it
        if (it == watches_.end()) continue;
        const unsigned delivered = events & (it->second.events | always);
        if (!delivered) continue;
        std::shared_ptr<IoHandler> handler = it->second.handler;
        ++count;
        if (*handler) tasks_.guarded([&] { (*handler)(delivered); });
    }
    return count;
}

unsigned VirtualLoop::watchedEvents(int fd) const {
    unsigned events = 0;
    for (const auto& [h, w] : watches_)
        if (w.fd == fd) events |= w.events;
    return events;
}

bool VirtualLoop::hasWatch(int fd) const {
    return std::any_of(watches_.begin(), watches_.end(),
                       [fd](const auto& e) { return e.second.fd == fd; });
}

std::size_t VirtualLoop::pendingTimers() const { return timers_.size(); }

std::int64_t VirtualLoop::msToNextTimer() const {
    std::int64_t best = -1;
    for (const auto& [h, t] : timers_) {
        const std::int64_t d = std::max<std::int64_t>(t.due - nowMs_, 0);
        if (best < 0 || d < best) best = d;
    }
    return best;
}

std::size_t VirtualLoop::queuedTasks() const { return tasks_.size(); }

bool VirtualLoop::waitForTask(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (tasks_.empty() && !tasks_.ended()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        tasks_.waitForWork(left);
    }
    return !tasks_.empty();
}

} // namespace vantor
