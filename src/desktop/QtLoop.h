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
#include <functional>
#include <map>
#include <memory>

#include "toolkit/LoopCore.h"

class QObject;

namespace vantor::desktop {

class QtLoop final : public LoopCore {
public:
    // Qt tells only that a descriptor is readable or writable; the probe
    // (the platform's poll of one descriptor) adds hang-up and error.
    using ReadinessProbe = std::function<unsigned(int fd)>;

    explicit QtLoop(ReadinessProbe probe = {});
    ~QtLoop() override;

    Handle startTimer(std::uint32_t intervalMs, Task onFire) override;
    void stopTimer(Handle timer) override;
    Handle watchFd(int fd, unsigned events, IoHandler handler) override;
    void setWatchEvents(Handle watch, unsigned events) override;
    void unwatchFd(Handle watch) override;
    void processEvents() override;
    int run() override;
    double now() const override;

private:
    struct Timer;
    struct Watch;
    void serve();
    void deliver(Handle watch, bool readSide);
    void applyWatch(Watch& w);

    ReadinessProbe probe_;
    std::unique_ptr<QObject> agent_; // lives in the Qt thread; queued calls land here
    std::map<Handle, std::unique_ptr<Timer>> timers_;
    std::map<Handle, std::unique_ptr<Watch>> watches_;
};

} // namespace vantor::desktop
