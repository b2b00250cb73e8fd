#include "platform/win32/ConsoleStop.h"

#include "platform/win32/WinApi.h"

#include <mutex>
#include <stdexcept>

namespace vantor {

struct ConsoleStopWatcher::State {
    EventLoop* loop;
    Handler handler;
    bool stopOnLogoff;
    win32::UniqueHandle finished = win32::MakeEvent(true); // set when the watcher goes

    bool Deliver(unsigned event) {
        if (event == Logoff && !stopOnLogoff) return false;
        if (event != CtrlC && event != CtrlBreak && event != Close && event != Logoff &&
            event != Shutdown)
            return false;
        loop->post([h = handler, event] {
            if (h) h(event);
        });
        // Windows ends the process when the handler returns from these: hold
        // it off until the program has stopped in order (the watcher goes).
        if (event == Close || event == Logoff || event == Shutdown)
            ::WaitForSingleObject(finished.get(), kOrderlyStopMs);
        return true;
    }

    // How long the handler holds off the end of the process after a console
    // close: Windows itself ends it some seconds later whatever the handler does.
    static constexpr DWORD kOrderlyStopMs = 4500;
};

namespace {

std::mutex gMutex;
std::shared_ptr<ConsoleStopWatcher::State> gState; // the installed watcher's

BOOL WINAPI OnConsoleEvent(DWORD event) {
    std::shared_ptr<ConsoleStopWatcher::State> state;
    {
        std::lock_guard lock(gMutex);
        state = gState;
    }
    return state && state->Deliver(event) ? TRUE : FALSE;
}

} // namespace

ConsoleStopWatcher::ConsoleStopWatcher(EventLoop& loop, Handler handler, bool stopOnLogoff)
    : state_(std::make_shared<State>(State{&loop, std::move(handler), stopOnLogoff})) {
    if (!state_->finished) throw std::runtime_error("console stop watcher: no event");
    {
        std::lock_guard lock(gMutex);
        if (gState) throw std::runtime_error("console stop watcher: another watcher is already installed");
        gState = state_;
    }
    if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) {
        const DWORD error = ::GetLastError();
        std::lock_guard lock(gMutex);
        gState.reset();
        throw std::runtime_error("console stop watcher: " + win32::ErrorText(error));
    }
}

ConsoleStopWatcher::~ConsoleStopWatcher() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    {
        std::lock_guard lock(gMutex);
        gState.reset();
    }
    ::SetEvent(state_->finished.get());
}

bool ConsoleStopWatcher::Deliver(unsigned event) { return state_->Deliver(event); }

} // namespace vantor
