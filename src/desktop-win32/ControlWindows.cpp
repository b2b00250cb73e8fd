#include "desktop-win32/ControlWindows.h"

#include <algorithm>
#include <vector>

#include "toolkit/ScopedFlag.h"

namespace vantor::win32view {

namespace {

constexpr wchar_t ViewProperty[] = L"TarvoVantor.View";
constexpr DWORD Child = WS_CHILD | WS_CLIPSIBLINGS;

// Hooks set on the model from a view must not outlive the view: they hold a
// token and do nothing once the view is gone (the model may outlive its
// view, and the view cannot always tell whether the model still exists).
using Token = std::shared_ptr<char>;
template <class F>
auto Guard(const Token& token, F f) {
    return [weak = std::weak_ptr<char>(token), f = std::move(f)](auto&&... args) {
        if (weak.lock()) f(std::forward<decltype(args)>(args)...);
    };
}

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageW(window, message, wParam, lParam);
}

SIZE TextSize(HWND window, const TFont& font, const std::wstring& text) {
    SIZE size{0, 0};
    HDC dc = ::GetDC(window);
    HGDIOBJ old = ::SelectObject(dc, FontFor(font));
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(window, dc);
    return size;
}

HWND MakePane(HWND parent, ControlHost& host, DWORD style = 0) {
    return ::CreateWindowExW(WS_EX_CONTROLPARENT, PaneClass, L"", Child | WS_CLIPCHILDREN | style,
                             0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(host.NextControlId())),
                             ::GetModuleHandleW(nullptr), nullptr);
}

// ------------------------------------------------------------------ labels

class LabelWindow final : public ControlWindow {
public:
    LabelWindow(TLabel& label, HWND parent, ControlHost& host)
        // No word wrap: a caption longer than the label is cut at its edge,
        // as the framework's label does, and never runs into the next line.
        : ControlWindow(
              label, MakeChild(L"STATIC", Child | SS_LEFTNOWORDWRAP | SS_NOTIFY, 0, parent, host),
              host),
          label_(label) {}
    void Command(HWND, WORD code) override {
        if (code == STN_DBLCLK) User([this] { label_.DblClick(); });
    }

private:
    void PullOwn() override { SetText(Handle(), Wide(label_.Caption())); }
    SIZE NaturalSize() const override {
        const SIZE text = TextSize(Handle(), label_.Font(), Wide(label_.Caption()));
        return {text.cx + 2, text.cy + 2};
    }
    TLabel& label_;
};

class ImageWindow final : public ControlWindow {
public:
    ImageWindow(TImage& image, HWND parent, ControlHost& host)
        : ControlWindow(image, MakePane(parent, host), host), image_(image) {}
    void Paint(HDC dc) override {
        RECT r;
        ::GetClientRect(Handle(), &r);
        const int size = std::max(16, static_cast<int>(std::min(r.right, r.bottom)));
        if (HICON icon = PictureIcon(image_.Picture(), size))
            ::DrawIconEx(dc, (r.right - size) / 2, (r.bottom - size) / 2, icon, size, size, 0,
                         nullptr, DI_NORMAL);
    }

private:
    void PullOwn() override {
        if (shown_ == image_.Picture()) return;
        shown_ = image_.Picture();
        ::InvalidateRect(Handle(), nullptr, TRUE);
    }
    TImage& image_;
    std::string shown_ = "\x01";
};

// ----------------------------------------------------------------- buttons

