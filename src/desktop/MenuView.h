#pragma once
// A menu of the model (the main menu's items, a pop-up menu) as Qt menus and
// actions, kept in step with the items: captions with their '&' mnemonics,
// check marks, visibility, enabled state, the default item, shortcuts (F1,
// Shift+F1) and hints (the long part goes to the status bar).  Choosing an
// action runs the item's Click on the model.
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "toolkit/Menus.h"

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace vantor::desktop {

class MenuView final {
public:
    using UserAction = std::function<void(const std::function<void()>&)>;

    // Shows the root's sub-items in `bar` (a menu bar's menus) or `menu`.
    // Shortcuts are also added to `window`, so they work while it is active.
    MenuView(TMenuItem& root, QMenuBar* bar, QWidget* window, UserAction user);
    MenuView(TMenuItem& root, QMenu* menu, UserAction user);
    ~MenuView();
    MenuView(const MenuView&) = delete;
    MenuView& operator=(const MenuView&) = delete;

    // The action shown for an item (null when the item is not shown).
    QAction* ActionOf(const TMenuItem& item) const;

private:
    struct Entry {
        QPointer<QAction> action;
        int childCount = 0;
    };
    void Bind();
    void Build();
    void Fill(QMenu* menu, TMenuItem& item);
    QAction* AddItem(QMenu* menu, TMenuItem& item);
    void Pull(TMenuItem& item, QAction& action);
    void Changed(TMenuItem& item);
    void Clear();

    TMenuItem* root_;
    QPointer<QMenuBar> bar_;
    QPointer<QMenu> menu_;
    QPointer<QWidget> window_;
    UserAction user_;
    std::shared_ptr<char> token_ = std::make_shared<char>();
    std::map<const TMenuItem*, Entry> entries_;
    std::vector<QPointer<QMenu>> submenus_;
    bool rebuildPending_ = false;
};

} // namespace vantor::desktop
