#pragma once
// One widget per model control, kept in step both ways: the model's
// properties are pulled into the widget whenever the control reports a
// change, and what a user does in the widget is handed to the model as the
// framework's own user action would be (Click, UserInput, SetItemIndex), so
// the forms' logic runs unchanged.  The view never reads the model in a
// repaint: it pulls on change notifications only.
//
// Which widget a control gets is decided by its class, most specific first,
// so a control class added later (a subclass of a list, a button, ...) shows
// as its base class does, and any other control shows as a plain container
// of its children.
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "toolkit/Controls.h"

namespace vantor::desktop {

// What a control view needs from the window it sits in.
class ControlHost {
public:
    virtual ~ControlHost() = default;
    // Runs a user's action on the model under the loop's exception rule, then
    // lets the window see whether a modal run has ended.
    virtual void UserAction(const std::function<void()>& action) = 0;
    // The control of a view is being destroyed (only its address is valid).
    virtual void ControlDestroying(const TControl* control) = 0;
};

class ControlView {
public:
    ControlView(TControl& control, QWidget* widget, ControlHost& host);
    virtual ~ControlView();
    ControlView(const ControlView&) = delete;
    ControlView& operator=(const ControlView&) = delete;

    TControl* Control() const { return control_; }
    // The parent the control had when its view was made (compared, never
    // read: the parent may be gone).
    TControl* BoundParent() const { return boundParent_; }
    QWidget* Widget() const { return widget_; }
    // Where the widgets of this control's children go (a tab page for a
    // page's children, the group box, ...).
    virtual QWidget* ChildHost(TControl& child);
    // Model to widget.
    void Pull();
    // The control is a status bar that the window docks at its bottom.
    virtual bool DockedAtBottom() const { return false; }

protected:
    virtual void PullOwn() {}
    // True while the view writes into the widget: the widget's change signals
    // are then the view's own and must not go back to the model.
    bool Pulling() const { return pulling_; }
    void User(const std::function<void()>& action) { host_.UserAction(action); }
    ControlHost& Host() const { return host_; }

private:
    void PullCommon();
    TControl* control_;
    TControl* boundParent_;
    QPointer<QWidget> widget_; // a parent's widget may have taken it along already
    ControlHost& host_;
    bool pulling_ = false;
    std::shared_ptr<char> token_ = std::make_shared<char>();
    std::optional<TFont> font_;
    std::optional<TColor> color_;
};

// Makes the view of a control in the widget `parent`.
std::unique_ptr<ControlView> MakeControlView(TControl& control, QWidget* parent, ControlHost& host);

} // namespace vantor::desktop