class ButtonWindow final : public ControlWindow {
public:
    ButtonWindow(TButton& button, HWND parent, ControlHost& host)
        : ControlWindow(button,
                        MakeChild(L"BUTTON", Child | WS_TABSTOP | BS_PUSHBUTTON, 0, parent, host),
                        host),
          button_(button) {}
    void Command(HWND, WORD code) override {
        if (code == BN_CLICKED) User([this] { button_.Click(); });
    }

private:
    void PullOwn() override {
        SetText(Handle(), Wide(button_.Caption()));
        // Only when the model changes it: the dialog manager moves the
        // default look to the focused button and back on its own.
        if (shownDefault_ != button_.Default()) {
            shownDefault_ = button_.Default();
            Send(Handle(), BM_SETSTYLE, shownDefault_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
        }
    }
    SIZE NaturalSize() const override { return {75, 25}; }
    TButton& button_;
    std::optional<bool> shownDefault_;
};

class CheckBoxWindow final : public ControlWindow {
public:
    // Not an automatic box: the model toggles, and the box shows what the
    // model decided (a disabled or refusing model keeps its state).
    CheckBoxWindow(TCheckBox& box, HWND parent, ControlHost& host)
        : ControlWindow(
              box, MakeChild(L"BUTTON", Child | WS_TABSTOP | BS_CHECKBOX, 0, parent, host), host),
          box_(box) {}
    void Command(HWND, WORD code) override {
        if (code != BN_CLICKED) return;
        User([this] { box_.Click(); });
        Pull();
    }

private:
    void PullOwn() override {
        SetText(Handle(), Wide(box_.Caption()));
        const WPARAM state = box_.Checked() ? BST_CHECKED : BST_UNCHECKED;
        if (static_cast<WPARAM>(Send(Handle(), BM_GETCHECK)) != state)
            Send(Handle(), BM_SETCHECK, state);
    }
    SIZE NaturalSize() const override {
        const SIZE text = TextSize(Handle(), box_.Font(), Wide(box_.Caption()));
        return {text.cx + 24, 17};
    }
    TCheckBox& box_;
};

// ------------------------------------------------------------- text entry

class EditWindow final : public ControlWindow {
public:
    EditWindow(TEdit& edit, HWND parent, ControlHost& host)
        : ControlWindow(edit,
                        MakeChild(L"EDIT", Child | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                                  parent, host),
                        host),
          edit_(edit) {}
    void Command(HWND, WORD code) override {
        if (code != EN_CHANGE || Pulling()) return;
        const std::string typed = Narrow(TextOf(Handle()));
        User([this, typed] { edit_.UserInput(typed); });
        Pull(); // a cut or refused input shows what the model kept
    }

private:
    void PullOwn() override {
        SetText(Handle(), Wide(edit_.Text()));
        const int limit = edit_.MaxLength() > 0 ? edit_.MaxLength() : 0;
        if (limit != shownLimit_) {
            shownLimit_ = limit;
            Send(Handle(), EM_LIMITTEXT, static_cast<WPARAM>(limit)); // 0: no limit
        }
        if (edit_.PasswordChar() != shownMask_) {
            shownMask_ = edit_.PasswordChar();
            const std::wstring mask = Wide(std::string(1, shownMask_));
            Send(Handle(), EM_SETPASSWORDCHAR, shownMask_ ? mask[0] : 0);
            ::InvalidateRect(Handle(), nullptr, TRUE);
        }
        if (edit_.ReadOnly() != shownReadOnly_) {
            shownReadOnly_ = edit_.ReadOnly();
            Send(Handle(), EM_SETREADONLY, shownReadOnly_);
        }
    }
    SIZE NaturalSize() const override { return {121, 21}; }
    TEdit& edit_;
    int shownLimit_ = -1;
    char shownMask_ = '\0';
    bool shownReadOnly_ = false;
};

class MemoWindow final : public ControlWindow {
public:
    MemoWindow(TMemo& memo, HWND parent, ControlHost& host)
        : ControlWindow(memo,
                        MakeChild(L"EDIT",
                                  Child | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                      ES_WANTRETURN,
                                  WS_EX_CLIENTEDGE, parent, host),
                        host),
          memo_(memo) {}
    void Command(HWND, WORD code) override {
        if (code != EN_CHANGE || Pulling()) return;
        const std::string text = Narrow(TextOf(Handle()));
        User([this, text] { memo_.SetText(text); });
    }

private:
    // The lines joined by CR LF, as a multi-line edit holds them.
    void PullOwn() override {
        SetText(Handle(), Wide(memo_.Text()));
        if (memo_.ReadOnly() != shownReadOnly_) {
            shownReadOnly_ = memo_.ReadOnly();
            Send(Handle(), EM_SETREADONLY, shownReadOnly_);
        }
    }
    TMemo& memo_;
    bool shownReadOnly_ = false;
};

// ------------------------------------------------------------------- lists

// Every list box, the traffic log among them: an owner-data list box (it
// holds only the number of lines) that draws each visible line from the
// control's items, so a repaint never copies or converts the 500-line log.
// The window catches up with the control on a timer; meanwhile lines may
// have left the front (the log deletes its oldest), and a row the user
// sees or picks is the control's line that many places higher.
class ListBoxWindow final : public ControlWindow {
public:
    ListBoxWindow(TItemsControl& list, HWND parent, ControlHost& host)
        : ControlWindow(list,
                        MakeChild(L"LISTBOX",
                                  Child | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY |
                                      LBS_NODATA | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT,
                                  WS_EX_CLIENTEDGE, parent, host),
                        host),
          list_(list) {
        list_.OnItemsChanged = Guard(token_, [this](TItemsControl& c, TStringList::Change change,
                                                    int index) { Record(c, change, index); });
        for (const std::string& line : list_.Items())
            widest_ = std::max(widest_, static_cast<int>(line.size()));
    }
    void Command(HWND, WORD code) override {
        if (code == LBN_SELCHANGE) {
            const int index = ControlIndex(static_cast<int>(Send(Handle(), LB_GETCURSEL)));
            User([this, index] { list_.SetItemIndex(index); });
        } else if (code == LBN_DBLCLK) {
            const int index = ControlIndex(static_cast<int>(Send(Handle(), LB_GETCURSEL)));
            User([this, index] {
                list_.SetItemIndex(index);
                list_.DblClick();
            });
        }
    }
    void MeasureItem(MEASUREITEMSTRUCT& item) override { item.itemHeight = RowHeight(); }
    void DrawItem(const DRAWITEMSTRUCT& item) override {
        HDC dc = item.hDC;
        RECT r = item.rcItem;
        const bool selected = (item.itemState & ODS_SELECTED) != 0;
        if (item.itemID != static_cast<UINT>(-1) &&
            (item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) {
            const TControl& c = list_;
            HBRUSH background = selected                 ? ::GetSysColorBrush(COLOR_HIGHLIGHT)
                                : c.Color() != clBtnFace ? BrushFor(c.Color())
                                                         : ::GetSysColorBrush(COLOR_WINDOW);
            ::FillRect(dc, &r, background);
            const int index = ControlIndex(static_cast<int>(item.itemID));
            if (index >= 0 && index < list_.Count()) {
                const std::wstring text = Wide(list_.Items()[index]);
                HGDIOBJ old = ::SelectObject(dc, FontFor(c.Font()));
                ::SetBkMode(dc, TRANSPARENT);
                ::SetTextColor(dc, selected ? ::GetSysColor(COLOR_HIGHLIGHTTEXT)
                                            : ColorRef(c.Font().Color));
                RECT text_r = r;
                text_r.left += 2;
                ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &text_r,
                            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
                ::SelectObject(dc, old);
            }
        }
        if (item.itemState & ODS_FOCUS) ::DrawFocusRect(dc, &r);
    }

private:
    int RowHeight() const {
        const auto* box = dynamic_cast<const TListBox*>(&list_);
        return box ? box->ItemHeight() : 13;
    }
    void Record(TItemsControl& c, TStringList::Change change, int index) {
        using Change = TStringList::Change;
        if (change == Change::Deleted && index == 0) {
            ++shift_;
        } else if (change == Change::Inserted && index == c.Count() - 1) {
            widest_ = std::max(widest_, static_cast<int>(c.Items()[index].size()));
        } else if (change != Change::Replaced) {
            // Anything but the log's own changes: the rows are read again.
            shift_ = 0;
            lost_ = true;
        }
    }
    // The control's line for a row of the window.
    int ControlIndex(int row) const {
        if (row < 0) return -1;
        if (lost_) return std::min(row, list_.Count() - 1);
        return row - shift_ >= 0 ? row - shift_ : -1;
    }
    void PullOwn() override {
        const int rowHeight = RowHeight();
        if (rowHeight != shownRowHeight_) {
            shownRowHeight_ = rowHeight;
            Send(Handle(), LB_SETITEMHEIGHT, 0, rowHeight);
        }
        if (lost_) {
            widest_ = 0;
            for (const std::string& line : list_.Items())
                widest_ = std::max(widest_, static_cast<int>(line.size()));
        }
        const int count = list_.Count();
        const int top = std::max(0, static_cast<int>(Send(Handle(), LB_GETTOPINDEX)) - shift_);
        const bool moved = shift_ != 0 || lost_ || count != shownCount_;
        if (static_cast<int>(Send(Handle(), LB_GETCOUNT)) != count)
            Send(Handle(), LB_SETCOUNT, count);
        shift_ = 0;
        lost_ = false;
        shownCount_ = count;
        if (widest_ != shownWidest_) {
            shownWidest_ = widest_;
            TEXTMETRICW metrics{};
            HDC dc = ::GetDC(Handle());
            HGDIOBJ old = ::SelectObject(dc, FontFor(list_.Font()));
            ::GetTextMetricsW(dc, &metrics);
            ::SelectObject(dc, old);
            ::ReleaseDC(Handle(), dc);
            Send(Handle(), LB_SETHORIZONTALEXTENT, widest_ * metrics.tmAveCharWidth + 8);
        }
        const int index = list_.ItemIndex() < count ? list_.ItemIndex() : -1;
        if (moved) {
            // The same lines stay in sight while the oldest go; the selected
            // line is then brought into sight, which is how the log follows
            // its end.
            Send(Handle(), LB_SETTOPINDEX, std::min(top, std::max(0, count - 1)));
            ::InvalidateRect(Handle(), nullptr, FALSE);
        }
        if (moved || static_cast<int>(Send(Handle(), LB_GETCURSEL)) != index)
            Send(Handle(), LB_SETCURSEL, static_cast<WPARAM>(index));
    }
    Token token_ = std::make_shared<char>();
    TItemsControl& list_;
    int shift_ = 0;     // lines left the front since the window caught up
    bool lost_ = false; // other changes: the rows are read again
    int widest_ = 0;    // characters of the longest line seen
    int shownWidest_ = -1, shownCount_ = -1, shownRowHeight_ = -1;
};

class ComboBoxWindow final : public ControlWindow {
public:
    // The style is read when the window is made: a list that only offers
    // its items (the dialogs' drop-down lists), or one that takes a text.
    ComboBoxWindow(TComboBox& combo, HWND parent, ControlHost& host)
        : ControlWindow(combo,
                        MakeChild(L"COMBOBOX",
                                  Child | WS_TABSTOP | WS_VSCROLL |
                                      (combo.Style() == TComboBox::csDropDownList
                                           ? CBS_DROPDOWNLIST
                                           : CBS_DROPDOWN | CBS_AUTOHSCROLL),
                                  0, parent, host),
                        host),
          combo_(combo), editable_(combo.Style() != TComboBox::csDropDownList) {
        combo_.OnItemsChanged =
            Guard(token_, [this](TItemsControl&, TStringList::Change, int) { itemsDirty_ = true; });
    }
    void Command(HWND, WORD code) override {
        if (Pulling()) return;
        if (code == CBN_SELCHANGE) {
            const int index = static_cast<int>(Send(Handle(), CB_GETCURSEL));
            User([this, index] {
                combo_.SetItemIndex(index);
                if (combo_.OnChange) combo_.OnChange(&combo_);
            });
            Pull();
        } else if (code == CBN_EDITCHANGE && editable_) {
            const std::string text = Narrow(TextOf(Handle()));
            User([this, text] {
                combo_.SetText(text);
                if (combo_.OnChange) combo_.OnChange(&combo_);
            });
        }
    }

private:
    RECT WindowBounds(RECT model) const override {
        model.bottom += 200; // the list that drops down
        return model;
    }
    SIZE NaturalSize() const override { return {145, 21}; }
    void PullOwn() override {
        if (itemsDirty_ || static_cast<int>(Send(Handle(), CB_GETCOUNT)) != combo_.Count()) {
            itemsDirty_ = false;
            Send(Handle(), CB_RESETCONTENT);
            for (const std::string& item : combo_.Items()) {
                const std::wstring text = Wide(item);
                Send(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
            }
        }
        if (static_cast<int>(Send(Handle(), CB_GETCURSEL)) != combo_.ItemIndex())
            Send(Handle(), CB_SETCURSEL, static_cast<WPARAM>(combo_.ItemIndex()));
        if (editable_) SetText(Handle(), Wide(combo_.Text()));
    }
    Token token_ = std::make_shared<char>();
    TComboBox& combo_;
    bool editable_;
    bool itemsDirty_ = true;
};

// -------------------------------------------------------------- containers

// A group box's etched frame with its caption in the top edge, as the
// system draws one, painted by the group's own container (a BS_GROUPBOX
// child there would leave its inside unpainted: the container clips its
// children out of what it paints).
void PaintGroupFrame(HWND pane, HDC dc, const TControl& group) {
    RECT r;
    ::GetClientRect(pane, &r);
    HGDIOBJ old = ::SelectObject(dc, FontFor(group.Font()));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT frame = r;
    frame.top += metrics.tmHeight / 2;
    ::DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    const std::wstring caption = Wide(group.Caption());
    if (!caption.empty()) {
        RECT text{8, 0, r.right - 8, metrics.tmHeight};
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                    DT_SINGLELINE | DT_CALCRECT);
        text.left -= 2;
        text.right = std::min(text.right + 2, r.right - 6);
        ::FillRect(dc, &text,
                   group.Color() != clBtnFace ? BrushFor(group.Color())
                                              : ::GetSysColorBrush(COLOR_BTNFACE));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, group.Enabled() ? ColorRef(group.Font().Color)
                                           : ::GetSysColor(COLOR_GRAYTEXT));
        text.left += 2;
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                    DT_SINGLELINE | DT_END_ELLIPSIS);
    }
    ::SelectObject(dc, old);
}

