#pragma once
// The screenshot tour (toolkit/ScreenshotTour.h) on the Qt view: it waits
// on Qt's timers, meets the dialogs as the desktop opens them, and takes each
// picture as the screen shows the window.
#include <memory>

#include "toolkit/ScreenshotTour.h"

namespace vantor::desktop {

class QtDesktop;

std::shared_ptr<TourScreen> MakeTourScreen(QtDesktop& desktop);

} // namespace vantor::desktop
