#pragma once
// The system's service manager as the gateway's service operations see it:
// the manager that keeps units (query, install, start, stop, remove), the
// status channel of a process the manager started, the system event log,
// the start entry of a system without a service manager, and the requests
// the system sends a running program.  The platform layer implements them
// on systemd (sd-bus, sd_notify, the journal, signals) and on Windows (the
// service control manager, the event log, console control); tests use fakes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vantor {

// Why a call to the service manager failed.
struct ServiceError {
    int code = 0;              // errno value
    std::string text;          // what to show a user (UTF-8), never empty after a failure
    bool accessDenied = false; // refused for want of rights
    bool unavailable = false;  // no service manager on this system (or none reachable)
};

// What the manager knows of one unit, in systemd's own words.
struct UnitStatus {
    std::string loadState;     // "loaded", "not-found", "masked", "error", ...
    std::string activeState;   // "active", "activating", "deactivating", "inactive", "failed", ...
    std::string unitFileState; // "enabled", "disabled", "static", "masked", ...
    std::string fragmentPath;  // the unit's file; empty when it has none
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // Reaches the manager afresh; every operation of a dialog starts here.
    virtual bool Connect() = 0;
    // Every call below needs a successful Connect() first; false or nullopt
    // means failure, with the reason in LastError().
    virtual std::optional<UnitStatus> Query(const std::string& unit) = 0;
    // The folder where unit files of the system's administrator lie; a unit
    // written by WriteUnitFile goes there.
    virtual std::string UnitFolder() const = 0;
    virtual bool WriteUnitFile(const std::string& unit, const std::string& text) = 0;
    virtual bool DeleteUnitFile(const std::string& unit) = 0;
    // Makes the manager read its unit files again.
    virtual bool Reload() = 0;
    virtual bool Enable(const std::string& unit) = 0;
    virtual bool Disable(const std::string& unit) = 0;
    virtual bool Mask(const std::string& unit) = 0;
    virtual bool Unmask(const std::string& unit) = 0;
    // Start and stop queue a job; the unit's state shows how it goes.
    virtual bool Start(const std::string& unit) = 0;
    virtual bool Stop(const std::string& unit) = 0;
    virtual const ServiceError& LastError() const = 0;
};

// The Windows service control manager in the calls the services dialog makes,
// one manager and one service open at a time.  States and start types are
// the manager's numbers (SERVICE_STOPPED = 1, SERVICE_AUTO_START = 2, ...).
class ServiceControlManager {
public:
    enum class Access {
        Query, // the manager: connect; a service: its configuration and status
        All,   // everything: create, start, stop, delete
    };
    virtual ~ServiceControlManager() = default;
    // OpenSCManager on the local machine; closes what was open before.
    virtual bool Connect(Access access) = 0;
    // OpenService of the open manager; the service opened is the one the
    // calls below act on.
    virtual bool Open(const std::string& name, Access access) = 0;
    // CreateService: a service in a process of its own, run by the local
    // system account, whose failure to start is logged (normal error
    // control).  It is not started; it is the service open from then on.
    virtual bool Create(const std::string& name, const std::string& displayName,
                        const std::string& commandLine, std::uint32_t startType) = 0;
    // QueryServiceConfig's start type, QueryServiceStatus's current state.
    virtual std::optional<std::uint32_t> StartType() = 0;
    virtual std::optional<std::uint32_t> State() = 0;
    // Whether a service of this display name is installed (GetServiceKeyName).
    virtual bool HasDisplayName(const std::string& displayName) = 0;
    // StartService without arguments, ControlService(SERVICE_CONTROL_STOP),
    // DeleteService.
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual bool Remove() = 0;
    // Closes the service and the manager.
    virtual void Close() = 0;
    // Why the last call failed: the system's error code and text;
    // accessDenied for ERROR_ACCESS_DENIED.
    virtual const ServiceError& LastError() const = 0;
};

// The status record as the service manager takes it; states, types and
// controls are the numbers of Windows' record (SERVICE_RUNNING = 4, ...).
struct ServiceStatus {
    std::uint32_t serviceType = 0;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0; // NO_ERROR in every report
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
};

// The link of a service process to the manager that started it.
class ServiceNotifier {
public:
    virtual ~ServiceNotifier() = default;
    // Hands the calling thread to the manager that started this process,
    // which runs serviceMain for the service of this name and returns once
    // it has stopped: on a thread of the manager's (Windows), or on this one.
    // False at once when no manager started the process; LastError() may
    // say why.  By default: serviceMain on this thread when Connected().
    virtual bool RunDispatcher(const std::string& serviceName,
                               const std::function<void()>& serviceMain) {
        (void)serviceName;
        if (!Connected()) return false;
        serviceMain();
        return true;
    }
    // Whether a manager started this process and listens for its reports.
    virtual bool Connected() const = 0;
    // Sends one status report: the record, and the same as the message
    // Notify() would send.  By default the message alone.
    virtual bool ReportStatus(const ServiceStatus& status, const std::string& message) {
        (void)status;
        return Notify(message);
    }
    // Sends one report, lines such as "READY=1" and "STATUS=..." joined by
    // line feeds.  False: the errno value is in LastError().  A manager
    // without such messages (Windows) takes none and answers true.
    virtual bool Notify(const std::string& message) = 0;
    // The watchdog period the manager expects, in microseconds; 0: none.
    virtual std::uint64_t WatchdogMicroseconds() const = 0;
    virtual int LastError() const = 0;
};

// The system's log of events.  Types as the event log numbers them.
class EventLog {
public:
    static constexpr int Error = 1, Warning = 2, Information = 4;
    virtual ~EventLog() = default;
    // Texts are UTF-8.  False when the entry could not be written anywhere.
    virtual bool Report(int type, const std::string& firstString, const std::string& message) = 0;
};

// What the system asks of the running program from outside (a service
// manager, a terminal): stop it (SIGTERM, Ctrl+C, the manager's stop),
// report its state again, or any other control.
enum class SystemRequest { Stop, ReportState, Other };

// Watches for the system's requests while it exists; the platform makes it
// with the handler, which runs on the loop thread.
class SystemRequestWatch {
public:
    virtual ~SystemRequestWatch() = default;
};

// Named start entries of a system that has no service manager: a value
// that names the command to run when the system starts.
class StartEntryStore {
public:
    virtual ~StartEntryStore() = default;
    // The entry's command; empty when there is none.
    virtual std::string Read(const std::string& name) = 0;
    virtual bool Write(const std::string& name, const std::string& command) = 0;
    virtual bool Delete(const std::string& name) = 0;
};

} // namespace vantor
