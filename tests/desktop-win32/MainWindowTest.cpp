// The gateway's main window in the Win32 view: the log list as the log
// writer leaves it, the information window on a double click, the tray
// icon's clicks and pop-up menu, closing the window, the help.
#include "Win32DesktopFixture.h"

#include <filesystem>
#include <fstream>

#include "GatewayParts.h"
#include "core/ExchangeLink.h"
#include "core/MainForm.h"
#include "platform/win32/Win32SerialDevice.h"
#include "platform/win32/Win32ServerSocket.h"
#include "toolkit/Timer.h"
#include "ui/FInfo.h"

namespace vantor::test {
namespace {

namespace fs = std::filesystem;

class MainWindow : public Win32DesktopFixture {
protected:
    fs::path home = fs::temp_directory_path() /
                    ("vantor-mainwindow-" + std::to_string(::GetCurrentProcessId()));
    std::unique_ptr<TMainForm> main;

    MainWindow() { fs::create_directories(home); }
    ~MainWindow() override {
        main.reset();
        fs::remove_all(home);
    }
    void Start(std::vector<std::string> arguments = {"vantor"}) {
        // No exchange on this port: it fails to open and the tick idles.
        std::ofstream(home / "vantor.INI", std::ios::binary)
            << "[Set]\r\nLang=Eng\r\nPort=COM99:19200,N,8,1\r\nIPPort=0\r\n";
        GatewayEnvironment env;
        env.arguments = std::move(arguments);
        env.programPath = (home / "vantor").string();
        env.languageFolders = {VANTOR_BUILD_DIR};
        env.serialDeviceFactory = OpenWin32SerialDevice;
        env.serverSocketFactory = [this](TComponent* owner) {
            return MakeServerSocket(owner, app.Loop());
        };
        main = std::make_unique<TMainForm>(app, env);
    }
    HWND List() { return HandleOf(*main, *main->ListBox1); }
    // (Neither of these lets the window catch up with the log.)
    bool RowInSight(int row) {
        HWND list = desktop.WindowOf(*main)->HandleOf(*main->ListBox1);
        RECT item, client;
        ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row),
                       reinterpret_cast<LPARAM>(&item));
        ::GetClientRect(list, &client);
        return item.top >= 0 && item.bottom <= client.bottom;
    }
    POINT RowCentre(int row) {
        RECT item;
        ::SendMessageW(desktop.WindowOf(*main)->HandleOf(*main->ListBox1), LB_GETITEMRECT,
                       static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return {item.left + 20, (item.top + item.bottom) / 2};
    }
    void Log(const std::string& text) { GatewayParts(main->Core()).Log().WriteLog("TEST", text); }
};

TEST_F(MainWindow, TheLogListShowsTheNewest500LinesAndFollowsTheEnd) {
    Start();
    HWND list = List();
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(::IsWindowVisible(list));
    EXPECT_TRUE(::GetWindowLongW(list, GWL_STYLE) & LBS_NODATA) << "an owner-data list";
    for (int i = 0; i < 600; ++i) Log("line " + std::to_string(i));
    Sync();
    ASSERT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 500);
    EXPECT_EQ(main->ListBox1->Count(), 500);
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 499);
    EXPECT_TRUE(RowInSight(499));
    EXPECT_EQ(::SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), 17);

    // The user picks an older line: it stays selected and in sight while the
    // oldest lines go, also when lines came after the window last caught up
    // (the row the user sees is then that many lines higher in the log).
    for (int i = 0; i < 5; ++i) Log("early " + std::to_string(i));
    ClickAt(list, RowCentre(490)); // the window shows "line 590" there
    EXPECT_EQ(main->ListBox1->ItemIndex(), 485);
    const std::string picked = main->ListBox1->Items()[485];
    EXPECT_EQ(picked.substr(picked.size() - 8), "line 590");
    for (int i = 0; i < 10; ++i) Log("more " + std::to_string(i));
    Sync();
    EXPECT_EQ(main->ListBox1->ItemIndex(), 475);
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 475);
    EXPECT_TRUE(RowInSight(475));

    // A double click opens the information window with the whole line.
    std::wstring shown;
    WhenBlocked([&](HWND window) {
        auto& info = static_cast<TFInfo&>(desktop.WindowOf(*app.ActiveForm())->Form());
        shown = TextOf(desktop.WindowOf(info)->HandleOf(*info.Memo1));
        Click(desktop.WindowOf(info)->HandleOf(*info.Button1));
    });
    ClickAt(list, RowCentre(475), true);
    EXPECT_EQ(shown, win32::Wide(picked));
}

