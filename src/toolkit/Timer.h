#pragma once
// The window timer component: calls OnTimer every Interval milliseconds on
// the event loop while it is Enabled and its Interval is above 0 (a firing
// with OnTimer unassigned does nothing).  Any change of Enabled or Interval
// starts the period afresh; setting a property to the value it already has
// changes nothing.
#include <cstdint>

#include "toolkit/Component.h"
#include "toolkit/EventLoop.h"

namespace vantor {

class TTimer : public TComponent {
public:
    TTimer(TComponent* owner, EventLoop& loop);
    ~TTimer() override;
    std::string ClassName() const override { return "TTimer"; }

    // Enabled from creation, like the framework's timer; the gateway
    // disables its timers at creation and enables them when needed.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    std::uint32_t Interval() const { return interval_; }
    void SetInterval(std::uint32_t intervalMs);
    // Like the framework's setter, assigning the handler this way restarts
    // the period; assigning the member directly does not.
    void SetOnTimer(TNotifyEvent handler);

    TNotifyEvent OnTimer;

    // True while the loop holds a timer for this component.
    bool Running() const { return handle_ != 0; }

private:
    void Update();
    void Fire();

    EventLoop& loop_;
    bool enabled_ = true;
    std::uint32_t interval_ = 1000;
    EventLoop::Handle handle_ = 0;
};

// Holds a timer stopped for the length of a scope and gives it back the state
// it had, however the scope is left: a modal dialog suspends the tick this
// way, so an exception out of the dialog cannot leave polling stopped.
class TimerPause {
public:
    explicit TimerPause(TTimer& timer) : timer_(timer), wasEnabled_(timer.Enabled()) {
        timer_.SetEnabled(false);
    }
    ~TimerPause() { timer_.SetEnabled(wasEnabled_); }
    TimerPause(const TimerPause&) = delete;
    TimerPause& operator=(const TimerPause&) = delete;

private:
    TTimer& timer_;
    bool wasEnabled_;
};

} // namespace vantor
