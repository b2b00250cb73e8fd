#pragma once
// The toolkit's Desktop on Qt Widgets: every form gets its window (FormView)
// when it is first shown, modal runs are QDialog::exec, message boxes are
// QMessageBox with the flags' icon, buttons and default button, the tray
// icon is a QSystemTrayIcon whose double click and right click reach the
// program's tray callback as the two mouse messages, pop-up menus are
// QMenu, help opens the HTML help in the user's browser.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Desktop.h"

class QSystemTrayIcon;
class QWidget;

namespace vantor::desktop {

class FormView;
class QtLoop;

class QtDesktop final : public Desktop {
public:
    explicit QtDesktop(QtLoop& loop);
    ~QtDesktop() override;

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
    // The texts of the help's two boxes in the user's language (8-bit): the
    // file was not found ("%1" the help file, "%2" the file names looked
    // for; the folders follow), no browser could open it (its path follows).
    struct HelpTexts {
        std::string notFound, notOpened;
    };
    // Help: the folders searched for the HTML help, the current language
    // code (the help is "<name>.<language>.html", English when missing) and
    // the texts of its boxes.
    void SetHelpSources(std::vector<std::string> folders, std::function<std::string()> language,
                        std::function<HelpTexts()> texts = nullptr);
    // Opens a URL (default: the user's browser); tests replace it.
    void SetUrlOpener(std::function<bool(const std::string& url)> open);
    // Whether a notification area takes the tray icon (default: Qt's
    // answer); tests stand in for one where the platform has none.
    void SetTrayAvailability(std::function<bool()> available);
    // The tray icon while it is there (tests play its mouse on it).
    QSystemTrayIcon* Tray() const { return tray_.get(); }

    // Brings every window up to date with its form now (windows catch up
    // with their forms on a short timer otherwise).
    void FlushViews();
    // The window of a form (null until the form was first shown).
    FormView* ViewOf(const TForm& form) const;
    // How many times adding the tray icon was asked for, and whether it is shown.
    int TrayAddAttempts() const { return trayAddAttempts_; }
    bool TrayShown() const;
    // Message boxes and modal runs call this first when set: tests and the
    // screenshot tour see (and answer) the window that is about to block.
    std::function<void(QWidget& window)> BeforeBlockingWindow;

private:
    FormView& ViewFor(TForm& form);
    QWidget* ActiveWindow() const;

    QtLoop& loop_;
    std::map<const TForm*, std::unique_ptr<FormView>> views_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::function<void(unsigned)> trayCallback_;
    std::vector<std::string> helpFolders_;
    std::function<std::string()> language_;
    std::function<HelpTexts()> helpTexts_;
    std::function<bool(const std::string&)> openUrl_;
    std::function<bool()> trayAvailable_;
    int trayAddAttempts_ = 0;
};

// The file and anchor the help commands open: "VANTOR.HLP" in language "Cz"
// is "VANTOR.Cz.html" in the first folder that has it (English, then any
// language, when that language has none); HELP_CONTEXT n is "#context-n",
// HELP_HELPONHELP "#help-on-help", HELP_PARTIALKEY "#index".  Empty when no
// folder has a help file.
std::string HelpUrl(unsigned command, unsigned long data, const std::string& helpFile,
                    const std::vector<std::string>& folders, const std::string& language);

} // namespace vantor::desktop
