#pragma once
// One Win32 control per model control, kept in step both ways: the model's
// properties are pulled into the window whenever the control reports a
// change, and what a user does in the window (its notifications, passed on
// by the parent window) reaches the model as the framework's own user
// action would (Click, UserInput, SetItemIndex, DblClick), so the forms'
// logic runs unchanged.
//
// Which window a control gets is decided by its class, most specific first,
// so a control class made later shows as its nearest known base and any
// other control as a plain container of its children.  Containers (group
// boxes, panels, pages, radio groups) are windows of the view's own class
// that paint their frame and pass their children's notifications on.
#include "desktop-win32/Win32Ui.h"

#include <functional>
#include <memory>
#include <optional>

#include "toolkit/Controls.h"

namespace vantor::win32view {

class ControlWindow;

// What a control's window needs from the form window it sits in.
class ControlHost {
public:
    virtual ~ControlHost() = default;
    // Runs a user's action on the model under the loop's exception rule,
    // then brings the window up to date (and sees whether a modal run ended).
    virtual void UserAction(const std::function<void()>& action) = 0;
    // The control of a view is being destroyed (only its address is valid).
    virtual void ControlDestroying(const TControl* control) = 0;
    // A child window identifier of this form, unique within it.
    virtual int NextControlId() = 0;
    // The view of another control of the form (null when it has none).
    virtual ControlWindow* ViewOf(const TControl* control) const = 0;
};

class ControlWindow {
public:
    ControlWindow(TControl& control, HWND window, ControlHost& host);
    virtual ~ControlWindow();
    ControlWindow(const ControlWindow&) = delete;
    ControlWindow& operator=(const ControlWindow&) = delete;

    // The view a window (or a part of one, such as a radio button) belongs to.
    static ControlWindow* FromHandle(HWND window);

    TControl* Control() const { return control_; }
    // The parent the control had when its view was made (compared, never
    // read: the parent may be gone).
    TControl* BoundParent() const { return boundParent_; }
    HWND Handle() const { return window_; }
    // Where the windows of this control's children go.
    virtual HWND ChildHost(TControl& child);
    // Model to window.
    void Pull();
    // A status bar, docked at the bottom of its window.
    virtual bool DockedAtBottom() const { return false; }

    // Notifications from the window, passed on by its parent.
    virtual void Command(HWND from, WORD code) {}
    virtual LRESULT Notify(const NMHDR& header) { return 0; }
    // WM_CTLCOLOR...: the text colour of the control's font, its own
    // background colour when it has one.
    virtual HBRUSH Colors(HDC dc, UINT message);
    virtual void DrawItem(const DRAWITEMSTRUCT& item) {}
    virtual void MeasureItem(MEASUREITEMSTRUCT& item) {}
    // Paints a container of the view's own class.
    virtual void Paint(HDC dc) {}
    // The user double-clicked the window.
    void DoubleClicked() {
        User([this] { control_->DblClick(); });
    }
    // A status bar shows a menu item's hint while the menu is open.
    virtual void ShowHint(const std::wstring& hint) {}
    virtual void EndHint() {}

protected:
    virtual void PullOwn() {}
    // A size for a control whose model gives none.
    virtual SIZE NaturalSize() const;
    // The window's bounds for the model's (a drop-down list reaches below).
    virtual RECT WindowBounds(RECT model) const { return model; }
    // True while the view writes into the window: its notifications are
    // then the view's own and must not go back to the model.
    bool Pulling() const { return pulling_; }
    void User(const std::function<void()>& action) { host_.UserAction(action); }
    ControlHost& Host() const { return host_; }
    // Marks a window (the control's own, or a part of it) as this view's.
    void Claim(HWND part);
    // Sets a window's text when it differs.
    static void SetText(HWND window, const std::wstring& text);
    static std::wstring TextOf(HWND window);

    // Makes a child window of a system or the view's own class.
    static HWND MakeChild(const wchar_t* windowClass, DWORD style, DWORD exStyle, HWND parent,
                          ControlHost& host);

private:
    void PullCommon();
    TControl* control_;
    TControl* boundParent_;
    HWND window_;
    ControlHost& host_;
    bool pulling_ = false;
    std::shared_ptr<char> token_ = std::make_shared<char>();
    std::optional<TFont> font_;
    std::optional<TColor> color_;
    std::optional<RECT> bounds_;
};

// Makes the window of a control inside the window `parent`.
std::unique_ptr<ControlWindow> MakeControlWindow(TControl& control, HWND parent, ControlHost& host);

} // namespace vantor::win32view
