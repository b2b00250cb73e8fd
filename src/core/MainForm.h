#pragma once
// TMainForm is the gateway: the main window owns every part of it (serial
// packet component, listening socket, request queue and link cycle with the
// seven timers, traffic log, data store, reply cache, accounting list, mail
// bridge, plug-in binding, translator, prefix table) and wires them together.
// Creating it starts the gateway in a fixed order; destroying it stops the
// gateway in a fixed order.  The published handler names are thin glue that
// calls into the components.
#include "core/Configuration.h"
#include "core/PrefixTable.h"
#include "core/Settings.h"
#include "core/TrafficLog.h"
#include "platform/SerialDevice.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantor {

class AccountingRecordList;
class ClientRelay;
class DataStoreRelay;
class ServerSocketRelay;
class CommandFormatter;
class ExchangeLink;
class ReplyCache;
class ReplyDispatcher;
class TAboutBox;
class TCommPax;
class TDataStore;
class TIniFile;
class TLanguageTable;
class TMailBridge;
class TServerSocket;
class ServiceManager;
class TXAPI;
class XapiCommandHandler;
struct GatewayGlue;

// What the program entry knows before the main window exists.
struct GatewayEnvironment {
    // The command line as separate arguments (argv[0] first) and as one text.
    std::vector<std::string> arguments;
    std::string commandLine;
    // The program file: the configuration file is this path with the
    // extension ".INI"; relative accounting files and the outside libraries
    // lie in its directory.
    std::string programPath;
    // Where language files are looked for, in order (default: the program's
    // directory, then the installed data directory).
    std::vector<std::string> languageFolders;
    bool serviceMode = false;
    bool serviceRunningElsewhere = false;
    // Entry of the service event log (type 1 error, 4 information); unset
    // outside service mode.
    std::function<void(const std::string& message, int type)> serviceEventLog;
    // How the serial port and the listening socket are made (tests inject
    // fakes; unset: the real ones).
    SerialDeviceFactory serialDeviceFactory;
    std::function<std::unique_ptr<TServerSocket>(TComponent* owner)> serverSocketFactory;
    // Receives every traffic-log line as the list shows it (headless and
    // service mode print them on standard output).
    std::function<void(const std::string& line)> logMirror;
    // Lines logged ("----") right after the start line, such as the folder
    // in use.
    std::vector<std::string> startNotes;
    // The system's service manager for the services dialog (null: none) and
    // the command line a service installed from the dialog runs.
    std::shared_ptr<ServiceManager> serviceManager;
    std::string serviceCommandLine;
};

class TMainForm : public TForm {
public:
    TMainForm(TApplication& app, GatewayEnvironment environment);
    ~TMainForm() override;
    std::string ClassName() const override { return "TMainForm"; }

    // ---- components ----
    TMainMenu MainMenu1;
    TPopupMenu PopupMenu1;
    TMenuItem *Vantor1, *ShowOnTrayClick, *Ukonit1, *Zastavit1;
    TMenuItem *Nastaven1, *Mail6021, *LoklnTrapy1, *VpisuLogu1, *tovn1, *StartItem, *XAPI1,
        *Callcentrum1, *Volbasriovhoportu1, *x1, *Baud57600, *Baud38400, *Baud19200, *Baud9600,
        *Ulo6itdosouboru1, *Volbajazyka1;
    TMenuItem *Npovda1, *Obsah1, *Kontextovnpovda1, *Jakpouvatnpovdu1, *Oaplikaci1;
    TMenuItem *Zobrazit1, *Ukonit2;
    TListBox* ListBox1;
    TStatusBar* StatusBar1;
    TButton* Button4;
    TImage* Image1;

