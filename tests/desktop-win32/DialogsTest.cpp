// Every dialog opens modally on the screen, and what the user changes in it
// reaches the model on OK and not on Cancel, nor when it is closed from its
// system menu.
#include "Win32DesktopFixture.h"

#include <filesystem>
#include <memory>

#include "core/Settings.h"
#include "service/ServiceFakes.h"
#include "support/FakeDirectories.h"
#include "toolkit/Cp1250.h"
#include "toolkit/TextSource.h"
#include "ui/AboutBox.h"
#include "ui/FInfo.h"
#include "ui/FSetDir.h"
#include "ui/FSetM602.h"
#include "ui/FSetPis.h"
#include "ui/FSetPort.h"
#include "ui/FSetServ.h"
#include "ui/FSetTrap.h"
#include "ui/FSetUct.h"

namespace vantor::test {
namespace {

using win32view::FormWindow;

class NoTexts : public TextSource {
public:
    std::string Msg(int) const override { return {}; }
    std::string Text(int) override { return {}; }
};
NoTexts texts;

// The values the dialogs edit, fresh for each run.
struct Values {
    LogSettings log;
    std::uint8_t readUct = 1, sendUct = 0;
    std::string uctFile = "DATA.NEW";
    std::string port = "COM1:19200,N,8,1";
    std::string address = "dispecink", subject = "Alarm", comOn = "up", comOff = "down";
    char addressType = 'I';
    std::string configPath = "C:\\q9\\q9.ini", workDir = "C:\\q9", user = "gw", password = "secret";
    std::string directory = "C:\\q9";
    FakeDirectories directories = [] {
        FakeDirectories fs;
        fs.roots = {"C:\\"};
        fs.cwd = "C:\\";
        fs.Add("C:\\q9\\pošta"); // as the file system spells it: UTF-8
        fs.Add("C:\\q9\\spool");
        return fs;
    }();
    FakeServiceManager manager;
    FakeTexts serviceTexts;
    std::unique_ptr<ServiceControl> control;
};

struct DialogCase {
    const char* name;
    std::function<std::unique_ptr<TForm>(TApplication&, Values&, const std::string& dir)> make;
    // What the user does before pressing the button that ends the dialog.
    std::function<void(TForm&, FormWindow&)> edit;
    int endWith; // mrOk or mrCancel: which button the user presses
    std::function<void(const Values&, bool ok)> check;
};

HWND Of(FormWindow& w, const TControl* c) { return w.HandleOf(*c); }

const DialogCase Cases[] = {
    {"TFSetPis",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetPis>(app, nullptr, v.log, FormTranslator());
     },
     [](TForm& form, FormWindow& w) {
         auto& d = static_cast<TFSetPis&>(form);
         Click(Of(w, d.CheckBox2));
         Click(Of(w, d.CheckBox3));
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.log.Com_Out, ok ? 1 : 0);
         EXPECT_EQ(v.log.TCPIP_In, ok ? 0 : 1);
         EXPECT_EQ(v.log.Com_In, 1);
     }},
    {"TFSetUct",
     [](TApplication& app, Values& v, const std::string& dir) {
         return std::make_unique<TFSetUct>(app, nullptr, dir, texts, v.readUct, v.sendUct,
                                           v.uctFile);
     },
     [](TForm& form, FormWindow& w) {
         auto& d = static_cast<TFSetUct&>(form);
         Type(Of(w, &d.EditUR), W("ÚČTY.DAT"));
         Click(Of(w, &d.CheckBoxIP));
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.uctFile, ok ? Cp1250FromUtf8("ÚČTY.DAT") : "DATA.NEW");
         EXPECT_EQ(v.sendUct, ok ? 1 : 0);
     }},
    {"TFSetPort",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetPort>(app, nullptr, v.port, std::vector<std::string>(), texts,
                                            FormTranslator());
     },
     [](TForm& form, FormWindow& w) {
         HWND combo = Of(w, static_cast<TFSetPort&>(form).ComboBox1);
         ::SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);
         ::SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.port, ok ? "COM3:19200,N,8,1" : "COM1:19200,N,8,1");
     }},
    {"TFSetTrap",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetTrap>(
             app, nullptr, TrapSettings{v.address, v.addressType, v.subject, v.comOn, v.comOff},
             texts, FormTranslator());
     },
     [](TForm& form, FormWindow& w) {
         auto& d = static_cast<TFSetTrap&>(form);
         // The two message labels stand out in red and green, larger.
         HDC dc = ::GetDC(Of(w, d.Label4));
         const auto brush = ::SendMessageW(::GetParent(Of(w, d.Label4)), WM_CTLCOLORSTATIC,
                                           reinterpret_cast<WPARAM>(dc),
                                           reinterpret_cast<LPARAM>(Of(w, d.Label4)));
         EXPECT_NE(brush, 0);
         EXPECT_EQ(::GetTextColor(dc), RGB(255, 0, 0));
         ::SendMessageW(::GetParent(Of(w, d.Label5)), WM_CTLCOLORSTATIC,
                        reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(Of(w, d.Label5)));
         EXPECT_EQ(::GetTextColor(dc), RGB(0, 128, 0));
         ::ReleaseDC(Of(w, d.Label4), dc);
         LOGFONTW big{}, plain{};
         ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Of(w, d.Label4), WM_GETFONT, 0, 0)),
                      sizeof big, &big);
         ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Of(w, d.Label1), WM_GETFONT, 0, 0)),
                      sizeof plain, &plain);
         EXPECT_EQ(big.lfHeight, -16);
         EXPECT_LT(big.lfHeight, plain.lfHeight);
         Type(Of(w, d.EditSubject), W("Výpadek ústředny"));
         HWND type = Of(w, d.ComboBoxType);
         EXPECT_EQ(::GetWindowLongW(type, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
         EXPECT_EQ(::SendMessageW(type, CB_GETCURSEL, 0, 0), 1);
         ::SendMessageW(type, WM_KEYDOWN, VK_DOWN, 0);
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.subject, ok ? Cp1250FromUtf8("Výpadek ústředny") : "Alarm");
         EXPECT_EQ(v.addressType, ok ? 'Q' : 'I');
     }},
    {"TFSetM602",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetM602>(
             app, nullptr, MailLoginSettings{v.configPath, v.workDir, v.user, v.password},
             v.directories, texts, FormTranslator());
     },
     [](TForm& form, FormWindow& w) {
         auto& d = static_cast<TFSetM602&>(form);
         HWND password = Of(w, d.EditPassword);
         EXPECT_EQ(::SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), L'*') << "shown as '*'";
         EXPECT_EQ(::SendMessageW(password, EM_GETLIMITTEXT, 0, 0), 20);
         Type(password, L"tajne-heslo");
         EXPECT_EQ(::SendMessageW(Of(w, d.EditUser), EM_GETPASSWORDCHAR, 0, 0), 0);
         Type(Of(w, d.EditUser), W("Šárka"));
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.password, ok ? "tajne-heslo" : "secret");
         EXPECT_EQ(v.user, ok ? Cp1250FromUtf8("Šárka") : "gw");
     }},
    {"TFSetDir",
     [](TApplication& app, Values& v, const std::string&) {
         return std::make_unique<TFSetDir>(app, nullptr, v.directory, v.directories, texts,
                                           FormTranslator());
     },
     [](TForm& form, FormWindow& w) {
         auto& d = static_cast<TFSetDir&>(form);
         HWND drives = Of(w, d.DriveComboBox1);
         EXPECT_EQ(::GetWindowLongW(drives, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
         HWND list = Of(w, d.DirectoryListBox1);
         int row = -1;
         for (int i = 0; i < d.DirectoryListBox1->Count(); ++i)
             if (d.DirectoryListBox1->Items()[i].find(Cp1250FromUtf8("pošta")) != std::string::npos)
                 row = i;
         ASSERT_GE(row, 0) << "the Czech name shows as it is spelt";
         EXPECT_EQ(d.DirectoryListBox1->Items()[0], "C:\\") << "the drive's root is one level";
         RECT r;
         ::SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(row),
                        reinterpret_cast<LPARAM>(&r));
         ClickAt(list, {r.left + 20, (r.top + r.bottom) / 2}, true);
         EXPECT_EQ(d.DirectoryListBox1->Directory(), "C:\\q9\\pošta") << "opened";
         w.Flush();
         EXPECT_EQ(TextOf(Of(w, d.LabelPath)), W("C:\\q9\\pošta"));
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.directory, ok ? Cp1250FromUtf8("C:\\q9\\pošta") : "C:\\q9");
     }},
    {"TFSetServ",
     [](TApplication& app, Values& v, const std::string&) {
         v.manager.AddVendorUnit("tarvovantor.service", "active");
         v.control = std::make_unique<ServiceControl>(ServiceControlParts{
             .manager = &v.manager, .texts = v.serviceTexts, .wait = [](int) {}});
         return std::make_unique<TFSetServ>(app, nullptr, *v.control, FormTranslator());
     },
     [](TForm& form, FormWindow& w) {
         auto& d = static_cast<TFSetServ&>(form);
         HWND pages = Of(w, d.PageControl1);
         EXPECT_EQ(TabCtrl_GetItemCount(pages), 1) << "only the service manager's page";
         EXPECT_EQ(d.PageControl1->ActivePage(), d.TabSheet2) << "showing it changed nothing";
         EXPECT_TRUE(::IsWindowVisible(Of(w, d.CheckBox2)));
         HWND stop = Of(w, d.StopButton);
         EXPECT_TRUE(::IsWindowEnabled(stop)) << "the service runs";
         EXPECT_FALSE(::IsWindowVisible(Of(w, d.StartButton)));
         Click(stop);
         w.Flush();
         EXPECT_FALSE(::IsWindowEnabled(stop)) << "stopped";
         Click(Of(w, d.CheckBox2)); // no longer a service
     },
     mrOk,
     [](const Values& v, bool ok) {
         EXPECT_EQ(v.manager.units.at("tarvovantor.service").loadState != "loaded", ok)
             << "removed on OK only";
     }},
    {"TFInfo",
     [](TApplication& app, Values&, const std::string&) {
         return std::make_unique<TFInfo>(app, nullptr, std::string(300, 'x') + "END",
                                         FormTranslator());
     },
     [](TForm& form, FormWindow& w) {
         HWND memo = Of(w, static_cast<TFInfo&>(form).Memo1);
         EXPECT_EQ(TextOf(memo), std::wstring(300, L'x') + L"END"); // the whole line
         EXPECT_TRUE(::GetWindowLongW(memo, GWL_STYLE) & ES_READONLY);
     },
     mrCancel, nullptr},
    {"TAboutBox",
     [](TApplication& app, Values&, const std::string&) {
         return std::make_unique<TAboutBox>(app, nullptr, FormTranslator());
     },
     [](TForm& form, FormWindow& w) {
         auto& about = static_cast<TAboutBox&>(form);
         EXPECT_EQ(TextOf(Of(w, about.ProductName)), L"Tarvo Vantor");
         EXPECT_EQ(TextOf(Of(w, about.Version)), win32::Wide(GatewayVersionText()));
         // Double-clicking the notice line shows the build stamp.
         ::SendMessageW(Of(w, about.Notice), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(2, 2));
         w.Flush();
         EXPECT_NE(TextOf(Of(w, about.InfoLine)).find(L','), std::wstring::npos);
     },
     mrCancel, nullptr},
};

