#include "desktop-win32/FormWindow.h"

#include <algorithm>

#include "platform/win32/Win32Loop.h"
#include "toolkit/Desktop.h"
#include "toolkit/Menus.h"

namespace vantor::win32view {

namespace {

constexpr wchar_t FormProperty[] = L"TarvoVantor.Form";
constexpr UINT_PTR FlushTimer = 1;

TButton* FindButton(const TForm& form, bool (TButton::*which)() const) {
    std::vector<TControl*> pending(form.Controls().begin(), form.Controls().end());
    while (!pending.empty()) {
        TControl* c = pending.back();
        pending.pop_back();
        auto* button = dynamic_cast<TButton*>(c);
        if (button && (button->*which)() && button->Visible() && button->Enabled()) return button;
        pending.insert(pending.end(), c->Controls().begin(), c->Controls().end());
    }
    return nullptr;
}

} // namespace

FormWindow::FormWindow(TForm& form, Win32Loop& loop, HWND owner) : FormViews(form), loop_(loop) {
    Applying applying(*this);
    const RECT r = OuterRect();
    // WM_NCCREATE keeps this object on the window (window_ too).
    ::CreateWindowExW(ExStyle(), FormClass, Wide(form.Caption()).c_str(), Style(), r.left, r.top,
                      r.right - r.left, r.bottom - r.top, IsMainForm() ? nullptr : owner, nullptr,
                      ::GetModuleHandleW(nullptr), this);
    if (!window_)
        throw std::runtime_error("the window of form \"" + form.Name() +
                                 "\" cannot be made: " + win32::ErrorTextUtf8(::GetLastError()));
    if (TMainMenu* menu = MainMenuOf(form)) {
        std::weak_ptr<char> weak = token_;
        menus_ = std::make_unique<MenuBinding>(
            menu->Items(), window_, [this](const auto& action) { UserAction(action); },
            [this, weak] {
                if (weak.lock()) ::PostMessageW(window_, WM_VIEW_MENU_CHANGED, 0, 0);
            });
    }
    std::weak_ptr<char> weak = token_;
    form_.OnModelChanged = [this, weak](TControl& control) {
        if (weak.lock()) ModelChanged(control);
    };
    Reconcile(form_);
    PullForm();
}

FormWindow::~FormWindow() {
    // The controls may be gone already: the views go without reading them.
    menus_.reset();
    views_.clear();
    pump_.reset();
    if (::IsWindow(window_)) {
        ::RemovePropW(window_, FormProperty);
        ::DestroyWindow(window_);
    }
}

FormWindow* FormWindow::FromHandle(HWND window) {
    return window ? static_cast<FormWindow*>(::GetPropW(window, FormProperty)) : nullptr;
}

LRESULT CALLBACK FormWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<FormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        ::SetPropW(window, FormProperty, self);
    }
    FormWindow* self = FromHandle(window);
    if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) ::RemovePropW(window, FormProperty);
    // No exception may leave a window procedure: it goes to the loop's
    // handler (the exception box) as an escaped task's does.
    LRESULT result = 0;
    bool answered = false;
    self->loop_.guarded([&] {
        result = self->Handle(message, wParam, lParam);
        answered = true;
    });
    return answered ? result : ::DefWindowProcW(window, message, wParam, lParam);
}

bool FormWindow::IsMainForm() const { return form_.Application().MainForm() == &form_; }

bool FormWindow::Resizable() const {
    return IsMainForm() || (form_.BorderIcons() & biMaximize) != 0;
}

DWORD FormWindow::Style() const {
    if (IsMainForm()) return WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    // The title bar offers what the form's border icons say; only a form
    // that can be maximised can be sized.
    const unsigned icons = form_.BorderIcons();
    DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
    if (icons & biSystemMenu) style |= WS_SYSMENU;
    if (icons & biMinimize) style |= WS_MINIMIZEBOX;
    if (icons & biMaximize) style |= WS_MAXIMIZEBOX | WS_THICKFRAME;
    return style;
}

DWORD FormWindow::ExStyle() const {
    return IsMainForm() ? WS_EX_CONTROLPARENT | WS_EX_APPWINDOW
                        : WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME;
}

RECT FormWindow::OuterRect() const {
    RECT r{0, 0, std::max(1, form_.ClientWidth()), std::max(1, form_.ClientHeight())};
    ::AdjustWindowRectEx(&r, Style(), MainMenuOf(form_) != nullptr, ExStyle());
    return RECT{form_.Left(), form_.Top(), form_.Left() + r.right - r.left,
                form_.Top() + r.bottom - r.top};
}

ControlWindow* FormWindow::ViewOf(const TControl* control) const { return Find(control); }

HWND FormWindow::HandleOf(const TControl& control) const {
    if (&control == &form_) return window_;
    ControlWindow* view = ViewOf(&control);
    return view ? view->Handle() : nullptr;
}

