#include "toolkit/VirtualLoop.h"

#include <algorithm>
#include <vector>

namespace vantor {

// What a thread blocked in invoke() waits on.  Shared with the queue entry,
// so it outlives whichever of the two lets go last.
struct VirtualLoop::Invocation {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool ran = false;

    void Finish(bool didRun) {
        {
            std::lock_guard lock(mutex);
            finished = true;
            ran = didRun;
        }
        done.notify_all();
    }
};

VirtualLoop::VirtualLoop()
    : loopThread_(std::this_thread::get_id()), wallBase_(EncodeDateTime(2026, 1, 1, 8, 0, 0)) {}

VirtualLoop::~VirtualLoop() {
    std::deque<Queued> left;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        left.swap(queue_);
        wake_.notify_all();
    }
    for (Queued& q : left)
        if (q.invocation) q.invocation->Finish(false);
}

bool VirtualLoop::onLoopThread() const {
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == loopThread_;
}

void VirtualLoop::post(Task task) {
    if (!task) return;
    {
        std::lock_guard lock(mutex_);
        if (ended_) return;
        queue_.push_back({std::move(task), nullptr});
        // Notified under the lock: once it is released the test thread may
        // run the task and destroy the loop.
        wake_.notify_all();
    }
}

bool VirtualLoop::invoke(Task task) {
    if (!task) return true;
    if (onLoopThread()) {
        task();
        return true;
    }
    auto invocation = std::make_shared<Invocation>();
    {
        std::lock_guard lock(mutex_);
        if (ended_) return false;
        queue_.push_back({std::move(task), invocation});
        wake_.notify_all();
    }
    std::unique_lock lock(invocation->mutex);
    invocation->done.wait(lock, [&] { return invocation->finished; });
    return invocation->ran;
}

int VirtualLoop::runPending() {
    int count = 0;
    for (;;) {
        Queued next;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) break;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        ++count;
        if (next.invocation) {
            // The waiting thread is released even when the task throws.
            struct Release {
                Invocation& inv;
                ~Release() { inv.Finish(true); }
            } release{*next.invocation};
            next.task();
        } else {
            next.task();
        }
    }
    return count;
}

EventLoop::Handle VirtualLoop::startTimer(std::uint32_t intervalMs, Task onFire) {
    // A period of 0 would never let virtual time move on; the system's
    // timers round it up too.
    const std::uint32_t interval = std::max<std::uint32_t>(intervalMs, 1);
    const Handle h = nextHandle_++;
    timers_[h] =
        Timer{interval, nowMs_ + interval, nextOrder_++, std::make_shared<Task>(std::move(onFire))};
    return h;
}

void VirtualLoop::stopTimer(Handle timer) { timers_.erase(timer); }

EventLoop::Handle VirtualLoop::watchFd(int fd, unsigned events, IoHandler handler) {
    const Handle h = nextHandle_++;
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
    if (*fire) (*fire)();
    return true;
}

void VirtualLoop::processEvents() {
    runPending();
    while (fireNextDue(nowMs_)) runPending();
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
    std::thread::id previous;
    {
        std::lock_guard lock(mutex_);
        previous = loopThread_;
        loopThread_ = std::this_thread::get_id();
    }
    for (;;) {
        processEvents();
        std::unique_lock lock(mutex_);
        if (quit_ || ended_) {
            quit_ = false;
            // The thread that drove the loop before run() drives it again.
            loopThread_ = previous;
            return quitCode_;
        }
        wake_.wait(lock, [&] { return quit_ || ended_ || !queue_.empty(); });
    }
}

void VirtualLoop::quit(int code) {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        quitCode_ = code;
        wake_.notify_all();
    }
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
        if (*handler) (*handler)(delivered);
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

std::size_t VirtualLoop::queuedTasks() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

bool VirtualLoop::waitForTask(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, timeout, [&] { return ended_ || !queue_.empty(); });
    return !queue_.empty();
}

} // namespace vantor
