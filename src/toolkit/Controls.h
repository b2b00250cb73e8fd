#pragma once
// The controls of the gateway's windows as plain objects: captions, Tags,
// positions, visibility, parent and children, check marks, list selection.
// The window logic (filling, OK/Cancel, translation by Tag) runs on these
// without a screen; a view (Qt) watches OnModelChanged and draws them.
//
// A control is owned as a component (TComponent) and placed in a parent
// control (SetParent); the parent's Controls() lists its children in control
// order, which is the order in which they were placed.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/Component.h"
#include "toolkit/StringList.h"

namespace vantor {

inline constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
                     mrYes = 6, mrNo = 7, mrAll = 8;

class TForm;

// Colours as the window system numbers them: 0x00BBGGRR, plus the system
// colours the dialogs use (resolved by the view).
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000,
                        clNavy = 0x800000, clRed = 0x0000FF, clBlue = 0xFF0000, clWhite = 0xFFFFFF;
inline constexpr TColor clWindowText = 0x80000008, clBtnFace = 0x8000000F, clWindow = 0x80000005;
inline bool IsSystemColor(TColor color) { return (color & 0x80000000u) != 0; }

// The font of a control: an empty name and a height of 0 mean the view's
// default font; the height is in pixels.
struct TFont {
    std::string Name;
    int Height = 0;
    bool Bold = false;
    bool Italic = false;
    TColor Color = clWindowText;
    bool operator==(const TFont&) const = default;
};

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner, TControl* parent = nullptr);
    ~TControl() override;
    std::string ClassName() const override { return "TControl"; }

    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);
    bool Visible() const { return visible_; }
    virtual void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    virtual void SetLeft(int left);
    virtual void SetTop(int top);
    virtual void SetWidth(int width);
    virtual void SetHeight(int height);
    void SetBounds(int left, int top, int width, int height);
    const std::string& Hint() const { return hint_; }
    void SetHint(std::string hint);
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int context) { helpContext_ = context; }
    // Font and background colour (clBtnFace: the surface of the form).
    const TFont& Font() const { return font_; }
    void SetFont(TFont font);
    TColor Color() const { return color_; }
    void SetColor(TColor color);

    TControl* Parent() const { return parent_; }
    // Moves the control to the end of the new parent's children (null: none).
    void SetParent(TControl* parent);
    const std::vector<TControl*>& Controls() const { return children_; }
    int ControlCount() const { return static_cast<int>(children_.size()); }
    // The form this control sits on (through its parents, else its owners).
    TForm* ParentForm() const;

    // What a user's click does (nothing while the control is disabled);
    // buttons also set their form's modal result, check boxes toggle.
    virtual void Click();
    // A user's double click (nothing while disabled); controls with a
    // double-click behaviour of their own run it before OnDblClick.
    virtual void DblClick();
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;

    // Called after any visible property changes.  A control without its own
    // handler reports to the nearest parent that has one, so a view can
    // watch a whole form with one handler.
    std::function<void(TControl&)> OnModelChanged;
    // Called first thing when the control is destroyed (only its address
    // may be used then), so a view drops the widget it shows for it.
    std::function<void(TControl&)> OnDestroying;

protected:
    void Changed();

private:
    std::string caption_, hint_;
    bool visible_ = true, enabled_ = true;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    int helpContext_ = 0;
    TFont font_;
    TColor color_ = clBtnFace;
    TControl* parent_ = nullptr;
    std::vector<TControl*> children_;
};

class TLabel : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TLabel"; }
};

class TButton : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TButton"; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    bool Default() const { return default_; }
    void SetDefault(bool value) {
        default_ = value;
        Changed();
    }
    bool Cancel() const { return cancel_; }
    void SetCancel(bool value) {
        cancel_ = value;
        Changed();
    }
    // Sets the form's ModalResult (when this button has one), then OnClick.
    void Click() override;

private:
    int modalResult_ = mrNone;
    bool default_ = false, cancel_ = false;
};

class TBitBtn : public TButton {
public:
    using TButton::TButton;
    std::string ClassName() const override { return "TBitBtn"; }
};

class TCheckBox : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TCheckBox"; }
    bool Checked() const { return checked_; }
    // As in the framework, a change of Checked also runs OnClick.
    void SetChecked(bool checked);
    // A user's click toggles the box (and so runs OnClick once).
    void Click() override;

private:
    bool checked_ = false;
};

class TEdit : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TEdit"; }
    // The text is the control's caption, as in the framework.
    const std::string& Text() const { return Caption(); }
    void SetText(std::string text);
    // Input limit for the user (0: none); SetText from code is not cut.
    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int length) { maxLength_ = length; }
    char PasswordChar() const { return passwordChar_; } // '\0': shown plain
    void SetPasswordChar(char c) {
        passwordChar_ = c;
        Changed();
    }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) {
        readOnly_ = value;
        Changed();
    }
    // What typing does: ignored when read-only or disabled, cut to MaxLength.
    // Returns false when the input was refused.
    bool UserInput(std::string text);
    TNotifyEvent OnChange;

