#include "service/ServiceProcess.h"

#include "toolkit/Cp1250.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>

namespace vantor {

std::string_view ServiceStateName(std::uint32_t state) {
    switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return "UNKNOWN";
    }
}

std::string ServiceStatusMessage(const ServiceStatus& status, std::string_view detail) {
    std::string message;
    bool pending = false;
    switch (status.currentState) {
    case SERVICE_RUNNING: message += "READY=1\n"; break;
    case SERVICE_STOP_PENDING:
        message += "STOPPING=1\n";
        pending = true;
        break;
    case SERVICE_START_PENDING:
    case SERVICE_CONTINUE_PENDING:
    case SERVICE_PAUSE_PENDING:
        // The wait hint is how long the manager should wait for the next
        // report; systemd only ever lengthens its own time-out by it.
        if (status.waitHint)
            message += "EXTEND_TIMEOUT_USEC=" + std::to_string(status.waitHint * 1000ull) + "\n";
        pending = true;
        break;
    default: break;
    }
    message += "STATUS=" + std::string(ServiceStateName(status.currentState));
    if (pending)
        message += " (check point " + std::to_string(status.checkPoint) + ", wait hint " +
                   std::to_string(status.waitHint) + " ms)";
    else if (!detail.empty())
        message += ", " + std::string(detail);
    return message;
}

namespace {

std::string Joined(const std::vector<std::string>& phrases) {
    std::string text;
    for (const std::string& phrase : phrases) text += (text.empty() ? "" : "; ") + phrase;
    return text;
}

} // namespace

ServiceProcess::ServiceProcess(ServiceNotifier& notifier, EventLog& eventLog, EventLoop& loop)
    : notifier_(notifier), eventLog_(eventLog), loop_(loop) {}

ServiceProcess::~ServiceProcess() {
    StopHealthChecks();
    StopWatchdog();
}

bool ServiceProcess::RunServiceDispatcher(ServiceHost host) {
    serviceMode_ = true;
    host_ = std::move(host);
    // The dispatcher can only connect to a manager that started this process
    // and listens for its reports.
    if (!notifier_.RunDispatcher(ServiceName, [this] { ServiceMain(); })) {
        lastError_ = notifier_.LastError() != 0 ? notifier_.LastError() : ENOTCONN;
        LogServiceEvent("StartServiceCtrlDispatcher failed.", EventLog::Error);
        return false;
    }
    return cleanStop_;
}

void ServiceProcess::ServiceMain() {
    registered_ =
        host_.registerControlHandler && host_.registerControlHandler([this](std::uint32_t control) {
            ServiceCtrlHandler(control);
        });
    if (!registered_) {
        ReportServiceStatus(SERVICE_STOPPED, 0);
        return;
    }
    status_.serviceType = SERVICE_WIN32_OWN_PROCESS;
    status_.serviceSpecificExitCode = 0;
    if (!ReportServiceStatus(SERVICE_START_PENDING, 3000)) {
        ReportServiceStatus(SERVICE_STOPPED, 0);
        return;
    }
    if (!ReportServiceStatus(SERVICE_START_PENDING, 3000)) return;

    try {
        if (host_.createGateway) host_.createGateway();
    } catch (const std::exception& e) {
        LogServiceEvent(std::string("Start failed: ") + e.what(), EventLog::Error);
        if (host_.destroyGateway) host_.destroyGateway();
        // systemctl status shows why next to the state.
        detail_ = Utf8FromCp1250(std::string("start failed: ") + e.what());
        ReportServiceStatus(SERVICE_STOPPED, 0);
        return;
    }
    // What is wrong from the start is in the first RUNNING text; it had its
    // events from the start-up already.
    if (host_.health) health_ = host_.health();
    detail_ = Utf8FromCp1250(Joined(HealthPhrases(health_)));
    if (!ReportServiceStatus(SERVICE_RUNNING, 3000)) {
        if (host_.destroyGateway) host_.destroyGateway();
        return;
    }
    StartWatchdog();
    StartHealthChecks();
    // A stop that arrived while the start was pending (no controls accepted
    // then) is carried out as soon as the loop runs: the manager would
    // otherwise kill the process after its stop time-out.
    if (stopHeld_) loop_.post([this] { ServiceCtrlHandler(SERVICE_CONTROL_STOP); });
    if (host_.runGateway) host_.runGateway();

    StopHealthChecks();
    StopWatchdog();
    detail_.clear();
    if (host_.destroyGateway) host_.destroyGateway();
    // STOPPED only once the stop order has run (port closed, indicators
    // cleared): until then the gateway still holds its resources.  Nothing
    // of this object is touched after it: the manager may let the dispatcher
    // return at once.
    cleanStop_ = true;
    ReportServiceStatus(SERVICE_STOPPED, 0);
}

