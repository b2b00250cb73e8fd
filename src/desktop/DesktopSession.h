#pragma once
// Everything the program entry needs to run the gateway in the desktop view,
// without seeing Qt: the Qt application object, the loop on Qt's event loop
// and the Qt desktop, made in that order and torn down in the reverse one.
#include <functional>
#include <memory>

#include "desktop/QtDesktop.h"
#include "desktop/QtLoop.h"

namespace vantor::desktop {

class DesktopSession {
public:
    // argc and argv go to Qt (which takes its own options out of them).
    // The caller has made sure a display can be reached: Qt ends the process
    // when it cannot connect.
    DesktopSession(int& argc, char** argv, QtLoop::ReadinessProbe probe);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    QtLoop& Loop();
    QtDesktop& Desktop();

    // Qt ends the process when the connection to the display breaks (the X
    // server or the compositor went away), right after saying so; the
    // handler runs at that moment, the last chance for the program to carry
    // on without the display.  It must not return to Qt if it wants to.
    void OnDisplayLost(std::function<void()> handler);

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// The font the forms were laid out for (a sans-serif of 11 pixels) as the
// application's default, and the program's name and icon.  DesktopSession
// does this; tests that make their own QApplication call it too.
void SetUpApplicationLook();

} // namespace vantor::desktop
