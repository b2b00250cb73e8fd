#pragma once
// The gateway as a system service: entry into the service manager, status
// reports with their check points, the control handler, the watchdog and the
// system event log.  The manager is reached through ServiceNotifier (systemd:
// sd_notify) and events go to EventLog (the journal); the gateway itself is
// created, run, stopped and freed by the hooks of ServiceHost, so this module
// knows nothing of the main window.  While it runs, the gateway's health
// (GatewayHealth) is read once a second and carried in the status text, and
// each condition that begins or ends is an event.
#include "service/GatewayHealth.h"
#include "toolkit/EventLoop.h"
#include "toolkit/SystemService.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vantor {

// Names under which the service is known.
inline constexpr char ServiceName[] = "TarvoVantor";
inline constexpr char ServiceDisplayName[] = "Tarvo Vantor";
inline constexpr char EventSourceName[] = "TarvoVantor";
inline constexpr char ServiceUnitName[] = "tarvovantor.service";

// Service states, types, controls and accepted controls with the numbers the
// service status record uses.
inline constexpr std::uint32_t SERVICE_STOPPED = 1, SERVICE_START_PENDING = 2,
                               SERVICE_STOP_PENDING = 3, SERVICE_RUNNING = 4,
                               SERVICE_CONTINUE_PENDING = 5, SERVICE_PAUSE_PENDING = 6,
                               SERVICE_PAUSED = 7;
inline constexpr std::uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr std::uint32_t SERVICE_CONTROL_STOP = 1, SERVICE_CONTROL_INTERROGATE = 4,
                               SERVICE_CONTROL_PARAMCHANGE = 6;
inline constexpr std::uint32_t SERVICE_ACCEPT_STOP = 1;

// The state's name as the status text shows it ("RUNNING").
std::string_view ServiceStateName(std::uint32_t state);
// The manager message of one report: READY=1 for RUNNING, STOPPING=1 for
// STOP_PENDING and, for the other pending states, EXTEND_TIMEOUT_USEC= with
// the wait hint; then STATUS= with the state, and for a pending state its
// check point and wait hint ("START_PENDING (check point 1, wait hint 3000
// ms)"), for any other the detail after a comma ("RUNNING, link lost since
// 19:00:17"): a running service waits for nothing, so a wait hint would only
// mislead.
std::string ServiceStatusMessage(const ServiceStatus& status, std::string_view detail = {});

// What the program around the service does for it.
struct ServiceHost {
    // Installs the control handler (stop signals and the like); false when
    // it cannot.  The handler runs on the loop thread.
    std::function<bool(std::function<void(std::uint32_t control)> handler)> registerControlHandler;
    // Initialises the application and creates the main window (hidden, as a
    // service) and the about box.  May throw.
    std::function<void()> createGateway;
    // Runs the message loop until the application is terminated.
    std::function<void()> runGateway;
    // Asks the application to terminate and processes the pending messages.
    std::function<void()> stopGateway;
    // Frees the main window after the loop has ended (the stop order runs).
    std::function<void()> destroyGateway;
    // The gateway's health now; unset: always well.
    std::function<GatewayHealth()> health;
};

class ServiceProcess {
public:
    ServiceProcess(ServiceNotifier& notifier, EventLog& eventLog, EventLoop& loop);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Enters the service manager and runs ServiceMain; returns whether the
    // service ran and stopped cleanly.  Fails at once, with the error event
    // "StartServiceCtrlDispatcher failed.", when no manager started the process.
    bool RunServiceDispatcher(ServiceHost host);
    void ServiceMain();
    void ServiceCtrlHandler(std::uint32_t control);
    bool ReportServiceStatus(std::uint32_t state, std::uint32_t waitHint);
    // type: EventLog::Error or EventLog::Information; the message is 8-bit
    // (Windows-1250), as the gateway's texts are.
    void LogServiceEvent(std::string_view message, int type);
    // The instance of a template unit this process runs (tarvovantor@east:
    // "east"); its events name it ("TarvoVantor@east"), so the events of
    // several gateways in one log can be told apart.
    void SetInstance(std::string instance) { instance_ = std::move(instance); }
    // Reads the gateway's health now: events for what changed, and the
    // status text anew when it reads differently (also on a timer).
    void CheckHealth();

    bool ServiceMode() const { return serviceMode_; }
    const ServiceStatus& Status() const { return status_; }
    std::uint32_t CheckPointCounter() const { return checkPoint_; }
    // The watchdog's interval in milliseconds while it runs, else 0.
    std::uint32_t WatchdogIntervalMs() const { return watchdogIntervalMs_; }
    // What the status text adds to the state: the health while running,
    // why the start failed once stopped.
    const std::string& StatusDetail() const { return detail_; }
    static constexpr std::uint32_t HealthIntervalMs = 1000;

private:
    void StartWatchdog();
    void StopWatchdog();
    void StartHealthChecks();
    void StopHealthChecks();

    ServiceNotifier& notifier_;
    EventLog& eventLog_;
    EventLoop& loop_;
    ServiceHost host_;
    ServiceStatus status_;
    std::uint32_t checkPoint_ = 1;
    bool serviceMode_ = false;
    bool registered_ = false;
    bool stopHeld_ = false; // a stop that came while the start was pending
    bool cleanStop_ = false;
    int lastError_ = 0;
    EventLoop::Handle watchdog_ = 0;
    std::uint32_t watchdogIntervalMs_ = 0;
    std::string instance_;
    GatewayHealth health_;
    std::string detail_;
    EventLoop::Handle healthTimer_ = 0;
};

} // namespace vantor
