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
    : events_(std::make_unique<Events>()), tasks_([this] { ::SetEvent(events_->wake.get()); }) {
    if (!events_->wake || !events_->sockets)
        ThrowSystemError(::GetLastError(), "event loop: cannot create its events");
    std::string why;
    if (!win32::StartWinsock(&why))
        throw std::runtime_error("event loop: Winsock cannot be started: " + why);
}

Win32Loop::~Win32Loop() {
    tasks_.end();
    for (const auto& [h, w] : watches_) ::WSAEventSelect(static_cast<SOCKET>(w.socket), nullptr, 0);
}

void Win32Loop::post(Task task) { tasks_.post(std::move(task)); }

bool Win32Loop::invoke(Task task) { return tasks_.invoke(std::move(task)); }

EventLoop::Handle Win32Loop::startTimer(std::uint32_t intervalMs, Task onFire) {
    // A zero period would spin the loop; the shortest period is one millisecond.
    const std::uint32_t period = std::max<std::uint32_t>(intervalMs, 1);
    const Handle h = nextHandle_++;
    timers_[h] = Timer{period, monotonicMs() + period, std::make_shared<Task>(std::move(onFire))};
    return h;
}

void Win32Loop::stopTimer(Handle timer) { timers_.erase(timer); }

EventLoop::Handle Win32Loop::watchFd(int socket, unsigned events, IoHandler handler) {
    // A value that is no socket is reported as an error by the next pass.
    ::WSAEventSelect(static_cast<SOCKET>(socket), events_->sockets.get(), kNetworkEvents);
    const Handle h = nextHandle_++;
    watches_[h] = Watch{socket, events, std::make_shared<IoHandler>(std::move(handler))};
    return h;
}

void Win32Loop::setWatchEvents(Handle watch, unsigned events) {
    if (auto it = watches_.find(watch); it != watches_.end()) it->second.events = events;
}

void Win32Loop::unwatchFd(Handle watch) {
    auto it = watches_.find(watch);
    if (it == watches_.end()) return;
    const int socket = it->second.socket;
    watches_.erase(it);
    // The socket stops signalling the loop unless another watch still has it.
    const bool stillWatched = std::any_of(watches_.begin(), watches_.end(),
                                          [socket](const auto& w) { return w.second.socket == socket; });
    if (!stillWatched) ::WSAEventSelect(static_cast<SOCKET>(socket), nullptr, 0);
}

void Win32Loop::setExceptionHandler(ExceptionHandler handler) {
    tasks_.setExceptionHandler(std::move(handler));
}

bool Win32Loop::ended() const { return tasks_.ended(); }

std::size_t Win32Loop::pendingTasks() const { return tasks_.size(); }

bool Win32Loop::stopping() const { return running_ && quitRequested_.load(); }

void Win32Loop::runTasks() {
    tasks_.runBatch([this] { return stopping(); });
}

void Win32Loop::fireDueTimers() {
    if (timers_.empty()) return;
    const std::int64_t nowMs = monotonicMs();
    std::vector<std::pair<std::int64_t, Handle>> due;
    for (const auto& [h, t] : timers_)
        if (t.dueMs <= nowMs) due.emplace_back(t.dueMs, h);
    // Due order; equal due times in start order (handles grow with each start).
    std::sort(due.begin(), due.end());
    for (const auto& [dueMs, h] : due) {
        if (stopping()) return;
        auto it = timers_.find(h);
        if (it == timers_.end()) continue; // stopped by an earlier handler
        Timer& t = it->second;
        // Rescheduled before it fires, so a nested processEvents() in the
        // handler does not fire it again; missed periods are skipped.
        t.dueMs += t.intervalMs;
        if (t.dueMs <= nowMs) t.dueMs = nowMs + t.intervalMs;
        std::shared_ptr<Task> keep = t.task; // the handler may stop its own timer
        if (*keep) tasks_.guarded(*keep);
    }
}

unsigned long Win32Loop::waitTimeoutMs() const {
    if (!tasks_.empty() || quitRequested_.load()) return 0;
    if (timers_.empty()) return INFINITE;
    std::int64_t next = INT64_MAX;
    for (const auto& [h, t] : timers_) next = std::min(next, t.dueMs);
    const std::int64_t wait = next - monotonicMs();
    if (wait <= 0) return 0;
    return static_cast<unsigned long>(std::min<std::int64_t>(wait, 60000));
}

bool Win32Loop::dispatchReadySockets() {
    std::vector<WSAPOLLFD> fds;
    std::vector<Handle> owners;
    for (const auto& [h, w] : watches_) {
        if (w.events == 0) continue;
        WSAPOLLFD p{};
        p.fd = static_cast<SOCKET>(w.socket);
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
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        auto it = watches_.find(owners[i]);
        if (it == watches_.end()) continue; // removed by an earlier handler
        Watch& w = it->second;
        if (w.events == 0) continue; // paused by an earlier handler
        const unsigned events = FromPollEvents(fds[i].revents) & (w.events | Error | HangUp);
        if (events == 0) continue;
        // A socket closed behind the watch's back: reported once, then paused.
        if (fds[i].revents & POLLNVAL) w.events = 0;
        delivered = true;
        std::shared_ptr<IoHandler> keep = w.handler;
        if (*keep) tasks_.guarded([&] { (*keep)(events); });
    }
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

void Win32Loop::waitOnce(unsigned long timeoutMs) {
    // Reset before looking: a network event after the look signals it again,
    // so the wait below cannot sleep through it.
    ::ResetEvent(events_->sockets.get());
    if (dispatchReadySockets() || timeoutMs == 0) {
        dispatchMessages();
        return;
    }
    HANDLE handles[2] = {events_->wake.get(), events_->sockets.get()};
    const DWORD r = ::MsgWaitForMultipleObjectsEx(2, handles, timeoutMs, QS_ALLINPUT,
                                                  MWMO_INPUTAVAILABLE);
    if (r == WAIT_FAILED) ThrowSystemError(::GetLastError(), "event loop: the wait failed");
    if (r == WAIT_OBJECT_0 + 1) dispatchReadySockets();
    dispatchMessages();
}

void Win32Loop::iterate(bool mayBlock) {
    // Once quit() was asked for, nothing more starts in this pass of run();
    // after run() has returned, processEvents() serves the shutdown normally.
    runTasks();
    if (stopping()) return;
    fireDueTimers();
    if (stopping()) return;
    waitOnce(mayBlock ? waitTimeoutMs() : 0);
    if (stopping()) return;
    runTasks();
    if (stopping()) return;
    fireDueTimers();
}

void Win32Loop::processEvents() { iterate(false); }

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

int Win32Loop::run() {
    if (tasks_.ended()) return exitCode_.load();
    tasks_.setLoopThread(std::this_thread::get_id());
    running_ = true;
    struct End {
        Win32Loop& loop;
        ~End() {
            loop.running_ = false;
            loop.tasks_.end();
        }
    } end{*this};
    while (!quitRequested_.load()) iterate(true);
    return exitCode_.load();
}

void Win32Loop::quit(int code) {
    exitCode_ = code;
    quitRequested_ = true;
    tasks_.wake();
}

std::int64_t Win32Loop::monotonicMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

double Win32Loop::now() const {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return EncodeDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                          t.wMilliseconds);
}

} // namespace vantor
