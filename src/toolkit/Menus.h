#pragma once
// Menus as plain objects: a tree of TMenuItem with captions, Tags, check
// marks and click handlers.  TMainMenu and TPopupMenu each hold a root item
// whose sub-items are the menu's entries; a pop-up menu is shown through the
// desktop.  A view watches OnModelChanged of the root (items without their
// own handler report to the nearest parent item that has one).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Component.h"

namespace vantor {

class Desktop;
class TForm;

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* owner);
    ~TMenuItem() override;
    std::string ClassName() const override { return "TMenuItem"; }

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Default() const { return default_; }
    void SetDefault(bool value);
    const std::string& Hint() const { return hint_; }
    void SetHint(std::string hint) { hint_ = std::move(hint); }
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int context) { helpContext_ = context; }
    // The shortcut as text ("F1", "Shift+F1"); empty for none.
    const std::string& ShortCut() const { return shortCut_; }
    void SetShortCut(std::string text);
    // A separator: caption "-".
    bool IsLine() const { return caption_ == "-"; }

    // Appends an item made elsewhere (a member, or another owner's item).
    // An item has one parent; adding it elsewhere moves it.
    void Add(TMenuItem& item);
    // Creates, appends and owns a new sub-item.
    TMenuItem& Add(std::string caption, int tag = 0, TNotifyEvent onClick = {});
    void Remove(TMenuItem& item);
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int index) const; // null outside 0..Count()-1
    int IndexOf(const TMenuItem& item) const;
    TMenuItem* Parent() const { return parent_; }
    int MenuIndex() const { return parent_ ? parent_->IndexOf(*this) : -1; }

    // What choosing the item does: runs OnClick when the item is enabled.
    void Click();
    TNotifyEvent OnClick;

    std::function<void(TMenuItem&)> OnModelChanged;
    // Called first thing when the item is destroyed, so a view that shows
    // the menu lets go of it (menus often die as members of their window,
    // before the window tells its view).
    std::function<void(TMenuItem&)> OnDestroying;

private:
    void Changed();
    std::string caption_, hint_, shortCut_;
    bool checked_ = false, visible_ = true, enabled_ = true, default_ = false;
    int helpContext_ = 0;
    TMenuItem* parent_ = nullptr;
    std::vector<TMenuItem*> items_;
    std::vector<std::unique_ptr<TMenuItem>> ownedItems_;
};

class TMainMenu : public TComponent {
public:
    explicit TMainMenu(TComponent* owner);
    std::string ClassName() const override { return "TMainMenu"; }
    TMenuItem& Items() { return items_; }
    const TMenuItem& Items() const { return items_; }

private:
    TMenuItem items_;
};

// The form's main menu, null when it has none.
TMainMenu* MainMenuOf(const TForm& form);

class TPopupMenu : public TComponent {
public:
    TPopupMenu(TComponent* owner, Desktop& desktop);
    std::string ClassName() const override { return "TPopupMenu"; }
    TMenuItem& Items() { return items_; }
    const TMenuItem& Items() const { return items_; }
    // Runs OnPopup, then asks the desktop to show the menu at (x, y).
    void Popup(int x, int y);
    TNotifyEvent OnPopup;

private:
    Desktop& desktop_;
    TMenuItem items_;
};

} // namespace vantor
