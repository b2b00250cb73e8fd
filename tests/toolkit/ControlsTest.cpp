#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Menus.h"
#include "toolkit/StringList.h"
#include "toolkit/Strings.h"

namespace vantor {
namespace {

TEST(Controls, ClassNamesAreExact) {
    TComponent owner(nullptr);
    // The translator decides by these names; subclasses must not pass as
    // their base.
    EXPECT_EQ(TLabel(&owner).ClassName(), "TLabel");
    EXPECT_EQ(TButton(&owner).ClassName(), "TButton");
    EXPECT_EQ(TBitBtn(&owner).ClassName(), "TBitBtn");
    EXPECT_EQ(TCheckBox(&owner).ClassName(), "TCheckBox");
    EXPECT_EQ(TEdit(&owner).ClassName(), "TEdit");
    EXPECT_EQ(TMemo(&owner).ClassName(), "TMemo");
    EXPECT_EQ(TComboBox(&owner).ClassName(), "TComboBox");
    EXPECT_EQ(TListBox(&owner).ClassName(), "TListBox");
    EXPECT_EQ(TGroupBox(&owner).ClassName(), "TGroupBox");
    EXPECT_EQ(TPanel(&owner).ClassName(), "TPanel");
    EXPECT_EQ(TPageControl(&owner).ClassName(), "TPageControl");
    EXPECT_EQ(TTabSheet(&owner).ClassName(), "TTabSheet");
    EXPECT_EQ(TRadioGroup(&owner).ClassName(), "TRadioGroup");
    EXPECT_EQ(TStatusBar(&owner).ClassName(), "TStatusBar");
    EXPECT_EQ(TImage(&owner).ClassName(), "TImage");
    EXPECT_EQ(TMenuItem(&owner).ClassName(), "TMenuItem");
    EXPECT_EQ(TMainMenu(&owner).ClassName(), "TMainMenu");
    const TControl& asBase = TBitBtn(&owner);
    EXPECT_EQ(asBase.ClassName(), "TBitBtn");
}

TEST(Controls, ParentsKeepChildrenInControlOrderAndForgetTheDead) {
    TComponent owner(nullptr);
    TPanel panel(&owner);
    TLabel a(&owner, &panel);
    auto b = std::make_unique<TButton>(&owner, &panel);
    TCheckBox c(&owner);
    c.SetParent(&panel);
    ASSERT_EQ(panel.Controls(), (std::vector<TControl*>{&a, b.get(), &c}));
    EXPECT_EQ(owner.ComponentCount(), 4u);
    b.reset();
    EXPECT_EQ(panel.Controls(), (std::vector<TControl*>{&a, &c}));
    EXPECT_EQ(owner.ComponentCount(), 3u);
    // A control cannot move into one of its own children.
    panel.SetParent(&a);
    EXPECT_EQ(panel.Parent(), nullptr);
    EXPECT_EQ(a.Parent(), &panel);
    a.SetParent(&a);
    EXPECT_EQ(a.Parent(), &panel);
    {
        TGroupBox group(&owner);
        c.SetParent(&group);
        EXPECT_EQ(group.ControlCount(), 1);
    }
    EXPECT_EQ(c.Parent(), nullptr);
}

TEST(Controls, ModelChangesReachTheNearestWatcher) {
    TComponent owner(nullptr);
    TPanel root(&owner);
    TPanel inner(&owner, &root);
    TLabel label(&owner, &inner);
    std::vector<std::string> seen;
    root.OnModelChanged = [&](TControl& c) { seen.push_back("root:" + c.Caption()); };
    label.SetCaption("one");
    label.SetCaption("one"); // unchanged: nothing to report
    inner.OnModelChanged = [&](TControl& c) { seen.push_back("inner:" + c.Caption()); };
    label.SetCaption("two");
    EXPECT_EQ(seen, (std::vector<std::string>{"root:one", "inner:two"}));
}

TEST(Controls, ButtonClickSetsModalResultOfItsFormAndDisabledControlsIgnoreClicks) {
    TComponent owner(nullptr);
    TButton ok(&owner);
    int clicks = 0;
    ok.OnClick = [&](TObject* sender) {
        EXPECT_EQ(sender, &ok);
        ++clicks;
    };
    ok.SetModalResult(mrOk);
    ok.Click(); // no form around it: only OnClick
    EXPECT_EQ(clicks, 1);
    ok.SetEnabled(false);
    ok.Click();
    EXPECT_EQ(clicks, 1);

    TCheckBox box(&owner);
    int boxClicks = 0;
    box.OnClick = [&](TObject*) { ++boxClicks; };
    box.Click();
    EXPECT_TRUE(box.Checked());
    box.SetChecked(true);  // no change, no click
    box.SetChecked(false); // a change from code clicks, as in the framework
    EXPECT_EQ(boxClicks, 2);
    box.SetEnabled(false);
    box.Click();
    EXPECT_FALSE(box.Checked());
}

TEST(Controls, EditInputRespectsMaxLengthAndReadOnly) {
    TComponent owner(nullptr);
    TEdit edit(&owner);
    int changes = 0;
    edit.OnChange = [&](TObject*) { ++changes; };
    edit.SetMaxLength(5);
    edit.SetText("longer than five"); // code is not limited
    EXPECT_EQ(edit.Text(), "longer than five");
    EXPECT_TRUE(edit.UserInput("abcdefgh"));
    EXPECT_EQ(edit.Text(), "abcde");
    edit.SetReadOnly(true);
    EXPECT_FALSE(edit.UserInput("zz"));
    EXPECT_EQ(edit.Text(), "abcde");
    EXPECT_EQ(changes, 2);
}

TEST(ListBox, SelectionFollowsItsLineOnInsertAndDelete) {
    TComponent owner(nullptr);
    TListBox list(&owner);
    EXPECT_EQ(list.ItemIndex(), -1);
    for (const char* s : {"a", "b", "c", "d"}) list.Add(s);
    list.SetItemIndex(2); // "c"
    list.Delete(0);       // a line before it goes
    EXPECT_EQ(list.ItemIndex(), 1);
    EXPECT_EQ(list.Items()[list.ItemIndex()], "c");
    list.Delete(2); // a line after it goes
    EXPECT_EQ(list.ItemIndex(), 1);
    list.Items().Insert(0, "z"); // a line before it comes
    EXPECT_EQ(list.Items()[list.ItemIndex()], "c");
    list.Delete(list.ItemIndex()); // its own line goes: no selection
    EXPECT_EQ(list.ItemIndex(), -1);
    EXPECT_EQ(list.Count(), 2);
    list.Delete(7); // out of range: nothing
    EXPECT_EQ(list.Count(), 2);
    list.SetItemIndex(5); // out of range selects none
    EXPECT_EQ(list.ItemIndex(), -1);
    list.SetItemIndex(1);
    list.Clear();
    EXPECT_EQ(list.ItemIndex(), -1);
    EXPECT_EQ(list.Count(), 0);
}

TEST(ListBox, NewestLinesWithBoundedLengthKeepSelectedLine) {
    // What the traffic log does with its list: append, and beyond the limit
    // drop the first line while an older selected line stays selected.
    TComponent owner(nullptr);
    TListBox list(&owner);
    for (int i = 0; i < 5; ++i) list.Add("line " + std::to_string(i));
    list.SetItemIndex(3);
    list.Add("line 5");
    list.Delete(0);
    EXPECT_EQ(list.Items()[list.ItemIndex()], "line 3");
    list.SetItemIndex(0);
    list.Delete(0);
    EXPECT_EQ(list.ItemIndex(), -1);
}

TEST(ComboAndRadio, ItemIndexAndTextStayConsistent) {
    TComponent owner(nullptr);
    TComboBox combo(&owner);
    combo.Items().Assign({"COM1", "COM2", "COM3"});
    combo.SetItemIndex(1);
    EXPECT_EQ(combo.Text(), "COM2");
    combo.SetText("COM3");
    EXPECT_EQ(combo.ItemIndex(), 2);
    combo.SetText("free text");
    EXPECT_EQ(combo.ItemIndex(), -1);
    EXPECT_EQ(combo.Text(), "free text");
    combo.SetStyle(TComboBox::csDropDownList);
    combo.SetText("not an item");
    EXPECT_EQ(combo.Text(), "");
    combo.SetItemIndex(0);
    combo.Items().Put(0, "COM9");
    EXPECT_EQ(combo.Text(), "COM9");

    TRadioGroup radio(&owner);
    radio.Items().Assign({"Automaticky", "Ručně", "Zakázáno"});
    int clicks = 0;
    radio.OnClick = [&](TObject*) { ++clicks; };
    radio.SetItemIndex(1);
    radio.SetItemIndex(1);
    radio.SetItemIndex(9); // none
    EXPECT_EQ(radio.ItemIndex(), -1);
    EXPECT_EQ(clicks, 2);
}

TEST(PageControl, PagesAreTabSheetChildrenInOrder) {
    TComponent owner(nullptr);
    TPageControl pages(&owner);
    TTabSheet first(&owner, &pages);
    TLabel stray(&owner, &pages); // not a page
    TTabSheet second(&owner, &pages);
    EXPECT_EQ(pages.PageCount(), 2);
    EXPECT_EQ(pages.Pages(1), &second);
    EXPECT_EQ(pages.Pages(2), nullptr);
    EXPECT_EQ(second.PageIndex(), 1);
    EXPECT_EQ(pages.ActivePage(), &first);
    pages.SetActivePageIndex(1);
    EXPECT_EQ(pages.ActivePage(), &second);
    {
        TTabSheet other(&owner);
        pages.SetActivePage(&other); // not one of its pages
        EXPECT_EQ(pages.ActivePage(), &second);
    }
    second.SetParent(nullptr);
    EXPECT_EQ(pages.ActivePage(), &first);
    EXPECT_EQ(second.PageControl(), nullptr);
}

TEST(Memo, LinesAndText) {
    TComponent owner(nullptr);
    TMemo memo(&owner);
    memo.SetText("one\r\ntwo\nthree");
    EXPECT_EQ(memo.Lines().Count(), 3);
    EXPECT_EQ(memo.Text(), "one\r\ntwo\r\nthree");
    memo.Lines().Add("four");
    EXPECT_EQ(memo.Lines()[3], "four");
}

TEST(StringList, NameValueLines) {
    TStringList list{"0=", "00=9", "Key=Value=x", "plain"};
    EXPECT_EQ(list.Names(2), "Key");
    EXPECT_EQ(list.ValueFromIndex(2), "Value=x");
    EXPECT_EQ(list.Values("KEY"), "Value=x");
    EXPECT_EQ(list.Values("plain"), ""); // no '=': not a name
    EXPECT_EQ(list.IndexOfName("00"), 1);
    list.SetValue("00", "8");
    EXPECT_EQ(list[1], "00=8");
    list.SetValue("00", "");
    EXPECT_EQ(list.IndexOfName("00"), -1);
    list.SetValue("new", "1");
    EXPECT_EQ(list[list.Count() - 1], "new=1");
    EXPECT_THROW(list.Strings(99), std::out_of_range);
}

TEST(Menus, TreeClicksChecksAndOwnership) {
    TComponent owner(nullptr);
    TMainMenu menu(&owner);
    TMenuItem settings(&owner);
    settings.SetCaption("Na&stavení");
    settings.SetTag(200);
    menu.Items().Add(settings);
    int clicked = 0;
    TMenuItem& baud = settings.Add("Baudová rychlost COM", 210);
    TMenuItem& b9600 = baud.Add("9600", 0, [&](TObject* s) {
        ++clicked;
        static_cast<TMenuItem*>(s)->SetChecked(true);
    });
    baud.Add("-");
    EXPECT_EQ(menu.Items().Count(), 1);
    EXPECT_EQ(baud.Count(), 2);
    EXPECT_TRUE(baud.Items(1)->IsLine());
    EXPECT_EQ(baud.Items(2), nullptr);
    EXPECT_EQ(b9600.Parent(), &baud);
    EXPECT_EQ(b9600.MenuIndex(), 0);

    std::vector<std::string> changes;
    menu.Items().OnModelChanged = [&](TMenuItem& m) { changes.push_back(m.Caption()); };
    b9600.Click();
    EXPECT_EQ(clicked, 1);
    EXPECT_TRUE(b9600.Checked());
    EXPECT_EQ(changes, (std::vector<std::string>{"9600"}));
    b9600.SetEnabled(false);
    b9600.Click();
    EXPECT_EQ(clicked, 1);

    EXPECT_THROW(baud.Add(settings), std::logic_error); // a loop
    {
        TMenuItem temporary(&owner);
        settings.Add(temporary);
        EXPECT_EQ(settings.Count(), 2);
    }
    EXPECT_EQ(settings.Count(), 1);
}

TEST(Cp1250, CzechRoundTripAndUnmappable) {
    const std::string utf8 = "Příliš žluťoučký kůň úpěl ďábelské ódy – „Nápověda“ €";
    const std::string cp = Cp1250FromUtf8(utf8);
    EXPECT_EQ(cp.substr(0, 6), "P\xF8\xED"
                               "li\x9A");
    EXPECT_EQ(Utf8FromCp1250(cp), utf8);
    // Every assigned byte survives the trip through UTF-8.
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x81 && b != 0x83 && b != 0x88 && b != 0x90 && b != 0x98)
            all += static_cast<char>(b);
    EXPECT_EQ(Cp1250FromUtf8(Utf8FromCp1250(all)), all);
    EXPECT_EQ(Cp1250FromUtf16(Utf16FromCp1250(all)), all); // the file names on Windows
    EXPECT_EQ(Utf16FromCp1250("\xE8\x81"), u"\u010D\uFFFD");
    EXPECT_EQ(Cp1250FromUtf16(u"\u65E5\U0001F600 \xD800ok"), "?? ?ok");
    EXPECT_EQ(Utf8FromCp1250("\x81"), "\xEF\xBF\xBD");
    EXPECT_EQ(Cp1250FromUtf8("日本 ok"), "?? ok");
    // Malformed UTF-8 (truncated, stray continuation, overlong) never reads
    // past the input and becomes '?'.
    EXPECT_EQ(Cp1250FromUtf8("a\xC5"), "a?");
    EXPECT_EQ(Cp1250FromUtf8("\x80z"), "?z");
    EXPECT_EQ(Cp1250FromUtf8("\xC0\xAF"), "??");
}

TEST(Strings, NumbersAndCase) {
    EXPECT_EQ(StrToIntDef(" 57600 ", 9600), 57600);
    EXPECT_EQ(StrToIntDef("57600x", 9600), 9600);
    EXPECT_EQ(StrToIntDef("", 9600), 9600);
    EXPECT_EQ(StrToIntDef("-$1A", 0), -26);
    EXPECT_EQ(StrToIntDef("-", 3), 3);
    EXPECT_EQ(StrToIntDef("99999999999", 3), 3);
    EXPECT_EQ(IntToHex(255, 4), "00FF");
    EXPECT_EQ(IntToHex(0x12345, 2), "12345");
    EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_TRUE(SameText("TCP/IP_In", "tcp/ip_IN"));
    EXPECT_FALSE(SameText("\xC8", "\xE8")); // only ASCII folds
    EXPECT_FALSE(SameText("ab", "abc"));
    EXPECT_EQ(UpperCase("com2:\xE8"), "COM2:\xE8");
    EXPECT_EQ(Trim("\t x \r\n"), "x");
}

TEST(Strings, NumberedTextsTakeTheirValuesWhereverTheLanguagePutsThem) {
    EXPECT_EQ(FormatText("%2 ist nicht %1.", {"a", "b"}), "b ist nicht a.");
    EXPECT_EQ(FormatText("%1 from %1", {"x%2", "y"}), "x%2 from x%2 y"); // %2 missing: y follows
    EXPECT_EQ(FormatText("", {"/srv/gw", "5"}), "/srv/gw 5");            // no text in the file
    EXPECT_EQ(FormatText("100% %0 %x %3", {"v"}), "100% %0 %x %3 v");
}

} // namespace
} // namespace vantor
