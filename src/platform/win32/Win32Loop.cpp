#include "platform/win32/Win32Loop.h"

#include "platform/win32/WinApi.h"
#include "toolkit/DateTime.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace vantor {

using win32::UniqueHandle;

namespace {

// Messages dispatched in one pass at most, so a window that keeps posting to
// itself cannot starve the timers and sockets.
constexpr int kMessagesPerPass = 100;

SHORT ToPollEvents(unsigned events) {
    SHORT result = 0;
    if (events & EventLoop::Readable) result |= POLLRDNORM;
    if (events & EventLoop::Writable) result |= POLLWRNORM;
    return result;
}

unsigned FromPollEvents(SHORT revents) {
    unsigned result = 0;
    if (revents & (POLLRDNORM | POLLRDBAND)) result |= EventLoop::Readable;
    if (revents & POLLWRNORM) result |= EventLoop::Writable;
    if (revents & (POLLERR | POLLNVAL)) result |= EventLoop::Error;
    if (revents & POLLHUP) result |= EventLoop::HangUp;
    return result;
}

// Every network event of a watched socket signals the loop's one socket event.
constexpr long kNetworkEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE | FD_OOB;

[[noreturn]] void ThrowSystemError(DWORD error, const std::string& what) {
    throw std::system_error(static_cast<int>(error), std::system_category(),
                            what + ": " + win32::ErrorText(error));
}

} // namespace

struct Win32Loop::Events {
    UniqueHandle wake = win32::MakeEvent(false);   // auto-reset: one wait consumes it
    UniqueHandle sockets = win32::MakeEvent(true); // reset by the loop before it looks
};

Win32Loop::Win32Loop()
    : RealTimeLoop([this] { ::SetEvent(events_->wake.get()); }),
      events_(std::make_unique<Events>()) {
    if (!events_->wake || !events_->sockets)
        ThrowSystemError(::GetLastError(), "event loop: cannot create its events");
    std::string why;
    if (!win32::StartWinsock(&why))
        throw std::runtime_error("event loop: Winsock cannot be started: " + why);
}

Win32Loop::~Win32Loop() {
    tasks_.end();
    for (const auto& [h, w] : watches()) ::WSAEventSelect(static_cast<SOCKET>(w.fd), nullptr, 0);
}

EventLoop::Handle Win32Loop::watchFd(int socket, unsigned events, IoHandler handler) {
    // A value that is no socket is reported as an error by the next pass.
    ::WSAEventSelect(static_cast<SOCKET>(socket), events_->sockets.get(), kNetworkEvents);
    return RealTimeLoop::watchFd(socket, events, std::move(handler));
}

void Win32Loop::unwatchFd(Handle watch) {
    auto it = watches().find(watch);
    if (it == watches().end()) return;
    const int socket = it->second.fd;
    RealTimeLoop::unwatchFd(watch);
    // The socket stops signalling the loop unless another watch still has it.
    const bool stillWatched =
        std::any_of(watches().begin(), watches().end(),
                    [socket](const auto& w) { return w.second.fd == socket; });
    if (!stillWatched) ::WSAEventSelect(static_cast<SOCKET>(socket), nullptr, 0);
}

bool Win32Loop::dispatchReadySockets() {
    std::vector<WSAPOLLFD> fds;
    std::vector<Handle> owners;
    for (const auto& [h, w] : watches()) {
        if (w.events == 0) continue;
        WSAPOLLFD p{};
        p.fd = static_cast<SOCKET>(w.fd);
        p.events = ToPollEvents(w.events);
        fds.push_back(p);
        owners.push_back(h);
    }
    if (fds.empty()) return false;
    const int n = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), 0);
    if (n == SOCKET_ERROR) {
        // No memory for the sockets, or a broken Winsock: this would fail again
        // at once, and retrying would spin the processor while nothing happens.
        ThrowSystemError(static_cast<DWORD>(::WSAGetLastError()),
                         "event loop: WSAPoll on " + std::to_string(fds.size()) + " sockets failed");
    }
    if (n == 0) return false;
    bool delivered = false;
    for (std::size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents != 0 &&
            deliver(owners[i], FromPollEvents(fds[i].revents), fds[i].revents & POLLNVAL))
            delivered = true;
    return delivered;
}

void Win32Loop::dispatchMessages() {
    MSG msg;
    for (int i = 0; i < kMessagesPerPass && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) {
            quit(static_cast<int>(msg.wParam));
            return;
        }
        tasks_.guarded([&] {
            if (messageFilter_ && messageFilter_(msg)) return;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        });
    }
}

void Win32Loop::waitOnce(int timeoutMs) {
    // Reset before looking: a network event after the look signals it again,
    // so the wait below cannot sleep through it.
    ::ResetEvent(events_->sockets.get());
    if (dispatchReadySockets() || timeoutMs == 0) {
        dispatchMessages();
        return;
    }
    HANDLE handles[2] = {events_->wake.get(), events_->sockets.get()};
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    const DWORD r =
        ::MsgWaitForMultipleObjectsEx(2, handles, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (r == WAIT_FAILED) ThrowSystemError(::GetLastError(), "event loop: the wait failed");
    if (r == WAIT_OBJECT_0 + 1) dispatchReadySockets();
    dispatchMessages();
}

void Win32Loop::waitAndProcessEvents() { iterate(true); }

void Win32Loop::processEventsWithoutMessages() {
    runTasks();
    if (stopping()) return;
    fireDueTimers();
    if (stopping()) return;
    ::ResetEvent(events_->sockets.get());
    dispatchReadySockets();
    if (stopping()) return;
    runTasks();
}

double Win32Loop::now() const {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return EncodeDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                          t.wMilliseconds);
}

} // namespace vantor
