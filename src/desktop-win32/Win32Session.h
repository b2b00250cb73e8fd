#pragma once
// The Win32 view as the program sees it (DesktopView): the loop and the
// desktop, made in that order and torn down in the reverse one.  The
// program opens it through OpenWin32DesktopView; tests and the screenshot
// tool make one directly to reach its windows.
#include "desktop-win32/Win32Desktop.h"

#include "platform/win32/Win32Loop.h"
#include "toolkit/DesktopView.h"

namespace vantor::win32view {

class Win32Session final : public DesktopView {
public:
    explicit Win32Session(const DesktopViewOptions& options = {});
    ~Win32Session() override;

    Win32Loop& Loop() override { return loop_; }
    Win32Desktop& Screen() override { return desktop_; }
    void SetTrayCallback(std::function<void(unsigned mouseMessage)> callback) override;
    void SetHelpSources(std::vector<std::string> folders, std::function<std::string()> language,
                        std::function<DesktopHelpTexts()> texts) override;

private:
    Win32Loop loop_;
    Win32Desktop desktop_;
};

} // namespace vantor::win32view
