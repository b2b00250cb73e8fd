#pragma once
// What needs a screen: showing forms, running them modally, message boxes,
// the tray icon, pop-up menus, the cursor and help.  The Qt view implements
// it for the desktop; HeadlessDesktop serves headless and service mode;
// ScriptedDesktop plays the user in tests.
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

class TForm;
class TPopupMenu;

// Message box flags and answers, with the values of the system API.
inline constexpr unsigned MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2,
                          MB_YESNOCANCEL = 0x3, MB_YESNO = 0x4, MB_RETRYCANCEL = 0x5,
                          MB_TYPEMASK = 0xF;
inline constexpr unsigned MB_ICONHAND = 0x10, MB_ICONERROR = 0x10, MB_ICONSTOP = 0x10,
                          MB_ICONQUESTION = 0x20, MB_ICONEXCLAMATION = 0x30, MB_ICONWARNING = 0x30,
                          MB_ICONASTERISK = 0x40, MB_ICONINFORMATION = 0x40, MB_ICONMASK = 0xF0;
inline constexpr unsigned MB_DEFBUTTON1 = 0x000, MB_DEFBUTTON2 = 0x100, MB_DEFBUTTON3 = 0x200,
                          MB_DEFMASK = 0xF00;
inline constexpr unsigned MB_APPLMODAL = 0x0, MB_SYSTEMMODAL = 0x1000, MB_TASKMODAL = 0x2000,
                          MB_SETFOREGROUND = 0x10000, MB_TOPMOST = 0x40000,
                          MB_SERVICE_NOTIFICATION = 0x200000;
inline constexpr int IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6,
                     IDNO = 7;
// The answer a message box gives when its default button is pressed.
int DefaultMessageBoxAnswer(unsigned flags);

// Help commands.
inline constexpr unsigned HELP_CONTEXT = 0x1, HELP_QUIT = 0x2, HELP_CONTENTS = 0x3,
                          HELP_HELPONHELP = 0x4, HELP_PARTIALKEY = 0x105;

// Tray icon.
enum class TrayOperation { Add, Modify, Remove };
inline constexpr unsigned NIF_MESSAGE = 0x1, NIF_ICON = 0x2, NIF_TIP = 0x4;
struct TrayIconData {
    unsigned size = 88;
    unsigned iconId = 0;
    unsigned flags = 0; // NIF_*
    unsigned callbackMessage = 0;
    std::string icon; // picture name; empty: none
    std::string tip;  // 8-bit text, at most 63 characters
};
// Mouse notifications the tray callback receives.
inline constexpr unsigned WM_LBUTTONDBLCLK = 0x203, WM_RBUTTONUP = 0x205;

struct FileDialogOptions {
    std::string title;
    std::string fileName; // proposed name
    std::string initialDir;
    std::string filter; // "Text|*.txt|All|*"
    std::string defaultExt;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual void ShowForm(TForm& form) = 0;
    virtual void HideForm(TForm& form) = 0;
    // Runs the form as a modal dialog and returns when it has ended, with the
    // result the user chose (mrNone when the desktop leaves it to the form).
    virtual int RunModal(TForm& form) = 0;
    // Texts are 8-bit (Windows-1250).  Returns IDOK, IDYES, ...
    virtual int MessageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
    virtual bool TrayIcon(TrayOperation operation, const TrayIconData& data) = 0;
    virtual bool GetCursorPos(int& x, int& y) = 0;
    virtual void SetForeground(TForm& form) = 0;
    virtual void PopupMenu(TPopupMenu& menu, int x, int y) = 0;
    virtual void Help(unsigned command, unsigned long data, const std::string& helpFile) = 0;
    virtual std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) = 0;
    // The system's directory chooser; nullopt when cancelled or when there is
    // no screen.
    virtual std::optional<std::string> SelectDirectory(const std::string& title,
                                                       const std::string& initialDir) {
        return std::nullopt;
    }
    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
    // A form is going away: a view drops what it holds for it.
    virtual void FormDestroyed(TForm& form) {}
};

