#include "core/MainForm.h"

#include "nls/TextIds.h"
#include "serial/Comm.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Strings.h"
#include "toolkit/Timer.h"
#include "ui/AboutBox.h"
#include "ui/FInfo.h"
#include "ui/FSetM602.h"
#include "ui/FSetPis.h"
#include "ui/FSetPort.h"
#include "ui/FSetServ.h"
#include "ui/FSetTrap.h"
#include "ui/FSetUct.h"

namespace vantor {

namespace {

constexpr unsigned TrayIconId = 1006;
constexpr unsigned TrayCallbackMessage = 0x8064; // WM_APP + 100
constexpr std::size_t TrayTipLength = 63;
constexpr int BaudRates[] = {57600, 38400, 19200, 9600};

std::string Utf(std::string_view text) { return Cp1250FromUtf8(text); }

// Without a file system to browse the chooser offers the root and nothing in it.
class NoDirectories final : public DirectorySource {
public:
    std::vector<std::string> Roots() const override { return {"/"}; }
    std::string Absolute(std::string_view path) const override { return std::string(path); }
    bool IsDirectory(std::string_view) const override { return false; }
    DirectoryListing Subdirectories(std::string_view, std::size_t) const override {
        return {{}, true, "no file system to browse"};
    }
};

} // namespace

TMainForm::WindowEnvironment TMainForm::WindowPartOf(const GatewayEnvironment& env) {
    WindowEnvironment window{env.serviceMode,
                             false,
                             env.serialDevices,
                             env.serviceManager,
                             env.serviceCommandLine,
                             env.directories ? env.directories : std::make_shared<NoDirectories>(),
                             env.serviceControlManager};
    for (const std::string& argument : env.arguments)
        if (argument == "/hide") window.hidden = true;
    return window;
}

// ---------------------------------------------------------------------------
// Construction: the window's controls and menus, then FormCreate.

TMainForm::TMainForm(TApplication& app, GatewayEnvironment environment)
    : TForm(app, nullptr), MainMenu1(this), PopupMenu1(this, app.GetDesktop()),
      env_(WindowPartOf(environment)) {
    SetName("MainForm");
    SetTag(1001);
    SetCaption("Tarvo Vantor");
    SetWidth(495);
    SetHeight(371);
    SetPosition(poScreenCenter);
    BuildControls();
    BuildMenus();
    gateway_ = std::make_unique<Gateway>(app, Gateway::Window{*this, this, *ListBox1, *StatusBar1},
                                         std::move(environment));
    OnActivate = [this](TObject*) { FormActivate(); };
    OnResize = [this](TObject*) { FormResize(); };
    OnClose = [this](TObject*, TCloseAction& action) { FormClose(action); };
    // Runs before the form frees its controls.
    OnDestroy = [this](TObject*) { FormDestroy(); };
    app.SetMainForm(this);
    try {
        FormCreate();
    } catch (...) {
        // A start that throws (a configuration a service cannot use): the
        // stop order runs now, while the gateway is there; the base class
        // would run it only after the members are gone.
        DoDestroy();
        throw;
    }
    DoCreate();
}

TMainForm::~TMainForm() { DoDestroy(); }

void TMainForm::BuildControls() {
    ListBox1 = &Create<TListBox>(this);
    ListBox1->SetName("ListBox1");
    ListBox1->SetItemHeight(17);
    ListBox1->SetFont(TFont{"Courier New", 15});
    // FormResize leaves 16 pixels of width: a margin on either side.
    ListBox1->SetLeft(8);
    ListBox1->OnDblClick = [this](TObject*) { ListBox1DblClick(); };
    StatusBar1 = &Create<TStatusBar>(this);
    StatusBar1->SetName("StatusBar1");
    StatusBar1->SetSimplePanel(true);
    Button4 = &Create<TButton>(this);
    Button4->SetName("Button4");
    Button4->SetTag(101);
    Button4->SetCaption(Utf("Skrýt"));
    Button4->SetDefault(true);
    Button4->SetBounds(0, 0, 75, 25);
    Button4->OnClick = [this](TObject*) { ShowOnTrayClickClick(); };
    Image1 = &Create<TImage>(this);
    Image1->SetName("Image1");
    Image1->SetPicture("vantor");
    Image1->SetVisible(false);
    FormResize();
}

void TMainForm::BuildMenus() {
    // Every command runs inside a guard: an exception that escapes a command is
    // shown by the application's exception box and the gateway goes on.
    auto guarded = [this](std::function<void()> body) {
        return [this, body = std::move(body)](TObject*) {
            try {
                body();
            } catch (const std::exception& e) {
                Application().ShowException(e);
            }
        };
    };
    TMenuItem& root = MainMenu1.Items();
    Vantor1 = &root.Add(Utf("&Vantor"), 100);
    ShowOnTrayClick =
        &Vantor1->Add(Utf("&Skrýt"), 101, guarded([this] { ShowOnTrayClickClick(); }));
    ShowOnTrayClick->SetHint(Utf("Do lišty|Skrýt okno do systémové lišty"));
    Ukonit1 = &Vantor1->Add(Utf("&Ukončit"), 102, guarded([this] { ShutDownClick(); }));
    Ukonit1->SetHint(Utf("Ukončit program"));
    Zastavit1 = &Vantor1->Add("Zastavit", 103, guarded([this] { Zastavit1Click(); }));

    Nastaven1 = &root.Add(Utf("Na&stavení"), 200);
    Mail6021 = &Nastaven1->Add("Mail&602", 201, guarded([this] { Mail6021Click(); }));
    Mail6021->SetHelpContext(101);
    Mail6021->SetHint(Utf("Nastavení Mail602"));
    LoklnTrapy1 =
        &Nastaven1->Add(Utf("&Lokální Trapy"), 202, guarded([this] { LoklnTrapy1Click(); }));
    LoklnTrapy1->SetHelpContext(104);
    VpisuLogu1 = &Nastaven1->Add(Utf("Výpisu Lo&gu"), 204, guarded([this] { VpisuLogu1Click(); }));
    VpisuLogu1->SetHelpContext(102);
    tovn1 = &Nastaven1->Add(Utf("Účtování"), 205, guarded([this] { tovn1Click(); }));
    StartItem = &Nastaven1->Add(Utf("Služby"), 212, guarded([this] { StartItemClick(); }));
    XAPI1 = &Nastaven1->Add("XAPI", 231, guarded([this] { XAPI1Click(); }));
    Callcentrum1 = &Nastaven1->Add("Callcentrum", 230, guarded([this] { Callcentrum1Click(); }));
    Callcentrum1->SetVisible(false);
    Volbasriovhoportu1 = &Nastaven1->Add(Utf("&Volba sériového portu"), 203,
                                         guarded([this] { Volbasriovhoportu1Click(); }));
    Volbasriovhoportu1->SetHelpContext(103);
    x1 = &Nastaven1->Add(Utf("Baudová rychlost COM"), 210);
    TMenuItem** baudItems[] = {&Baud57600, &Baud38400, &Baud19200, &Baud9600};
    for (int i = 0; i < 4; ++i) {
        TMenuItem& item = x1->Add(std::to_string(BaudRates[i]), 0);
        item.OnClick = guarded([this, &item] { COMBaudClick(item); });
        *baudItems[i] = &item;
    }
    x1->Add("-", 0);
    Ulo6itdosouboru1 =
        &x1->Add(Utf("Uložit do souboru"), 211, guarded([this] { Ulo6itdosouboru1Click(); }));
    Volbajazyka1 = &Nastaven1->Add("Volba jazyka", 206);
    for (const char* code : {"Cz", "De", "Eng", "Spa"}) {
        TMenuItem& item = Volbajazyka1->Add(code, 0);
        item.OnClick = guarded([this, &item] { LanguageClick(item); });
    }

    Npovda1 = &root.Add(Utf("&Nápověda"), 300);
    Obsah1 = &Npovda1->Add("Obsah", 301, guarded([this] { Obsah1Click(); }));
    Obsah1->SetShortCut("Shift+F1");
    Kontextovnpovda1 = &Npovda1->Add(Utf("Kontextová nápověda"), 302,
                                     guarded([this] { Kontextovnpovda1Click(); }));
    Kontextovnpovda1->SetShortCut("F1");
    Jakpouvatnpovdu1 = &Npovda1->Add(Utf("Používání nápovědu "), 303,
                                     guarded([this] { Jakpouvatnpovdu1Click(); }));
    Oaplikaci1 = &Npovda1->Add("&O aplikaci...", 304, guarded([this] { Oaplikaci1Click(); }));

    TMenuItem& tray = PopupMenu1.Items();
    Zobrazit1 = &tray.Add("&Zobrazit", 400, guarded([this] { ShowOnClick(); }));
    Zobrazit1->SetDefault(true);
    Ukonit2 = &tray.Add(Utf("&Ukončit"), 401, guarded([this] { ShutDownClick(); }));
}

// ---------------------------------------------------------------------------
// Start-up and shut-down: the gateway's, with the window's steps around them.

void TMainForm::FormCreate() {
    if (!env_.serviceMode) SetVisible(!env_.hidden);

    gateway_->Start(env_.hidden);

    Application().OnActiveFormChange = [this](TObject*) { MenuStateRefresh(); };
    MenuStateRefresh();
    aboutBox_ = std::make_unique<TAboutBox>(Application(), this, Translator());
}

FormTranslator TMainForm::Translator() {
    return [this](TForm& form) { gateway_->TranslateDialog(form); };
}

void TMainForm::TranslateWindow(TLanguageTable& language) {
    language.TranslateForm(*this, false);
    language.TranslateMenu(MainMenu1.Items());
    language.TranslateMenu(PopupMenu1.Items());
    for (int i = 0; i < Volbajazyka1->Count(); ++i)
        Volbajazyka1->Items(i)->SetChecked(Volbajazyka1->Items(i)->Caption() ==
                                           gateway_->Language());
}

bool TMainForm::AddTrayIcon() {
    if (!TrayIconOperation(TrayOperation::Add)) return false;
    TrayIconOperation(TrayOperation::Modify);
    trayIconPresent_ = true;
    return true;
}

void TMainForm::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    Application().OnActiveFormChange = nullptr;
    gateway_->SwitchOffIndicators();
    TrayIconOperation(TrayOperation::Remove);
    gateway_->Stop();
    // The parts go while the window's log list they write to still exists.
    gateway_.reset();
    aboutBox_.reset();
}

