#pragma once
// The gateway's service side on systemd: status reports and the watchdog
// through sd_notify, events in the journal under the identifier
// "TarvoVantor", and the service manager's units through its D-Bus API
// (sd-bus).  Every call to the manager is bounded by a time-out, so a
// manager that answers slowly or not at all never hangs the gateway.
#include "toolkit/SystemService.h"

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

struct sd_bus;

namespace vantor {

// sd_notify: connected when systemd started the process with NOTIFY_SOCKET.
class SystemdNotifier final : public ServiceNotifier {
public:
    bool Connected() const override;
    bool Notify(const std::string& message) override;
    std::uint64_t WatchdogMicroseconds() const override;
    int LastError() const override { return lastError_; }

private:
    int lastError_ = 0;
};

// The instance of the template unit this process runs in ("east" for
// tarvovantor@east.service); empty for a plain unit or outside systemd.
std::string SystemdUnitInstance();

// The journal, priority err or info by the event type.  An entry is also
// written to the mirror stream (standard error) when standard error is not
// the journal already or the journal cannot be reached, so a technician who
// starts the program by hand sees it.
class JournalEventLog final : public EventLog {
public:
    explicit JournalEventLog(std::ostream& mirror);
    bool Report(int type, const std::string& firstString, const std::string& message) override;

private:
    std::ostream& mirror_;
    bool stderrIsJournal_ = false;
};

// systemd's manager object org.freedesktop.systemd1 on the system bus (or a
// user's bus, or a bus at an address of its own).
class SdBusServiceManager final : public ServiceManager {
public:
    enum class Bus { System, User };
    struct Options {
        Bus bus = Bus::System;
        std::string address = {}; // not empty: this bus instead of the system's
        std::string unitFolder = "/etc/systemd/system";
        std::chrono::milliseconds timeout{5000};
    };

    explicit SdBusServiceManager(Options options);
    ~SdBusServiceManager() override;

    bool Connect() override;
    std::optional<UnitStatus> Query(const std::string& unit) override;
    std::string UnitFolder() const override { return options_.unitFolder; }
    bool WriteUnitFile(const std::string& unit, const std::string& text) override;
    bool DeleteUnitFile(const std::string& unit) override;
    bool Reload() override;
    bool Enable(const std::string& unit) override;
    bool Disable(const std::string& unit) override;
    bool Mask(const std::string& unit) override;
    bool Unmask(const std::string& unit) override;
    bool Start(const std::string& unit) override;
    bool Stop(const std::string& unit) override;
    const ServiceError& LastError() const override { return error_; }

private:
    struct BusCloser {
        void operator()(sd_bus* bus) const;
    };
    bool Call(const char* method, const std::string& what, const char* signature, ...);
    // result: negative errno; errorName and errorMessage: the D-Bus error
    // the manager answered with (may be null).
    bool Fail(int result, const char* errorName, const char* errorMessage, const std::string& what);
    bool FailErrno(int errnoValue, const std::string& what);
    bool CheckUnitName(const std::string& unit);

    Options options_;
    std::unique_ptr<sd_bus, BusCloser> bus_;
    ServiceError error_;
};

} // namespace vantor
