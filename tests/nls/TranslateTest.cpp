// Translation of forms and menus by Tag: which controls are visited, which
// classes change, and what happens without a file.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/TempFolder.h"
#include "nls/LanguageTable.h"
#include "toolkit/Controls.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"
#include "toolkit/VirtualLoop.h"

namespace vantor {
namespace {

using test::TempFolder;

// A label of the program's own: same behaviour, another class name.
class TFancyLabel : public TLabel {
public:
    using TLabel::TLabel;
    std::string ClassName() const override { return "TFancyLabel"; }
};

class Translate : public ::testing::Test {
protected:
    template <class T>
    T& Make(TControl& parent, int tag, std::string caption) {
        T& c = form.Create<T>(&parent);
        c.SetTag(tag);
        c.SetCaption(std::move(caption));
        return c;
    }
    void UseFile(std::string_view content, std::string code = "Eng") {
        dir.Write("TVantor." + code, content);
        table.SetLanguage(code);
        table.Close();
    }

    TempFolder dir;
    TLanguageTable table{{dir.Path()}};
    VirtualLoop loop;
    std::ostringstream out;
    HeadlessDesktop desktop{out};
    TApplication app{loop, desktop};
    TForm form{app, nullptr};
};

TEST_F(Translate, OnlyTheFiveClassesChangeTheirCaptionsExactly) {
    UseFile("[Common]\n1=Label\n2=Button\n3=BitBtn\n4=Group\n5=Check\n6=Edit\n7=Combo\n8=Radio\n"
            "9=Memo\n10=Fancy\n11=Panel\n");
    auto& label = Make<TLabel>(form, 1, "l");
    auto& button = Make<TButton>(form, 2, "b");
    auto& bitbtn = Make<TBitBtn>(form, 3, "bb");
    auto& group = Make<TGroupBox>(form, 4, "g");
    auto& check = Make<TCheckBox>(form, 5, "c");
    auto& edit = Make<TEdit>(form, 6, "e");
    auto& combo = Make<TComboBox>(form, 7, "co");
    auto& radio = Make<TRadioGroup>(form, 8, "r");
    auto& memo = Make<TMemo>(form, 9, "m");
    auto& fancy = Make<TFancyLabel>(form, 10, "f");
    auto& panel = Make<TPanel>(form, 11, "p");

    table.TranslateForm(form, true);
    EXPECT_FALSE(table.IsOpen());
    EXPECT_EQ(label.Caption(), "Label");
    EXPECT_EQ(button.Caption(), "Button");
    EXPECT_EQ(bitbtn.Caption(), "BitBtn");
    EXPECT_EQ(group.Caption(), "Group");
    EXPECT_EQ(check.Caption(), "Check");
    EXPECT_EQ(edit.Caption(), "e");
    EXPECT_EQ(combo.Caption(), "co");
    EXPECT_EQ(radio.Caption(), "r");
    EXPECT_EQ(memo.Caption(), "m");
    EXPECT_EQ(fancy.Caption(), "f") << "a derived class is not one of the five";
    EXPECT_EQ(panel.Caption(), "p") << "a panel is visited, not translated";
}

TEST_F(Translate, VisitsPanelsGroupBoxesAndPagesOneLevelDeep) {
    UseFile("[Common]\n50=Window\n"
            "10=in panel\n11=in panel, nested\n12=group in panel\n13=in group in panel\n"
            "20=group\n21=in group\n22=group in group\n23=in group in group\n"
            "30=first page\n31=second page\n32=on page\n33=in panel on page\n");
    form.SetTag(50);
    form.SetCaption("design");

    auto& panel = Make<TPanel>(form, 0, "");
    auto& inPanel = Make<TLabel>(panel, 10, "a");
    auto& innerPanel = Make<TPanel>(panel, 0, "");
    auto& nestedInPanel = Make<TLabel>(innerPanel, 11, "b");
    auto& groupInPanel = Make<TGroupBox>(panel, 12, "c");
    auto& inGroupInPanel = Make<TCheckBox>(groupInPanel, 13, "d");

    auto& group = Make<TGroupBox>(form, 20, "e");
    auto& inGroup = Make<TCheckBox>(group, 21, "f");
    auto& groupInGroup = Make<TGroupBox>(group, 22, "g");
    auto& inGroupInGroup = Make<TLabel>(groupInGroup, 23, "h");

    auto& pages = Make<TPageControl>(form, 30, "pc");
    auto& page0 = Make<TTabSheet>(pages, 0, "p0");
    auto& page1 = Make<TTabSheet>(pages, 0, "p1");
    auto& onPage = Make<TButton>(page1, 32, "i");
    auto& panelOnPage = Make<TPanel>(page1, 0, "");
    auto& inPanelOnPage = Make<TButton>(panelOnPage, 33, "j");

    table.TranslateForm(form, true);
    EXPECT_EQ(form.Caption(), "Window");
    EXPECT_EQ(inPanel.Caption(), "in panel");
    EXPECT_EQ(nestedInPanel.Caption(), "b");
    EXPECT_EQ(groupInPanel.Caption(), "group in panel");
    EXPECT_EQ(inGroupInPanel.Caption(), "d");
    EXPECT_EQ(group.Caption(), "group");
    EXPECT_EQ(inGroup.Caption(), "in group");
    EXPECT_EQ(groupInGroup.Caption(), "group in group");
    EXPECT_EQ(inGroupInGroup.Caption(), "h");
    EXPECT_EQ(pages.Caption(), "pc");
    EXPECT_EQ(page0.Caption(), "first page") << "page j takes the page control's Tag + j";
    EXPECT_EQ(page1.Caption(), "second page");
    EXPECT_EQ(onPage.Caption(), "on page");
    EXPECT_EQ(inPanelOnPage.Caption(), "j");
}

TEST_F(Translate, TagZeroIsSkippedForControlsButUsedForFormsAndPages) {
    // The service dialog: a page control without a Tag, both pages with the
    // same check box caption key.
    UseFile("[Common]\n0=Windows 95/98\n1=Windows NT\n6001=Run as a service\n");
    auto& untagged = Make<TLabel>(form, 0, "keep me");
    auto& pages = Make<TPageControl>(form, 0, "");
    auto& page0 = Make<TTabSheet>(pages, 0, "");
    auto& page1 = Make<TTabSheet>(pages, 0, "");
    page0.SetTabVisible(false);
    auto& check0 = Make<TCheckBox>(page0, 6001, "Spustit jako službu");
    auto& check1 = Make<TCheckBox>(page1, 6001, "Spustit jako službu");

    table.TranslateForm(form, true);
    EXPECT_EQ(untagged.Caption(), "keep me");
    EXPECT_EQ(form.Caption(), "Windows 95/98") << "a form's Tag 0 is looked up as key 0";
    EXPECT_EQ(page0.Caption(), "Windows 95/98");
    EXPECT_EQ(page1.Caption(), "Windows NT");
    EXPECT_EQ(check0.Caption(), "Run as a service");
    EXPECT_EQ(check1.Caption(), "Run as a service");
}

TEST_F(Translate, MissingFileOrKeyLeavesCaptions) {
    UseFile("[Common]\n1=Hide\n2=Cancel\n", "Eng");
    form.SetTag(1001);
    form.SetCaption("Tarvo Vantor");
    auto& hide = Make<TButton>(form, 1, "Skrýt");
    auto& cancel = Make<TButton>(form, 2, "Zrušit");
    table.TranslateForm(form, true);
    EXPECT_EQ(form.Caption(), "Tarvo Vantor");
    EXPECT_EQ(hide.Caption(), "Hide");

    // The German file lacks key 2 and the Czech one does not exist: captions
    // once translated are the defaults of the next translation.
    dir.Write("TVantor.De", "[Common]\n1=Ausblenden\n");
    table.SetLanguage("De");
    table.TranslateForm(form, false);
    table.Close();
    EXPECT_EQ(hide.Caption(), "Ausblenden");
    EXPECT_EQ(cancel.Caption(), "Cancel");

    table.SetLanguage("Cz");
    table.TranslateForm(form, false);
    table.Close();
    EXPECT_EQ(hide.Caption(), "Ausblenden");
    EXPECT_EQ(cancel.Caption(), "Cancel");
}

TEST_F(Translate, FormUsesTheOpenFileUnlessItOpensItsOwn) {
    UseFile("[Common]\n1=first\n");
    auto& label = Make<TLabel>(form, 1, "");
    table.Open();
    dir.Write("TVantor.Eng", "[Common]\n1=second\n");

    table.TranslateForm(form, false);
    EXPECT_EQ(label.Caption(), "first") << "the file read by Open() is the one used";
    EXPECT_TRUE(table.IsOpen()) << "the caller's open file stays open";

    table.TranslateForm(form, true);
    EXPECT_EQ(label.Caption(), "second");
    EXPECT_FALSE(table.IsOpen());
}

TEST_F(Translate, MenusAreTranslatedRecursivelyByTag) {
    UseFile("[Menu]\n100=&Vantor\n101=&Hide\n200=&Settings\n206=Language\n201=Mail&602\n"
            "210=COM baud rate\n211=Save to file\n0=zero\n5=line\n");
    TMainMenu menu(&form);
    TMenuItem& vantor = menu.Items().Add("&Vantor", 100);
    TMenuItem& hide = vantor.Add("&Skrýt", 101);
    TMenuItem& separator = vantor.Add("-", 5);
    TMenuItem& settings = menu.Items().Add("Na&stavení", 200);
    TMenuItem& mail = settings.Add("Mail&602", 201);
    TMenuItem& language = settings.Add("Volba jazyka", 206);
    TMenuItem& cz = language.Add("Cz", 0);
    TMenuItem& baud = settings.Add("Baudová rychlost COM", 210);
    TMenuItem& rate = baud.Add("57600", 0);
    TMenuItem& save = baud.Add("Uložit do souboru", 211);
    TMenuItem& untranslated = menu.Items().Add("&Nápověda", 300);

    table.TranslateMenu(menu.Items());
    EXPECT_EQ(vantor.Caption(), "&Vantor");
    EXPECT_EQ(hide.Caption(), "&Hide");
    EXPECT_EQ(separator.Caption(), "-");
    EXPECT_EQ(settings.Caption(), "&Settings");
    EXPECT_EQ(mail.Caption(), "Mail&602");
    EXPECT_EQ(language.Caption(), "Language");
    EXPECT_EQ(cz.Caption(), "Cz") << "items with Tag 0 keep their captions";
    EXPECT_EQ(baud.Caption(), "COM baud rate");
    EXPECT_EQ(rate.Caption(), "57600");
    EXPECT_EQ(save.Caption(), "Save to file") << "a sub-menu's items are translated too";
    EXPECT_EQ(untranslated.Caption(), "&Nápověda");
    EXPECT_FALSE(table.IsOpen());
}

TEST_F(Translate, LoadingALanguageCoversWindowBothMenusAndTexts) {
    UseFile(
        "[Common]\n101=Hide\n[Menu]\n102=E&xit\n400=&Show\n401=E&xit\n[Texty]\n116=Link lost\n");
    auto& button = Make<TButton>(form, 101, "Skrýt");
    TMainMenu mainMenu(&form);
    TMenuItem& vantor = mainMenu.Items().Add("&Vantor", 100);
    TMenuItem& exit = vantor.Add("&Ukončit", 102);
    TPopupMenu tray(&form, desktop);
    TMenuItem& show = tray.Items().Add("&Zobrazit", 400);
    TMenuItem& trayExit = tray.Items().Add("&Ukončit", 401);

    table.LoadLanguage(form, {&mainMenu.Items(), &tray.Items()});
    EXPECT_FALSE(table.IsOpen());
    EXPECT_EQ(button.Caption(), "Hide");
    EXPECT_EQ(vantor.Caption(), "&Vantor");
    EXPECT_EQ(exit.Caption(), "E&xit");
    EXPECT_EQ(show.Caption(), "&Show");
    EXPECT_EQ(trayExit.Caption(), "E&xit");
    EXPECT_EQ(table.Msg(116), "Link lost");
}

} // namespace
} // namespace vantor
