#pragma once
// The system's service manager as the gateway's service operations see it:
// the manager that keeps units (query, install, start, stop, remove), the
// status channel of a process the manager started, the system event log,
// the start entry of a system without a service manager, and the requests
// the system sends a running program.  The platform layer implements them
// on systemd (sd-bus, sd_notify, the journal, signals); tests use fakes.
#include <cstdint>
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

// The link of a service process to the manager that started it.
class ServiceNotifier {
public:
    virtual ~ServiceNotifier() = default;
    // Whether a manager started this process and listens for its reports.
    virtual bool Connected() const = 0;
    // Sends one report, lines such as "READY=1" and "STATUS=..." joined by
    // line feeds.  False: the errno value is in LastError().
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
