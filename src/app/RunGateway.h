#pragma once
// The one start path of the gateway, whether it runs headless, as the system
// service or in a window: the system's edges for the loop it runs on, the
// application, the watch for the system's stop requests, the main window
// (whose creation starts the gateway) with the exception box for a start
// that fails, the run until the window closes or a stop arrives, and the
// main window's end (which stops the gateway).  What belongs to one
// operating system (devices, signals or console events, the service
// manager's channel, the window system) is handed in, so the entry of every
// system runs this same path.
#include "core/MainForm.h"
#include "toolkit/SystemService.h"

#include <functional>
#include <memory>
#include <string>

namespace vantor {

class Desktop;
class DesktopView;
class EventLoop;

struct GatewayRun {
    // The loop the gateway runs on and the screen its forms go to.  With a
    // window both are the view's (view set), else a headless pair.
    EventLoop* loop = nullptr;
    Desktop* desktop = nullptr;
    DesktopView* view = nullptr;
    // Fills the system's edges of the environment (serial devices, the
    // listening socket, libraries, files) for the loop.
    std::function<void(GatewayEnvironment&, EventLoop&)> platformEdges;
    // Starts watching the system's requests; the handler runs on the loop.
    // May throw when the watch cannot be set up.
    std::function<std::unique_ptr<SystemRequestWatch>(EventLoop&,
                                                      std::function<void(SystemRequest)>)>
        watchRequests;
    // An ordinary start first asks the manager this makes whether the
    // service of this gateway runs already, and lets it go again (unset: it
    // is taken not to run).
    std::function<std::unique_ptr<ServiceManager>()> serviceCheck;
    // The same through Windows' service control manager, which is then
    // asked instead.
    std::function<std::unique_ptr<ServiceControlManager>()> serviceControlManagerCheck;
    // Set for the system service: the channel to the manager that started
    // the process, the event log, and the instance of a template unit.
    ServiceNotifier* serviceNotifier = nullptr;
    EventLog* eventLog = nullptr;
    std::string serviceInstance;
    // Called once the main window exists, before the loop runs.
    std::function<void(TApplication&, TMainForm&)> started;
};

// A configuration that is there but cannot be used ends the service with
// this status (EX_CONFIG): only a technician can mend the file, so the
// units do not restart on it.
inline constexpr int ExitConfigurationUnusable = 78;

// Runs the gateway to its end; returns the exit status: 0 after an orderly
// close (also when the start failed in an ordinary run, after the exception
// box), and for the service 1 when it could not run under a manager or
// ExitConfigurationUnusable.
int RunGateway(GatewayEnvironment env, const GatewayRun& run);

} // namespace vantor
