#pragma once
// The window of one model form: a top-level window whose client area holds
// the windows of the form's controls at the model's positions, with the
// form's main menu (when it owns one) as its menu bar and its status bar
// docked at the bottom.  The window follows the form (caption, client size,
// position, title-bar buttons) and tells the form what the user does to it:
// resizing and moving it, closing it (also from the system menu), Escape
// (the cancel button), Enter (the default button), F1 (the form's help
// context), the menu's accelerators.
//
// The main form is an ordinary top-level window; every other form is a
// dialog owned by the main form's window, so it stays above it.  Modal runs
// disable the program's other windows and serve the gateway's loop
// (Win32Loop) until the form's ModalResult is set.
//
// The window catches up with its form at most every FlushMs, not on every
// change (the traffic log changes the list and the status line several
// times per line, hundreds of lines a second); what the user does reaches
// the form at once, and Flush() brings the window up to date before it is
// shown, before a modal run and after each user action.
#include "desktop-win32/ControlWindows.h"
#include "desktop-win32/MenuBinding.h"

#include <functional>
#include <memory>

#include "toolkit/FormViews.h"

namespace vantor {
class Win32Loop;
}

namespace vantor::win32view {

class FormWindow final : public ControlHost, public FormViews<ControlWindow> {
public:
    // `owner`: the window dialogs stay above (the main form's), or null.
    FormWindow(TForm& form, Win32Loop& loop, HWND owner);
    ~FormWindow() override;
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    // The form window a window handle is (null for any other window).
    static FormWindow* FromHandle(HWND window);
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND Handle() const { return window_; }
    static constexpr UINT FlushMs = 25;
    // Brings the window up to date with every change of the form so far.
    void Flush();
    void ShowWindow();
    void HideWindow();
    // Runs the form modally; returns when its ModalResult is set, its window
    // was hidden or the loop quits.
    void RunModal();
    bool Modal() const { return modal_; }
    // The dialog keys, accelerators and F1 of this window, before the
    // message is dispatched; true when handled.
    bool FilterMessage(MSG& message);
    // What the user's session ending does (WM_ENDSESSION); unset: the form
    // is closed.
    std::function<void()> onSessionEnd;

    void UserAction(const std::function<void()>& action) override;
    void ControlDestroying(const TControl* control) override;
    int NextControlId() override { return nextControlId_++; }
    ControlWindow* ViewOf(const TControl* control) const override;

    // For tests and the screenshot tour: the window of a control (the form's
    // own for the form), and the menu bar (null without a main menu).
    HWND HandleOf(const TControl& control) const;
    MenuBinding* Menus() const { return menus_.get(); }

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    std::unique_ptr<ControlWindow> MakeView(TControl& control, ControlWindow* parentView) override;
    void PullForm() override;
    void Layout() override;
    bool PostReconcile() override;
    void ModelChanged(TControl& control);
    bool IsMainForm() const;
    bool Resizable() const;
    TButton* DefaultButton() const;
    TButton* CancelButton() const;
    DWORD Style() const;
    DWORD ExStyle() const;
    // The window's rectangle for the form's position and client size.
    RECT OuterRect() const;
    void MenuHint(WORD id, UINT flags);

    Win32Loop& loop_;
    HWND window_ = nullptr;
    std::unique_ptr<MenuBinding> menus_;
    std::shared_ptr<char> token_ = std::make_shared<char>();
    int nextControlId_ = 1000; // above IDOK, IDCANCEL and the other dialog keys
    bool modal_ = false;
    bool inMenu_ = false;
    bool flushPending_ = false;
    std::unique_ptr<ScopedLoopPump> pump_; // a menu open, the window moved or sized
};

} // namespace vantor::win32view
