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
    const TextSource& texts = form->Core().LanguageTable();
    for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(events[i].first, 1);
    EXPECT_NE(events[1].second.find(texts.Msg(121)), std::string::npos);
    EXPECT_NE(events[2].second.find(texts.Msg(125)), std::string::npos);
    EXPECT_EQ(events[3].second, texts.Msg(127));
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

} // namespace
} // namespace vantor::test
