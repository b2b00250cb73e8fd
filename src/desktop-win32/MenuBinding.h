#pragma once
// A menu of the model (a window's main menu, a pop-up menu) as a Win32 menu:
// captions with their '&' mnemonics and the shortcut after a tab, check
// marks, enabled state, the default item (bold), separators and sub-menus;
// items the model hides are left out.  The shortcuts (F1, Shift+F1) become
// the window's accelerator table.  Choosing an item runs its Click on the
// model.  Menus are small: a change of the model makes the menu anew (a
// menu bar once its menu has closed), with new command identifiers.
#include "desktop-win32/Win32Ui.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Menus.h"

namespace vantor::win32view {

class MenuBinding final {
public:
    using UserAction = std::function<void(const std::function<void()>&)>;

    // The menu bar of `window`; `changed` is told when the model changed and
    // the menu should be made again (Refresh).
    MenuBinding(TMenuItem& root, HWND window, UserAction user, std::function<void()> changed);
    // A pop-up menu (Menu() for TrackPopupMenu).
    MenuBinding(TMenuItem& root, UserAction user);
    ~MenuBinding();
    MenuBinding(const MenuBinding&) = delete;
    MenuBinding& operator=(const MenuBinding&) = delete;

    HMENU Menu() const { return menu_; }
    // The shortcuts as accelerators (null when there are none).
    HACCEL Accelerators() const { return accelerators_; }
    // Runs the item of a command identifier; false when the identifier is
    // none of this menu's.  The item's handler may end the menu's window.
    bool Command(WORD id);
    TMenuItem* ItemOf(WORD id) const;
    // The command identifier of an item shown now (0 when it is not shown).
    WORD IdOf(const TMenuItem& item) const;
    // Makes the menu again if the model changed since it was made.
    void Refresh();

    // The virtual key and modifiers (FSHIFT, FCONTROL, FALT) of a shortcut
    // text such as "Shift+F1"; false for a text it cannot read.
    static bool ParseShortCut(const std::string& text, WORD& key, BYTE& modifiers);

private:
    void Bind();
    void Build();
    void Fill(HMENU menu, TMenuItem& parent);
    void Clear();

    TMenuItem* root_;
    HWND window_ = nullptr; // a menu bar's window
    UserAction user_;
    std::function<void()> changed_;
    HMENU menu_ = nullptr;
    HACCEL accelerators_ = nullptr;
    std::map<WORD, TMenuItem*> items_;
    std::vector<ACCEL> accels_;
    WORD nextId_ = 0;
    bool dirty_ = false;
    std::shared_ptr<char> token_ = std::make_shared<char>();
};

} // namespace vantor::win32view
