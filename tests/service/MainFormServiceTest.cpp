// The main window's service side: in service mode it stays hidden, makes no
// tray icon, and every start-up failure is also an error event; the menu
// item "Služby" opens the services dialog centred over the window.
#include "core/MainFormFixture.h"
#include "service/ServiceFakes.h"
#include "ui/FSetServ.h"

namespace vantor::test {
namespace {

TEST_F(MainFormTest, AsAServiceHiddenWithoutTrayAndFailuresAreEvents) {
    serverFails = true;
    serialFails = true;
    std::vector<std::pair<int, std::string>> events;
    GatewayEnvironment env = Environment({"/hide", "/service"});
    env.serviceMode = true;
    env.serviceEventLog = [&](const std::string& message, int type) {
        events.emplace_back(type, message);
    };
    env.gatewayFolder = "/srv/gw";
    form = std::make_unique<TMainForm>(app, env);
    loop.advance(1000);

    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->HideToTrayRequested());
    EXPECT_TRUE(desktop.trayCalls.empty());
    ASSERT_GE(logLines.size(), 2u);
    EXPECT_EQ(Labelled()[1], "---- Gateway folder /srv/gw");
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], std::make_pair(4, std::string("Start")));
    const TextSource& texts = GatewayParts(form->Core()).LanguageTable();
    for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(events[i].first, 1);
    // The texts as the log has them, without its label and padding.
    EXPECT_EQ(events[1].second.rfind(texts.Msg(121), 0), 0u) << events[1].second;
    EXPECT_EQ(events[2].second.rfind(texts.Msg(125), 0), 0u) << events[2].second;
    // The mail event says which of the text's causes it was.
    EXPECT_EQ(events[3].second, texts.Msg(127) + ": the library vantorq9.dll cannot be loaded");

    // The health the service shows: what failed at the start, and the link
    // counted lost since then.
    const GatewayHealth health = form->Core().Health();
    EXPECT_FALSE(health.serialPort.empty());
    EXPECT_EQ(health.serialDevice, "COM2");
    EXPECT_EQ(health.linkLostSince, 45000.5); // the start
    EXPECT_FALSE(health.listeningPort.empty());
    EXPECT_TRUE(health.accountingFile.empty());
}

// A configuration that is there but cannot be used stops a service's start
// (a desktop start goes on with the defaults and an "!Err" line).
TEST_F(MainFormTest, AsAServiceAnUnusableConfigurationStopsTheStart) {
    std::filesystem::create_directory(IniPath());
    GatewayEnvironment env = Environment({"/service"});
    env.serviceMode = true;
    try {
        form = std::make_unique<TMainForm>(app, env);
        ADD_FAILURE() << "the service started on the defaults";
    } catch (const EIniFileError& e) {
        EXPECT_EQ(std::string(e.what()), IniPath() + " is not a regular file");
    }
    EXPECT_TRUE(openedDevices.empty());
    EXPECT_FALSE(LoggedPrefix("-OK-")); // nor the TCP port
    Start();
    EXPECT_TRUE(LoggedPrefix("!Err " + IniPath() + " is not a regular file; the default"));
}

TEST_F(MainFormTest, ServicesMenuOpensTheDialogCentredOverTheWindow) {
    auto manager = std::make_shared<FakeServiceManager>();
    manager->AddVendorUnit("tarvovantor.service", "active");
    GatewayEnvironment env = Environment();
    env.serviceManager = manager;
    form = std::make_unique<TMainForm>(app, env);
    bool stopEnabled = false;
    int left = 0, top = 0, expectedLeft = -1, expectedTop = -1;
    desktop.OnModal("TFSetServ", [&](TForm& f) {
        auto& dialog = static_cast<TFSetServ&>(f);
        stopEnabled = dialog.StopButton->Enabled();
        left = dialog.Left();
        top = dialog.Top();
        expectedLeft = form->Left() + (form->ClientWidth() - dialog.Width()) / 2;
        expectedTop = form->Top() + (form->ClientHeight() - dialog.Height()) / 2;
        return mrCancel;
    });
    form->StartItem->Click();
    EXPECT_EQ(desktop.modalForms, (std::vector<std::string>{"TFSetServ"}));
    EXPECT_TRUE(stopEnabled);
    EXPECT_EQ(left, expectedLeft);
    EXPECT_EQ(top, expectedTop);
    EXPECT_TRUE(manager->Changes().empty());
}

// On Windows the dialog works on the service control manager handed in.
TEST_F(MainFormTest, ServicesMenuUsesTheServiceControlManagerWhenOneIsHandedIn) {
    auto scm = std::make_shared<FakeServiceControlManager>();
    GatewayEnvironment env = Environment();
    env.serviceControlManager = scm;
    form = std::make_unique<TMainForm>(app, env);
    bool installed = false, stopEnabled = false;
    desktop.OnModal("TFSetServ", [&](TForm& f) {
        auto& dialog = static_cast<TFSetServ&>(f);
        installed = dialog.Installed();
        stopEnabled = dialog.StopButton->Enabled();
        return mrCancel;
    });
    form->StartItem->Click();
    EXPECT_TRUE(installed);
    EXPECT_TRUE(stopEnabled);
    ASSERT_GE(scm->calls.size(), 2u);
    EXPECT_EQ(scm->calls[1], "Open TarvoVantor");
}

} // namespace
} // namespace vantor::test