class GroupBoxWindow final : public ControlWindow {
public:
    GroupBoxWindow(TGroupBox& group, HWND parent, ControlHost& host)
        : ControlWindow(group, MakePane(parent, host), host), group_(group) {}
    void Paint(HDC dc) override { PaintGroupFrame(Handle(), dc, group_); }

private:
    void PullOwn() override { ::InvalidateRect(Handle(), nullptr, TRUE); }
    TGroupBox& group_;
};

class RadioGroupWindow final : public ControlWindow {
public:
    RadioGroupWindow(TRadioGroup& group, HWND parent, ControlHost& host)
        : ControlWindow(group, MakePane(parent, host), host), group_(group) {
        group_.OnItemsChanged =
            Guard(token_, [this](TItemsControl&, TStringList::Change, int) { itemsDirty_ = true; });
    }
    void Command(HWND from, WORD code) override {
        if (code != BN_CLICKED) return;
        const auto it = std::find(buttons_.begin(), buttons_.end(), from);
        if (it == buttons_.end()) return;
        const int index = static_cast<int>(it - buttons_.begin());
        User([this, index] { group_.SetItemIndex(index); });
        Pull();
    }
    void Paint(HDC dc) override { PaintGroupFrame(Handle(), dc, group_); }

private:
    void PullOwn() override {
        ::InvalidateRect(Handle(), nullptr, TRUE);
        if (itemsDirty_ || static_cast<int>(buttons_.size()) != group_.Count()) {
            itemsDirty_ = false;
            for (HWND b : buttons_) ::DestroyWindow(b);
            buttons_.clear();
            for (int i = 0; i < group_.Count(); ++i) {
                HWND b = MakeChild(L"BUTTON",
                                   Child | WS_VISIBLE | BS_RADIOBUTTON |
                                       (i == 0 ? WS_GROUP | WS_TABSTOP : 0),
                                   0, Handle(), Host());
                Claim(b);
                SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(group_.Font())), TRUE);
                ::SetWindowTextW(b, Wide(group_.Items()[i]).c_str());
                buttons_.push_back(b);
            }
        }
        // The items in columns, spread over the height below the caption.
        RECT r;
        ::GetClientRect(Handle(), &r);
        const int count = static_cast<int>(buttons_.size());
        const int columns = std::max(1, group_.Columns());
        const int rows = std::max(1, (count + columns - 1) / columns);
        const int columnWidth = std::max(1, static_cast<int>(r.right) - 16) / columns;
        const int rowHeight = std::max(17, (static_cast<int>(r.bottom) - 20) / rows);
        for (int i = 0; i < count; ++i) {
            const int row = i % rows, column = i / rows;
            ::MoveWindow(buttons_[i], 8 + column * columnWidth,
                         16 + row * rowHeight + (rowHeight - 17) / 2, columnWidth - 4, 17, TRUE);
            const WPARAM state = i == group_.ItemIndex() ? BST_CHECKED : BST_UNCHECKED;
            if (static_cast<WPARAM>(SendMessageW(buttons_[i], BM_GETCHECK, 0, 0)) != state)
                SendMessageW(buttons_[i], BM_SETCHECK, state, 0);
            ::EnableWindow(buttons_[i], group_.Enabled());
        }
    }
    Token token_ = std::make_shared<char>();
    TRadioGroup& group_;
    std::vector<HWND> buttons_;
    bool itemsDirty_ = true;
};

