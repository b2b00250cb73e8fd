#include "desktop/ControlViews.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabWidget>

#include "desktop/ItemListModel.h"
#include "desktop/Pictures.h"
#include "desktop/QtText.h"
#include "toolkit/ScopedFlag.h"

namespace vantor::desktop {

namespace {

// Double clicks on any control reach the model's DblClick (the about box's
// notice line, for one).
class DblClickFilter final : public QObject {
public:
    DblClickFilter(QObject* parent, std::function<void()> onDblClick)
        : QObject(parent), onDblClick_(std::move(onDblClick)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick) onDblClick_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onDblClick_;
};

// Hooks set on the model from a view must not outlive the view: they hold a
// token and do nothing once the view is gone (the model may outlive its view,
// and the view cannot always tell whether the model still exists).
using Token = std::shared_ptr<char>;
template <class F>
auto Guard(const Token& token, F f) {
    return [weak = std::weak_ptr<char>(token), f = std::move(f)](auto&&... args) {
        if (weak.lock()) f(std::forward<decltype(args)>(args)...);
    };
}

QString MemoText(const TMemo& memo) {
    QString text;
    for (int i = 0; i < memo.Lines().Count(); ++i) {
        if (i) text += u'\n';
        text += ToQt(memo.Lines()[i]);
    }
    return text;
}

// ------------------------------------------------------------------ labels

class LabelView final : public ControlView {
public:
    LabelView(TLabel& label, QWidget* parent, ControlHost& host)
        : ControlView(label, new QLabel(parent), host), label_(label) {
        Label()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

private:
    QLabel* Label() const { return static_cast<QLabel*>(Widget()); }
    void PullOwn() override {
        const QString text = WithoutMnemonic(ToQt(label_.Caption()));
        if (Label()->text() != text) Label()->setText(text);
    }
    TLabel& label_;
};

class ImageView final : public ControlView {
public:
    ImageView(TImage& image, QWidget* parent, ControlHost& host)
        : ControlView(image, new QLabel(parent), host), image_(image) {
        static_cast<QLabel*>(Widget())->setAlignment(Qt::AlignCenter);
    }

private:
    void PullOwn() override {
        const int size = std::max(16, std::min(image_.Width(), image_.Height()));
        if (shown_ == image_.Picture() && size_ == size) return;
        shown_ = image_.Picture();
        size_ = size;
        static_cast<QLabel*>(Widget())->setPixmap(Picture(shown_, size));
    }
    TImage& image_;
    std::string shown_ = "\x01";
    int size_ = 0;
};

// ----------------------------------------------------------------- buttons

class ButtonView final : public ControlView {
public:
    ButtonView(TButton& button, QWidget* parent, ControlHost& host)
        : ControlView(button, new QPushButton(parent), host), button_(button) {
        // Enter presses the default button only, as the framework does.
        Button()->setAutoDefault(false);
        QObject::connect(Button(), &QPushButton::clicked, Button(),
                         [this] { User([this] { button_.Click(); }); });
    }

private:
    QPushButton* Button() const { return static_cast<QPushButton*>(Widget()); }
    void PullOwn() override {
        const QString text = ToQt(button_.Caption());
        if (Button()->text() != text) Button()->setText(text);
        Button()->setDefault(button_.Default());
    }
    TButton& button_;
};

class CheckBoxView final : public ControlView {
public:
    CheckBoxView(TCheckBox& box, QWidget* parent, ControlHost& host)
        : ControlView(box, new QCheckBox(parent), host), box_(box) {
        QObject::connect(Box(), &QCheckBox::clicked, Box(), [this](bool checked) {
            User([this, checked] {
                if (box_.Checked() != checked) box_.Click();
            });
            Pull(); // a disabled or refusing model keeps its own state
        });
    }

private:
    QCheckBox* Box() const { return static_cast<QCheckBox*>(Widget()); }
    void PullOwn() override {
        const QString text = ToQt(box_.Caption());
        if (Box()->text() != text) Box()->setText(text);
        if (Box()->isChecked() != box_.Checked()) Box()->setChecked(box_.Checked());
    }
    TCheckBox& box_;
};

// ------------------------------------------------------------- text entry

class EditView final : public ControlView {
public:
    EditView(TEdit& edit, QWidget* parent, ControlHost& host)
        : ControlView(edit, new QLineEdit(parent), host), edit_(edit) {
        QObject::connect(Edit(), &QLineEdit::textEdited, Edit(), [this](const QString& text) {
            User([this, text] { edit_.UserInput(FromQt(text)); });
            Pull(); // a cut or refused input shows what the model kept
        });
    }

private:
    QLineEdit* Edit() const { return static_cast<QLineEdit*>(Widget()); }
    void PullOwn() override {
        const QString text = ToQt(edit_.Text());
        if (Edit()->text() != text) Edit()->setText(text);
        Edit()->setMaxLength(edit_.MaxLength() > 0 ? edit_.MaxLength() : 32767);
        Edit()->setEchoMode(edit_.PasswordChar() ? QLineEdit::Password : QLineEdit::Normal);
        if (edit_.PasswordChar() && edit_.PasswordChar() != shownMask_) {
            // The style's own mask (a dot) is not the character the form
            // asks for; only a style sheet sets it for one edit alone.
            shownMask_ = edit_.PasswordChar();
            const QChar mask = ToQt(std::string(1, shownMask_)).front();
            Edit()->setStyleSheet(
                QStringLiteral("lineedit-password-character: %1").arg(mask.unicode()));
        }
        Edit()->setReadOnly(edit_.ReadOnly());
    }
    TEdit& edit_;
    char shownMask_ = '\0';
};

class MemoView final : public ControlView {
public:
    MemoView(TMemo& memo, QWidget* parent, ControlHost& host)
        : ControlView(memo, new QPlainTextEdit(parent), host), memo_(memo) {
        QObject::connect(Memo(), &QPlainTextEdit::textChanged, Memo(), [this] {
            if (Pulling()) return;
            QString text = Memo()->toPlainText();
            text.replace(u'\n', QStringLiteral("\r\n"));
            User([this, text] { memo_.SetText(FromQt(text)); });
        });
    }

private:
    QPlainTextEdit* Memo() const { return static_cast<QPlainTextEdit*>(Widget()); }
    void PullOwn() override {
        const QString text = MemoText(memo_);
        if (Memo()->toPlainText() != text) Memo()->setPlainText(text);
        Memo()->setReadOnly(memo_.ReadOnly());
    }
    TMemo& memo_;
};

// ------------------------------------------------------------------- lists

// Every list box, the traffic log among them: a model/view list whose model
// follows the control's items line by line.
class ListBoxView final : public ControlView {
public:
    ListBoxView(TItemsControl& list, QWidget* parent, ControlHost& host)
        : ControlView(list, new QListView(parent), host), list_(list),
          model_(new ItemListModel(Widget())) {
        View()->setModel(model_);
        View()->setUniformItemSizes(true);
        View()->setSelectionMode(QAbstractItemView::SingleSelection);
        View()->setEditTriggers(QAbstractItemView::NoEditTriggers);
        View()->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        View()->setTextElideMode(Qt::ElideNone);
        model_->Reset(list_);
        list_.OnItemsChanged =
            Guard(token_, [this](TItemsControl& c, TStringList::Change change, int index) {
                model_->Record(c, change, index);
            });
        QObject::connect(View()->selectionModel(), &QItemSelectionModel::currentRowChanged, View(),
                         [this](const QModelIndex& current) {
                             if (Pulling()) return;
                             const int row = ControlRow(current);
                             User([this, row] { list_.SetItemIndex(row); });
                         });
        QObject::connect(View(), &QListView::doubleClicked, View(), [this](const QModelIndex& at) {
            User([this, row = ControlRow(at)] {
                list_.SetItemIndex(row);
                list_.DblClick();
            });
        });
    }

private:
    QListView* View() const { return static_cast<QListView*>(Widget()); }
    // The control's line for a row the user picked.  The view may be a few
    // lines behind the control (it catches up on a timer): the same text
    // near that row is the line the user saw.
    int ControlRow(const QModelIndex& at) const {
        if (!at.isValid()) return -1;
        const int row = at.row();
        if (!model_->HasRecorded()) return row;
        const std::string text = FromQt(at.data().toString());
        for (int delta = 0; delta < list_.Count(); ++delta)
            for (int candidate : {row - delta, row + delta})
                if (candidate >= 0 && candidate < list_.Count() && list_.Items()[candidate] == text)
                    return candidate;
        return std::min(row, list_.Count() - 1);
    }
    void PullOwn() override {
        model_->ApplyRecorded(list_);
        if (auto* box = dynamic_cast<TListBox*>(&list_)) {
            if (box->ItemHeight() != rowHeight_) {
                rowHeight_ = box->ItemHeight();
                model_->SetRowHeight(rowHeight_);
                View()->reset();
            }
        }
        if (model_->rowCount() != list_.Count()) model_->Reset(list_);
        const int index = list_.ItemIndex();
        // Lines came or went since the last look: a followed end or a kept
        // older line has moved, and must be scrolled to again.
        const bool moved = list_.Count() != lastCount_ || index != lastIndex_;
        lastCount_ = list_.Count();
        lastIndex_ = index;
        const QModelIndex current = View()->currentIndex();
        const bool selected = View()->selectionModel()->hasSelection();
        if (index < 0) {
            if (selected || current.isValid()) {
                View()->selectionModel()->clearSelection();
                View()->selectionModel()->setCurrentIndex(QModelIndex(),
                                                          QItemSelectionModel::NoUpdate);
            }
        } else if (!selected || current.row() != index || moved) {
            const QModelIndex at = model_->index(index);
            if (!selected || current.row() != index)
                View()->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
            // The selected line is kept in sight: that is how the log
            // follows its end, and how an older selected line stays put.
            View()->scrollTo(at);
        }
    }
    Token token_ = std::make_shared<char>();
    TItemsControl& list_;
    ItemListModel* model_;
    int rowHeight_ = 0;
    int lastCount_ = -1, lastIndex_ = -2;
};

class ComboBoxView final : public ControlView {
public:
    ComboBoxView(TComboBox& combo, QWidget* parent, ControlHost& host)
        : ControlView(combo, new QComboBox(parent), host), combo_(combo) {
        combo_.OnItemsChanged =
            Guard(token_, [this](TItemsControl&, TStringList::Change, int) { itemsDirty_ = true; });
        QObject::connect(Combo(), &QComboBox::activated, Combo(), [this](int index) {
            User([this, index] {
                combo_.SetItemIndex(index);
                if (combo_.OnChange) combo_.OnChange(&combo_);
            });
            Pull();
        });
        QObject::connect(Combo(), &QComboBox::editTextChanged, Combo(), [this](const QString& t) {
            if (Pulling() || !Combo()->isEditable()) return;
            User([this, t] {
                combo_.SetText(FromQt(t));
                if (combo_.OnChange) combo_.OnChange(&combo_);
            });
        });
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(Widget()); }
    void PullOwn() override {
        Combo()->setEditable(combo_.Style() == TComboBox::csDropDown);
        if (itemsDirty_ || Combo()->count() != combo_.Count()) {
            itemsDirty_ = false;
            Combo()->clear();
            for (const std::string& item : combo_.Items()) Combo()->addItem(ToQt(item));
        }
        if (Combo()->currentIndex() != combo_.ItemIndex())
            Combo()->setCurrentIndex(combo_.ItemIndex());
        if (Combo()->isEditable()) {
            const QString text = ToQt(combo_.Text());
            if (Combo()->currentText() != text) Combo()->setEditText(text);
        }
    }
    Token token_ = std::make_shared<char>();
    TComboBox& combo_;
    bool itemsDirty_ = true;
};

class RadioGroupView final : public ControlView {
public:
    RadioGroupView(TRadioGroup& group, QWidget* parent, ControlHost& host)
        : ControlView(group, new QGroupBox(parent), host), group_(group),
          buttons_(new QButtonGroup(Widget())), grid_(new QGridLayout(Widget())) {
        group_.OnItemsChanged =
            Guard(token_, [this](TItemsControl&, TStringList::Change, int) { itemsDirty_ = true; });
        QObject::connect(buttons_, &QButtonGroup::idClicked, Widget(), [this](int id) {
            User([this, id] { group_.SetItemIndex(id); });
            Pull();
        });
    }

private:
    void PullOwn() override {
        auto* box = static_cast<QGroupBox*>(Widget());
        box->setTitle(ToQt(group_.Caption()));
        if (itemsDirty_ || static_cast<int>(buttons_->buttons().size()) != group_.Count()) {
            itemsDirty_ = false;
            for (QAbstractButton* b : buttons_->buttons()) {
                buttons_->removeButton(b);
                delete b;
            }
            const int columns = std::max(1, group_.Columns());
            const int rows = (group_.Count() + columns - 1) / columns;
            for (int i = 0; i < group_.Count(); ++i) {
                auto* b = new QRadioButton(ToQt(group_.Items()[i]), box);
                buttons_->addButton(b, i);
                grid_->addWidget(b, rows ? i % rows : 0, rows ? i / rows : 0);
            }
        }
        if (QAbstractButton* b = buttons_->button(group_.ItemIndex())) {
            if (!b->isChecked()) b->setChecked(true);
        } else if (QAbstractButton* checked = buttons_->checkedButton()) {
            buttons_->setExclusive(false);
            checked->setChecked(false);
            buttons_->setExclusive(true);
        }
    }
    Token token_ = std::make_shared<char>();
    TRadioGroup& group_;
    QButtonGroup* buttons_;
    QGridLayout* grid_;
    bool itemsDirty_ = true;
};

// -------------------------------------------------------------- containers

class GroupBoxView final : public ControlView {
public:
    GroupBoxView(TGroupBox& group, QWidget* parent, ControlHost& host)
        : ControlView(group, new QGroupBox(parent), host), group_(group) {}

private:
    void PullOwn() override { static_cast<QGroupBox*>(Widget())->setTitle(ToQt(group_.Caption())); }
    TGroupBox& group_;
};

class PanelView final : public ControlView {
public:
    PanelView(TPanel& panel, QWidget* parent, ControlHost& host)
        : ControlView(panel, new QFrame(parent), host), panel_(panel),
          caption_(new QLabel(Widget())) {
        auto* frame = static_cast<QFrame*>(Widget());
        frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
        caption_->setAlignment(Qt::AlignCenter);
        caption_->lower();
    }

private:
    void PullOwn() override {
        caption_->setText(WithoutMnemonic(ToQt(panel_.Caption())));
        caption_->setGeometry(Widget()->rect());
    }
    TPanel& panel_;
    QLabel* caption_;
};

// The page control shows its pages as tabs; each page's children sit on its
// tab.
class PageControlView final : public ControlView {
public:
    PageControlView(TPageControl& pages, QWidget* parent, ControlHost& host)
        : ControlView(pages, new QTabWidget(parent), host), pages_(pages) {
        QObject::connect(Tabs(), &QTabWidget::currentChanged, Tabs(), [this](int index) {
            if (Pulling()) return;
            User([this, index] {
                if (pages_.ActivePageIndex() == index) return;
                pages_.SetActivePageIndex(index);
                if (pages_.OnChange) pages_.OnChange(&pages_);
            });
        });
    }

private:
    QTabWidget* Tabs() const { return static_cast<QTabWidget*>(Widget()); }
    void PullOwn() override {
        const int index = pages_.ActivePageIndex();
        if (index >= 0 && index < Tabs()->count() && Tabs()->currentIndex() != index &&
            Tabs()->isTabVisible(index))
            Tabs()->setCurrentIndex(index);
    }
    TPageControl& pages_;
};

class TabSheetView final : public ControlView {
public:
    TabSheetView(TTabSheet& sheet, QWidget* parent, ControlHost& host)
        : ControlView(sheet, new QWidget(), host), sheet_(sheet),
          tabs_(qobject_cast<QTabWidget*>(parent)) {
        if (tabs_) {
            // The tab widget makes the first tab it gets current and tells
            // so: that is not the user choosing a page, and must not move
            // the page control off the page the form chose.
            const QSignalBlocker quiet(tabs_.data());
            tabs_->insertTab(std::max(0, sheet_.PageIndex()), Widget(), ToQt(sheet_.Caption()));
            FollowActivePage();
        } else {
            Widget()->setParent(parent);
        }
    }
    ~TabSheetView() override {
        // Quietly: the page control's view must not tell a page control that
        // may itself be going away about the tab that leaves.
        if (tabs_ && Widget()) {
            const QSignalBlocker quiet(tabs_.data());
            tabs_->removeTab(tabs_->indexOf(Widget()));
        }
    }
    bool DockedAtBottom() const override { return false; }

private:
    void PullOwn() override {
        if (!tabs_) return;
        const int at = tabs_->indexOf(Widget());
        if (at < 0) return;
        // Hiding the current tab makes another one current: the form's
        // doing, not the user's.
        const QSignalBlocker quiet(tabs_.data());
        tabs_->setTabText(at, ToQt(sheet_.Caption()));
        tabs_->setTabVisible(at, sheet_.TabVisible());
        FollowActivePage();
    }
    // Shows the page control's active page once its tab is there.
    void FollowActivePage() {
        const TPageControl* pages = sheet_.PageControl();
        const int index = pages ? pages->ActivePageIndex() : -1;
        if (index >= 0 && index < tabs_->count() && tabs_->isTabVisible(index))
            tabs_->setCurrentIndex(index);
    }
    TTabSheet& sheet_;
    QPointer<QTabWidget> tabs_;
};

class StatusBarView final : public ControlView {
public:
    StatusBarView(TStatusBar& bar, QWidget* parent, ControlHost& host)
        : ControlView(bar, new QStatusBar(parent), host), bar_(bar), text_(new QLabel()) {
        auto* status = static_cast<QStatusBar*>(Widget());
        status->setSizeGripEnabled(false);
        text_->setTextFormat(Qt::PlainText);
        status->addWidget(text_, 1);
    }
    bool DockedAtBottom() const override { return true; }
    QStatusBar* Bar() const { return static_cast<QStatusBar*>(Widget()); }

private:
    void PullOwn() override {
        const QString text = ToQt(bar_.SimplePanel() ? bar_.SimpleText() : bar_.Caption());
        if (text_->text() != text) text_->setText(text);
    }
    TStatusBar& bar_;
    QLabel* text_;
};

class ContainerView final : public ControlView {
public:
    ContainerView(TControl& control, QWidget* parent, ControlHost& host)
        : ControlView(control, new QWidget(parent), host) {}
};

} // namespace

// ------------------------------------------------------------ ControlView

ControlView::ControlView(TControl& control, QWidget* widget, ControlHost& host)
    : control_(&control), boundParent_(control.Parent()), widget_(widget), host_(host) {
    widget_->setObjectName(QString::fromStdString(control.Name()));
    widget_->installEventFilter(new DblClickFilter(
        widget_, Guard(token_, [this] { User([this] { control_->DblClick(); }); })));
    control.OnDestroying =
        Guard(token_, [this](TControl& dying) { host_.ControlDestroying(&dying); });
}

ControlView::~ControlView() {
    // A control may be freed by a handler of its own widget (a button that
    // removes itself): the widget goes quiet now and is deleted once Qt has
    // left its signal.
    if (!widget_) return;
    for (QObject* child : widget_->findChildren<QObject*>()) child->blockSignals(true);
    widget_->blockSignals(true);
    widget_->hide();
    widget_->deleteLater();
}

QWidget* ControlView::ChildHost(TControl&) { return widget_; }

void ControlView::Pull() {
    ScopedFlag pulling(pulling_);
    PullCommon();
    PullOwn();
}

void ControlView::PullCommon() {
    TControl& c = *control_;
    if (!DockedAtBottom() && !dynamic_cast<TTabSheet*>(&c)) {
        const QSize hint =
            c.Width() > 0 && c.Height() > 0 ? QSize(c.Width(), c.Height()) : widget_->sizeHint();
        const QRect bounds(c.Left(), c.Top(), c.Width() > 0 ? c.Width() : hint.width(),
                           c.Height() > 0 ? c.Height() : hint.height());
        if (widget_->geometry() != bounds) widget_->setGeometry(bounds);
        if (widget_->isHidden() == c.Visible()) widget_->setVisible(c.Visible());
    } else if (DockedAtBottom() && widget_->isHidden() == c.Visible()) {
        widget_->setVisible(c.Visible());
    }
    if (widget_->isEnabled() != c.Enabled()) widget_->setEnabled(c.Enabled());
    if (!font_ || !(*font_ == c.Font())) {
        font_ = c.Font();
        widget_->setFont(ToQFont(c.Font(), QApplication::font()));
        QPalette palette = widget_->palette();
        const QColor text = ToQColor(c.Font().Color);
        // The disabled group keeps the style's grey: a disabled control must
        // look disabled whatever colour its font has.
        for (auto group : {QPalette::Active, QPalette::Inactive})
            for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                palette.setColor(group, role, text);
        widget_->setPalette(palette);
    }
    if (!color_ || *color_ != c.Color()) {
        color_ = c.Color();
        if (c.Color() != clBtnFace) {
            QPalette palette = widget_->palette();
            palette.setColor(QPalette::Window, ToQColor(c.Color()));
            palette.setColor(QPalette::Base, ToQColor(c.Color()));
            widget_->setPalette(palette);
            widget_->setAutoFillBackground(true);
        }
    }
    const QString tip = ShortHint(c.Hint());
    if (widget_->toolTip() != tip) widget_->setToolTip(tip);
    const QString status = LongHint(c.Hint());
    if (widget_->statusTip() != status) widget_->setStatusTip(status);
}

std::unique_ptr<ControlView> MakeControlView(TControl& control, QWidget* parent,
                                             ControlHost& host) {
    // Most specific first: a subclass shows as its nearest known base.
    if (auto* c = dynamic_cast<TTabSheet*>(&control))
        return std::make_unique<TabSheetView>(*c, parent, host);
    if (auto* c = dynamic_cast<TPageControl*>(&control))
        return std::make_unique<PageControlView>(*c, parent, host);
    if (auto* c = dynamic_cast<TRadioGroup*>(&control))
        return std::make_unique<RadioGroupView>(*c, parent, host);
    if (auto* c = dynamic_cast<TComboBox*>(&control))
        return std::make_unique<ComboBoxView>(*c, parent, host);
    if (auto* c = dynamic_cast<TItemsControl*>(&control))
        return std::make_unique<ListBoxView>(*c, parent, host);
    if (auto* c = dynamic_cast<TMemo*>(&control))
        return std::make_unique<MemoView>(*c, parent, host);
    if (auto* c = dynamic_cast<TEdit*>(&control))
        return std::make_unique<EditView>(*c, parent, host);
    if (auto* c = dynamic_cast<TCheckBox*>(&control))
        return std::make_unique<CheckBoxView>(*c, parent, host);
    if (auto* c = dynamic_cast<TButton*>(&control))
        return std::make_unique<ButtonView>(*c, parent, host);
    if (auto* c = dynamic_cast<TLabel*>(&control))
        return std::make_unique<LabelView>(*c, parent, host);
    if (auto* c = dynamic_cast<TGroupBox*>(&control))
        return std::make_unique<GroupBoxView>(*c, parent, host);
    if (auto* c = dynamic_cast<TPanel*>(&control))
        return std::make_unique<PanelView>(*c, parent, host);
    if (auto* c = dynamic_cast<TStatusBar*>(&control))
        return std::make_unique<StatusBarView>(*c, parent, host);
    if (auto* c = dynamic_cast<TImage*>(&control))
        return std::make_unique<ImageView>(*c, parent, host);
    return std::make_unique<ContainerView>(control, parent, host);
}

} // namespace vantor::desktop