// No screen: a message box becomes one UTF-8 line "MessageBox [caption] text"
// (line breaks as blanks) on the given stream and is answered with its
// default button; modal dialogs end at once with mrCancel; there is no tray
// (every tray call fails) and no cursor; help and file dialogs do nothing.
class HeadlessDesktop : public Desktop {
public:
    explicit HeadlessDesktop(std::ostream& out) : out_(out) {}
    void ShowForm(TForm&) override {}
    void HideForm(TForm&) override {}
    int RunModal(TForm& form) override;
    int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    bool TrayIcon(TrayOperation, const TrayIconData&) override { return false; }
    bool GetCursorPos(int&, int&) override { return false; }
    void SetForeground(TForm&) override {}
    void PopupMenu(TPopupMenu&, int, int) override {}
    void Help(unsigned, unsigned long, const std::string&) override {}
    std::optional<std::string> SaveFileDialog(const FileDialogOptions&) override {
        return std::nullopt;
    }
    int ScreenWidth() const override { return 1024; }
    int ScreenHeight() const override { return 768; }

private:
    std::ostream& out_;
};

// The one-line form of a message box that HeadlessDesktop prints (UTF-8).
std::string HeadlessMessageLine(std::string_view text, std::string_view caption);

// A desktop for tests that records what the program asks of the screen and
// plays the user from a script.
class ScriptedDesktop : public Desktop {
public:
    struct MessageBoxCall {
        std::string text, caption; // 8-bit, as given
        unsigned flags;
        int answer;
    };
    struct TrayCall {
        TrayOperation operation;
        TrayIconData data;
        bool result;
    };
    struct PopupCall {
        TPopupMenu* menu;
        int x, y;
    };
    struct HelpCall {
        unsigned command;
        unsigned long data;
        std::string helpFile;
    };
    using ModalScript = std::function<int(TForm&)>;

    void ShowForm(TForm& form) override;
    void HideForm(TForm& form) override;
    // Runs the script registered for the form's class name and returns its
    // answer; without a script the dialog is cancelled (mrCancel).
    int RunModal(TForm& form) override;
    // Answers with the next queued answer, else the default button.
    int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    // Succeeds while the tray is available (it is by default).
    bool TrayIcon(TrayOperation operation, const TrayIconData& data) override;
    bool GetCursorPos(int& x, int& y) override;
    void SetForeground(TForm& form) override { foreground.push_back(&form); }
    void PopupMenu(TPopupMenu& menu, int x, int y) override;
    void Help(unsigned command, unsigned long data, const std::string& helpFile) override;
    std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) override;
    int ScreenWidth() const override { return screenWidth; }
    int ScreenHeight() const override { return screenHeight; }

    // The script plays the user in every modal dialog of that class; it
    // returns the modal result (or mrNone to leave the form's own).
    void OnModal(std::string className, ModalScript script);
    void QueueMessageBoxAnswer(int answer) { messageBoxAnswers_.push_back(answer); }
    void SetTrayAvailable(bool available) { trayAvailable_ = available; }
    bool TrayAvailable() const { return trayAvailable_; }
    // No position: GetCursorPos fails.
    void SetCursorPos(std::optional<std::pair<int, int>> pos) { cursor_ = pos; }
    void QueueSaveFileAnswer(std::optional<std::string> answer) {
        saveAnswers_.push_back(std::move(answer));
    }

    std::vector<MessageBoxCall> messageBoxes;
    std::vector<TrayCall> trayCalls;
    std::vector<std::string> modalForms; // class names, in order
    std::vector<TForm*> shownForms, hiddenForms, foreground;
    std::vector<PopupCall> popups;
    std::vector<HelpCall> helpCalls;
    std::vector<FileDialogOptions> saveDialogs;
    int screenWidth = 1024, screenHeight = 768;

private:
    std::map<std::string, ModalScript> scripts_;
    std::deque<int> messageBoxAnswers_;
    std::deque<std::optional<std::string>> saveAnswers_;
    bool trayAvailable_ = true;
    std::optional<std::pair<int, int>> cursor_ = std::pair<int, int>{100, 100};
};

} // namespace vantor