private:
    int maxLength_ = 0;
    char passwordChar_ = '\0';
    bool readOnly_ = false;
};

class TMemo : public TControl {
public:
    explicit TMemo(TComponent* owner, TControl* parent = nullptr);
    std::string ClassName() const override { return "TMemo"; }
    TStringList& Lines() { return lines_; }
    const TStringList& Lines() const { return lines_; }
    // The lines joined by CR LF (no line end after the last one).
    std::string Text() const;
    void SetText(std::string_view text);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) {
        readOnly_ = value;
        Changed();
    }

private:
    TStringList lines_;
    bool readOnly_ = false;
};

// A control with a list of items and one selected index (-1: none).  The
// selection follows its item when items before it are inserted or deleted,
// and becomes -1 when its own item is deleted or the list cleared.
class TItemsControl : public TControl {
public:
    explicit TItemsControl(TComponent* owner, TControl* parent = nullptr);
    TStringList& Items() { return items_; }
    const TStringList& Items() const { return items_; }
    int ItemIndex() const { return itemIndex_; }
    // An index outside the items selects none.
    virtual void SetItemIndex(int index);
    int Count() const { return items_.Count(); }

    // Told of each change of the items before OnModelChanged (Cleared also
    // after a whole new list), so a view can mirror a long list line by line
    // instead of reading it all again.
    std::function<void(TItemsControl&, TStringList::Change, int index)> OnItemsChanged;

protected:
    virtual void ItemsChanged(TStringList::Change change, int index);
    int itemIndex_ = -1;

private:
    TStringList items_;
};

class TListBox : public TItemsControl {
public:
    using TItemsControl::TItemsControl;
    std::string ClassName() const override { return "TListBox"; }
    int Add(std::string text) { return Items().Add(std::move(text)); }
    void Delete(int index) { Items().Delete(index); }
    void Clear() { Items().Clear(); }
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int h) {
        itemHeight_ = h;
        Changed();
    }
    // The first visible item; a view keeps the selection in sight.
    int TopIndex() const { return topIndex_; }
    void SetTopIndex(int index) {
        topIndex_ = index;
        Changed();
    }

private:
    int itemHeight_ = 13;
    int topIndex_ = 0;
};

class TComboBox : public TItemsControl {
public:
    using TItemsControl::TItemsControl;
    std::string ClassName() const override { return "TComboBox"; }
    enum TComboBoxStyle { csDropDown, csDropDownList };
    TComboBoxStyle Style() const { return style_; }
    void SetStyle(TComboBoxStyle style) {
        style_ = style;
        Changed();
    }
    // Selecting an item shows its text; setting the text selects the item
    // that equals it exactly (none when no item does).
    const std::string& Text() const { return Caption(); }
    void SetText(std::string text);
    void SetItemIndex(int index) override;
    TNotifyEvent OnChange;

protected:
    void ItemsChanged(TStringList::Change change, int index) override;

private:
    TComboBoxStyle style_ = csDropDown;
};

class TRadioGroup : public TItemsControl {
public:
    using TItemsControl::TItemsControl;
    std::string ClassName() const override { return "TRadioGroup"; }
    int Columns() const { return columns_; }
    void SetColumns(int columns) {
        columns_ = columns;
        Changed();
    }
    void SetItemIndex(int index) override;

private:
    int columns_ = 1;
};

class TGroupBox : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TGroupBox"; }
};

class TPanel : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TPanel"; }
};

class TImage : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TImage"; }
    // Name of the picture resource the view shows (also the tray icon).
    const std::string& Picture() const { return picture_; }
    void SetPicture(std::string name) {
        picture_ = std::move(name);
        Changed();
    }

private:
    std::string picture_;
};

class TStatusBar : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TStatusBar"; }
    const std::string& SimpleText() const { return simpleText_; }
    void SetSimpleText(std::string text);
    bool SimplePanel() const { return simplePanel_; }
    void SetSimplePanel(bool value) {
        simplePanel_ = value;
        Changed();
    }

private:
    std::string simpleText_;
    bool simplePanel_ = false;
};

class TPageControl;

// A page of a page control; its parent is the page control.
class TTabSheet : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TTabSheet"; }
    bool TabVisible() const { return tabVisible_; }
    void SetTabVisible(bool visible) {
        tabVisible_ = visible;
        Changed();
    }
    TPageControl* PageControl() const;
    // Position among the page control's pages, -1 when not on one.
    int PageIndex() const;

private:
    bool tabVisible_ = true;
};

// Its pages are its TTabSheet children, in control order.
class TPageControl : public TControl {
public:
    using TControl::TControl;
    std::string ClassName() const override { return "TPageControl"; }
    int PageCount() const;
    TTabSheet* Pages(int index) const; // null outside 0..PageCount()-1
    // The page shown; the first page until one is chosen.
    TTabSheet* ActivePage() const;
    void SetActivePage(TTabSheet* page);
    int ActivePageIndex() const;
    void SetActivePageIndex(int index);
    TNotifyEvent OnChange;

private:
    TTabSheet* active_ = nullptr;
};

} // namespace vantor
