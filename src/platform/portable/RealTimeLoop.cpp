#include "platform/portable/RealTimeLoop.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vantor {

EventLoop::Handle RealTimeLoop::startTimer(std::uint32_t intervalMs, Task onFire) {
    // A zero period would spin the loop; the shortest period is one millisecond.
    const std::uint32_t period = std::max<std::uint32_t>(intervalMs, 1);
    const Handle h = newHandle();
    timers_[h] = Timer{period, monotonicMs() + period, std::make_shared<Task>(std::move(onFire))};
    return h;
}

void RealTimeLoop::stopTimer(Handle timer) { timers_.erase(timer); }

EventLoop::Handle RealTimeLoop::watchFd(int fd, unsigned events, IoHandler handler) {
    const Handle h = newHandle();
    watches_[h] = Watch{fd, events, std::make_shared<IoHandler>(std::move(handler))};
    return h;
}

void RealTimeLoop::setWatchEvents(Handle watch, unsigned events) {
    if (auto it = watches_.find(watch); it != watches_.end()) it->second.events = events;
}

void RealTimeLoop::unwatchFd(Handle watch) { watches_.erase(watch); }

bool RealTimeLoop::deliver(Handle watch, unsigned reported, bool invalid) {
    auto it = watches_.find(watch);
    if (it == watches_.end()) return false; // removed by an earlier handler
    Watch& w = it->second;
    if (w.events == 0) return false; // paused by an earlier handler
    const unsigned events = reported & (w.events | Error | HangUp);
    if (events == 0) return false;
    if (invalid) w.events = 0;
    std::shared_ptr<IoHandler> keep = w.handler; // the handler may remove its own watch
    if (*keep) tasks_.guarded([&] { (*keep)(events); });
    return true;
}

void RealTimeLoop::runTasks() {
    tasks_.runBatch([this] { return stopping(); });
}

void RealTimeLoop::fireDueTimers() {
    if (timers_.empty()) return;
    const std::int64_t nowMs = monotonicMs();
    std::vector<std::pair<std::int64_t, Handle>> due;
    for (const auto& [h, t] : timers_)
        if (t.dueMs <= nowMs) due.emplace_back(t.dueMs, h);
    // Handles grow with each start, so sorting by (due, handle) keeps ties in
    // start order.
    std::sort(due.begin(), due.end());
    for (const auto& [dueMs, h] : due) {
        if (stopping()) return;
        auto it = timers_.find(h);
        if (it == timers_.end()) continue; // stopped by an earlier handler
        Timer& t = it->second;
        t.dueMs += t.intervalMs;
        if (t.dueMs <= nowMs) t.dueMs = nowMs + t.intervalMs;
        std::shared_ptr<Task> keep = t.task; // the handler may stop its own timer
        if (*keep) tasks_.guarded(*keep);
    }
}

int RealTimeLoop::waitTimeoutMs() const {
    if (!tasks_.empty() || quitRequested()) return 0;
    if (timers_.empty()) return -1;
    std::int64_t next = INT64_MAX;
    for (const auto& [h, t] : timers_) next = std::min(next, t.dueMs);
    const std::int64_t wait = next - monotonicMs();
    if (wait <= 0) return 0;
    return static_cast<int>(std::min<std::int64_t>(wait, 60000));
}

void RealTimeLoop::iterate(bool mayBlock) {
    runTasks();
    if (stopping()) return;
    fireDueTimers();
    if (stopping()) return;
    int limitMs = -1;
    if (beforeWait_) tasks_.guarded([&] { limitMs = beforeWait_(); });
    int timeoutMs = mayBlock ? waitTimeoutMs() : 0;
    if (limitMs >= 0 && (timeoutMs < 0 || limitMs < timeoutMs)) timeoutMs = limitMs;
    waitOnce(timeoutMs);
    if (stopping()) return;
    runTasks();
    if (stopping()) return;
    fireDueTimers();
}

void RealTimeLoop::processEvents() { iterate(false); }

int RealTimeLoop::run() {
    return runOnThisThread([this] {
        while (!quitRequested()) iterate(true);
    });
}

} // namespace vantor