class Dialogs : public Win32DesktopFixture {
protected:
    std::string dir = (std::filesystem::temp_directory_path() /
                       ("vantor-dialogs-" + std::to_string(::GetCurrentProcessId())))
                          .string();
    Dialogs() { std::filesystem::create_directories(dir); }
    ~Dialogs() override { std::filesystem::remove_all(dir); }

    // The button of the dialog that ends it with `result`.
    static HWND ButtonFor(TForm& form, FormWindow& w, int result) {
        std::vector<TControl*> pending{&form};
        while (!pending.empty()) {
            TControl* c = pending.back();
            pending.pop_back();
            for (TControl* child : c->Controls()) {
                auto* b = dynamic_cast<TButton*>(child);
                if (b && (b->ModalResult() == result || (result == mrOk && b->Default()) ||
                          (result == mrCancel && b->Cancel())))
                    return w.HandleOf(*b);
                pending.push_back(child);
            }
        }
        return nullptr;
    }
};

TEST_F(Dialogs, EachOpensModallyAndKeepsTheUsersChangeOnlyOnOk) {
    // The main window behind them, which a modal dialog keeps from input.
    TForm main(app, nullptr);
    app.SetMainForm(&main);
    main.Show();
    for (const DialogCase& c : Cases) {
        for (int end : {c.endWith, mrCancel}) {
            SCOPED_TRACE(std::string(c.name) + (end == mrOk ? " OK" : " Cancel"));
            Values values;
            std::unique_ptr<TForm> form = c.make(app, values, dir);
            bool played = false;
            WhenBlocked([&](HWND window) {
                played = true;
                EXPECT_TRUE(::IsWindowVisible(window));
                EXPECT_EQ(::GetActiveWindow(), window);
                EXPECT_FALSE(::IsWindowEnabled(WindowOf(main)->Handle()));
                EXPECT_EQ(::GetWindow(window, GW_OWNER), WindowOf(main)->Handle());
                // The title bar offers what the form's border icons say.
                const auto style = static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
                const unsigned icons = form->BorderIcons();
                EXPECT_EQ(bool(style & WS_SYSMENU), bool(icons & biSystemMenu));
                EXPECT_EQ(bool(style & WS_MAXIMIZEBOX), bool(icons & biMaximize));
                EXPECT_EQ(bool(style & WS_MINIMIZEBOX), bool(icons & biMinimize));
                FormWindow& w = *desktop.WindowOf(*form);
                c.edit(*form, w);
                HWND button = ButtonFor(*form, w, end);
                ASSERT_NE(button, nullptr);
                Click(button);
            });
            EXPECT_EQ(form->ShowModal(), end);
            EXPECT_TRUE(played);
            EXPECT_TRUE(::IsWindowEnabled(WindowOf(main)->Handle()));
            if (c.check) c.check(values, end == mrOk);
            if (c.endWith == mrCancel) break;
        }
    }
}

