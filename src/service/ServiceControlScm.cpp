// The services dialog's operations on Windows' service control manager, in
// its own calls and their order.  Opening the manager or the service and
// creating the service show the system's reason (text 200 for missing
// rights); a failed stop, start or removal shows only in the result.
#include "service/ServiceControl.h"

#include "service/ServiceProcess.h"

namespace vantor {

namespace {

// The manager's start types and the dialog's (0 automatic, 1 manual).
constexpr std::uint32_t SERVICE_AUTO_START = 2, SERVICE_DEMAND_START = 3;

// Closes the manager's handles whichever way an operation ends.
class ScmSession {
public:
    explicit ScmSession(ServiceControlManager& scm) : scm_(scm) {}
    ~ScmSession() { scm_.Close(); }
    ScmSession(const ScmSession&) = delete;
    ScmSession& operator=(const ScmSession&) = delete;

private:
    ServiceControlManager& scm_;
};

} // namespace

void ServiceControl::ScmFail() {
    error_ = parts_.scm->LastError();
    if (error_.text.empty())
        error_.text = "The service control manager failed (" + std::to_string(error_.code) + ")";
    ShowServiceError();
}

bool ServiceControl::ScmOpenToControl() {
    ServiceControlManager& scm = *parts_.scm;
    if (scm.Connect(ServiceControlManager::Access::All) &&
        scm.Open(ServiceName, ServiceControlManager::Access::All))
        return true;
    ScmFail();
    return false;
}

bool ServiceControl::ScmIsServiceRunning(std::string* why) {
    // Quiet, as at every ordinary start: the reason only goes to `why`.
    ServiceControlManager& scm = *parts_.scm;
    ScmSession session(scm);
    std::optional<std::uint32_t> state;
    if (!scm.Connect(ServiceControlManager::Access::Query)) {
        error_ = scm.LastError();
        if (why) *why = error_.text;
        return false;
    }
    if (scm.Open(ServiceName, ServiceControlManager::Access::Query)) state = scm.State();
    // A service that is not installed does not run.
    return state && *state != SERVICE_STOPPED;
}

bool ServiceControl::ScmQueryService(int& startType, bool& running) {
    ServiceControlManager& scm = *parts_.scm;
    ScmSession session(scm);
    running = false;
    if (!scm.Connect(ServiceControlManager::Access::Query)) {
        ScmFail();
        return false;
    }
    // A service that cannot be opened does not run, and nothing is shown.
    if (scm.Open(ServiceName, ServiceControlManager::Access::Query)) {
        if (const auto type = scm.StartType())
            startType = *type == SERVICE_AUTO_START ? 0 : *type == SERVICE_DEMAND_START ? 1 : -1;
        const auto state = scm.State();
        running = state && *state >= SERVICE_START_PENDING && *state <= SERVICE_PAUSED;
    }
    return scm.HasDisplayName(ServiceDisplayName);
}

void ServiceControl::ScmInstallService(bool manualStart) {
    ServiceControlManager& scm = *parts_.scm;
    ScmSession session(scm);
    // Without the manager nothing can be created: one box, not a second one
    // for the creation that could not even be tried.
    if (!scm.Connect(ServiceControlManager::Access::All)) return ScmFail();
    if (!scm.Create(ServiceName, ServiceDisplayName, parts_.serviceCommandLine,
                    manualStart ? SERVICE_DEMAND_START : SERVICE_AUTO_START))
        ScmFail();
}

bool ServiceControl::ScmStopService(bool remove) {
    ServiceControlManager& scm = *parts_.scm;
    ScmSession session(scm);
    if (!ScmOpenToControl()) return false;
    std::optional<std::uint32_t> state;
    if (scm.Stop()) {
        int waits = 0;
        do {
            if (parts_.wait) parts_.wait(1000);
            state = scm.State();
        } while (state && *state == SERVICE_STOP_PENDING && ++waits < MaxStopWaits);
    } else {
        // Refused because it is not running (or no longer): then it is
        // stopped all the same, which is what the dialog wants to know.
        state = scm.State();
    }
    // Removed whether or not the stop succeeded; the manager deletes a
    // running service once it stops.
    if (remove) scm.Remove();
    return state == SERVICE_STOPPED;
}

bool ServiceControl::ScmStartServiceNow() {
    ServiceControlManager& scm = *parts_.scm;
    ScmSession session(scm);
    if (!ScmOpenToControl()) return false;
    return scm.Start();
}

} // namespace vantor
