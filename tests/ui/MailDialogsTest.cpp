// The mail settings, local-trap settings and directory chooser dialogs on the
// scripted desktop: their controls, what they show, what OK and Cancel keep.
#include "ui/FSetDir.h"
#include "ui/FSetM602.h"
#include "ui/FSetTrap.h"

#include "support/FakeDirectories.h"
#include "support/Recorders.h"
#include "toolkit/VirtualLoop.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

struct Row {
    TControl* control;
    int tag;
    std::string caption; // UTF-8
    TControl* parent;
};

void ExpectRows(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        EXPECT_EQ(r.control->Tag(), r.tag) << r.caption;
        EXPECT_EQ(r.control->Caption(), Cp1250FromUtf8(r.caption)) << r.tag;
        EXPECT_EQ(r.control->Parent(), r.parent) << r.caption;
    }
}

// Language texts "T<n>" (or none at all), with every fetch and every
// translation written into one event list, in order.
struct Language : TextSource {
    std::vector<std::string>& events;
    bool present = true;
    explicit Language(std::vector<std::string>& e) : events(e) {}
    std::string Msg(int) const override { return {}; }
    std::string Text(int number) override {
        events.push_back("Text " + std::to_string(number));
        return present ? "T" + std::to_string(number) : std::string();
    }
};

// The tree in memory is made of Linux paths; Windows splits paths by drive
// and backslash.  Drive paths come with the Win32 view.
#ifdef _WIN32
#define SKIP_ON_WINDOWS() GTEST_SKIP() << "directory tree of Linux paths"
#else
#define SKIP_ON_WINDOWS() (void)0
#endif

class MailDialogsTest : public ::testing::Test {
protected:
    MailDialogsTest() {
        for (const char* d : {"/home/u/a", "/home/u/b", "/srv/q9"}) fs.Add(d);
    }
    FormTranslator Translator() {
        return [this](TForm& form) { events.push_back("translate " + form.ClassName()); };
    }
    // Plays the user in the directory chooser: selects the entry with this
    // path and confirms, or cancels when the path is empty.
    void ChooseDirectory(const std::string& path) {
        desktop.OnModal("TFSetDir", [this, path](TForm& form) {
            auto& chooser = static_cast<TFSetDir&>(form);
            chooserOpenedOn.push_back(chooser.DirectoryListBox1->Directory());
            if (path.empty()) return mrCancel;
            chooser.DirectoryListBox1->SetDirectory(path);
            return mrOk;
        });
    }

    VirtualLoop loop;
    ScriptedDesktop desktop;
    TApplication app{loop, desktop};
    test::FakeDirectories fs;
    test::NumberTexts texts;
    std::vector<std::string> events;
    std::vector<std::string> chooserOpenedOn;
};

// ------------------------------------------------------------ TFSetDir

TEST_F(MailDialogsTest, ChooserOpensNearTheTextAndStoresTheSelectedEntryOnOkOnly) {
    SKIP_ON_WINDOWS();
    std::string text = "/home/u/not-there";
    {
        TFSetDir chooser(app, nullptr, text, fs, texts, Translator());
        EXPECT_EQ(chooser.Tag(), 3000);
        EXPECT_EQ(chooser.Caption(), Cp1250FromUtf8("Výběr adresáře"));
        ExpectRows({{chooser.ButtonOK, 102, "OK", &chooser},
                    {chooser.ButtonCancel, 100, "Zrušit", &chooser}});
        EXPECT_GT(chooser.DriveComboBox1->Top(), chooser.DirectoryListBox1->Top())
            << "the drive list lies below the directory list";
        EXPECT_EQ(chooser.DirectoryListBox1->Directory(), "/home/u");
        EXPECT_EQ(chooser.LabelPath->Caption(), "/home/u");
        EXPECT_EQ(events, std::vector<std::string>{"translate TFSetDir"});

        desktop.OnModal("TFSetDir", [&](TForm&) {
            chooser.DirectoryListBox1->SetItemIndex(4); // "b", selected, not opened
            return mrCancel;
        });
        chooser.ShowModal();
        EXPECT_EQ(text, "/home/u/not-there") << "Zrušit leaves the text";
        desktop.OnModal("TFSetDir", [&](TForm&) { return mrOk; });
        chooser.ShowModal();
        EXPECT_EQ(text, "/home/u/b");
    }
    TFSetDir closed(app, nullptr, text, fs, texts, Translator());
    desktop.OnModal("TFSetDir", [](TForm&) { return mrNone; }); // closed without a button
    EXPECT_EQ(closed.ShowModal(), mrCancel);
    EXPECT_EQ(text, "/home/u/b");
}

