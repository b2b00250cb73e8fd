#pragma once
// The toolkit's event loop on Qt's: timers on QTimer, descriptor watches on
// QSocketNotifier, posted and invoked tasks through the shared TaskQueue,
// woken by a queued call into the Qt thread.  Modal dialogs (QDialog::exec)
// run Qt's nested loops, which serve the tasks too, so the serial event
// thread's hand-overs go through while a dialog is open.
//
// The loop thread is the thread of the QApplication, which must exist before
// the loop.  Quit, the end of the loop and exceptions follow EventLoop.h;
// quit() also ends every nested Qt loop, so a modal dialog open at a stop
// request ends with Cancel.  This header includes no Qt, so the program
// entry can hold the loop without seeing Qt.
#include <atomic>
#include <functional>
#include <map>
#include <memory>

#include "toolkit/EventLoop.h"
#include "toolkit/TaskQueue.h"

class QObject;

namespace vantor::desktop {

class QtLoop final : public EventLoop {
public:
    // Qt tells only that a descriptor is readable or writable; the probe
    // (the platform's poll of one descriptor) adds hang-up and error.
    using ReadinessProbe = std::function<unsigned(int fd)>;

    explicit QtLoop(ReadinessProbe probe = {});
    ~QtLoop() override;
    QtLoop(const QtLoop&) = delete;
    QtLoop& operator=(const QtLoop&) = delete;

    void post(Task task) override;
    bool invoke(Task task) override;
    Handle startTimer(std::uint32_t intervalMs, Task onFire) override;
    void stopTimer(Handle timer) override;
    Handle watchFd(int fd, unsigned events, IoHandler handler) override;
    void setWatchEvents(Handle watch, unsigned events) override;
    void unwatchFd(Handle watch) override;
    void processEvents() override;
    int run() override;
    void quit(int code = 0) override;
    void setExceptionHandler(ExceptionHandler handler) override;
    std::int64_t monotonicMs() const override;
    double now() const override;

    bool ended() const { return tasks_.ended(); }
    std::size_t pendingTasks() const { return tasks_.size(); }
    // Runs a call from the view (a click, a menu command) under the loop's
    // exception rule, as the message loop runs a window message.
    void guarded(const std::function<void()>& f) const { tasks_.guarded(f); }

private:
    struct Timer;
    struct Watch;
    void serve();
    bool stopping() const { return running_ && quitRequested_.load(); }
    void deliver(Handle watch, bool readSide);
    void applyWatch(Watch& w);

    ReadinessProbe probe_;
    std::unique_ptr<QObject> agent_; // lives in the Qt thread; queued calls land here
    TaskQueue tasks_;
    std::atomic<bool> quitRequested_{false};
    std::atomic<int> exitCode_{0};
    bool running_ = false;
    Handle nextHandle_ = 1;
    std::map<Handle, std::unique_ptr<Timer>> timers_;
    std::map<Handle, std::unique_ptr<Watch>> watches_;
};

} // namespace vantor::desktop
