#pragma once
// The running gateway: owns every part (serial packet component, listening
// socket and relay with its reply cache, request queue and link cycle with
// its timers, reply dispatch, data store, accounting file and record list,
// mail bridge, plug-in binding, language table, traffic log, prefix table)
// and wires them together once, in construction order, through the small
// interfaces each part declares.  Constructing it has no visible effect;
// Start() carries out the start-up in its fixed order and SwitchOffIndicators()
// then Stop() the shut-down in its fixed order.  The parts are freed in the
// reverse order of their declaration when the gateway goes.
//
// The main window (TMainForm) keeps what is the window's: controls, menus,
// the tray icon and dialogs.  The gateway reaches back to it only through
// GatewayWindow, and the window reaches the gateway only through the
// commands below, which take and return values: the parts stay inside
// (tests reach them through tests/support/GatewayParts.h).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounting/AccountingFile.h"
#include "accounting/AccountingRecordList.h"
#include "core/Configuration.h"
#include "core/ExchangeLink.h"
#include "core/PrefixTable.h"
#include "core/Settings.h"
#include "core/TrafficLog.h"
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
#include "serial/CommPax.h"
#include "service/GatewayHealth.h"
#include "toolkit/FileAppender.h"
#include "toolkit/IniFile.h"
#include "toolkit/SerialDevice.h"
#include "toolkit/SymbolSource.h"
#include "toolkit/Timer.h"

namespace vantor {

class DirectorySource;
class TApplication;
class TListBox;
class TServerSocket;
class TStatusBar;
class ServiceManager;
class ServiceControlManager;

// What the program entry knows before the gateway exists, and the outer
// edges it hands in: the program entry gives the platform's real devices,
// tests give fakes.
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
    // The system's temporary folder with its trailing '/' (the mail
    // library's default work folder).
    std::string tempFolder = "/tmp/";
    bool serviceMode = false;
    bool serviceRunningElsewhere = false;
    // Entry of the service event log (type 1 error, 4 information); unset
    // outside service mode.
    std::function<void(const std::string& message, int type)> serviceEventLog;
    // Opens the serial device by name.
    SerialDeviceFactory serialDeviceFactory;
    // The serial devices present, offered by the port choice (unset: only
    // COM1 to COM4).
    SerialDeviceList serialDevices;
    // Makes the listening socket component.
    std::function<std::unique_ptr<TServerSocket>(TComponent* owner)> serverSocketFactory;
    // Loads an outside library by its "X.dll" name (unset: none can load).
    SymbolSourceOpener libraryOpener;
    // Makes the accounting file's appender.
    std::function<std::unique_ptr<FileAppender>()> fileAppenderFactory;
    // The file system as the directory chooser browses it (unset: nothing to
    // browse).
    std::shared_ptr<DirectorySource> directories;
    // Receives every traffic-log line as the list shows it (headless and
    // service mode print them on standard output).
    std::function<void(const std::string& line)> logMirror;
    // The gateway's folder, named in the log (in the user's language, once
    // the language is loaded); empty: not named.
    std::string gatewayFolder;
    // Why the check for the service running elsewhere could not tell, named
    // in the log after the folder; empty: it could.
    std::string serviceCheckFailure;
    // The system's service manager for the services dialog (null: none) and
    // the command line a service installed from the dialog runs.
    std::shared_ptr<ServiceManager> serviceManager;
    std::string serviceCommandLine;
    // Windows' service control manager, which the services dialog then uses
    // in place of serviceManager (null elsewhere).
    std::shared_ptr<ServiceControlManager> serviceControlManager;
};

// What the gateway needs of its window.
class GatewayWindow {
public:
    virtual ~GatewayWindow() = default;
    // Translates the window's captions and menus by Tag from the open
    // language file, and marks the current language in its menu.
    virtual void TranslateWindow(TLanguageTable& language) = 0;
    // Adds the tray icon (add, then modify); true once it is there.
    virtual bool AddTrayIcon() = 0;
};

// The mail settings dialog's values ([M602]).
struct MailLogin {
    std::string ConfigPath;
    std::string WorkDir;
    std::string User;
    std::string Password;
};

// The trap settings dialog's values ([Trapy]).
struct TrapOptions {
    std::string Address;
    char AddressType = '\0'; // NUL: no type
    std::string Subject;
    std::string ComOnMessage;  // link restored
    std::string ComOffMessage; // link lost
};

// The plug-in switch: the XAPI setting, and whether the plug-in is loaded
// (a plug-in that failed to load leaves the setting on).
struct PluginState {
    bool on = false;
    bool loaded = false;
};

// What the window's menus show: the port's baud rate (bits per second) and
// the plug-in switch.
struct MenuState {
    unsigned baudRate = 0;
    PluginState plugin;
};

namespace test {
class GatewayParts;
}

class Gateway {
public:
    // The window parts the gateway lives in: the timers' owner, the log
    // list and the status line.
    struct Window {
        GatewayWindow& hooks;
        TComponent* owner;
        TListBox& logList;
        TStatusBar& statusBar;
    };

    Gateway(TApplication& application, const Window& window, GatewayEnvironment environment);
    ~Gateway();
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    // ---- start and stop ----
    // The start-up, in its fixed order: the start line, configuration and
    // language, listening socket, serial port, initial requests, mail bridge,
    // plug-in, TimerTick.  Beside a running service nothing is opened.
    void Start(bool hidden);
    // First step of the shut-down: no extension may keep a message-waiting
    // light once the gateway is gone.
    void SwitchOffIndicators();
    // The rest of the shut-down, in its fixed order: timers, queues, record
    // list, serial port, log list, socket, mail connection, plug-in.
    void Stop();

