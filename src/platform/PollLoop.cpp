#include "platform/PollLoop.h"

#include "toolkit/DateTime.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vantor {

struct PollLoop::InvokeState {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool ran = false;

    void finish(bool didRun) {
        {
            std::lock_guard lock(mutex);
            finished = true;
            ran = didRun;
        }
        done.notify_all();
    }
};

namespace {

unsigned ToPollEvents(unsigned events) {
    unsigned result = 0;
    if (events & EventLoop::Readable) result |= POLLIN;
    if (events & EventLoop::Writable) result |= POLLOUT;
    return result;
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

PollLoop::PollLoop() : loopThread_(std::this_thread::get_id()) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0)
        throw std::runtime_error(std::string("event loop: cannot create its wake-up descriptor: ") +
                                 std::strerror(errno));
    ::tzset();
}

PollLoop::~PollLoop() {
    std::deque<QueuedTask> leftover;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        leftover.swap(tasks_);
    }
    for (auto& t : leftover)
        if (t.waiter) t.waiter->finish(false);
    ::close(wakeFd_);
}

bool PollLoop::onLoopThread() const { return loopThread_.load() == std::this_thread::get_id(); }

void PollLoop::wakeLocked() {
    const std::uint64_t one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

void PollLoop::drainWake() {
    std::uint64_t value = 0;
    [[maybe_unused]] auto n = ::read(wakeFd_, &value, sizeof value);
}

void PollLoop::post(Task task) {
    if (!task) return;
    std::lock_guard lock(mutex_);
    tasks_.push_back({std::move(task), nullptr});
    wakeLocked();
}

bool PollLoop::invoke(Task task) {
    if (!task) return !ended();
    if (onLoopThread()) {
        guarded(task);
        return true;
    }
    auto state = std::make_shared<InvokeState>();
    {
        std::lock_guard lock(mutex_);
        if (ended_) return false;
        tasks_.push_back({std::move(task), state});
        wakeLocked();
    }
    std::unique_lock lock(state->mutex);
    state->done.wait(lock, [&] { return state->finished; });
    return state->ran;
}

EventLoop::Handle PollLoop::startTimer(std::uint32_t intervalMs, Task onFire) {
    // A zero period would spin the loop; the shortest period is one millisecond.
    const std::uint32_t period = std::max<std::uint32_t>(intervalMs, 1);
    const Handle h = nextHandle_++;
    timers_[h] = Timer{period, monotonicMs() + period, std::make_shared<Task>(std::move(onFire))};
    return h;
}

void PollLoop::stopTimer(Handle timer) { timers_.erase(timer); }

EventLoop::Handle PollLoop::watchFd(int fd, unsigned events, IoHandler handler) {
    const Handle h = nextHandle_++;
    watches_[h] = Watch{fd, events, std::make_shared<IoHandler>(std::move(handler))};
    return h;
}

void PollLoop::setWatchEvents(Handle watch, unsigned events) {
    if (auto it = watches_.find(watch); it != watches_.end()) it->second.events = events;
}

void PollLoop::unwatchFd(Handle watch) { watches_.erase(watch); }

void PollLoop::setExceptionHandler(ExceptionHandler handler) { onException_ = std::move(handler); }

bool PollLoop::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

std::size_t PollLoop::pendingTasks() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

template <class F>
void PollLoop::guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        if (onException_)
            onException_(e);
        else
            std::fprintf(stderr, "Unhandled exception in the event loop: %s\n", e.what());
    } catch (...) {
        const std::runtime_error unknown("unknown exception");
        if (onException_)
            onException_(unknown);
        else
            std::fprintf(stderr, "Unhandled exception in the event loop: %s\n", unknown.what());
    }
}

void PollLoop::runTasks() {
    std::deque<QueuedTask> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(tasks_);
    }
    // Tasks posted while this batch runs wait for the next pass, so a task that
    // reposts itself cannot starve timers and descriptors.
    while (!batch.empty()) {
        if (stopping()) {
            // Put the rest back, ahead of anything posted since.
            std::lock_guard lock(mutex_);
            for (auto it = batch.rbegin(); it != batch.rend(); ++it)
                tasks_.push_front(std::move(*it));
            return;
        }
        QueuedTask item = std::move(batch.front());
        batch.pop_front();
        guarded(item.task);
        if (item.waiter) item.waiter->finish(true);
    }
}

bool PollLoop::stopping() const { return running_ && quitRequested_.load(); }

