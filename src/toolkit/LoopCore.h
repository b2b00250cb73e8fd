#pragma once
// What every event loop does alike around its TaskQueue: posting and
// invoking, the exception handler, quit() and its exit code, the handles of
// timers and watches, and the frame of run() that ends the loop for good
// however it is left.  A loop adds only how it waits, its timers and its
// watches, so the rules of EventLoop.h hold on each by construction.
#include "toolkit/EventLoop.h"
#include "toolkit/TaskQueue.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace vantor {

class LoopCore : public EventLoop {
public:
    LoopCore(const LoopCore&) = delete;
    LoopCore& operator=(const LoopCore&) = delete;

    void post(Task task) override;
    bool invoke(Task task) override;
    void quit(int code = 0) override;
    // Receives exceptions that escape tasks and handlers (default: stderr).
    void setExceptionHandler(ExceptionHandler handler) override;
    // The steady clock; a loop on a clock of its own overrides it.
    std::int64_t monotonicMs() const override;

    // True once run() has returned or the loop is being destroyed.
    bool ended() const { return tasks_.ended(); }
    // Posted and invoked tasks that have not run yet.
    std::size_t pendingTasks() const { return tasks_.size(); }
    // Runs f under the loop's exception rule (a call from a window or view,
    // which no exception may leave).
    void guarded(const std::function<void()>& f) const { tasks_.guarded(f); }
    // quit() was asked for (a modal loop ends then too).
    bool quitRequested() const { return quitRequested_.load(); }

protected:
    explicit LoopCore(TaskQueue::WakeHook wake = {});

    // Inside run() after quit(): nothing more starts.
    bool stopping() const { return running_ && quitRequested_.load(); }
    // The code given to quit().
    int exitCode() const { return exitCode_.load(); }
    // run() itself: serves `body` on the calling thread, then ends the loop,
    // an exception leaving body included.  Once the loop has ended it returns
    // at once.  Returns the code given to quit().
    int runOnThisThread(const std::function<void()>& body);
    // Timers and watches count from one handle sequence (0 is never valid).
    Handle newHandle() { return nextHandle_++; }

    TaskQueue tasks_;

private:
    std::atomic<bool> quitRequested_{false};
    std::atomic<int> exitCode_{0};
    bool running_ = false;
    Handle nextHandle_ = 1;
};

} // namespace vantor
