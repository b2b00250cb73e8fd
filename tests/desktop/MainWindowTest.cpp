// The gateway's main window in the view: the log list as the log writer
// leaves it, the information window on a double click, the tray that is not
// there, closing the window.
#include "DesktopFixture.h"

#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QtTest/QTest>

#include <filesystem>
#include <fstream>

#include "core/ExchangeLink.h"
#include "toolkit/Timer.h"
#include "core/MainForm.h"
#include "desktop/QtText.h"
#include "platform/PosixSerialDevice.h"
#include "platform/PosixServerSocket.h"
#include "ui/FInfo.h"

namespace vantor::test {
namespace {

namespace fs = std::filesystem;

class MainWindow : public DesktopFixture {
protected:
    fs::path home = fs::temp_directory_path() / ("vantor-mainwindow-" + std::to_string(::getpid()));
    std::unique_ptr<TMainForm> main;

    MainWindow() { fs::create_directories(home); }
    ~MainWindow() override {
        main.reset();
        fs::remove_all(home);
    }
    void Start(std::vector<std::string> arguments = {"vantor"}) {
        // No exchange on this line: the port fails to open and the tick idles.
        std::ofstream(home / "vantor.INI", std::ios::binary)
            << "[Set]\r\nLang=Eng\r\nPort=/nonexistent/tty:19200,N,8,1\r\nIPPort=0\r\n";
        GatewayEnvironment env;
        env.arguments = std::move(arguments);
        env.programPath = (home / "vantor").string();
        env.languageFolders = {VANTOR_BUILD_DIR};
        env.serialDeviceFactory = OpenPosixSerialDevice;
        env.serverSocketFactory = [this](TComponent* owner) {
            return MakeServerSocket(owner, app.Loop());
        };
        main = std::make_unique<TMainForm>(app, env);
    }
};

TEST_F(MainWindow, TheLogListShowsTheNewest500LinesAndFollowsTheEnd) {
    Start();
    auto* list = WidgetOf<QListView>(*main, *main->ListBox1);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isVisible());
    for (int i = 0; i < 600; ++i) main->Core().Log().WriteLog("TEST", "line " + std::to_string(i));
    Pass(20);
    Sync();
    ASSERT_EQ(list->model()->rowCount(), 500);
    EXPECT_EQ(main->ListBox1->Count(), 500);
    const QModelIndex last = list->model()->index(499, 0);
    EXPECT_TRUE(last.data().toString().endsWith("TEST line 599"));
    EXPECT_EQ(list->currentIndex().row(), 499);
    EXPECT_TRUE(list->viewport()->rect().intersects(list->visualRect(last)));
    // The log list uses a fixed-pitch font of about 15 pixels.
    EXPECT_TRUE(QFontInfo(list->font()).fixedPitch());
    EXPECT_EQ(list->font().pixelSize(), 15);

    // The user picks an older line: it stays selected and in sight while the
    // oldest lines go.
    const QModelIndex older = list->model()->index(100, 0);
    list->scrollTo(older);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(older).center());
    EXPECT_EQ(main->ListBox1->ItemIndex(), 100);
    const QString picked = older.data().toString();
    for (int i = 0; i < 10; ++i) main->Core().Log().WriteLog("TEST", "more " + std::to_string(i));
    Pass(20);
    Sync();
    EXPECT_EQ(main->ListBox1->ItemIndex(), 90);
    EXPECT_EQ(list->currentIndex().row(), 90);
    EXPECT_EQ(list->currentIndex().data().toString(), picked);
    EXPECT_TRUE(list->viewport()->rect().intersects(list->visualRect(list->currentIndex())));

    // A double click opens the information window with the whole line.
    QString shown;
    WhenBlocked([&](QWidget& window) {
        auto& view = static_cast<desktop::FormView&>(window);
        auto& info = static_cast<TFInfo&>(view.Form());
        shown = qobject_cast<QPlainTextEdit*>(view.WidgetOf(*info.Memo1))->toPlainText();
        QTest::mouseClick(qobject_cast<QPushButton*>(view.WidgetOf(*info.Button1)), Qt::LeftButton);
    });
    const QModelIndex row = list->model()->index(90, 0);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row).center());
    EXPECT_EQ(shown, picked);
}

TEST_F(MainWindow, WithoutANotificationAreaTheHiddenStartKeepsTryingTheTray) {
    Start({"vantor", "/hide"});
    Pass(450); // a few ticks of 100 ms
    EXPECT_GE(desktop.TrayAddAttempts(), 3);
    EXPECT_FALSE(desktop.TrayShown());
    EXPECT_TRUE(main->HideToTrayRequested());
    desktop::FormView* view = ViewOf(*main);
    EXPECT_TRUE(view == nullptr || view->isHidden());
    // Shown again, "Skrýt" without a tray keeps the window: hidden it could
    // never be brought back.
    main->Show();
    main->ShowOnTrayClickClick();
    EXPECT_FALSE(ViewOf(*main)->isHidden());
}

