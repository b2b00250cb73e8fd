// The services dialog on a fake manager: what it shows for each state of the
// service, Stop and Start, OK installing or removing only when the box
// changed, the page of a system without a manager, translation by Tag, and
// the menu command that opens it.
#include "service/ServiceFakes.h"
#include "ui/FSetServ.h"
#include "nls/LanguageTable.h"
#include "toolkit/Desktop.h"
#include "toolkit/VirtualLoop.h"

#include <gtest/gtest.h>

namespace vantor::test {
namespace {

constexpr char Unit[] = "tarvovantor.service";

class FSetServTest : public ::testing::Test {
protected:
    ServiceControl Control(bool windowsNT = true) {
        return ServiceControl(ServiceControlParts{
            &manager, texts,
            [this](std::string_view text, std::string_view caption, unsigned flags) {
                return app.MessageBox(text, caption, flags);
            },
            [](int) {}, "/usr/bin/vantor /service --home /srv/gw", &entries,
            "/usr/bin/vantor /hide", windowsNT});
    }

    VirtualLoop loop;
    ScriptedDesktop desktop;
    TApplication app{loop, desktop};
    FakeServiceManager manager;
    FakeTexts texts;
    FakeStartEntries entries;
};

TEST_F(FSetServTest, ShowsTheServiceAndEnablesStopOrStart) {
    struct Case {
        const char* active; // "" : not installed
        const char* fileState;
        bool checked, stop, start;
        int radio;
    } cases[] = {
        {"", "", false, false, false, 0},
        {"active", "enabled", true, true, false, 0},
        {"inactive", "disabled", true, false, true, 1},
        {"activating", "static", true, true, false, -1},
    };
    for (const Case& c : cases) {
        manager = FakeServiceManager();
        if (*c.active) manager.AddVendorUnit(Unit, c.active);
        if (*c.fileState) manager.Unit(Unit).unitFileState = c.fileState;
        ServiceControl control = Control();
        TFSetServ dialog(app, nullptr, control, nullptr);
        EXPECT_EQ(dialog.PageControl1->ActivePage(), dialog.TabSheet2);
        EXPECT_FALSE(dialog.TabSheet1->TabVisible());
        EXPECT_TRUE(dialog.TabSheet2->TabVisible());
        EXPECT_EQ(dialog.CheckBox2->Checked(), c.checked) << c.active;
        EXPECT_EQ(dialog.StopButton->Enabled(), c.stop) << c.active;
        EXPECT_EQ(dialog.StartButton->Enabled(), c.start) << c.active;
        EXPECT_FALSE(dialog.StartButton->Visible());
        EXPECT_EQ(dialog.RadioGroup1->ItemIndex(), c.radio) << c.fileState;
    }
}

TEST_F(FSetServTest, StopAndStartFollowTheResult) {
    manager.AddVendorUnit(Unit, "active");
    ServiceControl control = Control();
    TFSetServ dialog(app, nullptr, control, nullptr);
    dialog.StopButton->Click();
    EXPECT_FALSE(dialog.StopButton->Enabled());
    EXPECT_TRUE(dialog.StartButton->Enabled());
    dialog.StartButtonClick(); // the button itself is never visible
    EXPECT_TRUE(dialog.StopButton->Enabled());
    EXPECT_FALSE(dialog.StartButton->Enabled());
    EXPECT_EQ(manager.Unit(Unit).activeState, "active");

    manager.Refuse("Start", ServiceError{EIO, "Job failed", false, false});
    dialog.StopButton->Click();
    dialog.StartButtonClick();
    EXPECT_TRUE(dialog.StartButton->Enabled());
    EXPECT_FALSE(dialog.StopButton->Enabled());
    EXPECT_TRUE(desktop.messageBoxes.empty());
}

TEST_F(FSetServTest, OkInstallsOrRemovesOnlyWhenTheBoxChanged) {
    // Checked with "Manual": installed for manual start.
    {
        ServiceControl control = Control();
        TFSetServ dialog(app, nullptr, control, nullptr);
        dialog.CheckBox2->Click();
        dialog.RadioGroup1->SetItemIndex(TFSetServ::StartManual);
        dialog.OKButton->Click();
        EXPECT_EQ(dialog.ModalResult(), mrOk);
        EXPECT_EQ(manager.files.count(Unit), 1u);
        EXPECT_EQ(manager.Unit(Unit).unitFileState, "disabled");
    }
    // Installed and left checked, start type changed: nothing happens.
    manager.calls.clear();
    {
        ServiceControl control = Control();
        TFSetServ dialog(app, nullptr, control, nullptr);
        dialog.RadioGroup1->SetItemIndex(TFSetServ::StartAutomatic);
        dialog.OKButton->Click();
        EXPECT_TRUE(manager.Changes().empty());
    }
    // Unchecked on a running service: stopped and removed.
    manager.Unit(Unit).activeState = "active";
    {
        ServiceControl control = Control();
        TFSetServ dialog(app, nullptr, control, nullptr);
        dialog.CheckBox2->Click();
        dialog.CancelButton->Click();
        EXPECT_TRUE(manager.Changes().empty());
        dialog.OKButton->Click();
        EXPECT_EQ(manager.Unit(Unit).activeState, "inactive");
        EXPECT_TRUE(manager.files.empty());
    }
}

TEST_F(FSetServTest, WithoutAServiceManagerTheStartEntryPageIsUsed) {
    entries.values["TarvoVantor"] = "/usr/bin/vantor /hide";
    ServiceControl control = Control(false);
    TFSetServ dialog(app, nullptr, control, nullptr);
    EXPECT_EQ(dialog.PageControl1->ActivePage(), dialog.TabSheet1);
    EXPECT_TRUE(dialog.TabSheet1->TabVisible());
    EXPECT_FALSE(dialog.TabSheet2->TabVisible());
    EXPECT_TRUE(dialog.CheckBox1->Checked());
    dialog.CheckBox1->Click();
    dialog.OKButton->Click();
    EXPECT_TRUE(entries.values.empty());
    EXPECT_TRUE(manager.calls.empty());
}

TEST_F(FSetServTest, MenuCommandRunsTheDialogCentredAndShowsRefusals) {
    TLanguageTable language({VANTOR_BUILD_DIR});
    language.SetLanguage("Eng");
    language.LoadTexts();
    language.Close();
    manager.Refuse("WriteUnitFile", FakeServiceManager::AccessDenied());
    std::string caption, box, page, check;
    desktop.OnModal("TFSetServ", [&](TForm& form) {
        auto& dialog = static_cast<TFSetServ&>(form);
        caption = dialog.Caption();
        page = dialog.TabSheet2->Caption();
        check = dialog.CheckBox2->Caption();
        EXPECT_EQ(dialog.Left(), 11);
        EXPECT_EQ(dialog.Top(), 22);
        dialog.CheckBox2->Click();
        dialog.OKButton->Click();
        return mrNone;
    });
    const int result =
        RunServicesDialog({app, &manager, language, "/usr/bin/vantor /service",
                           [&language](TForm& form) { language.TranslateForm(form, true); },
                           [](TForm& form) {
                               form.SetLeft(11);
                               form.SetTop(22);
                           }});
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(desktop.modalForms, (std::vector<std::string>{"TFSetServ"}));
    EXPECT_EQ(caption, "Services");
    EXPECT_EQ(page, "systemd");
    EXPECT_EQ(check, "Run as a service");
    ASSERT_EQ(desktop.messageBoxes.size(), 1u);
    EXPECT_EQ(desktop.messageBoxes[0].text, language.Msg(200));
    EXPECT_EQ(desktop.messageBoxes[0].caption, language.Msg(137));
}

} // namespace
} // namespace vantor::test