// ---------------------------------------------------------------------------
// Window events.

void TMainForm::FormActivate() { Application().SetHelpFile("VANTOR.HLP"); }

void TMainForm::FormResize() {
    ListBox1->SetHeight(ClientHeight() - 70);
    ListBox1->SetWidth(ClientWidth() - 16);
    Button4->SetTop(ListBox1->Height() + 8);
    Button4->SetLeft(ClientWidth() - Button4->Width() - 8);
}

void TMainForm::FormClose(TCloseAction& action) {
    gateway_->Closing();
    action = caFree;
}

// ---------------------------------------------------------------------------
// Tray icon, dialogs, menu state.

bool TMainForm::TrayIconOperation(TrayOperation operation) {
    if (!trayTipKept_) {
        trayTip_ = Caption().substr(0, TrayTipLength);
        trayTipKept_ = true;
    }
    TrayIconData data;
    data.size = 88;
    data.iconId = TrayIconId;
    data.flags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.callbackMessage = TrayCallbackMessage;
    if (operation == TrayOperation::Modify) {
        data.icon = Image1->Picture();
        data.tip = trayTip_;
    }
    return Application().GetDesktop().TrayIcon(operation, data);
}

void TMainForm::TrayCallback(unsigned mouseMessage) {
    Desktop& desktop = Application().GetDesktop();
    if (mouseMessage == WM_LBUTTONDBLCLK) {
        Show();
    } else if (mouseMessage == WM_RBUTTONUP) {
        int x = 0, y = 0;
        if (desktop.GetCursorPos(x, y)) {
            desktop.SetForeground(*this);
            PopupMenu1.Popup(x, y - 25);
        } else {
            Show();
        }
    }
}

