#include "toolkit/Menus.h"

#include <algorithm>
#include <stdexcept>

#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"

namespace vantor {

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner) {}

TMenuItem::~TMenuItem() {
    if (OnDestroying) {
        auto handler = std::move(OnDestroying);
        handler(*this);
    }
    // Sub-items made elsewhere outlive this item; they are only detached.
    for (TMenuItem* item : items_) item->parent_ = nullptr;
    items_.clear();
    while (!ownedItems_.empty()) {
        std::unique_ptr<TMenuItem> last = std::move(ownedItems_.back());
        ownedItems_.pop_back();
        last.reset();
    }
    if (parent_) {
        auto& siblings = parent_->items_;
        // No notification from here: whoever watches the menu may be gone
        // already when the menu is torn down.
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        parent_ = nullptr;
    }
}

void TMenuItem::Changed() {
    for (TMenuItem* m = this; m; m = m->parent_) {
        if (m->OnModelChanged) {
            auto handler = m->OnModelChanged;
            handler(*this);
            return;
        }
    }
}

void TMenuItem::SetCaption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    Changed();
}

void TMenuItem::SetChecked(bool checked) {
    if (checked == checked_) return;
    checked_ = checked;
    Changed();
}

void TMenuItem::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    Changed();
}

void TMenuItem::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Changed();
}

void TMenuItem::SetDefault(bool value) {
    if (value == default_) return;
    default_ = value;
    Changed();
}

void TMenuItem::SetShortCut(std::string text) {
    if (text == shortCut_) return;
    shortCut_ = std::move(text);
    Changed();
}

void TMenuItem::Add(TMenuItem& item) {
    for (TMenuItem* p = this; p; p = p->parent_)
        if (p == &item) throw std::logic_error("TMenuItem::Add: a menu item cannot contain itself");
    if (item.parent_ == this) return;
    if (item.parent_) item.parent_->Remove(item);
    items_.push_back(&item);
    item.parent_ = this;
    Changed();
}

TMenuItem& TMenuItem::Add(std::string caption, int tag, TNotifyEvent onClick) {
    auto item = std::make_unique<TMenuItem>(this);
    item->caption_ = std::move(caption);
    item->SetTag(tag);
    item->OnClick = std::move(onClick);
    TMenuItem& ref = *item;
    ownedItems_.push_back(std::move(item));
    Add(ref);
    return ref;
}

void TMenuItem::Remove(TMenuItem& item) {
    auto it = std::find(items_.begin(), items_.end(), &item);
    if (it == items_.end()) return;
    items_.erase(it);
    item.parent_ = nullptr;
    Changed();
}

TMenuItem* TMenuItem::Items(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[static_cast<std::size_t>(index)];
}

int TMenuItem::IndexOf(const TMenuItem& item) const {
    auto it = std::find(items_.begin(), items_.end(), &item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TMenuItem::Click() {
    if (!enabled_ || !OnClick) return;
    auto handler = OnClick;
    handler(this);
}

TMainMenu::TMainMenu(TComponent* owner) : TComponent(owner), items_(this) {}

TPopupMenu::TPopupMenu(TComponent* owner, Desktop& desktop)
    : TComponent(owner), desktop_(desktop), items_(this) {}

void TPopupMenu::Popup(int x, int y) {
    if (OnPopup) {
        auto handler = OnPopup;
        handler(this);
    }
    desktop_.PopupMenu(*this, x, y);
}

TMainMenu* MainMenuOf(const TForm& form) {
    for (std::size_t i = 0; i < form.ComponentCount(); ++i)
        if (auto* menu = dynamic_cast<TMainMenu*>(form.Components(i))) return menu;
    return nullptr;
}

} // namespace vantor
