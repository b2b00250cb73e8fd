#include "desktop/FormView.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>

#include <algorithm>

#include "desktop/MenuView.h"
#include "desktop/Pictures.h"
#include "desktop/QtLoop.h"
#include "desktop/QtText.h"
#include "toolkit/Desktop.h"
#include "toolkit/Menus.h"

namespace vantor::desktop {

FormView::FormView(TForm& form, QtLoop& loop)
    : QDialog(nullptr), FormViews(form), loop_(loop), client_(new QWidget(this)) {
    setObjectName(QString::fromStdString(form.Name()));
    setWindowIcon(ProgramIcon());
    setSizeGripEnabled(false);
    if (TMainMenu* menu = MainMenuOf(form)) {
        menuBar_ = new QMenuBar(this);
        menus_ = std::make_unique<MenuView>(menu->Items(), menuBar_, this,
                                            [this](const auto& action) { UserAction(action); });
    }
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(FlushMs);
    QObject::connect(&flushTimer_, &QTimer::timeout, this, [this] { Flush(); });
    std::weak_ptr<char> weak = token_;
    form_.OnModelChanged = [this, weak](TControl& control) {
        if (weak.lock()) ModelChanged(control);
    };
    if (form_.HelpContext() != 0 && !IsMainForm()) {
        // F1 in a dialog opens its page of the help.
        auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
        QObject::connect(help, &QShortcut::activated, this, [this] {
            UserAction([this] {
                form_.Application().HelpCommand(HELP_CONTEXT,
                                                static_cast<unsigned long>(form_.HelpContext()));
            });
        });
    }
    Reconcile(form_);
    PullForm();
}

FormView::~FormView() {
    // The controls may be gone already: drop the views without reading them.
    menus_.reset();
    views_.clear();
}

bool FormView::IsMainForm() const { return form_.Application().MainForm() == &form_; }

bool FormView::Resizable() const { return IsMainForm() || (form_.BorderIcons() & biMaximize) != 0; }

int FormView::MenuHeight() const { return menuBar_ ? menuBar_->sizeHint().height() : 0; }

QWidget* FormView::WidgetOf(const TControl& control) const {
    if (&control == &form_) return client_;
    ControlView* view = Find(&control);
    return view ? view->Widget() : nullptr;
}

void FormView::UserAction(const std::function<void()>& action) {
    loop_.guarded(action);
    Flush();
}

void FormView::ModelChanged(TControl& control) {
    Changed(control);
    if (!flushTimer_.isActive()) flushTimer_.start();
}

void FormView::Flush() {
    flushTimer_.stop();
    CatchUp();
    CheckModalEnd();
}

void FormView::CheckModalEnd() {
    if (modal_ && form_.ModalResult() != mrNone && isVisible()) done(form_.ModalResult());
}

void FormView::ControlDestroying(const TControl* control) { Forget(control); }

std::unique_ptr<ControlView> FormView::MakeView(TControl& control, ControlView* parentView) {
    return MakeControlView(control, parentView ? parentView->ChildHost(control) : client_, *this);
}

bool FormView::PostReconcile() {
    std::weak_ptr<char> weak = token_;
    QTimer::singleShot(0, this, [this, weak] {
        if (weak.lock()) ReconcileAll();
    });
    return true;
}

void FormView::Pulled(ControlView& view) {
    if (view.DockedAtBottom()) Layout();
}

void FormView::PullForm() {
    Applying applying(*this);
    setWindowTitle(ToQt(form_.Caption()));
    setEnabled(form_.Enabled());
    const unsigned icons = form_.BorderIcons() | (IsMainForm() ? 0x100u : 0u);
    if (icons != flagsFor_ && !isVisible()) {
        flagsFor_ = icons;
        Qt::WindowFlags flags = IsMainForm() ? Qt::Window : Qt::Dialog;
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (IsMainForm() || (icons & biSystemMenu))
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (IsMainForm() || (icons & biMinimize)) flags |= Qt::WindowMinimizeButtonHint;
        if (IsMainForm() || (icons & biMaximize)) flags |= Qt::WindowMaximizeButtonHint;
        setWindowFlags(flags);
    }
    const QSize size(std::max(1, form_.ClientWidth()),
                     std::max(1, form_.ClientHeight()) + MenuHeight());
    if (Resizable()) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        if (this->size() != size && !isMaximized()) resize(size);
    } else if (this->size() != size || minimumSize() != size) {
        setFixedSize(size);
    }
    const QPoint at(form_.Left(), form_.Top());
    if (pos() != at && !isMaximized()) move(at);
    Layout();
}