void FormWindow::UserAction(const std::function<void()>& action) {
    std::weak_ptr<char> weak = token_;
    loop_.guarded(action);
    if (weak.lock()) Flush(); // the action may have ended the form's window
}

void FormWindow::ModelChanged(TControl& control) {
    Changed(control);
    if (!flushPending_ && ::SetTimer(window_, FlushTimer, FlushMs, nullptr)) flushPending_ = true;
}

void FormWindow::Flush() {
    if (flushPending_) {
        ::KillTimer(window_, FlushTimer);
        flushPending_ = false;
    }
    CatchUp();
    if (menus_ && !inMenu_) menus_->Refresh();
}

bool FormWindow::PostReconcile() { return ::PostMessageW(window_, WM_VIEW_RECONCILE, 0, 0); }

std::unique_ptr<ControlWindow> FormWindow::MakeView(TControl& control, ControlWindow* parentView) {
    return MakeControlWindow(control, parentView ? parentView->ChildHost(control) : window_, *this);
}

void FormWindow::ControlDestroying(const TControl* control) { Forget(control); }

void FormWindow::PullForm() {
    Applying applying(*this);
    const std::wstring caption = Wide(form_.Caption());
    std::wstring shown(static_cast<std::size_t>(::GetWindowTextLengthW(window_)), L'\0');
    ::GetWindowTextW(window_, shown.data(), static_cast<int>(shown.size()) + 1);
    if (shown != caption) ::SetWindowTextW(window_, caption.c_str());
    const bool visible = ::IsWindowVisible(window_) != FALSE;
    const DWORD style = Style();
    const DWORD current = static_cast<DWORD>(::GetWindowLongW(window_, GWL_STYLE));
    const DWORD mask = WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
    if (!visible && (current & mask) != (style & mask)) {
        ::SetWindowLongW(window_, GWL_STYLE, static_cast<LONG>((current & ~mask) | (style & mask)));
        ::SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
    if (!::IsZoomed(window_) && !::IsIconic(window_)) {
        const RECT want = OuterRect();
        RECT now;
        ::GetWindowRect(window_, &now);
        if (!::EqualRect(&want, &now))
            ::SetWindowPos(window_, nullptr, want.left, want.top, want.right - want.left,
                           want.bottom - want.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Layout();
}

void FormWindow::Layout() {
    for (const auto& [control, view] : views_)
        if (view->DockedAtBottom()) ::SendMessageW(view->Handle(), WM_SIZE, 0, 0);
}

void FormWindow::ShowWindow() {
    Flush();
    PullForm();
    if (!::IsWindowVisible(window_)) ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
}

void FormWindow::HideWindow() { ::ShowWindow(window_, SW_HIDE); }

void FormWindow::RunModal() {
    Flush();
    PullForm();
    modal_ = true;
    struct End {
        FormWindow& window;
        ~End() { window.modal_ = false; }
    } end{*this};
    // A result set before the run (by OnShow) ends it at once.
    if (form_.ModalResult() != mrNone) return;
    // The program's other windows take no input while the dialog runs.
    std::vector<HWND> disabled;
    struct Collect {
        HWND dialog;
        std::vector<HWND>* windows;
    } collect{window_, &disabled};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM data) -> BOOL {
            auto* c = reinterpret_cast<Collect*>(data);
            if (w != c->dialog && ::IsWindowVisible(w) && ::IsWindowEnabled(w)) {
                ::EnableWindow(w, FALSE);
                c->windows->push_back(w);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&collect));
    HWND previous = ::GetActiveWindow();
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
    if (HWND first = ::GetNextDlgTabItem(window_, nullptr, FALSE)) ::SetFocus(first);
    while (form_.ModalResult() == mrNone && !loop_.quitRequested() && ::IsWindowVisible(window_))
        loop_.waitAndProcessEvents();
    // The others first, so the system gives the activation back to them.
    for (HWND w : disabled)
        if (::IsWindow(w)) ::EnableWindow(w, TRUE);
    ::ShowWindow(window_, SW_HIDE);
    if (previous && previous != window_ && ::IsWindow(previous)) ::SetActiveWindow(previous);
}

TButton* FormWindow::DefaultButton() const { return FindButton(form_, &TButton::Default); }

TButton* FormWindow::CancelButton() const { return FindButton(form_, &TButton::Cancel); }

bool FormWindow::FilterMessage(MSG& message) {
    if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) {
        if (menus_ && menus_->Accelerators() &&
            ::TranslateAcceleratorW(window_, menus_->Accelerators(), &message))
            return true;
        // F1 in a dialog opens its page of the help.
        const bool plain = ::GetKeyState(VK_SHIFT) >= 0 && ::GetKeyState(VK_CONTROL) >= 0 &&
                           ::GetKeyState(VK_MENU) >= 0;
        if (message.wParam == VK_F1 && plain && !IsMainForm() && form_.HelpContext() != 0) {
            UserAction([this] {
                form_.Application().HelpCommand(HELP_CONTEXT,
                                                static_cast<unsigned long>(form_.HelpContext()));
            });
            return true;
        }
    }
    return ::IsDialogMessageW(window_, &message) != FALSE;
}

void FormWindow::MenuHint(WORD id, UINT flags) {
    ControlWindow* bar = nullptr;
    for (const auto& [control, view] : views_)
        if (view->DockedAtBottom()) bar = view.get();
    if (!bar) return;
    TMenuItem* item = menus_ && !(flags & MF_POPUP) ? menus_->ItemOf(id) : nullptr;
    const std::string hint = item ? LongHint(item->Hint()) : std::string();
    if (hint.empty())
        bar->EndHint();
    else
        bar->ShowHint(Wide(hint));
}

LRESULT FormWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT routed = 0;
    if (RouteFromChild(window_, message, wParam, lParam, routed)) return routed;
    switch (message) {
    case WM_TIMER:
        if (wParam != FlushTimer) break;
        Flush();
        return 0;
    case WM_VIEW_RECONCILE: ReconcileAll(); return 0;
    case WM_VIEW_DESTROY_LATER: {
        const auto child = reinterpret_cast<HWND>(lParam);
        if (::IsWindow(child) && ::IsChild(window_, child)) ::DestroyWindow(child);
        return 0;
    }
    case WM_VIEW_MENU_CHANGED:
        if (menus_ && !inMenu_) menus_->Refresh();
        return 0;
    case WM_COMMAND:
        if (lParam != 0) break;
        // A menu item, an accelerator, or a dialog key (IsDialogMessage).
        if (menus_ && menus_->Command(LOWORD(wParam))) return 0;
        if (LOWORD(wParam) == IDOK) {
            if (TButton* button = DefaultButton()) UserAction([button] { button->Click(); });
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            // Escape presses the cancel button; a dialog without one closes
            // as Cancel; a window that is no dialog stays.
            if (TButton* button = CancelButton())
                UserAction([button] { button->Click(); });
            else if (modal_)
                UserAction([this] { form_.Close(); });
            return 0;
        }
        break;
    case DM_GETDEFID:
        if (TButton* button = DefaultButton())
            if (ControlWindow* view = ViewOf(button))
                return MAKELRESULT(::GetDlgCtrlID(view->Handle()), DC_HASDEFID);
        return 0;
    case WM_CLOSE:
        // The form decides: a dialog ends with Cancel, the main window closes
        // the gateway (its OnClose), another form hides.
        UserAction([this] { form_.Close(); });
        return 0;
    case WM_SIZE:
        Layout();
        if (!applying_ && wParam != SIZE_MINIMIZED) {
            const int w = LOWORD(lParam), h = HIWORD(lParam);
            if (w != form_.ClientWidth() || h != form_.ClientHeight())
                UserAction([this, w, h] {
                    form_.SetClientWidth(w);
                    form_.SetClientHeight(h);
                });
        }
        return 0;
    case WM_MOVE:
        if (!applying_ && ::IsWindowVisible(window_) && !::IsIconic(window_) &&
            !::IsZoomed(window_)) {
            RECT r;
            ::GetWindowRect(window_, &r);
            if (r.left != form_.Left() || r.top != form_.Top())
                UserAction([this, r] {
                    form_.SetLeft(r.left);
                    form_.SetTop(r.top);
                });
        }
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !modal_ && !applying_ &&
            form_.Application().ActiveForm() != &form_)
            UserAction([this] { form_.Application().Activate(&form_); });
        break;
    case WM_SETFOCUS:
        // The keyboard goes to a control, not to the frame.
        if (HWND first = ::GetNextDlgTabItem(window_, nullptr, FALSE)) {
            ::SetFocus(first);
            return 0;
        }
        break;
    case WM_ENTERMENULOOP: inMenu_ = true; [[fallthrough]];
    case WM_ENTERSIZEMOVE:
        if (!pump_) pump_ = std::make_unique<ScopedLoopPump>(loop_);
        break;
    case WM_EXITMENULOOP:
        inMenu_ = false;
        for (const auto& [control, view] : views_) view->EndHint();
        if (menus_) menus_->Refresh();
        [[fallthrough]];
    case WM_EXITSIZEMOVE: pump_.reset(); break;
    case WM_MENUSELECT: MenuHint(LOWORD(wParam), HIWORD(wParam)); break;
    case WM_ENDSESSION:
        if (wParam) {
            if (onSessionEnd)
                onSessionEnd();
            else
                UserAction([this] { form_.Close(); });
        }
        return 0;
    default: break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

} // namespace vantor::win32view
