#include "service/ServiceControl.h"

#include "service/ServiceProcess.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Desktop.h"
#include "toolkit/TextSource.h"

#include <cerrno>
#include <filesystem>

namespace vantor {

std::string SystemdQuote(std::string_view word) {
    const bool plain = !word.empty() && word.find_first_of(" \t\"'\\$;%") == std::string_view::npos;
    if (plain) return std::string(word);
    std::string quoted = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') quoted += '\\';
        if (c == '$') {
            quoted += "$$";
            continue;
        }
        if (c == '%') {
            quoted += "%%";
            continue;
        }
        quoted += c;
    }
    return quoted + "\"";
}

namespace {

// Backslashes before the closing quote are doubled, or they would escape it.
std::string WindowsWord(std::string_view word) {
    if (!word.empty() && word.find_first_of(" \t") == std::string_view::npos)
        return std::string(word);
    std::string quoted = "\"" + std::string(word);
    for (auto c = word.rbegin(); c != word.rend() && *c == '\\'; ++c) quoted += '\\';
    return quoted + "\"";
}

} // namespace

std::string WindowsServiceCommandLine(std::string_view program, std::string_view folder) {
    std::string line = WindowsWord(program) + " /service";
    if (!folder.empty()) line += " --home " + WindowsWord(folder);
    return line;
}

std::string ServiceUnitText(std::string_view commandLine, bool userManager) {
    std::string text = "# Installed by the services dialog of Tarvo Vantor.\n"
                       "[Unit]\n"
                       "Description=Tarvo Vantor\n"
                       "Documentation=man:vantor(1)\n"
                       "After=network.target\n"
                       "\n"
                       "[Service]\n"
                       "Type=notify\n"
                       "ExecStart=" +
                       std::string(commandLine) +
                       "\n"
                       "Restart=on-failure\n"
                       // 78: a configuration that cannot be used; only a
                       // technician mends that, a restart would only repeat it.
                       "RestartPreventExitStatus=78\n"
                       "RestartSec=5\n"
                       "WatchdogSec=30\n"
                       "TimeoutStopSec=20\n";
    if (!userManager)
        text += "NoNewPrivileges=yes\n"
                "PrivateTmp=yes\n"
                "ProtectSystem=full\n"
                "ProtectKernelTunables=yes\n"
                "ProtectKernelModules=yes\n"
                "ProtectControlGroups=yes\n";
    text += "\n[Install]\n";
    text += userManager ? "WantedBy=default.target\n" : "WantedBy=multi-user.target\n";
    return text;
}

bool UnitRunning(const UnitStatus& status) {
    return !status.activeState.empty() && status.activeState != "inactive" &&
           status.activeState != "failed";
}

ServiceControl::ServiceControl(ServiceControlParts parts) : parts_(std::move(parts)) {}

void ServiceControl::TakeError() {
    error_ = parts_.manager->LastError();
    if (error_.text.empty())
        error_.text = "The service manager failed (" + std::to_string(error_.code) + ")";
}

bool ServiceControl::Connect() {
    if (!parts_.manager) {
        error_ = ServiceError{ENOENT, "No service manager (systemd) can be reached on this system.",
                              false, true};
        return false;
    }
    if (parts_.manager->Connect()) return true;
    TakeError();
    return false;
}

std::optional<UnitStatus> ServiceControl::Open() {
    auto status = parts_.manager->Query(parts_.unit);
    if (!status) {
        TakeError();
        return std::nullopt;
    }
    if (status->loadState == "not-found") {
        error_ =
            ServiceError{ENOENT, "The service " + parts_.unit + " is not installed.", false, false};
        return std::nullopt;
    }
    return status;
}

bool ServiceControl::Stopped(const std::optional<UnitStatus>& status) const {
    return status && (status->activeState == "inactive" || status->activeState == "failed");
}

bool ServiceControl::IsServiceRunning(std::string* why) {
    if (!IsWindowsNT()) return false;
    if (parts_.scm) return ScmIsServiceRunning(why);
    if (!parts_.manager) return false;
    std::optional<UnitStatus> status;
    if (parts_.manager->Connect()) status = parts_.manager->Query(parts_.unit);
    if (!status) {
        TakeError();
        if (why && !error_.unavailable) *why = error_.text;
        return false;
    }
    return UnitRunning(*status);
}

