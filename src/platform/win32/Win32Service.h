#pragma once
// The gateway's service side on Windows: the service control manager's
// dispatcher, control handler and status reports (StartServiceCtrlDispatcher,
// RegisterServiceCtrlHandler, SetServiceStatus), the event log
// (RegisterEventSource, ReportEvent) and the services dialog's calls
// (OpenSCManager, CreateService, OpenService, QueryServiceConfig,
// QueryServiceStatus, StartService, ControlService, DeleteService).  Names
// and texts are the gateway's Windows-1250, command lines included; event
// texts are UTF-8, as the EventLog interface has them.
#include "toolkit/EventLoop.h"
#include "toolkit/SystemService.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vantor {

// The link to the service control manager of a process it started.  One
// service per process: only one notifier may run its dispatcher at a time.
//
// Threads: RunDispatcher's thread becomes the manager's dispatcher thread,
// which also runs the control handler; serviceMain runs on a thread the
// manager makes for it, and the gateway with it.  The handler only posts
// each control to the loop given to RegisterControlHandler, so the controls
// are handled on the gateway's own thread.
class Win32ServiceNotifier final : public ServiceNotifier {
public:
    Win32ServiceNotifier();
    ~Win32ServiceNotifier() override;
    Win32ServiceNotifier(const Win32ServiceNotifier&) = delete;
    Win32ServiceNotifier& operator=(const Win32ServiceNotifier&) = delete;

    // StartServiceCtrlDispatcher with one entry, serviceName and serviceMain.
    // Returns once the service has stopped and serviceMain has returned;
    // false at once when the manager did not start this process
    // (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT in LastError()).  The loop of
    // RegisterControlHandler must live until it returns.
    bool RunDispatcher(const std::string& serviceName,
                       const std::function<void()>& serviceMain) override;
    // RegisterServiceCtrlHandler for the service being run; from serviceMain,
    // before the first report.  Every control is then posted to `loop`, where
    // `handler` runs.
    bool RegisterControlHandler(EventLoop& loop, std::function<void(std::uint32_t)> handler);
    // Whether the control handler is registered: reports reach the manager.
    bool Connected() const override;
    // SetServiceStatus with the record as it stands.
    bool ReportStatus(const ServiceStatus& status, const std::string& message) override;
    // Windows' manager takes no text and has no watchdog: nothing is sent.
    bool Notify(const std::string& message) override;
    std::uint64_t WatchdogMicroseconds() const override { return 0; }
    int LastError() const override;

    struct State; // shared with the manager's threads

private:
    std::shared_ptr<State> state_;
};

// The event log, under an event source of the given name.  No message file
// is registered for it: the event viewer shows the two strings after its
// note that the description of event 0 cannot be found.
class Win32EventLog final : public EventLog {
public:
    explicit Win32EventLog(std::string sourceName);
    bool Report(int type, const std::string& firstString, const std::string& message) override;

private:
    std::string sourceName_;
};

// The service control manager of the local machine.
class Win32ServiceControlManager final : public ServiceControlManager {
public:
    Win32ServiceControlManager() = default;
    ~Win32ServiceControlManager() override;
    Win32ServiceControlManager(const Win32ServiceControlManager&) = delete;
    Win32ServiceControlManager& operator=(const Win32ServiceControlManager&) = delete;

    bool Connect(Access access) override;
    bool Open(const std::string& name, Access access) override;
    bool Create(const std::string& name, const std::string& displayName,
                const std::string& commandLine, std::uint32_t startType) override;
    std::optional<std::uint32_t> StartType() override;
    std::optional<std::uint32_t> State() override;
    bool HasDisplayName(const std::string& displayName) override;
    bool Start() override;
    bool Stop() override;
    bool Remove() override;
    void Close() override;
    const ServiceError& LastError() const override { return error_; }

private:
    bool Fail();
    void CloseService();

    void* manager_ = nullptr; // SC_HANDLE
    void* service_ = nullptr; // SC_HANDLE
    ServiceError error_;
};

} // namespace vantor
