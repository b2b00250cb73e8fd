#pragma once
// The cross-thread half of every event loop: tasks posted or invoked from any
// thread wait here until the loop thread runs them.  PollLoop, VirtualLoop
// and the Qt view's loop differ only in how they sleep and wake; queueing,
// the blocking invoke, the end of the loop and what happens to an exception
// that escapes a task are decided once, here, so the three cannot drift
// apart.  The rules themselves are written down in EventLoop.h.
//
// The loop tells the queue how to wake it (an eventfd write, a queued Qt
// call, a condition variable) and calls runBatch() when it is woken.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vantor {

class TaskQueue {
public:
    using Task = std::function<void()>;
    using ExceptionHandler = std::function<void(const std::exception&)>;
    // Called when work arrives for a loop that has not been woken since it
    // last took its tasks, and on every explicit wake(); from any thread,
    // outside the queue's lock (the loop, woken, takes that lock at once:
    // held across the wake it made the loop wait for the waker in the
    // kernel).  end() and the destructor wait for a wake in progress, so a
    // loop that ends them first outlives every call of its hook.  It must not
    // block.
    using WakeHook = std::function<void()>;

    explicit TaskQueue(WakeHook wake = {});
    // Releases every thread still blocked in invoke(); their tasks never run.
    ~TaskQueue();
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // The thread that runs the tasks (by default the one that made the queue).
    void setLoopThread(std::thread::id id);
    std::thread::id loopThread() const;
    bool onLoopThread() const;

    // Queued even after the loop has ended: processEvents() may still serve it.
    void post(Task task);
    // On the loop thread: runs the task at once.  Elsewhere: queues it and
    // blocks until it has run (true) or the loop has ended without running it
    // (false).  After the end it returns false at once.
    bool invoke(Task task);

    // Runs the tasks queued before the call (tasks they queue wait for the
    // next batch, so a task that reposts itself cannot starve the timers).
    // When `stop` turns true between two tasks, the rest go back to the front
    // of the queue.  Returns the number of tasks run.
    int runBatch(const std::function<bool()>& stop = {});

    // The loop has ended: pending invocations are released with false and
    // later ones fail at once; posted tasks stay for processEvents().
    void end();
    bool ended() const;
    std::size_t size() const;
    bool empty() const { return size() == 0; }

    // Wakes the loop (quit() uses it) and anyone in waitForWork().
    void wake();
    // Blocks until a task is queued or wake() was called since the last
    // wait, or the timeout passes.  Returns true when there is something to do.
    bool waitForWork(std::chrono::milliseconds timeout);

    // Every task, timer and descriptor handler of the loop runs through
    // guarded(): an exception that escapes it goes to the handler (default: a
    // line on standard error) and the loop goes on.
    void setExceptionHandler(ExceptionHandler handler);
    void guarded(const std::function<void()>& f) const;

private:
    struct Invocation;
    struct Entry {
        Task task;
        std::shared_ptr<Invocation> invocation; // set for invoke()
    };
    // Under the lock: notifies waiters and says whether the loop is to be
    // woken, which the caller does with wakeLoop() once it has let go.
    bool notifyLocked(bool force);
    void wakeLoop();
    void waitForWakes() const;

    WakeHook wake_;
    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::deque<Entry> entries_;
    bool ended_ = false;
    bool woken_ = false;       // a wake is on its way and the batch has not been taken yet
    bool wakeWaiting_ = false; // wake() was called since the last waitForWork()
    std::atomic<int> waking_{0}; // wake hooks running outside the lock
    std::thread::id loopThread_;
    ExceptionHandler onException_;
};

} // namespace vantor
