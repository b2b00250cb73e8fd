#pragma once
// The screenshot tour (toolkit/ScreenshotTour.h) on the Win32 view: it waits
// on the gateway's loop, meets the dialogs as the desktop opens them, and
// saves each window as the screen shows it, title bar and frame included, as
// PNG (the system's imaging component, WIC).
#include <memory>

#include "toolkit/ScreenshotTour.h"

namespace vantor::win32view {

class Win32Desktop;

std::shared_ptr<TourScreen> MakeTourScreen(Win32Desktop& desktop);

} // namespace vantor::win32view