void TMainForm::CentreDialog(TForm& dialog) {
    dialog.SetLeft(Left() + (ClientWidth() - dialog.Width()) / 2);
    dialog.SetTop(Top() + (ClientHeight() - dialog.Height()) / 2);
}

int TMainForm::RunDialog(TForm& dialog) {
    CentreDialog(dialog);
    return dialog.ShowModal();
}

void TMainForm::MenuStateRefresh() {
    const MenuState menu = gateway_->Menu();
    TMenuItem* items[] = {Baud57600, Baud38400, Baud19200, Baud9600};
    for (int i = 0; i < 4; ++i)
        items[i]->SetChecked(menu.baudRate == static_cast<unsigned>(BaudRates[i]));
    XAPI1->SetChecked(menu.plugin.on);
    Callcentrum1->SetVisible(menu.plugin.loaded);
}

// ---------------------------------------------------------------------------
// Menu commands.

void TMainForm::ShowOnTrayClickClick() {
    if (!trayIconPresent_ && !AddTrayIcon()) {
        // Without a notification area a hidden window could not be brought
        // back (only a kill would end the program): it stays, and the status
        // line says why (and the log keeps it, as traffic soon takes the
        // status line over).
        gateway_->ReportError(msg::NoNotificationArea);
        return;
    }
    Hide();
}

