#pragma once
// The Qt view as the program sees it (DesktopView): the Qt application
// object, the loop on Qt's event loop and the Qt desktop, made in that order
// and torn down in the reverse one.  The program loads it as a module
// (DesktopModule.cpp); the screenshot tool makes one directly.
#include <functional>
#include <memory>

#include "desktop/QtDesktop.h"
#include "desktop/QtLoop.h"
#include "toolkit/DesktopView.h"

namespace vantor::desktop {

class DesktopSession final : public DesktopView {
public:
    // The command line goes to Qt (which takes its own options out of it).
    // The caller has made sure a display can be reached: Qt ends the process
    // when it cannot connect.  Qt ends it too when the connection breaks
    // later (the X server or the compositor went away), right after saying
    // so; options.displayLost runs at that moment, the last chance for the
    // program to carry on without the display.
    explicit DesktopSession(const DesktopViewOptions& options);
    ~DesktopSession() override;
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    QtLoop& Loop() override;
    QtDesktop& Screen() override;
    void SetTrayCallback(std::function<void(unsigned mouseMessage)> callback) override;
    void SetHelpSources(std::vector<std::string> folders, std::function<std::string()> language,
                        std::function<DesktopHelpTexts()> texts) override;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// The font the forms were laid out for (a sans-serif of 11 pixels) as the
// application's default, and the program's name and icon.  DesktopSession
// does this; tests that make their own QApplication call it too.
void SetUpApplicationLook();

} // namespace vantor::desktop
