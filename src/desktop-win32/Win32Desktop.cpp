#include "desktop-win32/Win32Desktop.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>

#include "desktop-win32/FormWindow.h"
#include "desktop-win32/HelpPages.h"
#include "desktop-win32/MenuBinding.h"
#include "platform/win32/Win32Loop.h"
#include "toolkit/FilePath.h"
#include "toolkit/Strings.h"

namespace vantor::win32view {

namespace {

constexpr wchar_t DesktopProperty[] = L"TarvoVantor.Desktop";

// The message box a test or the tour waits for: the system makes its
// window inside MessageBoxW, so a hook of this thread sees it activated.
thread_local std::function<void(HWND)>* boxWatcher = nullptr;
thread_local HHOOK boxHook = nullptr;

LRESULT CALLBACK WatchForBox(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && boxWatcher) {
        const auto window = reinterpret_cast<HWND>(wParam);
        wchar_t name[16] = L"";
        ::GetClassNameW(window, name, static_cast<int>(std::size(name)));
        if (std::wstring(name) == L"#32770") {
            std::function<void(HWND)> seen = *boxWatcher;
            boxWatcher = nullptr;
            if (seen) seen(window);
        }
    }
    return ::CallNextHookEx(boxHook, code, wParam, lParam);
}

} // namespace

Win32Desktop::Win32Desktop(Win32Loop& loop) : loop_(loop), openUrl_(OpenInBrowser) {
    RegisterWindowClasses(FormWindow::Procedure, TrayProcedure);
    // A top-level window that is never shown: a message-only window would
    // not hear the shell announce itself again (TaskbarCreated).
    tray_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, TrayClass, L"Tarvo Vantor", WS_POPUP, 0, 0, 0, 0,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    if (!tray_)
        throw std::runtime_error("no window can be made here: " +
                                 win32::ErrorTextUtf8(::GetLastError()));
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
    loop_.setMessageFilter([this](MSG& message) { return FilterMessage(message); });
}

Win32Desktop::~Win32Desktop() {
    loop_.setMessageFilter(nullptr);
    if (trayShown_ && trayData_) Notify(NIM_DELETE);
    windows_.clear();
    ::RemovePropW(tray_, DesktopProperty);
    ::DestroyWindow(tray_);
}