class PanelWindow final : public ControlWindow {
public:
    PanelWindow(TPanel& panel, HWND parent, ControlHost& host)
        : ControlWindow(panel, MakePane(parent, host), host), panel_(panel) {}
    void Paint(HDC dc) override {
        RECT r;
        ::GetClientRect(Handle(), &r);
        if (panel_.Color() != clBtnFace) ::FillRect(dc, &r, BrushFor(panel_.Color()));
        ::DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        const std::wstring caption = Wide(panel_.Caption());
        if (caption.empty()) return;
        HGDIOBJ old = ::SelectObject(dc, FontFor(panel_.Font()));
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ColorRef(panel_.Font().Color));
        ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &r,
                    DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        ::SelectObject(dc, old);
    }

private:
    void PullOwn() override { ::InvalidateRect(Handle(), nullptr, TRUE); }
    TPanel& panel_;
};

class TabSheetWindow;

// The page control shows its pages as the tabs of a tab control; each
// page is a container on the tab control, shown while its tab is chosen.
// A page whose tab is hidden gets no tab (a tab control cannot hide one).
class PageControlWindow final : public ControlWindow {
public:
    PageControlWindow(TPageControl& pages, HWND parent, ControlHost& host)
        : ControlWindow(
              pages,
              MakeChild(WC_TABCONTROLW, Child | WS_TABSTOP | WS_CLIPCHILDREN, 0, parent, host),
              host),
          pages_(pages) {}
    LRESULT Notify(const NMHDR& header) override {
        if (header.code != TCN_SELCHANGE || Pulling()) return 0;
        const int tab = static_cast<int>(TabCtrl_GetCurSel(Handle()));
        const int index = tab >= 0 && tab < static_cast<int>(shownPages_.size())
                              ? shownPages_[static_cast<std::size_t>(tab)]
                              : -1;
        User([this, index] {
            if (index < 0 || pages_.ActivePageIndex() == index) return;
            pages_.SetActivePageIndex(index);
            if (pages_.OnChange) pages_.OnChange(&pages_);
        });
        Pull();
        return 0;
    }
    // The tabs as the pages say, the active page shown over the others.
    void SyncTabs() {
        std::vector<int> visible;
        std::vector<std::wstring> captions;
        for (int i = 0; i < pages_.PageCount(); ++i)
            if (pages_.Pages(i)->TabVisible()) {
                visible.push_back(i);
                captions.push_back(Wide(pages_.Pages(i)->Caption()));
            }
        if (visible != shownPages_ || captions != shownCaptions_) {
            TabCtrl_DeleteAllItems(Handle());
            for (std::size_t t = 0; t < visible.size(); ++t) {
                TCITEMW item{};
                item.mask = TCIF_TEXT;
                item.pszText = captions[t].data();
                ::SendMessageW(Handle(), TCM_INSERTITEMW, t, reinterpret_cast<LPARAM>(&item));
            }
            shownPages_ = visible;
            shownCaptions_ = captions;
        }
        const int active = pages_.ActivePageIndex();
        const auto tab = std::find(shownPages_.begin(), shownPages_.end(), active);
        if (tab != shownPages_.end() &&
            TabCtrl_GetCurSel(Handle()) != static_cast<int>(tab - shownPages_.begin()))
            TabCtrl_SetCurSel(Handle(), static_cast<int>(tab - shownPages_.begin()));
        RECT area;
        ::GetClientRect(Handle(), &area);
        TabCtrl_AdjustRect(Handle(), FALSE, &area);
        for (int i = 0; i < pages_.PageCount(); ++i) {
            ControlWindow* page = Host().ViewOf(pages_.Pages(i));
            if (!page) continue;
            ::MoveWindow(page->Handle(), area.left, area.top, area.right - area.left,
                         area.bottom - area.top, TRUE);
            const bool shown = i == active && tab != shownPages_.end();
            ::ShowWindow(page->Handle(), shown ? SW_SHOWNA : SW_HIDE);
        }
    }

private:
    void PullOwn() override { SyncTabs(); }
    TPageControl& pages_;
    std::vector<int> shownPages_;
    std::vector<std::wstring> shownCaptions_;
};

