#include "desktop-win32/Win32Session.h"

#include "desktop-win32/Win32DesktopView.h"

namespace vantor::win32view {

Win32Session::Win32Session(const DesktopViewOptions& options) : desktop_(loop_) {
    desktop_.SetSessionEnd(options.displayLost);
}

Win32Session::~Win32Session() = default;

void Win32Session::SetTrayCallback(std::function<void(unsigned)> callback) {
    desktop_.SetTrayCallback(std::move(callback));
}

void Win32Session::SetHelpSources(std::vector<std::string> folders,
                                  std::function<std::string()> language,
                                  std::function<DesktopHelpTexts()> texts) {
    desktop_.SetHelpSources(std::move(folders), std::move(language), std::move(texts));
}

} // namespace vantor::win32view

namespace vantor {

std::unique_ptr<DesktopView> OpenWin32DesktopView(const DesktopViewOptions& options) {
    return std::make_unique<win32view::Win32Session>(options);
}

} // namespace vantor
