#pragma once
// Installing, removing, starting and stopping the gateway's service from the
// services dialog, and asking whether the service runs (an ordinary start
// beside a running service opens nothing).  The operations keep the
// service's order of calls and its messages; the manager behind them is
// Windows' service control manager (ServiceControlManager) or a
// ServiceManager (systemd through sd-bus), and a system without a service
// manager has named start entries instead (StartEntryStore).
#include "toolkit/SystemService.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

class TextSource;

// systemd's quoting of one word of a command line: as it stands when it
// holds nothing special, else in double quotes with \ " and $ escaped.
std::string SystemdQuote(std::string_view word);
// The command line of the Windows service: the program, in double quotes
// when it holds a blank (else the manager tries "C:\Program.exe" first),
// then " /service", and " --home FOLDER" when a folder is given.  Quoted as
// CommandLineToArgvW reads it back.
std::string WindowsServiceCommandLine(std::string_view program, std::string_view folder = {});
// The unit file the services dialog installs for the command line given.
// A unit of a user's own service manager leaves out the sandboxing that only
// the system manager can set up, and is wanted by the user's default target.
std::string ServiceUnitText(std::string_view commandLine, bool userManager = false);

struct ServiceControlParts {
    // Null: this system has no service manager the gateway can reach.
    // Unused when scm is set.
    ServiceManager* manager = nullptr;
    const TextSource& texts;
    // Message box (8-bit texts): text, caption, flags.
    std::function<int(std::string_view, std::string_view, unsigned)> messageBox = {};
    // Waits the given milliseconds while the gateway goes on working.
    std::function<void(int ms)> wait = {};
    // What the installed service runs: the program, " /service" and its folder.
    std::string serviceCommandLine = {};
    // The start entries of a system without a service manager (may be null).
    StartEntryStore* startEntries = nullptr;
    // The command of a start entry: the program followed by " /hide".
    std::string startEntryCommand = {};
    // Whether the system has a service manager ("Windows NT" of the
    // dialog); a Linux system always has.
    bool windowsNT = true;
    // The manager is a user's own, not the system's (tests on a live system).
    bool userManager = false;
    // The unit the dialog manages.
    std::string unit = "tarvovantor.service";
    // Windows' service control manager: when set, the operations are its
    // calls on the service "TarvoVantor", and serviceCommandLine is the
    // program's full path followed by " /service".
    ServiceControlManager* scm = nullptr;
};

class ServiceControl {
public:
    // Language texts of the error box.
    static constexpr int TextAccessDenied = 200, TextErrorCaption = 137;
    // How long StopService waits for the service to stop, in 1-second steps.
    static constexpr int MaxStopWaits = 15;

    explicit ServiceControl(ServiceControlParts parts);

    bool IsWindowsNT() const { return parts_.windowsNT; }
    // Whether the service is in any state but stopped.  Quiet: at an
    // ordinary start a system without a manager simply has no service.
    // why (optional) receives the reason when the manager could not be asked
    // although one seems to be there.
    bool IsServiceRunning(std::string* why = nullptr);
    // Whether the service is installed; startType becomes 0 (automatic),
    // 1 (manual) or -1 (anything else) and running whether it is in any state
    // but stopped.  startType is left alone when the unit cannot be read.
    bool QueryService(int& startType, bool& running);
    void InstallService(bool manualStart);
    // Stops the service, waiting in 1-second steps while it stops; with
    // remove it is then removed.  Returns whether it ended stopped.
    bool StopService(bool remove);
    bool StartServiceNow();
    // The message box for the last error: language text 200 when rights
    // were missing, else the manager's own text; caption text 137.
    void ShowServiceError();

    bool IsRunServicesEntry();
    void SetRunServicesEntry(bool on);

    const ServiceError& LastError() const { return error_; }

private:
    // The operations on Windows' service control manager
    // (ServiceControlScm.cpp).
    bool ScmIsServiceRunning(std::string* why);
    bool ScmQueryService(int& startType, bool& running);
    void ScmInstallService(bool manualStart);
    bool ScmStopService(bool remove);
    bool ScmStartServiceNow();
    // Takes over the manager's last error and shows it.
    void ScmFail();
    // Connects and opens the service with every right; a failure is shown.
    bool ScmOpenToControl();

    bool Connect();
    // The unit's status, or nullopt with the error taken over.
    std::optional<UnitStatus> Open();
    void TakeError();
    bool Stopped(const std::optional<UnitStatus>& status) const;

    ServiceControlParts parts_;
    ServiceError error_;
};

// Whether a unit in this state counts as running ("anything but stopped").
bool UnitRunning(const UnitStatus& status);

} // namespace vantor