bool ServiceControl::QueryService(int& startType, bool& running) {
    if (parts_.scm) return ScmQueryService(startType, running);
    running = false;
    if (!Connect()) {
        ShowServiceError();
        return false;
    }
    const auto status = parts_.manager->Query(parts_.unit);
    if (!status) {
        // The unit cannot be read: not running, and nothing shown.
        TakeError();
        return false;
    }
    // A masked unit cannot be started by anyone: it counts as removed.
    const bool installed = status->loadState == "loaded";
    if (installed) {
        const std::string& state = status->unitFileState;
        if (state == "enabled" || state == "enabled-runtime")
            startType = 0;
        else if (state == "disabled")
            startType = 1;
        else
            startType = -1;
    }
    running = UnitRunning(*status);
    return installed;
}

void ServiceControl::InstallService(bool manualStart) {
    if (parts_.scm) return ScmInstallService(manualStart);
    ServiceManager* manager = parts_.manager;
    if (!Connect()) {
        ShowServiceError();
        return;
    }
    auto fail = [this] {
        TakeError();
        ShowServiceError();
    };
    auto status = manager->Query(parts_.unit);
    if (!status) return fail();
    if (status->loadState == "masked") {
        // Removed earlier by this dialog while the package owns the unit
        // file: taking the mask away installs it again.
        if (!manager->Unmask(parts_.unit) || !manager->Reload()) return fail();
        status = manager->Query(parts_.unit);
        if (!status) return fail();
    } else if (status->loadState == "loaded") {
        error_ = ServiceError{EEXIST, "The service " + parts_.unit + " is already installed.",
                              false, false};
        ShowServiceError();
        return;
    }
    if (status->loadState != "loaded") {
        if (!manager->WriteUnitFile(
                parts_.unit, ServiceUnitText(parts_.serviceCommandLine, parts_.userManager)) ||
            !manager->Reload())
            return fail();
    }
    // The new service is not started; automatic start means enabled at boot.
    const bool typeSet = manualStart ? manager->Disable(parts_.unit) : manager->Enable(parts_.unit);
    if (!typeSet || !manager->Reload()) return fail();
}

bool ServiceControl::StopService(bool remove) {
    if (parts_.scm) return ScmStopService(remove);
    ServiceManager* manager = parts_.manager;
    if (!Connect()) {
        ShowServiceError();
        return false;
    }
    const auto before = Open();
    if (!before) {
        ShowServiceError();
        return false;
    }
    bool shown = false;
    // systemd checks rights at each call where the other system checked them
    // when the manager was opened: a refusal is shown, other failures of the
    // stop and the removal only show in the result.
    auto refused = [&] {
        TakeError();
        if (error_.accessDenied && !shown) {
            ShowServiceError();
            shown = true;
        }
    };
    bool stopped = false;
    if (manager->Stop(parts_.unit)) {
        std::optional<UnitStatus> status;
        int waits = 0;
        do {
            if (parts_.wait) parts_.wait(1000);
            status = manager->Query(parts_.unit);
            ++waits;
        } while (status && status->activeState == "deactivating" && waits < MaxStopWaits);
        stopped = Stopped(status);
    } else {
        refused();
    }
    if (remove) {
        // The administrator's own unit file is deleted; one that a package
        // installed elsewhere belongs to the package and is masked instead.
        namespace fs = std::filesystem;
        const bool own = !before->fragmentPath.empty() &&
                         fs::path(before->fragmentPath).parent_path().lexically_normal() ==
                             fs::path(manager->UnitFolder()).lexically_normal();
        bool removed = manager->Disable(parts_.unit);
        if (removed)
            removed = own ? manager->DeleteUnitFile(parts_.unit) : manager->Mask(parts_.unit);
        if (removed) removed = manager->Reload();
        if (!removed) refused();
    }
    return stopped;
}

bool ServiceControl::StartServiceNow() {
    if (parts_.scm) return ScmStartServiceNow();
    if (!Connect() || !Open()) {
        ShowServiceError();
        return false;
    }
    if (parts_.manager->Start(parts_.unit)) return true;
    TakeError();
    if (error_.accessDenied) ShowServiceError();
    return false;
}

void ServiceControl::ShowServiceError() {
    std::string text = error_.accessDenied ? parts_.texts.Msg(TextAccessDenied) : std::string();
    // Without a language file the manager's own words say more than nothing.
    if (text.empty()) text = Cp1250FromUtf8(error_.text);
    if (parts_.messageBox)
        parts_.messageBox(text, parts_.texts.Msg(TextErrorCaption), MB_OK | MB_ICONINFORMATION);
}

bool ServiceControl::IsRunServicesEntry() {
    return parts_.startEntries && !parts_.startEntries->Read(ServiceName).empty();
}

void ServiceControl::SetRunServicesEntry(bool on) {
    if (!parts_.startEntries) return;
    if (on)
        parts_.startEntries->Write(ServiceName, parts_.startEntryCommand);
    else
        parts_.startEntries->Delete(ServiceName);
}

} // namespace vantor
