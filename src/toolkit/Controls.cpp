#include "toolkit/Controls.h"

#include <algorithm>

#include "toolkit/Forms.h"

namespace vantor {

// ---------------------------------------------------------------- TControl

TControl::TControl(TComponent* owner, TControl* parent) : TComponent(owner) {
    if (parent) SetParent(parent);
}

TControl::~TControl() {
    // Out of its parent first: whoever is told of the end below and asks the
    // parent about its children (a page control about its pages) no longer
    // finds this half-destroyed control there.
    if (parent_) {
        auto& siblings = parent_->children_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        parent_ = nullptr;
    }
    if (OnDestroying) {
        auto handler = std::move(OnDestroying);
        handler(*this);
    }
    for (TControl* child : children_) child->parent_ = nullptr;
    children_.clear();
}

void TControl::Changed() {
    for (TControl* c = this; c; c = c->parent_) {
        if (c->OnModelChanged) {
            auto handler = c->OnModelChanged;
            handler(*this);
            return;
        }
    }
}

void TControl::SetCaption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    Changed();
}

void TControl::SetVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    Changed();
}

void TControl::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Changed();
}

void TControl::SetLeft(int left) {
    if (left == left_) return;
    left_ = left;
    Changed();
}

void TControl::SetTop(int top) {
    if (top == top_) return;
    top_ = top;
    Changed();
}

void TControl::SetWidth(int width) {
    if (width == width_) return;
    width_ = width;
    Changed();
}

void TControl::SetHeight(int height) {
    if (height == height_) return;
    height_ = height;
    Changed();
}

void TControl::SetBounds(int left, int top, int width, int height) {
    SetLeft(left);
    SetTop(top);
    SetWidth(width);
    SetHeight(height);
}

void TControl::SetHint(std::string hint) {
    if (hint == hint_) return;
    hint_ = std::move(hint);
    Changed();
}

void TControl::SetFont(TFont font) {
    if (font == font_) return;
    font_ = std::move(font);
    Changed();
}

void TControl::SetColor(TColor color) {
    if (color == color_) return;
    color_ = color;
    Changed();
}

void TControl::SetParent(TControl* parent) {
    if (parent == parent_) return;
    // A control cannot sit inside itself or one of its children.
    for (TControl* p = parent; p; p = p->parent_)
        if (p == this) return;
    if (parent_) {
        auto& siblings = parent_->children_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        parent_->Changed();
    }
    parent_ = parent;
    if (parent_) parent_->children_.push_back(this);
    Changed();
}

TForm* TControl::ParentForm() const {
    for (TControl* p = parent_; p; p = p->parent_)
        if (auto* form = dynamic_cast<TForm*>(p)) return form;
    for (TComponent* o = Owner(); o; o = o->Owner())
        if (auto* form = dynamic_cast<TForm*>(o)) return form;
    return nullptr;
}

void TControl::Click() {
    if (!enabled_) return;
    if (OnClick) {
        auto handler = OnClick;
        handler(this);
    }
}

void TControl::DblClick() {
    if (!enabled_) return;
    if (OnDblClick) {
        auto handler = OnDblClick;
        handler(this);
    }
}

// ----------------------------------------------------------------- buttons

void TButton::Click() {
    if (!Enabled()) return;
    if (modalResult_ != mrNone)
        if (TForm* form = ParentForm()) form->SetModalResult(modalResult_);
    TControl::Click();
}

void TCheckBox::SetChecked(bool checked) {
    if (checked == checked_) return;
    checked_ = checked;
    Changed();
    if (OnClick) {
        auto handler = OnClick;
        handler(this);
    }
}

void TCheckBox::Click() {
    if (!Enabled()) return;
    SetChecked(!checked_);
}

// ------------------------------------------------------------- text entry

void TEdit::SetText(std::string text) {
    if (text == Caption()) return;
    SetCaption(std::move(text));
    if (OnChange) {
        auto handler = OnChange;
        handler(this);
    }
}

bool TEdit::UserInput(std::string text) {
    if (readOnly_ || !Enabled()) return false;
    if (maxLength_ > 0 && text.size() > static_cast<std::size_t>(maxLength_))
        text.resize(static_cast<std::size_t>(maxLength_));
    SetText(std::move(text));
    return true;
}

