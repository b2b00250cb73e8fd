#include "platform/win32/Win32Service.h"

#include "platform/win32/WinApi.h"

#include <winsvc.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace vantor {

// ---------------------------------------------------------------------------
// The dispatcher and the status reports.

struct Win32ServiceNotifier::State {
    std::mutex mutex;
    std::wstring name;
    std::function<void()> serviceMain;
    EventLoop* loop = nullptr;
    std::function<void(std::uint32_t)> handler;
    std::atomic<SERVICE_STATUS_HANDLE> status{nullptr};
    std::atomic<DWORD> lastError{0};
    win32::UniqueHandle mainDone = win32::MakeEvent(true); // serviceMain has returned
};

namespace {

// The manager's entry points are plain functions; they find the notifier
// that runs the dispatcher here.
std::mutex activeMutex;
std::shared_ptr<Win32ServiceNotifier::State> active;

std::shared_ptr<Win32ServiceNotifier::State> Active() {
    std::lock_guard lock(activeMutex);
    return active;
}

VOID WINAPI ControlEntry(DWORD control) {
    const auto state = Active();
    if (!state) return;
    std::lock_guard lock(state->mutex);
    if (!state->loop || !state->handler) return;
    // The manager waits for this function: the control is only queued.
    state->loop->post([handler = state->handler, control] { handler(control); });
}

VOID WINAPI ServiceMainEntry(DWORD, LPWSTR*) {
    const auto state = Active();
    if (!state) return;
    // Whatever serviceMain does, RunDispatcher learns that it has returned.
    struct Done {
        HANDLE event;
        ~Done() { ::SetEvent(event); }
    } done{state->mainDone.get()};
    std::function<void()> serviceMain;
    {
        std::lock_guard lock(state->mutex);
        serviceMain = state->serviceMain;
    }
    if (serviceMain) serviceMain();
}

} // namespace

Win32ServiceNotifier::Win32ServiceNotifier() : state_(std::make_shared<State>()) {}

Win32ServiceNotifier::~Win32ServiceNotifier() {
    std::lock_guard lock(activeMutex);
    if (active == state_) active.reset();
}

bool Win32ServiceNotifier::RunDispatcher(const std::string& serviceName,
                                         const std::function<void()>& serviceMain) {
    {
        std::lock_guard lock(activeMutex);
        if (active && active != state_) {
            state_->lastError = ERROR_SERVICE_ALREADY_RUNNING;
            return false;
        }
        active = state_;
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->name = win32::Wide(serviceName);
        state_->serviceMain = serviceMain;
    }
    ::ResetEvent(state_->mainDone.get());
    std::vector<wchar_t> name(state_->name.begin(), state_->name.end());
    name.push_back(L'\0');
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMainEntry}, {nullptr, nullptr}};
    const bool ran = ::StartServiceCtrlDispatcherW(table) != FALSE;
    if (!ran) {
        state_->lastError = ::GetLastError();
    } else {
        // The manager lets the dispatcher go as soon as STOPPED is reported;
        // serviceMain may still be on its way out.
        ::WaitForSingleObject(state_->mainDone.get(), INFINITE);
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->loop = nullptr;
        state_->handler = nullptr;
        state_->serviceMain = nullptr;
    }
    state_->status = nullptr;
    std::lock_guard lock(activeMutex);
    if (active == state_) active.reset();
    return ran;
}

bool Win32ServiceNotifier::RegisterControlHandler(EventLoop& loop,
                                                  std::function<void(std::uint32_t)> handler) {
    std::wstring name;
    {
        std::lock_guard lock(state_->mutex);
        state_->loop = &loop;
        state_->handler = std::move(handler);
        name = state_->name;
    }
    const SERVICE_STATUS_HANDLE status = ::RegisterServiceCtrlHandlerW(name.c_str(), ControlEntry);
    if (!status) {
        state_->lastError = ::GetLastError();
        return false;
    }
    state_->status = status;
    return true;
}

bool Win32ServiceNotifier::Connected() const { return state_->status.load() != nullptr; }

bool Win32ServiceNotifier::ReportStatus(const ServiceStatus& status, const std::string&) {
    const SERVICE_STATUS_HANDLE handle = state_->status;
    if (!handle) {
        state_->lastError = ERROR_INVALID_HANDLE;
        return false;
    }
    SERVICE_STATUS record{};
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = status.currentState;
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    if (::SetServiceStatus(handle, &record)) return true;
    state_->lastError = ::GetLastError();
    return false;
}

bool Win32ServiceNotifier::Notify(const std::string&) { return true; }

