#pragma once
// The desktop start of the program entry: whether a display can be used,
// and the gateway run in the Qt view.  Kept apart from main.cpp, which only
// asks and hands over.
#include <functional>
#include <string>

#include "core/MainForm.h"

namespace vantor {

namespace desktop {
class QtDesktop;
}

struct DisplayChoice {
    bool desktop = false;
    // Why not (for the line on standard error), or which display.
    std::string note;
};

// The desktop view is used when a display is there: DISPLAY names an X
// server that accepts the connection, or WAYLAND_DISPLAY a compositor's
// socket that exists; or QT_QPA_PLATFORM names a platform that needs no
// display server (offscreen, vnc, ...).  Qt ends the process when it cannot
// open its display, so this is asked before Qt starts.
DisplayChoice ChooseDisplay();

// Called once the main window has been made, before the loop runs (the
// screenshot tour starts there).
using DesktopStarted = std::function<void(desktop::QtDesktop&, TApplication&, TMainForm&)>;

// Runs the gateway with its window until the window closes or a stop signal
// arrives; returns the exit status.
int RunDesktopGateway(int argc, char** argv, GatewayEnvironment env,
                      const DesktopStarted& started = {});

} // namespace vantor