TMemo::TMemo(TComponent* owner, TControl* parent) : TControl(owner, parent) {
    lines_.SetChangeHandler([this](TStringList::Change, int) { Changed(); });
}

std::string TMemo::Text() const {
    std::string out;
    for (int i = 0; i < lines_.Count(); ++i) {
        if (i) out += "\r\n";
        out += lines_[i];
    }
    return out;
}

void TMemo::SetText(std::string_view text) { lines_.SetText(text); }

// ------------------------------------------------------------------ lists

TItemsControl::TItemsControl(TComponent* owner, TControl* parent) : TControl(owner, parent) {
    items_.SetChangeHandler(
        [this](TStringList::Change change, int index) { ItemsChanged(change, index); });
}

void TItemsControl::SetItemIndex(int index) {
    if (index < 0 || index >= items_.Count()) index = -1;
    if (index == itemIndex_) return;
    itemIndex_ = index;
    Changed();
}

void TItemsControl::ItemsChanged(TStringList::Change change, int index) {
    if (OnItemsChanged) {
        auto handler = OnItemsChanged;
        handler(*this, change, index);
    }
    switch (change) {
    case TStringList::Change::Inserted:
        if (itemIndex_ >= 0 && index <= itemIndex_) ++itemIndex_;
        break;
    case TStringList::Change::Deleted:
        if (index == itemIndex_)
            itemIndex_ = -1;
        else if (index < itemIndex_)
            --itemIndex_;
        break;
    case TStringList::Change::Cleared: itemIndex_ = -1; break;
    case TStringList::Change::Replaced: break;
    }
    Changed();
}

void TComboBox::SetItemIndex(int index) {
    TItemsControl::SetItemIndex(index);
    SetCaption(itemIndex_ >= 0 ? Items()[itemIndex_] : std::string());
}

void TComboBox::SetText(std::string text) {
    const int index = Items().IndexOf(text);
    if (index < 0 && style_ == csDropDownList) {
        // A drop-down list can only show one of its items.
        TItemsControl::SetItemIndex(-1);
        SetCaption(std::string());
        return;
    }
    TItemsControl::SetItemIndex(index);
    SetCaption(std::move(text));
}

void TComboBox::ItemsChanged(TStringList::Change change, int index) {
    TItemsControl::ItemsChanged(change, index);
    if (change == TStringList::Change::Cleared)
        SetCaption(std::string());
    else if (change == TStringList::Change::Replaced && index == itemIndex_)
        SetCaption(Items()[index]);
}

void TRadioGroup::SetItemIndex(int index) {
    const int before = ItemIndex();
    TItemsControl::SetItemIndex(index);
    // Choosing another button is a click on the group, as in the framework.
    if (ItemIndex() != before && OnClick) {
        auto handler = OnClick;
        handler(this);
    }
}

void TStatusBar::SetSimpleText(std::string text) {
    if (text == simpleText_) return;
    simpleText_ = std::move(text);
    Changed();
}

// ------------------------------------------------------------------ pages

TPageControl* TTabSheet::PageControl() const { return dynamic_cast<TPageControl*>(Parent()); }

int TTabSheet::PageIndex() const {
    const TPageControl* pc = PageControl();
    if (!pc) return -1;
    for (int i = 0; i < pc->PageCount(); ++i)
        if (pc->Pages(i) == this) return i;
    return -1;
}

int TPageControl::PageCount() const {
    int n = 0;
    for (TControl* c : Controls())
        if (dynamic_cast<TTabSheet*>(c)) ++n;
    return n;
}

TTabSheet* TPageControl::Pages(int index) const {
    if (index < 0) return nullptr;
    for (TControl* c : Controls())
        if (auto* page = dynamic_cast<TTabSheet*>(c))
            if (index-- == 0) return page;
    return nullptr;
}

TTabSheet* TPageControl::ActivePage() const {
    // The remembered page may have gone (or moved elsewhere) since.
    for (TControl* c : Controls())
        if (c == active_) return active_;
    return Pages(0);
}

void TPageControl::SetActivePage(TTabSheet* page) {
    if (page && page->Parent() != this) return;
    if (page == active_) return;
    active_ = page;
    Changed();
}

int TPageControl::ActivePageIndex() const {
    const TTabSheet* page = ActivePage();
    return page ? page->PageIndex() : -1;
}

void TPageControl::SetActivePageIndex(int index) { SetActivePage(Pages(index)); }

} // namespace vantor
