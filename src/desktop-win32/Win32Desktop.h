#pragma once
// The toolkit's Desktop on Win32: every form gets its window (FormWindow)
// when it is first shown; modal runs serve the gateway's loop until the
// form's result is set; message boxes are MessageBoxW with the flags the
// program gives (icon, buttons, default button); the tray icon is
// Shell_NotifyIconW on a hidden window of the view's own, whose callback
// message brings the icon's mouse messages to the program; pop-up menus are
// TrackPopupMenu; help opens the HTML help in the browser (ShellExecuteW).
//
// While the system runs a modal loop of its own (a message box, a menu, a
// window moved or sized, a common dialog) the gateway's timers, sockets and
// tasks keep running (ScopedLoopPump).
#include "desktop-win32/Win32Ui.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/Desktop.h"
#include "toolkit/DesktopView.h"

namespace vantor {
class Win32Loop;
}

namespace vantor::win32view {

class FormWindow;

class Win32Desktop final : public Desktop {
public:
    // Registers the window classes and makes the tray's window; throws
    // std::runtime_error when no window can be made.
    explicit Win32Desktop(Win32Loop& loop);
    ~Win32Desktop() override;
    Win32Desktop(const Win32Desktop&) = delete;
    Win32Desktop& operator=(const Win32Desktop&) = delete;

    void ShowForm(TForm& form) override;
    void HideForm(TForm& form) override;
    int RunModal(TForm& form) override;
    int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    bool TrayIcon(TrayOperation operation, const TrayIconData& data) override;
    bool GetCursorPos(int& x, int& y) override;
    void SetForeground(TForm& form) override;
    void PopupMenu(TPopupMenu& menu, int x, int y) override;
    void Help(unsigned command, unsigned long data, const std::string& helpFile) override;
    std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) override;
    std::optional<std::string> SelectDirectory(const std::string& title,
                                               const std::string& initialDir) override;
    int ScreenWidth() const override;
    int ScreenHeight() const override;
    void FormDestroyed(TForm& form) override;

    // Where the tray icon's mouse messages go (WM_LBUTTONDBLCLK, WM_RBUTTONUP).
    void SetTrayCallback(std::function<void(unsigned mouseMessage)> callback);
    using HelpTexts = DesktopHelpTexts;
    // Help: the folders searched for the HTML help, the current language
    // code (the help is "<name>.<language>.html", English when missing) and
    // the texts of its boxes.
    void SetHelpSources(std::vector<std::string> folders, std::function<std::string()> language,
                        std::function<HelpTexts()> texts = nullptr);
    // Opens a URL (default: the browser, through ShellExecuteW); tests
    // replace it.
    void SetUrlOpener(std::function<bool(const std::string& url)> open);
    // What the end of the user's session does (see FormWindow::onSessionEnd).
    void SetSessionEnd(std::function<void()> onEnd);

    Win32Loop& Loop() const { return loop_; }
    // Brings every window up to date with its form now.
    void FlushViews();
    // The window of a form (null until the form was first shown).
    FormWindow* WindowOf(const TForm& form) const;
    // The hidden window that owns the tray icon and gets its messages.
    HWND TrayWindow() const { return tray_; }
    // Whether the icon is in the notification area now.
    bool TrayShown() const { return trayShown_; }
    // Message boxes and modal runs call this once their window is on the
    // screen: tests and the screenshot tour see (and answer) the window
    // that blocks.
    std::function<void(HWND window)> BeforeBlockingWindow;

private:
    static LRESULT CALLBACK TrayProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    FormWindow& WindowFor(TForm& form);
    HWND OwnerWindow() const;
    bool FilterMessage(MSG& message);
    bool Notify(DWORD operation);

    Win32Loop& loop_;
    std::map<const TForm*, std::unique_ptr<FormWindow>> windows_;
    HWND tray_ = nullptr;
    UINT taskbarCreated_ = 0;
    std::function<void(unsigned)> trayCallback_;
    // The icon as last given (added again when the shell restarts).
    std::optional<TrayIconData> trayData_;
    bool trayShown_ = false;
    std::vector<std::string> helpFolders_;
    std::function<std::string()> language_;
    std::function<HelpTexts()> helpTexts_;
    std::function<bool(const std::string&)> openUrl_;
    std::function<void()> sessionEnd_;
};

} // namespace vantor::win32view
