// The Qt view as a module the program loads at run time: two C names, the
// build stamp the program compares with its own before anything else here
// is used, and the entry that opens the view.  The module binds to the
// program's own toolkit (forms, controls, menus, the task queue), which the
// program exports; the stamp says which build's layout of those classes the
// module was compiled against.
#include "desktop/DesktopSession.h"

#include "vantor-desktop-stamp.h"

#include <exception>
#include <iostream>
#include <memory>

extern "C" {

[[gnu::visibility("default")]] extern const char vantor_desktop_stamp[];
const char vantor_desktop_stamp[] = VANTOR_DESKTOP_STAMP;

// The caller owns the view it gets (a DesktopView); null when it could not
// be made, with the reason on standard error.
[[gnu::visibility("default")]] vantor::DesktopView*
vantor_desktop_open(const vantor::DesktopViewOptions* options) noexcept {
    if (!options || !options->argc) return nullptr;
    try {
        return std::make_unique<vantor::desktop::DesktopSession>(*options).release();
    } catch (const std::exception& e) {
        std::cerr << "vantor: the desktop view: " << e.what() << std::endl;
        return nullptr;
    }
}

} // extern "C"
