#pragma once
// The desktop view on Linux is the Qt view, a module the program loads at
// run time (libvantor-desktop.so) only when it will open a window: a gateway
// that runs headless or as the service maps no Qt library at all, and a
// server needs no Qt installed.  Whatever stands in the way (no display, no
// module, a module of another build, one that does not load) leaves the
// program without a view, with the reason in one line; never a crash.
#include "toolkit/DesktopView.h"

#include <memory>
#include <string>
#include <vector>

namespace vantor {

inline constexpr char DesktopModuleFileName[] = "libvantor-desktop.so";

struct DisplayChoice {
    bool desktop = false;
    // Why not (for the line on standard error), or which display.
    std::string note;
};

// A display is there when DISPLAY names an X server that accepts the
// connection (libxcb, loaded for the check only, authorisation included),
// or WAYLAND_DISPLAY a compositor's socket that takes a connection; or
// QT_QPA_PLATFORM names a platform that needs no display server (offscreen,
// vnc, ...).  Qt ends the process when it cannot open its display, so this
// is asked before Qt is loaded.
DisplayChoice ChooseDisplay();

struct DesktopModuleRequest {
    // Where the module is looked for, in order (beside the program in a
    // build tree, the program's library folder when installed).
    std::vector<std::string> folders;
    // The build stamp the module must carry: this program's own.  The module
    // uses the program's classes as they are laid out in this build.
    std::string stamp;
    DesktopViewOptions options;
};

struct DesktopOpening {
    std::unique_ptr<DesktopView> view;
    // Without a view: why, as one phrase ("no display (DISPLAY and
    // WAYLAND_DISPLAY unset)").
    std::string why;
};

// Finds the module, checks the display, loads the module, compares its
// stamp and opens the view.  A loaded view's module stays in the process to
// its end (Qt cannot be unloaded safely); a module refused is unloaded.
DesktopOpening OpenDesktopView(const DesktopModuleRequest& request);

// The display went away under the running gateway: the same program is
// started again in this process with `--headless` added to the arguments as
// given.  Every descriptor is close-on-exec, so the serial port, the
// listening socket and the accounting file are free for the new start.
[[noreturn]] void ContinueHeadless(const std::vector<std::string>& arguments);

} // namespace vantor