TEST_F(MailDialogsTest, ChooserTakesAndGivesWindows1250AndRefusesAPathItCannotHold) {
    SKIP_ON_WINDOWS();
    fs.Add("/home/u/pošta");
    fs.Add("/home/u/почта");
    std::string text = Cp1250FromUtf8("/home/u/pošta");
    TFSetDir chooser(app, nullptr, text, fs, texts, Translator());
    EXPECT_EQ(chooser.DirectoryListBox1->Directory(), "/home/u/pošta");
    desktop.OnModal("TFSetDir", [&](TForm&) {
        chooser.DirectoryListBox1->SetDirectory("/home/u/почта");
        chooser.ButtonOK->Click();
        EXPECT_EQ(chooser.ModalResult(), mrNone) << "the chooser stays open";
        chooser.DirectoryListBox1->SetDirectory("/home/u/pošta");
        chooser.ButtonOK->Click();
        return mrNone;
    });
    EXPECT_EQ(chooser.ShowModal(), mrOk);
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0].text, "[154] /home/u/?????"); // in the user's language
    EXPECT_EQ(text, Cp1250FromUtf8("/home/u/pošta"));
}

// ----------------------------------------------------------- TFSetM602

class MailLoginTest : public MailDialogsTest {
protected:
    std::string configPath = "/srv/q9/q9.ini", workDir = "/srv/q9", user = "gw",
                password = "secret";
    MailLoginSettings Settings() { return {configPath, workDir, user, password}; }
};

TEST_F(MailLoginTest, ControlsLimitsAndTranslationOnActivation) {
    TFSetM602 d(app, nullptr, Settings(), fs, texts, Translator());
    EXPECT_EQ(d.Tag(), 4000);
    EXPECT_EQ(d.Caption(), Cp1250FromUtf8("Nastavení Mail602"));
    EXPECT_EQ(d.HelpContext(), 101);
    EXPECT_EQ(d.BorderIcons(), 0u);
    ExpectRows({{d.Label1, 4001, "Cesta na základní konfigurační soubor:", &d},
                {d.Label2, 4002, "Pracovní adresář", &d},
                {d.GroupBox1, 4003, "Uživatel", &d},
                {d.Label3, 4004, "Jméno:", d.GroupBox1},
                {d.Label4, 4005, "Heslo:", d.GroupBox1},
                {d.ButtonOK, 102, "OK", &d},
                {d.ButtonCancel, 100, "Zrušit", &d}});
    const std::pair<TEdit*, std::string> edits[] = {
        {d.EditConfigPath, configPath}, {d.EditWorkDir, workDir}, {d.EditUser, user}};
    for (const auto& [edit, value] : edits) {
        EXPECT_EQ(edit->MaxLength(), 100);
        EXPECT_EQ(edit->Text(), value) << "filled on creation";
        EXPECT_EQ(edit->PasswordChar(), '\0');
    }
    EXPECT_EQ(d.EditPassword->MaxLength(), 20);
    EXPECT_EQ(d.EditPassword->PasswordChar(), '*');
    EXPECT_EQ(d.EditPassword->Text(), "secret");
    EXPECT_TRUE(events.empty()) << "translated when activated, not when created";
    d.ShowModal();
    EXPECT_EQ(events, std::vector<std::string>{"translate TFSetM602"});
}