LRESULT CALLBACK Win32Desktop::TrayProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_NCCREATE)
        ::SetPropW(window, DesktopProperty,
                   reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    auto* self = static_cast<Win32Desktop*>(::GetPropW(window, DesktopProperty));
    if (self && self->trayData_ && message == self->trayData_->callbackMessage) {
        // The mouse message is in the low parameter.
        const unsigned mouse = LOWORD(lParam);
        if ((mouse == WM_LBUTTONDBLCLK || mouse == WM_RBUTTONUP) && self->trayCallback_)
            self->loop_.guarded([self, mouse] { self->trayCallback_(mouse); });
        return 0;
    }
    if (self && message == self->taskbarCreated_ && self->taskbarCreated_ != 0 &&
        self->trayShown_) {
        // The shell started again (Explorer restarted): its notification
        // area is empty, and a window hidden behind the icon would have no
        // way back.  The icon is put there again as it was.
        self->trayShown_ = false;
        if (self->Notify(NIM_ADD)) self->trayShown_ = self->Notify(NIM_MODIFY);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

FormWindow& Win32Desktop::WindowFor(TForm& form) {
    auto& window = windows_[&form];
    if (!window) {
        HWND owner = nullptr;
        if (TForm* main = form.Application().MainForm(); main && main != &form)
            if (FormWindow* mainWindow = WindowOf(*main)) owner = mainWindow->Handle();
        window = std::make_unique<FormWindow>(form, loop_, owner);
        window->onSessionEnd = sessionEnd_;
    }
    return *window;
}

FormWindow* Win32Desktop::WindowOf(const TForm& form) const {
    auto it = windows_.find(&form);
    return it == windows_.end() ? nullptr : it->second.get();
}

void Win32Desktop::FlushViews() {
    for (auto& [form, window] : windows_) window->Flush();
}

bool Win32Desktop::FilterMessage(MSG& message) {
    // The window the message is for, or the form window it sits in.
    FormWindow* window = FormWindow::FromHandle(::GetAncestor(message.hwnd, GA_ROOT));
    return window && window->FilterMessage(message);
}

void Win32Desktop::ShowForm(TForm& form) { WindowFor(form).ShowWindow(); }

void Win32Desktop::HideForm(TForm& form) {
    if (FormWindow* window = WindowOf(form)) window->HideWindow();
}

int Win32Desktop::RunModal(TForm& form) {
    FormWindow& window = WindowFor(form);
    if (BeforeBlockingWindow) {
        // Once the dialog is on the screen: the first pass of its loop.
        HWND handle = window.Handle();
        auto seen = BeforeBlockingWindow;
        loop_.post([seen, handle] { seen(handle); });
    }
    window.RunModal();
    return mrNone; // the form's ModalResult says how it ended
}

HWND Win32Desktop::OwnerWindow() const {
    // The window the user works in: the modal dialog when one runs, else a
    // shown window of the program (a box over a hidden window could not be
    // seen).
    HWND active = ::GetActiveWindow();
    if (active && FormWindow::FromHandle(active) && ::IsWindowVisible(active)) return active;
    for (const auto& [form, window] : windows_)
        if (window->Modal() && ::IsWindowVisible(window->Handle())) return window->Handle();
    for (const auto& [form, window] : windows_)
        if (::IsWindowVisible(window->Handle()) && ::IsWindowEnabled(window->Handle()))
            return window->Handle();
    return nullptr;
}

int Win32Desktop::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
    FlushViews(); // the windows behind the box show what it is about
    const std::wstring wideText = Wide(text), wideCaption = Wide(caption);
    std::function<void(HWND)> watcher;
    if (BeforeBlockingWindow) {
        auto seen = BeforeBlockingWindow;
        Win32Loop* loop = &loop_;
        watcher = [seen, loop](HWND box) { loop->post([seen, box] { seen(box); }); };
        boxWatcher = &watcher;
        if (!boxHook)
            boxHook = ::SetWindowsHookExW(WH_CBT, WatchForBox, nullptr, ::GetCurrentThreadId());
    }
    int answer = 0;
    {
        ScopedLoopPump pump(loop_);
        answer = ::MessageBoxW(OwnerWindow(), wideText.c_str(), wideCaption.c_str(), flags);
    }
    if (boxWatcher == &watcher) boxWatcher = nullptr;
    if (boxHook && !boxWatcher) {
        ::UnhookWindowsHookEx(boxHook);
        boxHook = nullptr;
    }
    // No box could be shown: the default button's answer, as without a screen.
    return answer != 0 ? answer : DefaultMessageBoxAnswer(flags);
}

bool Win32Desktop::Notify(DWORD operation) {
    NOTIFYICONDATAW data{};
    // The size of the structure filled here: the system reads the fields
    // of its own version by it (the model's 88 is the oldest, 8-bit one).
    data.cbSize = sizeof data;
    data.hWnd = tray_;
    data.uID = trayData_->iconId;
    data.uFlags = trayData_->flags & (NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = trayData_->callbackMessage;
    data.hIcon = trayData_->icon.empty() ? nullptr : PictureIcon(trayData_->icon, 16);
    if (!trayData_->icon.empty() && !data.hIcon) data.hIcon = ProgramIcon(16);
    const std::wstring tip = Wide(trayData_->tip.substr(0, 63));
    std::copy(tip.begin(), tip.end(), data.szTip);
    return ::Shell_NotifyIconW(operation, &data) != FALSE;
}

bool Win32Desktop::TrayIcon(TrayOperation operation, const TrayIconData& given) {
    const TrayIconData previous = trayData_.value_or(TrayIconData{});
    trayData_ = given;
    switch (operation) {
    case TrayOperation::Add: {
        // Without a notification area (no shell yet) the call fails, and the
        // program tries again on its tick.
        const bool added = Notify(NIM_ADD);
        trayShown_ = trayShown_ || added;
        return added;
    }
    case TrayOperation::Modify: return Notify(NIM_MODIFY);
    case TrayOperation::Remove: {
        // The icon to remove is the one that was added (its id).
        trayData_->iconId = given.iconId ? given.iconId : previous.iconId;
        const bool removed = Notify(NIM_DELETE);
        trayShown_ = false;
        trayData_.reset();
        return removed;
    }
    }
    return false;
}

bool Win32Desktop::GetCursorPos(int& x, int& y) {
    POINT at{};
    if (!::GetCursorPos(&at)) return false;
    x = at.x;
    y = at.y;
    return true;
}

void Win32Desktop::SetForeground(TForm& form) {
    if (FormWindow* window = WindowOf(form))
        if (::IsWindowVisible(window->Handle())) ::SetForegroundWindow(window->Handle());
}

void Win32Desktop::PopupMenu(TPopupMenu& menu, int x, int y) {
    // As the system's pop-up menu tracking, this returns when the menu has
    // closed; the chosen item's Click has run by then.
    MenuBinding binding(menu.Items(), [this](const std::function<void()>& action) {
        loop_.guarded(action);
        FlushViews();
    });
    // The menu closes when the user clicks elsewhere only when its owner is
    // the foreground window, and only after a message once it has closed.
    HWND owner = OwnerWindow();
    if (!owner) owner = tray_;
    ::SetForegroundWindow(owner);
    UINT chosen = 0;
    {
        ScopedLoopPump pump(loop_);
        chosen = static_cast<UINT>(::TrackPopupMenu(binding.Menu(),
                                                    TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON,
                                                    x, y, 0, owner, nullptr));
    }
    ::PostMessageW(owner, WM_NULL, 0, 0);
    if (chosen) binding.Command(static_cast<WORD>(chosen));
}

void Win32Desktop::Help(unsigned command, unsigned long data, const std::string& helpFile) {
    if (command == HELP_QUIT) return;
    const std::string language = language_ ? language_() : std::string();
    const std::optional<HelpPage> page =
        FindHelpPage(command, data, helpFile, helpFolders_, language);
    const HelpTexts texts = helpTexts_ ? helpTexts_() : HelpTexts{};
    std::string problem;
    if (!page) {
        const std::string pattern = FilePathText(FilePath(helpFile).stem()) + ".*.html";
        problem = FormatText(texts.notFound, {helpFile, pattern});
        for (const std::string& folder : helpFolders_) problem += "\n" + folder;
    } else if (!openUrl_ || !openUrl_(page->url)) {
        problem = texts.notOpened + "\n" + FilePathText(page->file);
    }
    if (!problem.empty()) MessageBox(problem, "Tarvo Vantor", MB_OK | MB_ICONWARNING);
}

std::optional<std::string> Win32Desktop::SaveFileDialog(const FileDialogOptions& options) {
    // "Text|*.txt|All|*" as the system takes it: pairs ending in NUL, a
    // second NUL at the end.
    std::wstring filter = Wide(options.filter);
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    filter += std::wstring(2, L'\0');
    std::wstring file = Wide(options.fileName);
    file.resize(std::max<std::size_t>(file.size() + 1, 32768), L'\0');
    const std::wstring title = Wide(options.title), dir = Wide(options.initialDir),
                       ext = Wide(options.defaultExt);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = OwnerWindow();
    ofn.lpstrFilter = options.filter.empty() ? nullptr : filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = dir.empty() ? nullptr : dir.c_str();
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    BOOL chosen = FALSE;
    {
        ScopedLoopPump pump(loop_);
        chosen = ::GetSaveFileNameW(&ofn);
    }
    if (!chosen) return std::nullopt;
    return Narrow(file.c_str());
}

std::optional<std::string> Win32Desktop::SelectDirectory(const std::string& title,
                                                         const std::string& initialDir) {
    const std::wstring caption = Wide(title), start = Wide(initialDir);
    BROWSEINFOW info{};
    info.hwndOwner = OwnerWindow();
    info.lpszTitle = caption.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
    // Opens on the folder given.
    info.lpfn = [](HWND window, UINT message, LPARAM, LPARAM data) -> int {
        if (message == BFFM_INITIALIZED && data)
            ::SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
        return 0;
    };
    PIDLIST_ABSOLUTE chosen = nullptr;
    {
        ScopedLoopPump pump(loop_);
        chosen = ::SHBrowseForFolderW(&info);
    }
    if (!chosen) return std::nullopt;
    wchar_t path[MAX_PATH] = L"";
    const bool named = ::SHGetPathFromIDListW(chosen, path) != FALSE;
    ::CoTaskMemFree(chosen);
    if (!named) return std::nullopt;
    return Narrow(path);
}

int Win32Desktop::ScreenWidth() const { return ::GetSystemMetrics(SM_CXSCREEN); }

int Win32Desktop::ScreenHeight() const { return ::GetSystemMetrics(SM_CYSCREEN); }

void Win32Desktop::FormDestroyed(TForm& form) { windows_.erase(&form); }

void Win32Desktop::SetTrayCallback(std::function<void(unsigned)> callback) {
    trayCallback_ = std::move(callback);
}

void Win32Desktop::SetHelpSources(std::vector<std::string> folders,
                                  std::function<std::string()> language,
                                  std::function<HelpTexts()> texts) {
    helpFolders_ = std::move(folders);
    language_ = std::move(language);
    helpTexts_ = std::move(texts);
}

void Win32Desktop::SetUrlOpener(std::function<bool(const std::string&)> open) {
    openUrl_ = std::move(open);
}

void Win32Desktop::SetSessionEnd(std::function<void()> onEnd) {
    sessionEnd_ = std::move(onEnd);
    for (auto& [form, window] : windows_) window->onSessionEnd = sessionEnd_;
}

} // namespace vantor::win32view
