#include "toolkit/Timer.h"

namespace vantor {

TTimer::TTimer(TComponent* owner, EventLoop& loop) : TComponent(owner), loop_(loop) { Update(); }

TTimer::~TTimer() {
    if (handle_) loop_.stopTimer(handle_);
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Update();
}

void TTimer::SetInterval(std::uint32_t intervalMs) {
    if (intervalMs == interval_) return;
    interval_ = intervalMs;
    Update();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
    OnTimer = std::move(handler);
    Update();
}

void TTimer::Update() {
    if (handle_) {
        loop_.stopTimer(handle_);
        handle_ = 0;
    }
    if (enabled_ && interval_ > 0) handle_ = loop_.startTimer(interval_, [this] { Fire(); });
}

void TTimer::Fire() {
    if (!OnTimer) return;
    // The handler may reassign OnTimer or free this timer: call a copy and
    // touch nothing afterwards.
    TNotifyEvent handler = OnTimer;
    handler(this);
}

} // namespace vantor
