// The binding of the model to Win32 windows: menus and their accelerators,
// message boxes, Windows-1250 texts, controls changed from either side.
#include "Win32DesktopFixture.h"

#include "toolkit/Cp1250.h"

namespace vantor::test {
namespace {

class Binding : public Win32DesktopFixture {
protected:
    Binding() {
        form.SetCaption(Cp1250FromUtf8("Nastavení účtování"));
        form.SetClientWidth(400);
        form.SetClientHeight(280);
        app.SetMainForm(&form);
        form.DoCreate();
    }
    TForm form{app, nullptr};
};

std::wstring MenuText(HMENU menu, WORD id) {
    wchar_t text[128] = L"";
    ::GetMenuStringW(menu, id, text, 128, MF_BYCOMMAND);
    return text;
}

TEST_F(Binding, AMenuItemRunsItsHandlerByMouseAndShortcutAndShowsTheItemsState) {
    TMainMenu menu(&form);
    int clicks = 0;
    TMenuItem& help = menu.Items().Add(Cp1250FromUtf8("&Nápověda"), 300);
    TMenuItem& contents = help.Add("Obsah", 301, [&](TObject*) { ++clicks; });
    contents.SetShortCut("Shift+F1");
    TMenuItem& marked = help.Add("XAPI", 231, [&](TObject* s) {
        auto* item = static_cast<TMenuItem*>(s);
        item->SetChecked(!item->Checked());
    });
    form.Show();
    win32view::MenuBinding* menus = WindowOf(form)->Menus();
    ASSERT_NE(menus, nullptr);
    HWND window = WindowOf(form)->Handle();
    ASSERT_EQ(::GetMenu(window), menus->Menu());
    wchar_t top[64] = L"";
    ::GetMenuStringW(menus->Menu(), 0, top, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(top), W("&Nápověda")); // the mnemonic stays a mnemonic
    EXPECT_EQ(MenuText(menus->Menu(), menus->IdOf(contents)), L"Obsah\tShift+F1");

    ::PostMessageW(window, WM_COMMAND, menus->IdOf(contents), 0);
    Pass(20);
    EXPECT_EQ(clicks, 1);
    // The shortcut, with Shift held, while the window has the keyboard.
    BYTE keys[256] = {};
    keys[VK_SHIFT] = 0x80;
    ::SetKeyboardState(keys);
    PostKey(window, VK_F1);
    Pass(20);
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
    EXPECT_EQ(clicks, 2);
    PostKey(window, VK_F1); // without Shift: no such shortcut
    Pass(20);
    EXPECT_EQ(clicks, 2);

    ::PostMessageW(window, WM_COMMAND, menus->IdOf(marked), 0);
    Pass(20);
    Sync();
    EXPECT_TRUE(::GetMenuState(menus->Menu(), menus->IdOf(marked), MF_BYCOMMAND) & MF_CHECKED)
        << "the handler set the mark: the menu shows it";
    marked.SetEnabled(false);
    Sync();
    EXPECT_TRUE(::GetMenuState(menus->Menu(), menus->IdOf(marked), MF_BYCOMMAND) & MF_GRAYED);
    marked.SetVisible(false);
    Sync();
    EXPECT_EQ(menus->IdOf(marked), 0) << "a hidden item is not in the menu";
    contents.SetCaption(Cp1250FromUtf8("Obsah nápovědy"));
    Sync();
    EXPECT_EQ(MenuText(menus->Menu(), menus->IdOf(contents)), W("Obsah nápovědy\tShift+F1"));
}

// What a message box shows: its text, its icon (the system's shared one)
// and its default button.
struct BoxSeen {
    std::wstring text, caption;
    HICON icon = nullptr;
    int defaultId = 0;
};

BoxSeen Look(HWND box) {
    BoxSeen seen;
    seen.caption = TextOf(box);
    for (HWND child : ChildrenOf(box, L"Static")) {
        if (::GetWindowLongW(child, GWL_STYLE) & SS_ICON)
            seen.icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
        else if (!TextOf(child).empty())
            seen.text = TextOf(child);
    }
    for (HWND button : ChildrenOf(box, L"Button"))
        if ((::GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            seen.defaultId = ::GetDlgCtrlID(button);
    return seen;
}

TEST_F(Binding, AMessageBoxReturnsTheButtonTheUserPressed) {
    struct Case {
        unsigned flags;
        LPCWSTR icon;
        int defaultId;
        std::function<void(HWND box)> play;
        int answer;
    };
    auto press = [](int id) { return [id](HWND box) { Click(::GetDlgItem(box, id)); }; };
    auto key = [](UINT vk) { return [vk](HWND box) { PostKey(::GetFocus(), vk); }; };
    const Case cases[] = {
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDI_QUESTION, IDNO, press(IDYES), IDYES},
        {MB_OKCANCEL | MB_ICONWARNING, IDI_WARNING, IDOK, key(VK_ESCAPE), IDCANCEL},
        {MB_OK | MB_ICONSTOP, IDI_ERROR, IDOK, key(VK_RETURN), IDOK},
        {MB_YESNOCANCEL | MB_ICONINFORMATION | MB_DEFBUTTON3, IDI_INFORMATION, IDCANCEL,
         key(VK_RETURN), IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        BoxSeen seen;
        WhenBlocked([&](HWND box) {
            seen = Look(box);
            c.play(box);
        });
        const int answer =
            desktop.MessageBox(Cp1250FromUtf8("Soubor nelze vytvořit.\r\nZkuste jiný."),
                               Cp1250FromUtf8("Chyba účtování"), c.flags);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(seen.text, W("Soubor nelze vytvořit.\r\nZkuste jiný."));
        EXPECT_EQ(seen.caption, W("Chyba účtování"));
        EXPECT_EQ(seen.icon, ::LoadIconW(nullptr, c.icon));
        EXPECT_EQ(seen.defaultId, c.defaultId);
    }
}

TEST_F(Binding, Windows1250TextsShowAsUnicodeAndTypedTextComesBack) {
    auto& label = form.Create<TLabel>(&form);
    label.SetCaption(Cp1250FromUtf8("Příliš žluťoučký kůň úpěl ďábelské ódy"));
    label.SetBounds(8, 8, 380, 16);
    auto& box = form.Create<TCheckBox>(&form);
    box.SetCaption(Cp1250FromUtf8("Předávat účtovací data na IP"));
    box.SetBounds(8, 30, 300, 17);
    auto& edit = form.Create<TEdit>(&form);
    edit.SetBounds(8, 56, 200, 21);
    edit.SetMaxLength(5);
    // An over-long caption from a language file is cut off by the control,
    // which keeps its size, and nothing else happens.
    auto& longLabel = form.Create<TLabel>(&form);
    longLabel.SetCaption(std::string(5000, 'W'));
    longLabel.SetBounds(8, 90, 100, 16);
    form.Show();
    EXPECT_EQ(TextOf(WindowOf(form)->Handle()), W("Nastavení účtování"));
    EXPECT_EQ(TextOf(HandleOf(form, label)), W("Příliš žluťoučký kůň úpěl ďábelské ódy"));
    EXPECT_EQ(TextOf(HandleOf(form, box)), W("Předávat účtovací data na IP"));
    RECT r;
    ::GetWindowRect(HandleOf(form, longLabel), &r);
    EXPECT_EQ(r.right - r.left, 100);
    EXPECT_EQ(r.bottom - r.top, 16);

    HWND line = HandleOf(form, edit);
    Type(line, W("čšžřýá")); // the edit takes five
    EXPECT_EQ(edit.Text(), Cp1250FromUtf8("čšžřý"));
    edit.SetReadOnly(true);
    Sync();
    EXPECT_TRUE(::GetWindowLongW(line, GWL_STYLE) & ES_READONLY);
    edit.SetText("abc"); // from the model's side
    Sync();
    EXPECT_EQ(TextOf(line), L"abc");
}

TEST_F(Binding, ControlsFollowTheModelAndComeAndGo) {
    auto& button = form.Create<TButton>(&form);
    button.SetCaption("&OK");
    button.SetBounds(10, 10, 75, 25);
    int clicks = 0;
    button.OnClick = [&](TObject*) { ++clicks; };
    form.Show();
    HWND widget = HandleOf(form, button);
    ASSERT_NE(widget, nullptr);
    Click(widget);
    EXPECT_EQ(clicks, 1);
    button.SetEnabled(false); // a disabled control ignores clicks
    Sync();
    EXPECT_FALSE(::IsWindowEnabled(widget));
    button.SetBounds(20, 30, 90, 27);
    Sync();
    RECT r;
    ::GetWindowRect(widget, &r);
    ::MapWindowPoints(nullptr, WindowOf(form)->Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 30);
    EXPECT_EQ(r.right - r.left, 90);
    button.SetVisible(false);
    Sync();
    EXPECT_FALSE(::IsWindowVisible(widget));
    // Resizing the window reaches the form (and its OnResize).
    int resized = 0;
    form.OnResize = [&](TObject*) { ++resized; };
    RECT frame{0, 0, 500, 300};
    ::AdjustWindowRectEx(
        &frame, static_cast<DWORD>(::GetWindowLongW(WindowOf(form)->Handle(), GWL_STYLE)), FALSE,
        static_cast<DWORD>(::GetWindowLongW(WindowOf(form)->Handle(), GWL_EXSTYLE)));
    ::SetWindowPos(WindowOf(form)->Handle(), nullptr, 0, 0, frame.right - frame.left,
                   frame.bottom - frame.top, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(form.ClientWidth(), 500);
    EXPECT_EQ(form.ClientHeight(), 300);
    EXPECT_GE(resized, 1);
    // A control added later shows; a control freed goes from the window.
    auto& late = form.Create<TLabel>(&form);
    late.SetCaption("late");
    ASSERT_NE(HandleOf(form, late), nullptr);
    form.FreeComponent(&button);
    EXPECT_FALSE(::IsWindowVisible(widget));
    Pass(20);
    EXPECT_FALSE(::IsWindow(widget)) << "destroyed once its own messages are done";
}

TEST_F(Binding, PagesRadioGroupsCombosAndMemosGoBothWays) {
    auto& pages = form.Create<TPageControl>(&form);
    pages.SetBounds(0, 0, 300, 150);
    auto& first = form.Create<TTabSheet>(&pages);
    first.SetCaption("Instalace");
    auto& second = form.Create<TTabSheet>(&pages);
    second.SetCaption(Cp1250FromUtf8("Spuštění"));
    auto& onSecond = form.Create<TCheckBox>(&second);
    onSecond.SetCaption("x");
    onSecond.SetBounds(4, 4, 50, 17);
    int pageChanges = 0;
    pages.OnChange = [&](TObject*) { ++pageChanges; };
    auto& radio = form.Create<TRadioGroup>(&form);
    radio.SetBounds(0, 150, 200, 60);
    radio.Items().Assign({"Windows 95/98", "Windows NT"});
    auto& combo = form.Create<TComboBox>(&form);
    combo.SetBounds(210, 150, 150, 21);
    combo.SetStyle(TComboBox::csDropDownList);
    combo.Items().Assign({"COM 1", "COM 2"});
    combo.SetItemIndex(0);
    auto& memo = form.Create<TMemo>(&form);
    memo.SetBounds(0, 220, 300, 40);
    pages.SetActivePage(&second);
    form.Show();

    HWND tabs = HandleOf(form, pages);
    ASSERT_EQ(TabCtrl_GetItemCount(tabs), 2);
    wchar_t caption[32] = L"";
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = caption;
    item.cchTextMax = 32;
    ::SendMessageW(tabs, TCM_GETITEMW, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(std::wstring(caption), W("Spuštění"));
    EXPECT_EQ(::GetParent(HandleOf(form, onSecond)), HandleOf(form, second));
    EXPECT_EQ(TabCtrl_GetCurSel(tabs), 1) << "the page the form chose";
    EXPECT_TRUE(::IsWindowVisible(HandleOf(form, second)));
    EXPECT_FALSE(::IsWindowVisible(HandleOf(form, first)));
    EXPECT_EQ(pageChanges, 0) << "showing the window is no page change";
    RECT tab0;
    TabCtrl_GetItemRect(tabs, 0, &tab0);
    ClickAt(tabs, {(tab0.left + tab0.right) / 2, (tab0.top + tab0.bottom) / 2}); // the user picks
    EXPECT_EQ(pages.ActivePage(), &first);
    EXPECT_EQ(pageChanges, 1);
    EXPECT_TRUE(::IsWindowVisible(HandleOf(form, first)));
    pages.SetActivePageIndex(1); // the program does
    Sync();
    EXPECT_EQ(TabCtrl_GetCurSel(tabs), 1);
    second.SetTabVisible(false);
    Sync();
    EXPECT_EQ(TabCtrl_GetItemCount(tabs), 1) << "a hidden page has no tab";
    EXPECT_EQ(pageChanges, 1);

    HWND nt = ::FindWindowExW(HandleOf(form, radio), nullptr, L"Button", L"Windows NT");
    ASSERT_NE(nt, nullptr);
    EXPECT_EQ(::GetWindowLongW(nt, GWL_STYLE) & BS_TYPEMASK, BS_RADIOBUTTON);
    Click(nt);
    EXPECT_EQ(radio.ItemIndex(), 1);
    radio.SetItemIndex(0);
    Sync();
    EXPECT_EQ(::SendMessageW(nt, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    HWND box = HandleOf(form, combo);
    EXPECT_EQ(::SendMessageW(box, CB_GETCURSEL, 0, 0), 0);
    ::SendMessageW(box, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(combo.ItemIndex(), 1);
    EXPECT_EQ(combo.Text(), "COM 2");

    HWND text = HandleOf(form, memo);
    Type(text, W("řádek"));
    EXPECT_EQ(memo.Text(), Cp1250FromUtf8("řádek"));
    memo.SetText("one\r\ntwo");
    Sync();
    EXPECT_EQ(TextOf(text), L"one\r\ntwo");
}

} // namespace
} // namespace vantor::test