TEST_F(Dialogs, EscapeTheSystemMenusCloseAndF1DoWhatTheyDoInADialog) {
    desktop.SetHelpSources({}, nullptr, nullptr);
    desktop.SetUrlOpener([](const std::string&) { return true; });
    struct Case {
        const char* how;
        std::function<void(HWND)> play;
    };
    const Case cases[] = {
        {"Escape", [](HWND w) { PostKey(::GetFocus() ? ::GetFocus() : w, VK_ESCAPE); }},
        {"system menu", [](HWND w) { ::PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Values v;
        TFSetPort dialog(app, nullptr, v.port, {}, texts, FormTranslator());
        WhenBlocked([&](HWND window) {
            // Changed, then left without OK.
            ::SendMessageW(desktop.WindowOf(dialog)->HandleOf(*dialog.ComboBox1), WM_KEYDOWN,
                           VK_DOWN, 0);
            c.play(window);
        });
        EXPECT_EQ(dialog.ShowModal(), mrCancel);
        EXPECT_EQ(v.port, "COM1:19200,N,8,1");
    }
    // F1 asks the help for the dialog's page.
    Values v;
    TFSetPort dialog(app, nullptr, v.port, {}, texts, FormTranslator());
    std::string url;
    desktop.SetHelpSources({VANTOR_BUILD_DIR}, [] { return std::string("Eng"); });
    desktop.SetUrlOpener([&](const std::string& u) {
        url = u;
        return true;
    });
    app.SetHelpFile("VANTOR.HLP");
    WhenBlocked([&](HWND window) {
        PostKey(::GetFocus() ? ::GetFocus() : window, VK_F1);
        loop.post([window] { ::PostMessageW(window, WM_CLOSE, 0, 0); });
    });
    dialog.ShowModal();
    EXPECT_NE(url.find("#context-103"), std::string::npos) << url;
}

} // namespace
} // namespace vantor::test