    // The window is closing: the mail library's pending action is stopped
    // and no tick runs any more.
    void Closing();

    // ---- what the window's commands do ----
    // Holds the tick for the life of the returned object (a modal dialog).
    [[nodiscard]] TimerPause PauseTick() { return TimerPause(link_.TimerTick()); }
    // "Zastavit": switches the tick; returns whether it runs now.
    bool TogglePolling();
    // Opens the serial port on a settings text; when it cannot, the reason as
    // it follows the settings text in a log line: " (text): device: reason".
    std::optional<std::string> OpenSerialPort(const std::string& settingsText);
    // The port settings text in use.
    std::string Port() const { return settings_.Port; }
    // The port choice: the settings text with the chosen device is taken and
    // written; the port is opened anew and the link starts over.  False when
    // it cannot be opened (it is then tried again).
    bool ChoosePort(const std::string& settingsText);
    // A baud rate from the menu: applied at once (not written).  False when
    // the port could not be opened with it.
    bool ChangeBaudRate(std::string_view baud);
    // Writes the port settings text as it is now.
    void SavePortSettings();
    // The language code in use, as its file spells it.
    std::string Language() const { return settings_.Lang; }
    // Switches the language: written, captions and texts reloaded.
    void SwitchLanguage(const std::string& code);
    // Switches the plug-in on or off and writes XAPI.
    PluginState TogglePlugin();
    // Shows the plug-in its users window over the given rectangle.
    void ShowPluginUsers(int left, int top, int width, int height);
    // The six log switches (and Extent, which only the file sets); saving
    // takes them and writes the six.
    LogSettings LogSwitches() const { return settings_; }
    void SaveLogSwitches(const LogSettings& switches);
    // The accounting settings; saving takes them, switches the accounting
    // poll by ReadUct and writes the three.
    AccountingSettings AccountingOptions() const { return settings_; }
    void SaveAccountingOptions(const AccountingSettings& options);
    // Where accounting file names without a folder lie.
    std::string AccountingFolder() const { return programDir_; }
    // The mail login and the trap settings; saving takes them and writes
    // their section.  The mail library gets new values at the next start:
    // its connection is not reopened.
    MailLogin MailAccount() const;
    void SaveMailAccount(const MailLogin& login);
    TrapOptions Traps() const;
    void SaveTraps(const TrapOptions& traps);
    // What the menus show.
    MenuState Menu() const;
    // A hidden start waits for the notification area: the tick keeps trying
    // to add the tray icon until it is there.
    bool HideToTrayRequested() const { return hideToTray_; }
    // An "!Err" line with a numbered text.
    void ReportError(int textNumber);
    // The numbered texts of the language in use, for the window's dialogs.
    TextSource& Texts() { return language_; }
    // Translates a dialog by its Tags from its own language file.
    void TranslateDialog(TForm& form) { language_.TranslateForm(form, true); }
    // What keeps the gateway from its work now (the service shows it).
    GatewayHealth Health() const;

private:
    friend class test::GatewayParts;

    // One tick of TimerTick: the window's tray icon after a hidden start,
    // then the link's tick.
    void Tick();
    // Writes one setting as the settings table says; a failed write is logged.
    template <class Member>
    bool Save(Member member) {
        return ConfigWriter(config_, log_).Save(settings_, member);
    }
    void ReadConfiguration();
    void LoadLanguage();
    void OpenListeningSocket();
    void OpenSerialPortAtStart();
    void StartMailBridge();
    // The serial device vanished (hang-up, I/O error): a link failure.
    void SerialLineLost(int error);
    // A port to open again: the retry timer runs.
    void RetryLater(bool& pending);
    void RetryPorts();
    void StartPlugin();
    // An "!Err" line, and in service mode an error event with its text.
    void ReportStartupError(const std::string& line);
    void ServiceErrorEvent(const std::string& text);

    TApplication& app_;
    GatewayWindow& window_;
    GatewayEnvironment env_;
    std::string programDir_;
    std::string configFileName_;
    Settings settings_;
    PrefixTable prefixes_;
    TIniFile config_;
    IniSnapshot configText_; // the configuration as read at start, until the start is done
    TLanguageTable language_;
    TrafficLog log_;
    CommandFormatter formatter_;
    AccountingFile accountingFile_;
    AccountingRecordList records_;
    TDataStore store_;
    TXAPI plugin_;
    TMailBridge mail_;
    TCommPax commPax_;
    // Opens a serial port or listening socket again that was lost or could
    // not be opened, every PortRetry ms until both are open.
    TTimer portRetry_;
    bool serialPending_ = false;
    bool listenPending_ = false;
    std::string serialFailure_;        // why the port is not open, in the system's words
    std::string listenFailure_;        // why the TCP port is not open
    std::int64_t lastRetryReport_ = 0; // ms; failed retries are logged once a minute
    bool hideToTray_ = false;
    ReplyCache cache_;
    std::unique_ptr<TServerSocket> serverSocket_;
    ServerSocketRelay serverRelay_;
    DataStoreRelay relayStore_;
    // The link hands replies to the dispatch, the dispatch hands relayed
    // replies to the relay, and the relay hands requests to the link: the
    // link is made first with a reference to the dispatch that follows it,
    // which it only uses once frames arrive.
    ExchangeLink link_;
    ClientRelay relay_;
    ReplyDispatcher dispatcher_;
    XapiCommandHandler xapiCommands_;
};

} // namespace vantor
