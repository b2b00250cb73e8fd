#pragma once
// The native Windows view of the gateway's forms, as the program entry sees
// it: the loop the gateway runs on while it has a window (Win32Loop, whose
// message pump serves the windows too) and the Desktop that shows its forms
// as Win32 windows and controls, with the tray icon, the pop-up menu, the
// message boxes and the help pages in the browser.  Made on the thread that
// runs the gateway.  Free of <windows.h>: the entry needs no more than this.
#include <memory>

#include "toolkit/DesktopView.h"

namespace vantor {

// Throws std::runtime_error when this process cannot make windows (a
// service's session without a desktop, no window station).  The options'
// displayLost runs when the user's session ends (WM_ENDSESSION): the
// program's last chance to stop in order before Windows ends the process.
std::unique_ptr<DesktopView> OpenWin32DesktopView(const DesktopViewOptions& options);

} // namespace vantor
