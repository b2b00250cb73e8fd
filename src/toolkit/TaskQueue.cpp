#include "toolkit/TaskQueue.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace vantor {

// What a thread blocked in invoke() waits on.  Shared with the queue entry,
// so it outlives whichever of the two lets go last.
struct TaskQueue::Invocation {
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

TaskQueue::TaskQueue(WakeHook wake)
    : wake_(std::move(wake)), loopThread_(std::this_thread::get_id()) {}

TaskQueue::~TaskQueue() {
    std::deque<Entry> left;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        left.swap(entries_);
        work_.notify_all();
    }
    waitForWakes();
    for (Entry& e : left)
        if (e.invocation) e.invocation->finish(false);
}

void TaskQueue::setLoopThread(std::thread::id id) {
    std::lock_guard lock(mutex_);
    loopThread_ = id;
}

std::thread::id TaskQueue::loopThread() const {
    std::lock_guard lock(mutex_);
    return loopThread_;
}

bool TaskQueue::onLoopThread() const { return loopThread() == std::this_thread::get_id(); }

bool TaskQueue::notifyLocked(bool force) {
    // Waiters are notified under the lock: once it is released the loop
    // thread may run the task and destroy the loop.  The wake hook is
    // counted here, under the lock, so that end() cannot miss it.
    work_.notify_all();
    if (woken_ && !force) return false;
    woken_ = true;
    if (!wake_) return false;
    waking_.fetch_add(1, std::memory_order_relaxed);
    return true;
}

void TaskQueue::wakeLoop() {
    wake_();
    waking_.fetch_sub(1, std::memory_order_release);
}

void TaskQueue::waitForWakes() const {
    // A wake hook is one system call or one queued call: a short wait.
    while (waking_.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

void TaskQueue::post(Task task) {
    if (!task) return;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        entries_.push_back({std::move(task), nullptr});
        wake = notifyLocked(false);
    }
    if (wake) wakeLoop();
}

bool TaskQueue::invoke(Task task) {
    if (onLoopThread()) {
        if (task) guarded(task);
        return true;
    }
    auto invocation = std::make_shared<Invocation>();
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (ended_) return false;
        if (!task) return true;
        entries_.push_back({std::move(task), invocation});
        wake = notifyLocked(false);
    }
    if (wake) wakeLoop();
    std::unique_lock lock(invocation->mutex);
    invocation->done.wait(lock, [&] { return invocation->finished; });
    return invocation->ran;
}

int TaskQueue::runBatch(const std::function<bool()>& stop) {
    std::deque<Entry> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(entries_);
        woken_ = false;
    }
    int count = 0;
    while (!batch.empty()) {
        if (stop && stop()) {
            // The rest go back ahead of anything queued since.
            bool wake = false;
            {
                std::lock_guard lock(mutex_);
                for (auto it = batch.rbegin(); it != batch.rend(); ++it)
                    entries_.push_front(std::move(*it));
                wake = notifyLocked(false);
            }
            if (wake) wakeLoop();
            return count;
        }
        Entry entry = std::move(batch.front());
        batch.pop_front();
        ++count;
        // The waiting thread is released even when the task throws.
        guarded(entry.task);
        if (entry.invocation) entry.invocation->finish(true);
    }
    return count;
}

void TaskQueue::end() {
    std::vector<std::shared_ptr<Invocation>> cancelled;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        std::deque<Entry> keep;
        for (Entry& e : entries_) {
            if (e.invocation)
                cancelled.push_back(std::move(e.invocation));
            else
                keep.push_back(std::move(e));
        }
        entries_.swap(keep);
        work_.notify_all();
    }
    waitForWakes();
    for (auto& inv : cancelled) inv->finish(false);
}

bool TaskQueue::ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

std::size_t TaskQueue::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void TaskQueue::wake() {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        wakeWaiting_ = true;
        wake = notifyLocked(true);
    }
    if (wake) wakeLoop();
}

bool TaskQueue::waitForWork(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    work_.wait_for(lock, timeout, [&] { return !entries_.empty() || wakeWaiting_ || ended_; });
    const bool something = !entries_.empty() || wakeWaiting_;
    wakeWaiting_ = false;
    return something;
}

void TaskQueue::setExceptionHandler(ExceptionHandler handler) {
    std::lock_guard lock(mutex_);
    onException_ = std::move(handler);
}

void TaskQueue::guarded(const std::function<void()>& f) const {
    auto report = [this](const std::exception& e) {
        ExceptionHandler handler;
        {
            std::lock_guard lock(mutex_);
            handler = onException_;
        }
        if (handler) {
            try {
                handler(e);
                return;
            } catch (...) {
                // A handler that throws itself must not take the loop down.
            }
        }
        std::fprintf(stderr, "Unhandled exception in the event loop: %s\n", e.what());
    };
    try {
        f();
    } catch (const std::exception& e) {
        report(e);
    } catch (...) {
        report(std::runtime_error("unknown exception"));
    }
}

} // namespace vantor