int Win32ServiceNotifier::LastError() const { return static_cast<int>(state_->lastError.load()); }

// ---------------------------------------------------------------------------
// The event log.

Win32EventLog::Win32EventLog(std::string sourceName) : sourceName_(std::move(sourceName)) {}

bool Win32EventLog::Report(int type, const std::string& firstString, const std::string& message) {
    const HANDLE source = ::RegisterEventSourceW(nullptr, win32::Wide(sourceName_).c_str());
    if (!source) return false;
    const std::wstring first = win32::WideFromUtf8(firstString);
    const std::wstring second = win32::WideFromUtf8(message);
    LPCWSTR strings[] = {first.c_str(), second.c_str()};
    const bool written = ::ReportEventW(source, static_cast<WORD>(type), 0, 0, nullptr, 2, 0,
                                        strings, nullptr) != FALSE;
    ::DeregisterEventSource(source);
    return written;
}

// ---------------------------------------------------------------------------
// The services dialog's calls.

namespace {

SC_HANDLE Handle(void* h) { return static_cast<SC_HANDLE>(h); }

} // namespace

Win32ServiceControlManager::~Win32ServiceControlManager() { Close(); }

bool Win32ServiceControlManager::Fail() {
    const DWORD code = ::GetLastError();
    error_ = ServiceError{static_cast<int>(code), win32::ErrorTextUtf8(code),
                          code == ERROR_ACCESS_DENIED, false};
    return false;
}

void Win32ServiceControlManager::CloseService() {
    if (service_) ::CloseServiceHandle(Handle(service_));
    service_ = nullptr;
}

void Win32ServiceControlManager::Close() {
    CloseService();
    if (manager_) ::CloseServiceHandle(Handle(manager_));
    manager_ = nullptr;
}

bool Win32ServiceControlManager::Connect(Access access) {
    Close();
    manager_ = ::OpenSCManagerW(nullptr, nullptr,
                                access == Access::Query ? SC_MANAGER_CONNECT : SC_MANAGER_ALL_ACCESS);
    return manager_ ? true : Fail();
}

bool Win32ServiceControlManager::Open(const std::string& name, Access access) {
    CloseService();
    service_ = ::OpenServiceW(Handle(manager_), win32::Wide(name).c_str(),
                              access == Access::Query ? SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS
                                                      : SERVICE_ALL_ACCESS);
    return service_ ? true : Fail();
}

bool Win32ServiceControlManager::Create(const std::string& name, const std::string& displayName,
                                        const std::string& commandLine, std::uint32_t startType) {
    CloseService();
    service_ = ::CreateServiceW(Handle(manager_), win32::Wide(name).c_str(),
                                win32::Wide(displayName).c_str(), SERVICE_ALL_ACCESS,
                                SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                win32::Wide(commandLine).c_str(), nullptr, nullptr, nullptr,
                                nullptr, nullptr);
    return service_ ? true : Fail();
}

std::optional<std::uint32_t> Win32ServiceControlManager::StartType() {
    // The configuration holds paths and names: its size is asked first.
    DWORD needed = 0;
    if (!::QueryServiceConfigW(Handle(service_), nullptr, 0, &needed) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        Fail();
        return std::nullopt;
    }
    std::vector<std::uint64_t> buffer(needed / sizeof(std::uint64_t) + 1); // aligned
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!::QueryServiceConfigW(Handle(service_), config,
                               static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)), &needed)) {
        Fail();
        return std::nullopt;
    }
    return config->dwStartType;
}

std::optional<std::uint32_t> Win32ServiceControlManager::State() {
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(Handle(service_), &status)) {
        Fail();
        return std::nullopt;
    }
    return status.dwCurrentState;
}

bool Win32ServiceControlManager::HasDisplayName(const std::string& displayName) {
    wchar_t key[257] = {};
    DWORD length = 256;
    if (::GetServiceKeyNameW(Handle(manager_), win32::Wide(displayName).c_str(), key, &length))
        return true;
    // A key name longer than the buffer still names an installed service.
    return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? true : Fail();
}

bool Win32ServiceControlManager::Start() {
    return ::StartServiceW(Handle(service_), 0, nullptr) ? true : Fail();
}

bool Win32ServiceControlManager::Stop() {
    SERVICE_STATUS status{};
    return ::ControlService(Handle(service_), SERVICE_CONTROL_STOP, &status) ? true : Fail();
}

bool Win32ServiceControlManager::Remove() {
    return ::DeleteService(Handle(service_)) ? true : Fail();
}

} // namespace vantor
