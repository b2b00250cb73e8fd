#include "desktop/MenuView.h"

#include <QAction>
#include <QFont>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>

#include "desktop/QtText.h"

namespace vantor::desktop {

MenuView::MenuView(TMenuItem& root, QMenuBar* bar, QWidget* window, UserAction user)
    : root_(&root), bar_(bar), window_(window), user_(std::move(user)) {
    Bind();
    Build();
}

MenuView::MenuView(TMenuItem& root, QMenu* menu, UserAction user)
    : root_(&root), menu_(menu), user_(std::move(user)) {
    Bind();
    Build();
}

MenuView::~MenuView() { Clear(); }

void MenuView::Bind() {
    // Both hooks hold the token: a menu that outlives this view calls nothing.
    std::weak_ptr<char> weak = token_;
    root_->OnModelChanged = [this, weak](TMenuItem& item) {
        if (weak.lock()) Changed(item);
    };
    root_->OnDestroying = [this, weak](TMenuItem&) {
        if (!weak.lock()) return;
        // The items go now: nothing shown may point at them any more.
        Clear();
        root_ = nullptr;
    };
}

void MenuView::Clear() {
    for (auto& [item, entry] : entries_) {
        if (!entry.action) continue;
        if (window_) window_->removeAction(entry.action);
        entry.action->disconnect();
    }
    entries_.clear();
    if (bar_) bar_->clear();
    if (menu_) menu_->clear();
    for (auto& sub : submenus_)
        if (sub) sub->deleteLater();
    submenus_.clear();
}

void MenuView::Build() {
    Clear();
    if (!root_) return;
    if (bar_) {
        for (int i = 0; i < root_->Count(); ++i) {
            TMenuItem& item = *root_->Items(i);
            if (item.Count() > 0 || !item.OnClick) {
                auto* sub = new QMenu(bar_);
                submenus_.emplace_back(sub);
                QAction* action = sub->menuAction();
                bar_->addAction(action);
                entries_[&item] = {action, item.Count()};
                Pull(item, *action);
                Fill(sub, item);
            } else {
                QAction* action = AddItem(nullptr, item);
                bar_->addAction(action);
            }
        }
    } else if (menu_) {
        Fill(menu_, *root_);
    }
    entries_[root_].childCount = root_->Count();
}

void MenuView::Fill(QMenu* menu, TMenuItem& parent) {
    for (int i = 0; i < parent.Count(); ++i) {
        TMenuItem& item = *parent.Items(i);
        if (item.IsLine()) {
            QAction* separator = menu->addSeparator();
            entries_[&item] = {separator, 0};
            separator->setVisible(item.Visible());
            continue;
        }
        if (item.Count() > 0) {
            QMenu* sub = menu->addMenu(QString());
            submenus_.emplace_back(sub);
            entries_[&item] = {sub->menuAction(), item.Count()};
            Pull(item, *sub->menuAction());
            Fill(sub, item);
        } else {
            AddItem(menu, item);
        }
    }
}

QAction* MenuView::AddItem(QMenu* menu, TMenuItem& item) {
    auto* action = new QAction(menu ? static_cast<QObject*>(menu) : static_cast<QObject*>(bar_));
    if (menu) menu->addAction(action);
    entries_[&item] = {action, 0};
    Pull(item, *action);
    TMenuItem* target = &item;
    std::weak_ptr<char> weak = token_;
    QObject::connect(action, &QAction::triggered, action, [this, weak, target] {
        if (!weak.lock() || !root_) return;
        user_([target] { target->Click(); });
        if (auto it = entries_.find(target); it != entries_.end() && it->second.action)
            Pull(*target, *it->second.action); // the model decides the check mark
    });
    // Shortcuts work while the window is active, not only while the menu is open.
    if (window_ && !item.ShortCut().empty()) window_->addAction(action);
    return action;
}

void MenuView::Pull(TMenuItem& item, QAction& action) {
    action.setText(ToQt(item.Caption()));
    action.setCheckable(item.Checked());
    action.setChecked(item.Checked());
    action.setVisible(item.Visible());
    action.setEnabled(item.Enabled());
    action.setShortcut(QKeySequence(QString::fromStdString(item.ShortCut())));
    action.setStatusTip(LongHint(item.Hint()));
    action.setToolTip(ShortHint(item.Hint()));
    QFont font = action.font();
    font.setBold(item.Default());
    action.setFont(font);
    if (menu_ && item.Default() && item.Parent() == root_) menu_->setDefaultAction(&action);
}

void MenuView::Changed(TMenuItem& item) {
    auto it = entries_.find(&item);
    // A new, removed or moved item: show the whole menu again (menus are
    // small and change their shape rarely, only captions and marks often).
    // Later, not now: the change may come from inside an action's own
    // signal, and that action must not be deleted under it.
    if (it == entries_.end() || it->second.childCount != item.Count()) {
        if (rebuildPending_) return;
        rebuildPending_ = true;
        QObject* context = bar_ ? static_cast<QObject*>(bar_.data()) : menu_.data();
        if (!context) return;
        std::weak_ptr<char> weak = token_;
        QTimer::singleShot(0, context, [this, weak] {
            if (!weak.lock()) return;
            rebuildPending_ = false;
            Build();
        });
        return;
    }
    if (&item != root_ && it->second.action) Pull(item, *it->second.action);
}

QAction* MenuView::ActionOf(const TMenuItem& item) const {
    auto it = entries_.find(&item);
    return it == entries_.end() ? nullptr : it->second.action.data();
}

} // namespace vantor::desktop