TEST_F(MailLoginTest, OkStoresAllFourAndCancelNothing) {
    const std::string password20 = "abcdefghij0123456789";
    desktop.OnModal("TFSetM602", [&](TForm& form) {
        auto& d = static_cast<TFSetM602&>(form);
        d.EditUser->UserInput("operator");
        d.EditPassword->UserInput(password20 + "XYZ"); // typing stops at 20
        d.EditConfigPath->SetText(std::string(120, 'c'));
        d.EditWorkDir->SetText("");
        return mrCancel;
    });
    TFSetM602(app, nullptr, Settings(), fs, texts, Translator()).ShowModal();
    EXPECT_EQ(user, "gw");
    EXPECT_EQ(password, "secret");
    EXPECT_EQ(workDir, "/srv/q9");

    desktop.OnModal("TFSetM602", [&](TForm& form) {
        auto& d = static_cast<TFSetM602&>(form);
        d.EditUser->UserInput("operator");
        d.EditPassword->UserInput(password20);
        d.EditConfigPath->SetText(std::string(120, 'c'));
        d.EditWorkDir->SetText("");
        d.ButtonOK->Click();
        return mrNone;
    });
    TFSetM602(app, nullptr, Settings(), fs, texts, Translator()).ShowModal();
    EXPECT_EQ(user, "operator");
    EXPECT_EQ(password, password20) << "all 20 characters";
    EXPECT_EQ(configPath, std::string(100, 'c')) << "cut to the field";
    EXPECT_EQ(workDir, "") << "empty texts are stored empty";
}

TEST_F(MailLoginTest, BrowseButtonsOpenTheChooserOnTheEditsText) {
    SKIP_ON_WINDOWS();
    TFSetM602 d(app, nullptr, Settings(), fs, texts, Translator());
    ChooseDirectory("/home/u/a");
    d.ButtonWorkDir->Click();
    EXPECT_EQ(d.EditWorkDir->Text(), "/home/u/a");
    ChooseDirectory("");
    d.ButtonWorkDir->Click();
    EXPECT_EQ(d.EditWorkDir->Text(), "/home/u/a") << "a cancelled chooser changes nothing";
    d.EditConfigPath->SetText("/home/u/b/q9.ini"); // a file: its directory opens
    ChooseDirectory("/srv");
    d.ButtonConfigPath->Click();
    EXPECT_EQ(d.EditConfigPath->Text(), "/srv");
    EXPECT_EQ(chooserOpenedOn, (std::vector<std::string>{"/srv/q9", "/home/u/a", "/home/u/b"}));

    const std::string deep = "/" + std::string(60, 'x') + "/" + std::string(60, 'y');
    fs.Add(deep);
    ChooseDirectory(deep);
    d.ButtonWorkDir->Click();
    EXPECT_EQ(d.EditWorkDir->Text(), "/home/u/a") << "a path the field cannot hold is refused";
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0].text, "[155] 100 " + deep);
    EXPECT_EQ(workDir, "/srv/q9") << "nothing is stored before OK";
}

// ----------------------------------------------------------- TFSetTrap

class TrapDialogTest : public MailDialogsTest {
protected:
    std::string address = "dispecink", subject = "Alarm", comOn = "up", comOff = "down";
    char type = 'Q';
    Language language{events};
    TrapSettings Settings() { return {address, type, subject, comOn, comOff}; }
    // Shows the dialog; `play` acts as the user, then OK.
    void PlayOk(std::function<void(TFSetTrap&)> play) {
        desktop.OnModal("TFSetTrap", [play](TForm& form) {
            play(static_cast<TFSetTrap&>(form));
            return mrOk;
        });
        TFSetTrap(app, nullptr, Settings(), language, Translator()).ShowModal();
    }
};

