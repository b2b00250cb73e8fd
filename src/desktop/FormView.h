#pragma once
// The window of one model form: a Qt dialog holding the widgets of the
// form's controls at the model's positions, its main menu (when the form
// owns one) and its status bar docked at the bottom.  The window follows the
// form (caption, client size, position, title-bar buttons) and tells the
// form what the user does to the window: resizing and moving it, closing
// it, Escape (the cancel button), F1 (the form's help context).
//
// Modal runs are QDialog::exec; the run ends as soon as the form's
// ModalResult is set (a button with a modal result, a handler that sets it).
//
// The window catches up with its form at most every FlushMs, not on every
// change: the traffic log changes the list and the status line several
// times per line, hundreds of lines a second, and a person cannot read
// faster than the screen refreshes anyway.  What the user does is handed to
// the form at once, and Flush() brings the window up to date before it is
// shown, before a modal run and after each user action.
#include <QDialog>
#include <QTimer>

#include <functional>
#include <memory>

#include "desktop/ControlViews.h"
#include "toolkit/FormViews.h"

class QMenuBar;

namespace vantor::desktop {

class MenuView;
class QtLoop;

class FormView final : public QDialog, public ControlHost, public FormViews<ControlView> {
public:
    FormView(TForm& form, QtLoop& loop);
    ~FormView() override;

    static constexpr int FlushMs = 25;
    // Brings the window up to date with every change of the form so far.
    void Flush();
    void ShowWindow();
    void HideWindow();
    // Runs the form modally; returns when its ModalResult is set or the loop
    // quits.
    void RunModal();
    void UserAction(const std::function<void()>& action) override;
    void ControlDestroying(const TControl* control) override;

    // For tests and the screenshot tour: the widget shown for a control, and
    // the menu bar (null when the form has no main menu).
    QWidget* WidgetOf(const TControl& control) const;
    QMenuBar* MenuBar() const { return menuBar_; }
    MenuView* Menus() const { return menus_.get(); }
    QWidget* Client() const { return client_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::unique_ptr<ControlView> MakeView(TControl& control, ControlView* parentView) override;
    void PullForm() override;
    void Layout() override;
    bool PostReconcile() override;
    void Pulled(ControlView& view) override;
    void ModelChanged(TControl& control);
    void CheckModalEnd();
    bool IsMainForm() const;
    bool Resizable() const;
    TButton* CancelButton() const;
    int MenuHeight() const;

    QtLoop& loop_;
    QWidget* client_;
    QMenuBar* menuBar_ = nullptr;
    std::unique_ptr<MenuView> menus_;
    std::shared_ptr<char> token_ = std::make_shared<char>();
    bool modal_ = false;
    QTimer flushTimer_;
    unsigned flagsFor_ = ~0u;
};

} // namespace vantor::desktop