// The shell's notifications on the icon's window, as Explorer sends them: a
// double click shows the window, a right click opens the tray menu, whose
// items work; a hidden start puts the icon there on a tick.
TEST_F(MainWindow, TheTrayIconShowsTheWindowAndOffersItsMenu) {
    desktop.SetTrayCallback([this](unsigned message) { main->TrayCallback(message); });
    Start({"vantor", "/hide"});
    Pass(350); // a few ticks of 100 ms
    ASSERT_TRUE(desktop.TrayShown());
    EXPECT_FALSE(main->HideToTrayRequested());
    EXPECT_TRUE(WindowOf(*main) == nullptr || !::IsWindowVisible(WindowOf(*main)->Handle()));
    auto mouse = [this](UINT message) {
        ::SendMessageW(desktop.TrayWindow(), 0x8064, 1006, message);
        Sync();
    };
    mouse(WM_LBUTTONDBLCLK);
    EXPECT_TRUE(::IsWindowVisible(WindowOf(*main)->Handle()));
    main->Hide();
    for (int item : {0, 1}) { // "Zobrazit", then "Ukončit"
        bool opened = false;
        loop.post([&opened, item] {
            // Inside the menu's own loop: the keys choose the item.
            HWND menu = ::FindWindowW(L"#32768", nullptr);
            opened = menu != nullptr;
            for (int i = 0; i <= item; ++i) PostKey(menu, VK_DOWN);
            PostKey(menu, VK_RETURN);
        });
        mouse(WM_RBUTTONUP);
        EXPECT_TRUE(opened) << "no tray menu";
        EXPECT_TRUE(item == 1 ? app.Terminated() : ::IsWindowVisible(WindowOf(*main)->Handle()));
    }
}

TEST_F(MainWindow, ClosingTheWindowEndsTheGateway) {
    Start();
    loop.post([this] { ::PostMessageW(WindowOf(*main)->Handle(), WM_CLOSE, 0, 0); });
    EXPECT_EQ(loop.run(), 0);
    EXPECT_TRUE(app.Terminated());
    EXPECT_FALSE(GatewayParts(main->Core()).Link().TimerTick().Enabled()); // FormClose ran
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
    app.HelpCommand(HELP_CONTEXT, 104);
    ASSERT_EQ(opened.size(), 4u);
    EXPECT_EQ(opened[0].rfind("file:///", 0), 0u) << opened[0];
    EXPECT_NE(opened[0].find("/VANTOR.Cz.html"), std::string::npos) << opened[0];
    EXPECT_EQ(opened[0].find('#'), std::string::npos);
    EXPECT_NE(opened[1].find("#index"), std::string::npos);
    EXPECT_NE(opened[2].find("#help-on-help"), std::string::npos);
    EXPECT_NE(opened[3].find("#context-104"), std::string::npos);
    // Help that is nowhere says so in the user's language, the folders after it.
    desktop.SetHelpSources(
        {"C:\\nonexistent"}, [] { return std::string("Cz"); },
        [] {
            return DesktopHelpTexts{"Nenalezeno %1 (%2):", ""};
        });
    std::wstring shown;
    WhenBlocked([&](HWND box) {
        for (HWND child : ChildrenOf(box, L"Static"))
            if (!TextOf(child).empty()) shown = TextOf(child);
        Click(::GetDlgItem(box, IDOK));
    });
    main->Obsah1Click();
    EXPECT_EQ(shown, L"Nenalezeno VANTOR.HLP (VANTOR.*.html):\nC:\\nonexistent");
}

} // namespace
} // namespace vantor::test