class TabSheetWindow final : public ControlWindow {
public:
    TabSheetWindow(TTabSheet& sheet, HWND parent, ControlHost& host)
        : ControlWindow(sheet, MakePane(parent, host), host) {}

private:
    void PullOwn() override {
        if (auto* pages = dynamic_cast<PageControlWindow*>(FromHandle(::GetParent(Handle()))))
            pages->SyncTabs();
    }
};

class StatusBarWindow final : public ControlWindow {
public:
    StatusBarWindow(TStatusBar& bar, HWND parent, ControlHost& host)
        : ControlWindow(bar, MakeChild(STATUSCLASSNAMEW, Child | CCS_BOTTOM, 0, parent, host),
                        host),
          bar_(bar) {
        Send(Handle(), SB_SIMPLE, TRUE);
    }
    bool DockedAtBottom() const override { return true; }
    // A menu item's hint, until the model's text is pulled again.
    void ShowHint(const std::wstring& hint) override {
        shown_ = hint;
        Send(Handle(), SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(shown_.c_str()));
        hinting_ = true;
    }
    void EndHint() override {
        if (!hinting_) return;
        hinting_ = false;
        Pull();
    }

private:
    void PullOwn() override {
        if (hinting_) return;
        const std::wstring text = Wide(bar_.SimplePanel() ? bar_.SimpleText() : bar_.Caption());
        if (text == shown_) return;
        shown_ = text;
        Send(Handle(), SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(shown_.c_str()));
    }
    TStatusBar& bar_;
    std::wstring shown_ = L"\x01";
    bool hinting_ = false;
};