void PollLoop::fireDueTimers() {
    if (timers_.empty()) return;
    const std::int64_t nowMs = monotonicMs();
    std::vector<std::pair<std::int64_t, Handle>> due;
    for (const auto& [h, t] : timers_)
        if (t.dueMs <= nowMs) due.emplace_back(t.dueMs, h);
    // Due order; equal due times in start order (handles grow with each start).
    std::sort(due.begin(), due.end());
    for (const auto& [dueMs, h] : due) {
        if (stopping()) return;
        auto it = timers_.find(h);
        if (it == timers_.end()) continue; // stopped by an earlier handler
        Timer& t = it->second;
        // Reschedule before firing, so a nested processEvents() in the handler
        // does not fire the same timer again.  Missed periods are skipped
        // rather than fired in a burst.
        t.dueMs += t.intervalMs;
        if (t.dueMs <= nowMs) t.dueMs = nowMs + t.intervalMs;
        std::shared_ptr<Task> keep = t.task; // the handler may stop its own timer
        if (*keep) guarded(*keep);
    }
}

int PollLoop::pollTimeoutMs() const {
    {
        std::lock_guard lock(mutex_);
        if (!tasks_.empty()) return 0;
    }
    if (quitRequested_.load()) return 0;
    if (timers_.empty()) return -1;
    std::int64_t next = INT64_MAX;
    for (const auto& [h, t] : timers_) next = std::min(next, t.dueMs);
    const std::int64_t wait = next - monotonicMs();
    if (wait <= 0) return 0;
    return static_cast<int>(std::min<std::int64_t>(wait, 60000));
}

void PollLoop::pollOnce(int timeoutMs) {
    std::vector<pollfd> fds;
    std::vector<Handle> owners;
    fds.reserve(watches_.size() + 1);
    owners.reserve(watches_.size() + 1);
    fds.push_back({wakeFd_, POLLIN, 0});
    owners.push_back(0);
    for (const auto& [h, w] : watches_) {
        if (w.events == 0) continue;
        fds.push_back({w.fd, static_cast<short>(ToPollEvents(w.events)), 0});
        owners.push_back(h);
    }
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0) return; // time-out, or EINTR: the next pass looks again
    if (fds[0].revents & POLLIN) drainWake();
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        auto it = watches_.find(owners[i]);
        if (it == watches_.end()) continue; // removed by an earlier handler
        Watch& w = it->second;
        if (w.events == 0) continue; // paused by an earlier handler
        const unsigned delivered = FromPollEvents(fds[i].revents) & (w.events | Error | HangUp);
        if (delivered == 0) continue;
        if (fds[i].revents & POLLNVAL) {
            // The descriptor was closed without removing its watch: report it
            // once and pause the watch, instead of spinning on it.
            w.events = 0;
        }
        std::shared_ptr<IoHandler> keep = w.handler;
        if (*keep) guarded([&] { (*keep)(delivered); });
    }
}

void PollLoop::iterate(bool mayBlock) {
    // Once quit() was asked for, nothing more starts in this pass of run():
    // a closing gateway should not see one more tick after it asked to stop.
    // After run() has returned, processEvents() serves the shutdown normally.
    runTasks();
    if (stopping()) return;
    fireDueTimers();
    if (stopping()) return;
    pollOnce(mayBlock ? pollTimeoutMs() : 0);
    if (stopping()) return;
    runTasks();
    if (stopping()) return;
    fireDueTimers();
}

void PollLoop::processEvents() { iterate(false); }

int PollLoop::run() {
    loopThread_ = std::this_thread::get_id();
    running_ = true;
    while (!quitRequested_.load() && !ended()) iterate(true);
    running_ = false;
    endLoop();
    return exitCode_.load();
}

void PollLoop::endLoop() {
    std::vector<std::shared_ptr<InvokeState>> cancelled;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        // Invocations that did not run will never run: release their callers.
        std::deque<QueuedTask> keep;
        for (auto& t : tasks_) {
            if (t.waiter)
                cancelled.push_back(std::move(t.waiter));
            else
                keep.push_back(std::move(t));
        }
        tasks_.swap(keep);
    }
    for (auto& w : cancelled) w->finish(false);
}

void PollLoop::quit(int code) {
    exitCode_ = code;
    quitRequested_ = true;
    std::lock_guard lock(mutex_);
    wakeLocked();
}

std::int64_t PollLoop::monotonicMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double PollLoop::now() const {
    using namespace std::chrono;
    return LocalDateTime(
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

double PollLoop::LocalDateTime(std::int64_t unixMs) {
    std::int64_t secs = unixMs / 1000;
    std::int64_t msec = unixMs % 1000;
    if (msec < 0) {
        msec += 1000;
        secs -= 1;
    }
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm local{};
    if (!::localtime_r(&t, &local)) return 0.0;
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, static_cast<int>(msec));
}

} // namespace vantor