void ServiceProcess::ServiceCtrlHandler(std::uint32_t control) {
    if (control == SERVICE_CONTROL_STOP) {
        if (status_.currentState == SERVICE_START_PENDING) {
            stopHeld_ = true;
            return;
        }
        if (status_.currentState == SERVICE_RUNNING) {
            ReportServiceStatus(SERVICE_STOP_PENDING, 0);
            if (host_.stopGateway) host_.stopGateway();
            return;
        }
    }
    // Interrogate, any other control, and a stop while stopping: report the
    // current state again.
    ReportServiceStatus(status_.currentState, 0);
}

bool ServiceProcess::ReportServiceStatus(std::uint32_t state, std::uint32_t waitHint) {
    status_.controlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status_.currentState = state;
    status_.waitHint = waitHint;
    status_.win32ExitCode = 0;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED)
        status_.checkPoint = 0;
    else
        status_.checkPoint = checkPoint_++;
    const bool sent = notifier_.ReportStatus(status_, ServiceStatusMessage(status_, detail_));
    if (!sent) {
        lastError_ = notifier_.LastError();
        LogServiceEvent("SetServiceStatus", EventLog::Error);
    }
    return sent;
}

void ServiceProcess::LogServiceEvent(std::string_view message, int type) {
    const int saved = lastError_;
    std::string first = EventSourceName;
    if (!instance_.empty()) first += "@" + instance_;
    if (type == EventLog::Error) first += " error: " + std::to_string(saved);
    eventLog_.Report(type, first, Utf8FromCp1250(message));
}

void ServiceProcess::CheckHealth() {
    if (!host_.health || status_.currentState != SERVICE_RUNNING) return;
    GatewayHealth now = host_.health();
    if (now == health_) return;
    for (const HealthEvent& event : HealthChanges(health_, now))
        LogServiceEvent(event.message, event.type);
    health_ = std::move(now);
    std::string detail = Utf8FromCp1250(Joined(HealthPhrases(health_)));
    if (detail == detail_) return;
    detail_ = std::move(detail);
    // Only the text changes: no new report, no check point.
    notifier_.Notify(ServiceStatusMessage(status_, detail_));
}

void ServiceProcess::StartHealthChecks() {
    if (!host_.health || healthTimer_) return;
    healthTimer_ = loop_.startTimer(HealthIntervalMs, [this] { CheckHealth(); });
}

void ServiceProcess::StopHealthChecks() {
    if (!healthTimer_) return;
    loop_.stopTimer(healthTimer_);
    healthTimer_ = 0;
}

void ServiceProcess::StartWatchdog() {
    const std::uint64_t usec = notifier_.WatchdogMicroseconds();
    if (usec == 0 || watchdog_) return;
    // Three pings per period: one late tick of a busy loop is no reason for
    // the manager to kill a gateway that works.
    watchdogIntervalMs_ =
        static_cast<std::uint32_t>(std::clamp<std::uint64_t>(usec / 3000, 1, 0x7fffffff));
    watchdog_ = loop_.startTimer(watchdogIntervalMs_, [this] { notifier_.Notify("WATCHDOG=1"); });
}

void ServiceProcess::StopWatchdog() {
    if (!watchdog_) return;
    loop_.stopTimer(watchdog_);
    watchdog_ = 0;
    watchdogIntervalMs_ = 0;
}

} // namespace vantor
