#include "ui/FSetUct.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "core/Settings.h"

#include "Recorders.h"
#include "TempFolder.h"
#include "toolkit/Cp1250.h"
#include "toolkit/TextSource.h"
#include "toolkit/VirtualLoop.h"

namespace vantor {
namespace {

using namespace vantor::test;

namespace fs = std::filesystem;

class FSetUctTest : public ::testing::Test {
protected:
    FSetUctTest() {
        dir = fs::temp_directory_path() /
              ("fsetuct-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        programDir = dir.string();
    }
    ~FSetUctTest() override { fs::remove_all(dir); }

    AccountingDialogParts Parts() {
        auto translate = [this](TForm& f) { translated.push_back(f.ClassName()); };
        return {app, &owner, programDir, texts, settings, translate};
    }
    // Plays the user: `play` changes the dialog, then OK is pressed, and if
    // the dialog refused it, Cancel.
    void PlayOk(std::function<void(TFSetUct&)> play) {
        desktop.OnModal("TFSetUct", [play](TForm& form) {
            auto& dialog = dynamic_cast<TFSetUct&>(form);
            if (play) play(dialog);
            dialog.BitBtnOK.Click();
            if (dialog.ModalResult() == mrNone) dialog.BitBtnCancel.Click();
            return mrNone;
        });
    }

    fs::path dir;
    std::string programDir;
    VirtualLoop loop;
    ScriptedDesktop desktop;
    TApplication app{loop, desktop};
    TComponent owner{nullptr};
    NumberTexts texts;
    Settings settings;
    std::vector<std::string> translated;
};

TEST_F(FSetUctTest, CaptionsTagsAndFilling) {
    std::uint8_t readUct = 0, sendUct = 1;
    std::string file = "UCT.TXT";
    TFSetUct dialog(app, &owner, programDir, texts, readUct, sendUct, file);
    EXPECT_EQ(dialog.ClassName(), "TFSetUct");
    EXPECT_EQ(dialog.Tag(), 5100);
    EXPECT_EQ(dialog.Caption(), Cp1250FromUtf8("Nastavení účtování"));
    EXPECT_EQ(dialog.Position(), poMainFormCenter);
    const std::pair<TControl*, std::pair<int, std::string>> expected[] = {
        {&dialog.CheckBoxUR, {5101, "Stahovat účtovací data"}},
        {&dialog.Label1, {5102, "Účtovací soubor:"}},
        {&dialog.ButtonSearch, {5103, "Vyhledat"}},
        {&dialog.CheckBoxIP, {5104, "Předávat účtovací data na IP"}},
        {&dialog.BitBtnOK, {102, "OK"}},
        {&dialog.BitBtnCancel, {100, "Zrušit"}},
    };
    for (auto& [control, tagCaption] : expected) {
        EXPECT_EQ(control->Tag(), tagCaption.first);
        EXPECT_EQ(control->Caption(), Cp1250FromUtf8(tagCaption.second));
        EXPECT_EQ(control->Parent(), &dialog) << "translated as a direct child";
    }
    EXPECT_FALSE(dialog.CheckBoxUR.Checked());
    EXPECT_TRUE(dialog.CheckBoxIP.Checked());
    EXPECT_EQ(dialog.EditUR.Text(), "UCT.TXT");
    EXPECT_FALSE(dialog.EditUR.Enabled()) << "the file matters only while downloading";
    dialog.CheckBoxUR.Click();
    EXPECT_TRUE(dialog.EditUR.Enabled());
    dialog.CheckBoxUR.Click();
    EXPECT_FALSE(dialog.EditUR.Enabled());
}

TEST_F(FSetUctTest, OkWithAnExistingFileStoresAndWritesTheSettings) {
    std::ofstream(dir / "DATA.NEW") << "old\r\n";
    settings.ReadUct = 0;
    PlayOk([](TFSetUct& d) {
        d.CheckBoxUR.SetChecked(true);
        d.CheckBoxIP.SetChecked(true);
    });
    EXPECT_EQ(EditAccountingSettings(Parts()), mrOk);
    EXPECT_EQ(translated, std::vector<std::string>{"TFSetUct"});
    EXPECT_EQ(settings.ReadUct, 1);
    EXPECT_EQ(settings.SendUct, 1);
    EXPECT_EQ(settings.UctFile, "DATA.NEW");
    std::ifstream in(dir / "DATA.NEW");
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, "old\r\n") << "an existing file is left alone";
}

TEST_F(FSetUctTest, ReadUctOffAndANewFileAreStored) {
    PlayOk([](TFSetUct& d) {
        d.CheckBoxUR.SetChecked(false);
        d.EditUR.SetText("NEW.TXT");
    });
    EXPECT_EQ(EditAccountingSettings(Parts()), mrOk);
    EXPECT_EQ(settings.ReadUct, 0);
    EXPECT_EQ(settings.UctFile, "NEW.TXT");
    EXPECT_FALSE(fs::exists(dir / "NEW.TXT")) << "the probe file is removed again";
}

TEST_F(FSetUctTest, UncreatableFileIsRefusedAndNothingChanges) {
    fs::create_directories(dir / "adir");
    const std::string refused[] = {"nodir/sub/X.TXT", "adir", "", std::string(101, 'a')};
    for (const std::string& name : refused) {
        desktop.messageBoxes.clear();
        PlayOk([&](TFSetUct& d) {
            d.CheckBoxIP.SetChecked(true);
            d.EditUR.SetText(name);
        });
        EXPECT_EQ(EditAccountingSettings(Parts()), mrCancel) << name;
        ASSERT_EQ(desktop.messageBoxes.size(), 1u) << name;
        EXPECT_EQ(desktop.messageBoxes[0].text, "[146]");
        EXPECT_EQ(desktop.messageBoxes[0].caption, "[137]");
        EXPECT_EQ(desktop.messageBoxes[0].flags & MB_ICONMASK, MB_ICONSTOP);
        EXPECT_EQ(settings.SendUct, 0);
        EXPECT_EQ(settings.UctFile, "DATA.NEW");
    }
}

TEST_F(FSetUctTest, SearchKeepsOnlyTheNameInsideTheProgramDirectory) {
    std::uint8_t readUct = 1, sendUct = 0;
    std::string file = "DATA.NEW";
    TFSetUct dialog(app, &owner, programDir, texts, readUct, sendUct, file);

    desktop.QueueSaveFileAnswer((dir / "CALLS.TXT").string());
    dialog.ButtonSearch.Click();
    ASSERT_EQ(desktop.saveDialogs.size(), 1u);
    EXPECT_EQ(desktop.saveDialogs[0].initialDir, programDir);
    EXPECT_EQ(desktop.saveDialogs[0].fileName, "DATA.NEW");
    EXPECT_EQ(dialog.EditUR.Text(), "CALLS.TXT");

    const std::string elsewhere = (dir / "sub" / "CALLS.TXT").string();
    desktop.QueueSaveFileAnswer(elsewhere);
    dialog.ButtonSearch.Click();
    EXPECT_EQ(dialog.EditUR.Text(), elsewhere);
    EXPECT_EQ(desktop.saveDialogs[1].fileName, "CALLS.TXT") << "the edit's text is proposed";

    desktop.QueueSaveFileAnswer(std::nullopt); // the user cancelled the chooser
    dialog.ButtonSearch.Click();
    EXPECT_EQ(dialog.EditUR.Text(), elsewhere);
    EXPECT_EQ(file, "DATA.NEW") << "nothing is stored before OK";
}

TEST_F(FSetUctTest, RelativeNamesLieInTheProgramDirectory) {
    std::uint8_t readUct = 1, sendUct = 0;
    std::string file;
    TFSetUct dialog(app, &owner, programDir, texts, readUct, sendUct, file);
    EXPECT_EQ(dialog.ResolvePath("DATA.NEW"), (dir / "DATA.NEW").string());
    EXPECT_EQ(dialog.ResolvePath("/var/log/uct"), "/var/log/uct");
    EXPECT_EQ(dialog.ResolvePath("C:\\UCT\\DATA.NEW"), "C:\\UCT\\DATA.NEW");
}

} // namespace
} // namespace vantor