class ContainerWindow final : public ControlWindow {
public:
    ContainerWindow(TControl& control, HWND parent, ControlHost& host)
        : ControlWindow(control, MakePane(parent, host), host) {}
};

} // namespace

// ------------------------------------------------------------ ControlWindow

ControlWindow::ControlWindow(TControl& control, HWND window, ControlHost& host)
    : control_(&control), boundParent_(control.Parent()), window_(window), host_(host) {
    if (!window_)
        throw std::runtime_error("the window of control \"" + control.Name() +
                                 "\" cannot be made: " + win32::ErrorTextUtf8(::GetLastError()));
    Claim(window_);
    control.OnDestroying =
        Guard(token_, [this](TControl& dying) { host_.ControlDestroying(&dying); });
}

ControlWindow::~ControlWindow() {
    if (!::IsWindow(window_)) return;
    // Nothing may reach this view through its windows any more.  A control
    // may be freed by a handler of its own window (a button that removes
    // itself): the window is hidden now and destroyed once the system has
    // left its window procedure.
    ::EnumChildWindows(
        window_,
        [](HWND child, LPARAM) -> BOOL {
            ::RemovePropW(child, ViewProperty);
            return TRUE;
        },
        0);
    ::RemovePropW(window_, ViewProperty);
    ::ShowWindow(window_, SW_HIDE);
    HWND root = ::GetAncestor(window_, GA_ROOT);
    if (!root || !::PostMessageW(root, WM_VIEW_DESTROY_LATER, 0, reinterpret_cast<LPARAM>(window_)))
        ::DestroyWindow(window_);
}