// With a notification area (one stands in for it: the offscreen platform has
// none): Enter in the log list hides to the tray, a double click on the icon
// shows the window, a right click opens the tray menu, whose items work.
TEST_F(MainWindow, TheTrayIconShowsTheWindowAndOffersItsMenu) {
    desktop.SetTrayAvailability([] { return true; });
    desktop.SetTrayCallback([this](unsigned message) { main->TrayCallback(message); });
    Start();
    QTest::keyClick(WidgetOf<QListView>(*main, *main->ListBox1), Qt::Key_Return);
    Sync();
    EXPECT_TRUE(ViewOf(*main)->isHidden());
    ASSERT_TRUE(desktop.TrayShown());
    emit desktop.Tray()->activated(QSystemTrayIcon::DoubleClick);
    Sync();
    EXPECT_FALSE(ViewOf(*main)->isHidden());
    main->Hide();
    for (int item : {0, 1}) { // "Zobrazit", then "Ukončit"
        QTimer::singleShot(50, [item] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr) << "no tray menu";
            menu->actions().at(item)->trigger();
            menu->close();
        });
        emit desktop.Tray()->activated(QSystemTrayIcon::Context);
        Sync();
        EXPECT_TRUE(item == 1 ? app.Terminated() : !ViewOf(*main)->isHidden());
    }
}

TEST_F(MainWindow, ClosingTheWindowEndsTheGateway) {
    Start();
    int code = -1;
    loop.post([&] { ViewOf(*main)->close(); });
    code = loop.run();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(app.Terminated());
    EXPECT_FALSE(main->Core().Link().TimerTick().Enabled()); // FormClose ran
}

TEST_F(MainWindow, HelpOpensTheLanguagesPageAtTheContextsAnchor) {
    Start();
    std::vector<std::string> opened;
    desktop.SetUrlOpener([&](const std::string& url) {
        opened.push_back(url);
        return true;
    });
    desktop.SetHelpSources({VANTOR_BUILD_DIR}, [] { return std::string("Cz"); });
    main->FormActivate();
    main->Obsah1Click();
    main->Kontextovnpovda1Click();
    main->Jakpouvatnpovdu1Click();
    app.HelpCommand(HELP_CONTEXT, 103);
    ASSERT_EQ(opened.size(), 4u);
    EXPECT_NE(opened[0].find("/VANTOR.Cz.html"), std::string::npos) << opened[0];
    EXPECT_EQ(opened[0].find('#'), std::string::npos);
    EXPECT_NE(opened[1].find("#index"), std::string::npos);
    EXPECT_NE(opened[2].find("#help-on-help"), std::string::npos);
    EXPECT_NE(opened[3].find("#context-103"), std::string::npos);
    // A language without its own help gets the English one.
    EXPECT_NE(desktop::HelpUrl(HELP_CONTENTS, 0, "VANTOR.HLP", {VANTOR_BUILD_DIR}, "De")
                  .find("/VANTOR.Eng.html"),
              std::string::npos);
    EXPECT_EQ(desktop::HelpUrl(HELP_CONTENTS, 0, "VANTOR.HLP", {"/nonexistent"}, "Cz"), "");
    // Help that is nowhere says so in the user's language, the folders after it.
    desktop.SetHelpSources({"/nonexistent"}, [] { return std::string("Cz"); }, [] {
        return desktop::QtDesktop::HelpTexts{"Nenalezeno %1 (%2):", ""};
    });
    QString shown;
    WhenBlocked([&](QWidget& box) {
        shown = static_cast<QMessageBox&>(box).text();
        box.close();
    });
    main->Obsah1Click();
    EXPECT_EQ(shown, "Nenalezeno VANTOR.HLP (VANTOR.*.html):\n/nonexistent");
    // Both languages have every anchor the commands and the dialogs ask for.
    for (const char* language : {"Cz", "Eng"}) {
        std::ifstream in(fs::path(VANTOR_BUILD_DIR) /
                         ("VANTOR." + std::string(language) + ".html"));
        const std::string page((std::istreambuf_iterator<char>(in)), {});
        for (const char* anchor : {"context-101", "context-102", "context-103", "context-104",
                                   "index", "help-on-help", "contents"})
            EXPECT_NE(page.find("id=\"" + std::string(anchor) + "\""), std::string::npos)
                << language << " " << anchor;
    }
}

} // namespace
} // namespace vantor::test