TEST_F(TrapDialogTest, ControlsAndTheTypeListFilledInOneRunBeforeTranslation) {
    TFSetTrap d(app, nullptr, Settings(), language, Translator());
    EXPECT_EQ(d.Tag(), 3200);
    EXPECT_EQ(d.Caption(), Cp1250FromUtf8("Nastavení lokálních TRAPů"));
    EXPECT_EQ(d.Position(), poScreenCenter);
    ExpectRows({{d.GroupBox1, 3201, "Adresát", &d},
                {d.Label1, 4004, "Jméno:", d.GroupBox1},
                {d.Label2, 3202, "Typ adresy:", d.GroupBox1},
                {d.Label3, 3205, "Subject:", d.GroupBox1},
                {d.Label4, 3203, "Chyba komunikace s ústřednou", &d},
                {d.Label5, 3204, "Obnova komunikace s ústřednou", &d},
                {d.ButtonOK, 102, "OK", &d},
                {d.ButtonCancel, 100, "Zrušit", &d}});
    EXPECT_EQ(d.Label4->Font().Color, clRed);
    EXPECT_EQ(d.Label5->Font().Color, clGreen);
    EXPECT_GT(d.Label4->Font().Height, d.Label1->Font().Height) << "larger than the others";
    for (TEdit* e : {d.EditAddress, d.EditSubject, d.EditComOn, d.EditComOff})
        EXPECT_EQ(e->MaxLength(), 100);
    EXPECT_EQ(d.ComboBoxType->Style(), TComboBox::csDropDownList);
    EXPECT_EQ(events, (std::vector<std::string>{"Text 100", "Text 101", "Text 102", "Text 103",
                                                "Text 199", "translate TFSetTrap"}));
    const std::vector<std::string> items{"--------", "T100", "T101", "T102", "T103", "T199"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(d.ComboBoxType->Items()[i], items[i]);

    language.present = false; // no language file: empty labels, nothing else missing
    TFSetTrap bare(app, nullptr, Settings(), language, Translator());
    ASSERT_EQ(bare.ComboBoxType->Count(), 6);
    EXPECT_EQ(bare.ComboBoxType->Items()[0], "--------");
    EXPECT_EQ(bare.ComboBoxType->Items()[5], "");
}

TEST_F(TrapDialogTest, TheStoredLetterIsSelectedAndKeptUnlessAnotherIsChosen) {
    const std::pair<char, int> cases[] = {{'\0', 0}, {'I', 1}, {'Q', 2}, {'V', 3},
                                          {'L', 4},  {'Z', 5}, {'F', -1}};
    for (const auto& [letter, index] : cases) {
        type = letter;
        int shown = -2;
        PlayOk([&](TFSetTrap& d) { shown = d.ComboBoxType->ItemIndex(); });
        EXPECT_EQ(shown, index) << letter;
        EXPECT_EQ(type, letter) << "confirmed without a choice";
    }
    type = 'F';
    PlayOk([](TFSetTrap& d) { d.ComboBoxType->SetItemIndex(0); });
    EXPECT_EQ(type, '\0') << "\"--------\" stores no type";
    PlayOk([](TFSetTrap& d) { d.ComboBoxType->SetItemIndex(5); });
    EXPECT_EQ(type, 'Z');
}

TEST_F(TrapDialogTest, OkStoresTheTextsCutTo100AndCancelChangesNothing) {
    desktop.OnModal("TFSetTrap", [](TForm& form) {
        auto& d = static_cast<TFSetTrap&>(form);
        d.EditSubject->SetText("changed");
        d.ComboBoxType->SetItemIndex(1);
        return mrCancel;
    });
    TFSetTrap(app, nullptr, Settings(), language, Translator()).ShowModal();
    EXPECT_EQ(subject, "Alarm");
    EXPECT_EQ(type, 'Q');

    PlayOk([](TFSetTrap& d) {
        EXPECT_EQ(d.EditAddress->Text(), "dispecink");
        EXPECT_EQ(d.EditComOn->Text(), "up");
        EXPECT_EQ(d.EditComOff->Text(), "down");
        d.EditSubject->UserInput(std::string(60, 's'));
        d.EditComOff->SetText(std::string(150, 'x'));
        d.EditComOn->SetText("");
        d.EditAddress->SetText("novak@example.org");
    });
    EXPECT_EQ(subject, std::string(60, 's'));
    EXPECT_EQ(comOff, std::string(100, 'x'));
    EXPECT_EQ(comOn, "");
    EXPECT_EQ(address, "novak@example.org");
}

} // namespace
} // namespace vantor