void TMainForm::ShowOnClick() { Show(); }

void TMainForm::ShutDownClick() {
    trayIconPresent_ = false;
    Close();
}

void TMainForm::Zastavit1Click() {
    const bool running = gateway_->TogglePolling();
    Zastavit1->SetCaption(gateway_->Texts().Msg(running ? msg::StopCaption : msg::ResumeCaption));
}

void TMainForm::VpisuLogu1Click() {
    const TimerPause pause = gateway_->PauseTick();
    LogSettings switches = gateway_->LogSwitches();
    TFSetPis dialog(Application(), nullptr, switches, Translator());
    if (RunDialog(dialog) == mrOk) gateway_->SaveLogSwitches(switches);
}

void TMainForm::Mail6021Click() {
    const TimerPause pause = gateway_->PauseTick();
    MailLogin login = gateway_->MailAccount();
    TFSetM602 dialog(Application(), nullptr,
                     MailLoginSettings{login.ConfigPath, login.WorkDir, login.User, login.Password},
                     *env_.directories, gateway_->Texts(), Translator());
    if (RunDialog(dialog) == mrOk) gateway_->SaveMailAccount(login);
}

void TMainForm::LoklnTrapy1Click() {
    const TimerPause pause = gateway_->PauseTick();
    TrapOptions traps = gateway_->Traps();
    TFSetTrap dialog(Application(), nullptr,
                     TrapSettings{traps.Address, traps.AddressType, traps.Subject,
                                  traps.ComOnMessage, traps.ComOffMessage},
                     gateway_->Texts(), Translator());
    if (RunDialog(dialog) == mrOk) gateway_->SaveTraps(traps);
}

void TMainForm::tovn1Click() {
    const TimerPause pause = gateway_->PauseTick();
    AccountingSettings options = gateway_->AccountingOptions();
    if (EditAccountingSettings({Application(), nullptr, gateway_->AccountingFolder(),
                                gateway_->Texts(), options, Translator(),
                                [this](TForm& form) { CentreDialog(form); }}) == mrOk)
        gateway_->SaveAccountingOptions(options);
}

void TMainForm::StartItemClick() {
    RunServicesDialog({Application(), env_.serviceManager.get(), gateway_->Texts(),
                       env_.serviceCommandLine, Translator(),
                       [this](TForm& form) { CentreDialog(form); },
                       env_.serviceControlManager.get()});
}

void TMainForm::Volbasriovhoportu1Click() {
    std::string port = gateway_->Port();
    TFSetPort dialog(Application(), nullptr, port,
                     env_.serialDevices ? env_.serialDevices() : std::vector<std::string>(),
                     gateway_->Texts(), Translator());
    // OK on the port in use changes nothing: the working line stays open.
    if (RunDialog(dialog) != mrOk || port == gateway_->Port()) return;
    gateway_->ChoosePort(port);
}

void TMainForm::COMBaudClick(TMenuItem& item) {
    if (gateway_->ChangeBaudRate(IntToStr(StrToIntDef(item.Caption(), 9600)))) MenuStateRefresh();
}

void TMainForm::Ulo6itdosouboru1Click() { gateway_->SavePortSettings(); }

void TMainForm::LanguageClick(TMenuItem& item) { gateway_->SwitchLanguage(item.Caption()); }

void TMainForm::Obsah1Click() { Application().HelpCommand(HELP_CONTENTS, 0); }
void TMainForm::Kontextovnpovda1Click() { Application().HelpCommand(HELP_PARTIALKEY, 0); }
void TMainForm::Jakpouvatnpovdu1Click() { Application().HelpCommand(HELP_HELPONHELP, 0); }

void TMainForm::Oaplikaci1Click() { RunDialog(*aboutBox_); }

void TMainForm::XAPI1Click() {
    const PluginState plugin = gateway_->TogglePlugin();
    XAPI1->SetChecked(plugin.on);
    Callcentrum1->SetVisible(plugin.loaded);
}

void TMainForm::Callcentrum1Click() { gateway_->ShowPluginUsers(Left(), Top(), Width(), Height()); }

void TMainForm::ListBox1DblClick() {
    const int index = ListBox1->ItemIndex();
    if (index < 0) return;
    TFInfo dialog(Application(), nullptr, ListBox1->Items()[index], Translator());
    RunDialog(dialog);
}

} // namespace vantor
