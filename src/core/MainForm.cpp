#include "core/MainForm.h"

#include "accounting/AccountingRecordList.h"
#include "core/ExchangeLink.h"
#include "core/GatewayGlue.h"
#include "exchange/CommandFormatter.h"
#include "exchange/DataStore.h"
#include "exchange/ReplyDispatcher.h"
#include "mail/MailBridge.h"
#include "nls/LanguageTable.h"
#include "plugin/XAPI.h"
#include "plugin/XapiCommands.h"
#include "relay/ClientRelay.h"
#include "relay/DataStoreRelay.h"
#include "relay/ReplyCache.h"
#include "relay/ServerSocketRelay.h"
#include "platform/PosixServerSocket.h"
#include "platform/PosixSerialDevice.h"
#include "serial/Comm.h"
#include "serial/CommPax.h"
#include "toolkit/Cp1250.h"
#include "toolkit/IniFile.h"
#include "toolkit/ServerSocket.h"
#include "toolkit/Strings.h"
#include "toolkit/Timer.h"
#include "ui/AboutBox.h"
#include "ui/FInfo.h"
#include "ui/FSetPis.h"
#include "ui/FSetPort.h"
#include "ui/FSetUct.h"

#include <filesystem>

namespace vantor {

namespace {

constexpr unsigned TrayIconId = 1006;
constexpr unsigned TrayCallbackMessage = 0x8064; // WM_APP + 100
constexpr std::size_t TrayTipLength = 63;
constexpr int BaudRates[] = {57600, 38400, 19200, 9600};

std::string Utf(std::string_view text) { return Cp1250FromUtf8(text); }

// "X.EXE" -> "X.INI"; a program file without an extension gets one.
std::string ConfigPathFor(const std::string& programPath) {
    std::filesystem::path path(programPath);
    path.replace_extension(".INI");
    return path.string();
}

// "Error accessing specified device (Error: 2) " without its closing blank.
std::string TrimmedReason(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string DirectoryOf(const std::string& programPath) {
    std::string dir = std::filesystem::path(programPath).parent_path().string();
    return dir.empty() ? std::string(".") : dir;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction: the window's controls and menus, then FormCreate.

TMainForm::TMainForm(TApplication& app, GatewayEnvironment environment)
    : TForm(app, nullptr), MainMenu1(this), PopupMenu1(this, app.GetDesktop()),
      env_(std::move(environment)) {
    SetName("MainForm");
    SetTag(1001);
    SetCaption("Tarvo Vantor");
    SetWidth(495);
    SetHeight(371);
    SetPosition(poScreenCenter);
    programDir_ = DirectoryOf(env_.programPath);
    if (env_.languageFolders.empty())
        env_.languageFolders = TLanguageTable::DefaultFolders(programDir_);
    BuildControls();
    BuildMenus();
    OnActivate = [this](TObject*) { FormActivate(); };
    OnResize = [this](TObject*) { FormResize(); };
    OnClose = [this](TObject*, TCloseAction& action) { FormClose(action); };
    // Runs before the form frees its controls.
    OnDestroy = [this](TObject*) { FormDestroy(); };
    app.SetMainForm(this);
    FormCreate();
    DoCreate();
}

TMainForm::~TMainForm() { DoDestroy(); }

void TMainForm::BuildControls() {
    ListBox1 = &Create<TListBox>(this);
    ListBox1->SetName("ListBox1");
    ListBox1->SetItemHeight(17);
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
    log_ = std::make_unique<TrafficLog>(*ListBox1, *StatusBar1, Application().Loop());
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
    Mail6021 = &Nastaven1->Add("Mail&602", 201);
    Mail6021->SetHelpContext(101);
    Mail6021->SetHint(Utf("Nastavení Mail602"));
    LoklnTrapy1 = &Nastaven1->Add(Utf("&Lokální Trapy"), 202);
    LoklnTrapy1->SetHelpContext(104);
    VpisuLogu1 = &Nastaven1->Add(Utf("Výpisu Lo&gu"), 204, guarded([this] { VpisuLogu1Click(); }));
    VpisuLogu1->SetHelpContext(102);
    tovn1 = &Nastaven1->Add(Utf("Účtování"), 205, guarded([this] { tovn1Click(); }));
    StartItem = &Nastaven1->Add(Utf("Služby"), 212);
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
// Start-up, in its fixed order.

void TMainForm::FormCreate() {
    log_->OnLine = env_.logMirror;
    log_->WriteLog("----", "Start Tarvo Vantor ----");
    if (env_.serviceMode && env_.serviceEventLog) env_.serviceEventLog("Start", 4);

    bool hidden = false;
    for (const std::string& argument : env_.arguments)
        if (argument == "/hide") hidden = true;
    if (!env_.serviceMode) SetVisible(!hidden);

    configFileName_ = ConfigPathFor(env_.programPath);
    config_ = std::make_unique<TIniFile>(configFileName_);
    // Read once: every setting below is a lookup in this one parsed copy.
    const IniSnapshot configText = config_->Snapshot();
    if (!configText.refusal.empty())
        log_->WriteLog("!Err", configText.refusal + "; the default settings are used");
    ConfigReader reader(configText.document);

    language_ = std::make_unique<TLanguageTable>(env_.languageFolders);
    language_->SetWarningSink([this](const std::string& w) { log_->WriteLog("!Err", w); });
    settings_.Lang = reader.ReadLanguage();
    language_->SetLanguage(settings_.Lang);
    language_->Close();
    if (!config_->Exists()) {
        language_->Open();
        language_->LoadTexts();
        Application().GetDesktop().MessageBox(language_->Msg(122), language_->Msg(123),
                                              MB_ICONWARNING);
        language_->Close();
    }
    LoadLanguage();
    for (int i = 0; i < Volbajazyka1->Count(); ++i)
        Volbajazyka1->Items(i)->SetChecked(Volbajazyka1->Items(i)->Caption() == settings_.Lang);

    std::vector<std::string> warnings;
    reader.ReadSettings(settings_, prefixes_, warnings);
    for (const std::string& warning : warnings) log_->WriteLog("!Err", warning);

    CreateComponents();
    link_->SetHideToTrayRequested(hidden);

    if (env_.serviceRunningElsewhere) {
        log_->WriteLog("----", "NT Service -----------");
    } else {
        OpenListeningSocket();
        OpenSerialPort();
        link_->InitialRequestSet();
    }

    mailBridge_->Create();
    mailBridge_->LoadSettings(configText.document, *language_);
    if (!env_.serviceRunningElsewhere) {
        if (mailBridge_->Initialise()) {
            log_->WriteLog("-OK-", language_->Msg(126));
        } else {
            log_->WriteLog("!Err", language_->Msg(127));
            if (env_.serviceMode && env_.serviceEventLog)
                env_.serviceEventLog(language_->Msg(127), 1);
        }
    }

    if (settings_.XAPI) StartPlugin();

    link_->TimerTick().SetEnabled(true);
    Application().OnActiveFormChange = [this](TObject*) { MenuStateRefresh(); };
    MenuStateRefresh();
    aboutBox_ = std::make_unique<TAboutBox>(Application(), this,
                                            [this](TForm& form) { TranslateDialog(form); });
}

// Every component exists from start-up on, whether or not this instance
// opens the socket and the port (a desktop start beside a running service
// keeps them empty).  Making them has no visible effect; the visible steps of
// the start-up follow in FormCreate in their order.
void TMainForm::CreateComponents() {
    formatter_ = std::make_unique<CommandFormatter>(*language_);
    glue_ = std::make_unique<GatewayGlue>();
    glue_->log = log_.get();

    commPax_ = std::make_unique<TCommPax>(this, Application().Loop(),
                                          env_.serialDeviceFactory
                                              ? env_.serialDeviceFactory
                                              : SerialDeviceFactory(OpenPosixSerialDevice));
    commPax_->SetName("CommPax1");
    commPax_->SetMaxPacketSize(512);
    commPax_->SetDeviceName("Com2");
    commPax_->OnRxPacket = [this](TObject*, int count, const std::uint8_t* data) {
        dispatcher_->HandlePacket(count, data);
    };
    commPax_->OnRxChr = [this](TObject*, std::uint8_t chr) { dispatcher_->HandleChar(chr); };
    commPax_->OnDeviceLost = [this](TObject*, int error) {
        log_->WriteLog("!Err", "Serial device lost: " + commPax_->DeviceName() +
                                   " (Error: " + std::to_string(error) + ")");
    };
    glue_->commPax = commPax_.get();

    store_ = std::make_unique<TDataStore>(programDir_, *glue_, Application().Loop());
    glue_->store = store_.get();
    records_ = std::make_unique<AccountingRecordList>();
    glue_->records = records_.get();
    mailBridge_ = std::make_unique<TMailBridge>(*log_, *language_, *glue_, settings_,
                                                SystemMailLibraryOpener(programDir_));
    glue_->mail = mailBridge_.get();
    link_ = std::make_unique<ExchangeLink>(this, Application().Loop(), settings_, *glue_, *store_,
                                           *glue_, *log_, *language_, *formatter_);
    glue_->link = link_.get();
    link_->ApplyTimerPeriods();
    link_->AddTrayIcon = [this] {
        if (!TrayIconOperation(TrayOperation::Add)) return false;
        TrayIconOperation(TrayOperation::Modify);
        trayIconPresent_ = true;
        return true;
    };
    dispatcher_ = std::make_unique<ReplyDispatcher>(
        *link_, *store_, settings_, *log_, *language_, *glue_, *glue_,
        [this](std::string_view text, std::string_view caption, unsigned flags) {
            return Application().GetDesktop().MessageBox(text, caption, flags);
        },
        GatewayVersionText());
    plugin_ = std::make_unique<TXAPI>(*log_, Application().Loop(),
                                      SystemPluginLibraryOpener(programDir_));
    store_->SetPluginFeed(plugin_.get());
    dispatcher_->SetPluginFeed(plugin_.get());
    link_->PluginLoaded = [this] { return plugin_->Active(); };
    xapiCommands_ = std::make_unique<XapiCommandHandler>(
        *plugin_, *log_,
        XapiCommandHandler::Hooks{
            [this](std::span<const std::uint8_t, 88> record) {
                return store_->StoreCommand(record);
            },
            [this](char kind, int arg) { link_->Enqueue(kind, arg); },
            [this](std::string_view number) { return prefixes_.Substitute(number); }});
    plugin_->OnCommandMessage = [this](long lParam) { xapiCommands_->HandleMessage(lParam); };

    if (env_.serverSocketFactory)
        serverSocket_ = env_.serverSocketFactory(this);
    else
        serverSocket_ = MakeServerSocket(this, Application().Loop());
    serverRelay_ = std::make_unique<ServerSocketRelay>(*serverSocket_, *log_, *language_);
    relayStore_ = std::make_unique<DataStoreRelay>(*store_);
    // The cache is allocated only by an instance that serves clients; a
    // failed allocation switches it off.
    cache_ = std::make_unique<ReplyCache>(env_.serviceRunningElsewhere ? 0 : settings_.MaxCache,
                                          [this] { return Application().Loop().now(); });
    settings_.MaxCache = cache_->MaxCache();
    glue_->cache = cache_.get();
    relay_ = std::make_unique<ClientRelay>(
        ClientRelay::Parts{Application().Loop(), settings_, *log_, *language_, *formatter_, *cache_,
                           *records_, *link_, *relayStore_, *serverRelay_});
    glue_->relay = relay_.get();
    serverRelay_->Attach(*relay_);
    link_->LastClientANRequest = [this] { return relay_->LastANRequest(); };
    link_->LastClientSWRequest = [this] { return relay_->LastSWRequest(); };
}

void TMainForm::StartPlugin() {
    if (!plugin_->Start()) return;
    // A fresh picture for the plug-in: the link starts over and the personal
    // data and short numbers are downloaded anew.
    store_->SetBlockCounter(0);
    link_->InitialRequestSet();
    link_->Enqueue('p', 0);
}

void TMainForm::XAPI1Click() {
    const bool wasOn = settings_.XAPI != 0;
    settings_.XAPI = wasOn ? 0 : 1;
    if (wasOn)
        plugin_->Stop();
    else
        StartPlugin();
    XAPI1->SetChecked(settings_.XAPI != 0);
    Callcentrum1->SetVisible(plugin_->Active());
    WriteSetting("Set", "XAPI", settings_.XAPI ? "1" : "0");
}

void TMainForm::Callcentrum1Click() {
    if (!plugin_->Active()) return;
    std::vector<std::string> texts;
    const TStringList& list = language_->Texts();
    for (int i = 0; i < list.Count(); ++i) texts.push_back(list[i]);
    plugin_->Users(Left(), Top(), Width(), Height(), texts);
}

void TMainForm::LoadLanguage() {
    language_->Open();
    language_->TranslateForm(*this, false);
    language_->TranslateMenu(MainMenu1.Items());
    language_->TranslateMenu(PopupMenu1.Items());
    language_->LoadTexts();
    language_->Close();
}

void TMainForm::TranslateDialog(TForm& form) { language_->TranslateForm(form, true); }

void TMainForm::ReportStartupError(int text, const std::string& suffix) {
    log_->WriteLog("!Err", language_->Msg(text) + suffix);
    if (env_.serviceMode && env_.serviceEventLog) env_.serviceEventLog(StatusBar1->SimpleText(), 1);
}

void TMainForm::OpenListeningSocket() {
    if (!serverRelay_->Open(settings_.IPPort) && env_.serviceMode && env_.serviceEventLog)
        env_.serviceEventLog(StatusBar1->SimpleText(), 1);
}

void TMainForm::OpenSerialPort() {
    try {
        if (!commPax_->Set(settings_.Port))
            throw ECommError("Invalid port settings text \"" + settings_.Port + "\"", -1);
        commPax_->Open();
        log_->WriteLog("-OK-", language_->Msg(124) + settings_.Port);
    } catch (const ECommError& e) {
        // The reason follows the settings text, so a technician sees why.
        ReportStartupError(125, settings_.Port + " (" + TrimmedReason(e.what()) + ")" +
                                    (e.Detail().empty() ? "" : ": " + e.Detail()));
    } catch (const std::exception& e) {
        ReportStartupError(125, settings_.Port + " (" + TrimmedReason(e.what()) + ")");
    }
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
    if (mailBridge_) mailBridge_->StopAction();
    if (link_) link_->TimerTick().SetEnabled(false);
    action = caFree;
}

void TMainForm::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    Application().OnActiveFormChange = nullptr;
    // No extension may keep a waiting-message light once the gateway is gone.
    if (store_ && link_) {
        store_->ClearCounters();
        const std::vector<std::uint8_t> request = store_->BuildRequest('M');
        link_->SendPacket(">COM", language_->Msg(133), request);
    }
    TrayIconOperation(TrayOperation::Remove);
    if (link_) {
        link_->StopTimers();
        link_->ClearQueues();
    }
    records_.reset();
    if (glue_) glue_->records = nullptr;
    if (commPax_ && commPax_->IsOpen()) commPax_->Close();
    ListBox1->Clear();
    if (serverRelay_) serverRelay_->Close();
    if (mailBridge_) {
        mailBridge_->Close();
        if (glue_) glue_->mail = nullptr;
        mailBridge_.reset();
    }
    if (settings_.XAPI && plugin_) plugin_->Stop();
    // The components go while the log they write to still exists; users of one
    // go before it.
    dispatcher_.reset();
    xapiCommands_.reset();
    relay_.reset();
    link_.reset();
    serverRelay_.reset();
    relayStore_.reset();
    if (store_) store_->SetPluginFeed(nullptr);
    plugin_.reset();
    store_.reset();
    cache_.reset();
    commPax_.reset();
    serverSocket_.reset();
    glue_.reset();
    aboutBox_.reset();
    formatter_.reset();
    language_.reset();
    prefixes_ = PrefixTable();
}

// ---------------------------------------------------------------------------
// Tray icon, dialogs, tick suspension, menu state.

bool TMainForm::HideToTrayRequested() const { return link_ && link_->HideToTrayRequested(); }

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

void TMainForm::SuspendTick() {
    tickSuspensionMemory_ = link_->TimerTick().Enabled();
    link_->TimerTick().SetEnabled(false);
}

void TMainForm::ResumeTick() { link_->TimerTick().SetEnabled(tickSuspensionMemory_); }

int TMainForm::RunSettingsDialog(TForm& dialog) {
    CentreDialog(dialog);
    return dialog.ShowModal();
}

void TMainForm::MenuStateRefresh() {
    const unsigned baud = BaudRateValue(commPax_->BaudRate());
    TMenuItem* items[] = {Baud57600, Baud38400, Baud19200, Baud9600};
    for (int i = 0; i < 4; ++i) items[i]->SetChecked(baud == static_cast<unsigned>(BaudRates[i]));
    XAPI1->SetChecked(settings_.XAPI != 0);
    Callcentrum1->SetVisible(plugin_->Active());
}

bool TMainForm::WriteSetting(std::string_view section, std::string_view key,
                             std::string_view value) {
    return ConfigWriter(*config_, *log_).Write(section, key, value);
}

// ---------------------------------------------------------------------------
// Menu commands.

void TMainForm::ShowOnTrayClickClick() {
    if (!trayIconPresent_) {
        if (TrayIconOperation(TrayOperation::Add)) {
            TrayIconOperation(TrayOperation::Modify);
            trayIconPresent_ = true;
        } else {
            // Without a notification area the hidden window could not be
            // brought back: keep trying from the tick, as a start with /hide does.
            link_->SetHideToTrayRequested(true);
        }
    }
    Hide();
}

void TMainForm::ShowOnClick() { Show(); }

void TMainForm::ShutDownClick() {
    trayIconPresent_ = false;
    Close();
}

void TMainForm::Zastavit1Click() {
    TTimer& tick = link_->TimerTick();
    if (tick.Enabled()) {
        tick.SetEnabled(false);
        Zastavit1->SetCaption(language_->Msg(135));
    } else {
        tick.SetEnabled(true);
        Zastavit1->SetCaption(language_->Msg(136));
    }
}

void TMainForm::VpisuLogu1Click() {
    SuspendTick();
    {
        TFSetPis dialog(Application(), nullptr,
                        LogSwitches{settings_.Com_In, settings_.Com_PureIn, settings_.Com_Out,
                                    settings_.Com_LocOut, settings_.TCPIP_In, settings_.TCPIP_Out},
                        [this](TForm& form) { TranslateDialog(form); });
        if (RunSettingsDialog(dialog) == mrOk) {
            ConfigWriter writer(*config_, *log_);
            writer.WriteSwitch("Log", "Com_In", settings_.Com_In);
            writer.WriteSwitch("Log", "Com_PureIn", settings_.Com_PureIn);
            writer.WriteSwitch("Log", "Com_Out", settings_.Com_Out);
            writer.WriteSwitch("Log", "Com_LocOut", settings_.Com_LocOut);
            writer.WriteSwitch("Log", "TCP/IP_In", settings_.TCPIP_In);
            writer.WriteSwitch("Log", "TCP/IP_Out", settings_.TCPIP_Out);
        }
    }
    ResumeTick();
}

void TMainForm::tovn1Click() {
    EditAccountingSettings(AccountingDialogParts{
        Application(), nullptr, programDir_, *language_, settings_, link_->TimerTick(),
        link_->TimerUR(), [this](TForm& form) { TranslateDialog(form); },
        [this](std::string_view key, std::string_view value) { WriteSetting("Set", key, value); },
        [this](TForm& form) { CentreDialog(form); }});
}

void TMainForm::Volbasriovhoportu1Click() {
    std::string& port = settings_.Port;
    if (port.size() < 4)
        throw std::out_of_range("The port setting \"" + port + "\" names no port COM1 to COM4");
    int index = static_cast<unsigned char>(port[3]) - '1';
    TFSetPort dialog(Application(), nullptr, index, [this](TForm& form) { TranslateDialog(form); });
    CentreDialog(dialog);
    if (dialog.ShowModal() != mrOk) return;
    link_->TimerMSG().SetEnabled(false);
    link_->TimerSMS().SetEnabled(false);
    if (commPax_->IsOpen()) commPax_->Close();
    const std::string::size_type colon = port.find(':');
    const std::string device = port.substr(0, colon);
    if (device.size() == 4 && SameText(device.substr(0, 3), "COM")) {
        port[3] = static_cast<char>('1' + index);
    } else {
        // A device path has no port digit to replace: the chosen COM port
        // takes the place of the whole device name.
        port = "COM" + std::to_string(index + 1) +
               (colon == std::string::npos ? "" : port.substr(colon));
    }
    WriteSetting("Set", "Port", port);
    try {
        if (!commPax_->Set(port))
            throw ECommError("Invalid port settings text \"" + port + "\"", -1);
        commPax_->Open();
        log_->SetStatusText("");
        link_->RestartAfterPortChoice();
    } catch (const ECommError&) {
        log_->SetStatusText(language_->Msg(134));
    }
}

void TMainForm::COMBaudClick(TMenuItem& item) {
    const std::string baud = IntToStr(StrToIntDef(item.Caption(), 9600));
    TTimer& tick = link_->TimerTick();
    const bool tickWasEnabled = tick.Enabled();
    tick.SetEnabled(false);
    const std::string& current = settings_.Port;
    const std::string::size_type colon = current.find(':');
    const std::string::size_type comma = current.find(',');
    std::string next = colon == std::string::npos ? std::string() : current.substr(0, colon + 1);
    next += baud;
    if (comma != std::string::npos) next += current.substr(comma, 1000);
    if (commPax_->IsOpen()) commPax_->Close();
    settings_.Port = next;
    try {
        // A text the port cannot take leaves it closed, like a failed open.
        if (commPax_->Set(next)) {
            commPax_->Open();
            MenuStateRefresh();
        }
    } catch (const ECommError&) {}
    tick.SetEnabled(tickWasEnabled);
}

void TMainForm::Ulo6itdosouboru1Click() { WriteSetting("Set", "Port", settings_.Port); }

void TMainForm::LanguageClick(TMenuItem& item) {
    for (int i = 0; i < Volbajazyka1->Count(); ++i) Volbajazyka1->Items(i)->SetChecked(false);
    item.SetChecked(true);
    settings_.Lang = item.Caption();
    WriteSetting("Set", "Lang", item.Caption());
    language_->SetLanguage(item.Caption());
    language_->TranslateForm(*this, false);
    language_->TranslateMenu(MainMenu1.Items());
    language_->TranslateMenu(PopupMenu1.Items());
    language_->LoadTexts();
    language_->Close();
}

void TMainForm::Obsah1Click() { Application().HelpCommand(HELP_CONTENTS, 0); }
void TMainForm::Kontextovnpovda1Click() { Application().HelpCommand(HELP_PARTIALKEY, 0); }
void TMainForm::Jakpouvatnpovdu1Click() { Application().HelpCommand(HELP_HELPONHELP, 0); }

void TMainForm::Oaplikaci1Click() {
    CentreDialog(*aboutBox_);
    aboutBox_->ShowModal();
}

void TMainForm::ListBox1DblClick() {
    const int index = ListBox1->ItemIndex();
    if (index < 0) return;
    TFInfo dialog(Application(), nullptr, ListBox1->Items()[index],
                  [this](TForm& form) { TranslateDialog(form); });
    CentreDialog(dialog);
    dialog.ShowModal();
}

} // namespace vantor