void FormView::Layout() {
    const int menu = MenuHeight();
    if (menuBar_) menuBar_->setGeometry(0, 0, width(), menu);
    client_->setGeometry(0, menu, width(), std::max(0, height() - menu));
    for (const auto& [control, view] : views_) {
        if (!view->DockedAtBottom()) continue;
        QWidget* bar = view->Widget();
        if (!bar || bar->parentWidget() != client_) continue;
        const int h = bar->sizeHint().height();
        bar->setGeometry(0, client_->height() - h, client_->width(), h);
        bar->raise();
    }
}

void FormView::ShowWindow() {
    Flush();
    PullForm();
    if (isHidden()) show();
    raise();
    activateWindow();
}

void FormView::HideWindow() {
    if (modal_ && isVisible()) done(mrCancel);
    hide();
}

void FormView::RunModal() {
    Flush();
    PullForm();
    setWindowModality(Qt::ApplicationModal);
    modal_ = true;
    struct End {
        FormView& view;
        ~End() { view.modal_ = false; }
    } end{*this};
    // A result set before the run (by OnShow) ends it at once.
    if (form_.ModalResult() != mrNone) return;
    exec();
}

TButton* FormView::CancelButton() const {
    std::vector<TControl*> pending{&form_};
    while (!pending.empty()) {
        TControl* c = pending.back();
        pending.pop_back();
        for (TControl* child : c->Controls()) {
            auto* button = dynamic_cast<TButton*>(child);
            if (button && button->Cancel() && button->Visible() && button->Enabled()) return button;
            pending.push_back(child);
        }
    }
    return nullptr;
}

void FormView::closeEvent(QCloseEvent* event) {
    // The form decides: a dialog ends with Cancel, the main window closes
    // the gateway (its OnClose), another form hides.
    event->ignore();
    UserAction([this] { form_.Close(); });
}

void FormView::reject() {
    if (!modal_) return; // Escape does not close a window that is not a dialog
    if (TButton* cancel = CancelButton())
        UserAction([cancel] { cancel->Click(); });
    else
        UserAction([this] { form_.Close(); });
}

void FormView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && !modal_) {
        if (TButton* cancel = CancelButton()) UserAction([cancel] { cancel->Click(); });
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FormView::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Layout();
    if (applying_) return;
    const int w = width(), h = height() - MenuHeight();
    if (w != form_.ClientWidth() || h != form_.ClientHeight())
        UserAction([this, w, h] {
            form_.SetClientWidth(w);
            form_.SetClientHeight(h);
        });
}

void FormView::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (applying_ || !isVisible()) return;
    const QPoint at = pos();
    if (at.x() != form_.Left() || at.y() != form_.Top())
        UserAction([this, at] {
            form_.SetLeft(at.x());
            form_.SetTop(at.y());
        });
}

bool FormView::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // Menu hints (the long part) show in the form's status bar.
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        for (const auto& [control, view] : views_)
            if (auto* bar = qobject_cast<QStatusBar*>(view->Widget())) {
                if (tip.isEmpty())
                    bar->clearMessage();
                else
                    bar->showMessage(tip);
                return true;
            }
    } else if (event->type() == QEvent::WindowActivate && !modal_ && !applying_) {
        if (form_.Application().ActiveForm() != &form_)
            UserAction([this] { form_.Application().Activate(&form_); });
    }
    return QDialog::event(event);
}

} // namespace vantor::desktop