ControlWindow* ControlWindow::FromHandle(HWND window) {
    return window ? static_cast<ControlWindow*>(::GetPropW(window, ViewProperty)) : nullptr;
}

void ControlWindow::Claim(HWND part) { ::SetPropW(part, ViewProperty, this); }

HWND ControlWindow::ChildHost(TControl&) { return window_; }

HWND ControlWindow::MakeChild(const wchar_t* windowClass, DWORD style, DWORD exStyle, HWND parent,
                              ControlHost& host) {
    return ::CreateWindowExW(exStyle, windowClass, L"", style, 0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(host.NextControlId())),
                             ::GetModuleHandleW(nullptr), nullptr);
}

void ControlWindow::SetText(HWND window, const std::wstring& text) {
    if (TextOf(window) != text) ::SetWindowTextW(window, text.c_str());
}

std::wstring ControlWindow::TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)), L'\0');
    const int got = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()) + 1);
    text.resize(static_cast<std::size_t>(std::max(0, got)));
    return text;
}

SIZE ControlWindow::NaturalSize() const { return {100, 21}; }

HBRUSH ControlWindow::Colors(HDC dc, UINT message) {
    const TControl& c = *control_;
    ::SetTextColor(dc, ColorRef(c.Font().Color));
    if (c.Color() != clBtnFace) {
        ::SetBkColor(dc, ColorRef(c.Color()));
        return BrushFor(c.Color());
    }
    const int background =
        message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX ? COLOR_WINDOW : COLOR_BTNFACE;
    ::SetBkColor(dc, ::GetSysColor(background));
    return ::GetSysColorBrush(background);
}