    // ---- event handlers ----
    void FormCreate();
    void FormActivate();
    void FormResize();
    void FormClose(TCloseAction& action);
    void FormDestroy();
    void ShowOnTrayClickClick();
    void ShowOnClick();
    void ShutDownClick();
    void Zastavit1Click();
    void VpisuLogu1Click();
    void tovn1Click();
    void StartItemClick();
    void Volbasriovhoportu1Click();
    void COMBaudClick(TMenuItem& item);
    void Ulo6itdosouboru1Click();
    void LanguageClick(TMenuItem& item);
    void Obsah1Click();
    void Kontextovnpovda1Click();
    void Jakpouvatnpovdu1Click();
    void Oaplikaci1Click();
    void XAPI1Click();
    void Callcentrum1Click();
    void ListBox1DblClick();
    // The tray icon's notification (mouse message in the low parameter).
    void TrayCallback(unsigned mouseMessage);

    // ---- operations offered to the components ----
    bool TrayIconOperation(TrayOperation operation);
    void CentreDialog(TForm& dialog);
    void SuspendTick();
    void ResumeTick();
    void MenuStateRefresh();

    // ---- state, for the components and tests ----
    Settings& Config() { return settings_; }
    const PrefixTable& Prefixes() const { return prefixes_; }
    TrafficLog& Log() { return *log_; }
    TLanguageTable& LanguageTable() { return *language_; }
    ExchangeLink& Link() { return *link_; }
    TDataStore& Store() { return *store_; }
    TCommPax& CommPax1() { return *commPax_; }
    TServerSocket* ServerSocket1() { return serverSocket_.get(); }
    ReplyCache& Cache() { return *cache_; }
    AccountingRecordList& AccountingRecords() { return *records_; }
    TMailBridge& MailBridge() { return *mailBridge_; }
    TXAPI& Plugin() { return *plugin_; }
    TAboutBox& AboutBox() { return *aboutBox_; }
    const std::string& ConfigFileName() const { return configFileName_; }
    const std::string& ProgramDirectory() const { return programDir_; }
    bool HideToTrayRequested() const;
    bool TrayIconPresent() const { return trayIconPresent_; }
    const GatewayEnvironment& Environment() const { return env_; }

private:
    void BuildMenus();
    void BuildControls();
    void LoadLanguage();
    void CreateComponents();
    void StartPlugin();
    void OpenListeningSocket();
    void OpenSerialPort();
    void ReportStartupError(int text, const std::string& suffix = {});
    void TranslateDialog(TForm& form);
    // Runs a settings dialog modally with the tick suspended and centred.
    int RunSettingsDialog(TForm& dialog);
    bool WriteSetting(std::string_view section, std::string_view key, std::string_view value);
    void ReopenPort(const std::string& settingsText);

    GatewayEnvironment env_;
    std::string programDir_;
    std::string configFileName_;
    Settings settings_;
    PrefixTable prefixes_;
    std::unique_ptr<TIniFile> config_;
    std::unique_ptr<TrafficLog> log_;
    std::unique_ptr<TLanguageTable> language_;
    std::unique_ptr<CommandFormatter> formatter_;
    std::unique_ptr<GatewayGlue> glue_;
    std::unique_ptr<TCommPax> commPax_;
    std::unique_ptr<TServerSocket> serverSocket_;
    std::unique_ptr<ServerSocketRelay> serverRelay_;
    std::unique_ptr<TDataStore> store_;
    std::unique_ptr<ReplyCache> cache_;
    std::unique_ptr<AccountingRecordList> records_;
    std::unique_ptr<TMailBridge> mailBridge_;
    std::unique_ptr<TXAPI> plugin_;
    std::unique_ptr<XapiCommandHandler> xapiCommands_;
    std::unique_ptr<ExchangeLink> link_;
    std::unique_ptr<ReplyDispatcher> dispatcher_;
    std::unique_ptr<DataStoreRelay> relayStore_;
    std::unique_ptr<ClientRelay> relay_;
    std::unique_ptr<TAboutBox> aboutBox_;
    std::string trayTip_;
    bool trayTipKept_ = false;
    bool trayIconPresent_ = false;
    bool tickSuspensionMemory_ = false;
    bool destroyed_ = false;
};

} // namespace vantor