void ControlWindow::Pull() {
    ScopedFlag pulling(pulling_);
    PullCommon();
    PullOwn();
}

void ControlWindow::PullCommon() {
    TControl& c = *control_;
    const bool page = dynamic_cast<TTabSheet*>(&c) != nullptr;
    if (!DockedAtBottom() && !page) {
        const SIZE natural =
            c.Width() > 0 && c.Height() > 0 ? SIZE{c.Width(), c.Height()} : NaturalSize();
        const RECT model{c.Left(), c.Top(), c.Left() + (c.Width() > 0 ? c.Width() : natural.cx),
                         c.Top() + (c.Height() > 0 ? c.Height() : natural.cy)};
        const RECT bounds = WindowBounds(model);
        if (!bounds_ || !::EqualRect(&*bounds_, &bounds)) {
            bounds_ = bounds;
            ::MoveWindow(window_, bounds.left, bounds.top, bounds.right - bounds.left,
                         bounds.bottom - bounds.top, TRUE);
        }
    }
    if (!page) {
        const bool shown = (::GetWindowLongW(window_, GWL_STYLE) & WS_VISIBLE) != 0;
        if (shown != c.Visible()) ::ShowWindow(window_, c.Visible() ? SW_SHOWNA : SW_HIDE);
    }
    if ((::IsWindowEnabled(window_) != FALSE) != c.Enabled()) ::EnableWindow(window_, c.Enabled());
    if (!font_ || !(*font_ == c.Font())) {
        font_ = c.Font();
        Send(window_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(c.Font())), TRUE);
    }
    if (!color_ || *color_ != c.Color()) {
        const bool first = !color_;
        color_ = c.Color();
        if (!first) ::InvalidateRect(window_, nullptr, TRUE);
    }
}

std::unique_ptr<ControlWindow> MakeControlWindow(TControl& control, HWND parent,
                                                 ControlHost& host) {
    // Most specific first: a subclass shows as its nearest known base.
    if (auto* c = dynamic_cast<TTabSheet*>(&control))
        return std::make_unique<TabSheetWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TPageControl*>(&control))
        return std::make_unique<PageControlWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TRadioGroup*>(&control))
        return std::make_unique<RadioGroupWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TComboBox*>(&control))
        return std::make_unique<ComboBoxWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TItemsControl*>(&control))
        return std::make_unique<ListBoxWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TMemo*>(&control))
        return std::make_unique<MemoWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TEdit*>(&control))
        return std::make_unique<EditWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TCheckBox*>(&control))
        return std::make_unique<CheckBoxWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TButton*>(&control))
        return std::make_unique<ButtonWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TLabel*>(&control))
        return std::make_unique<LabelWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TGroupBox*>(&control))
        return std::make_unique<GroupBoxWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TPanel*>(&control))
        return std::make_unique<PanelWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TStatusBar*>(&control))
        return std::make_unique<StatusBarWindow>(*c, parent, host);
    if (auto* c = dynamic_cast<TImage*>(&control))
        return std::make_unique<ImageWindow>(*c, parent, host);
    return std::make_unique<ContainerWindow>(control, parent, host);
}

} // namespace vantor::win32view
