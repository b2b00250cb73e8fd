#include "core/Gateway.h"

#include <filesystem>

#include "nls/TextIds.h"
#include "serial/Comm.h"
#include "serial/CommMode.h"
#include "toolkit/Desktop.h"
#include "toolkit/FilePath.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFile.h"
#include "toolkit/ServerSocket.h"
#include "toolkit/StringList.h"
#include "toolkit/Strings.h"
#include "ui/AboutBox.h"

namespace vantor {

namespace {

// "X.EXE" -> "X.INI"; a program file without an extension gets one.  The
// path is the gateway's 8-bit text, so it goes through FilePath (a folder
// with Czech letters on Windows).
std::string ConfigPathFor(const std::string& programPath) {
    std::filesystem::path path = FilePath(programPath);
    path.replace_extension(".INI");
    return FilePathText(path);
}

std::string DirectoryOf(const std::string& programPath) {
    std::string dir = FilePathText(FilePath(programPath).parent_path());
    return dir.empty() ? std::string(".") : dir;
}

// "Error accessing specified device (Error: 2) " without its closing blank.
std::string TrimmedReason(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::unique_ptr<TServerSocket> MakeListener(const GatewayEnvironment& env, TComponent* owner) {
    if (!env.serverSocketFactory) throw std::logic_error("the gateway needs a listening socket");
    return env.serverSocketFactory(owner);
}

std::unique_ptr<FileAppender> MakeAppender(const GatewayEnvironment& env) {
    return env.fileAppenderFactory ? env.fileAppenderFactory() : nullptr;
}

std::vector<std::string> LanguageFolders(const GatewayEnvironment& env) {
    return env.languageFolders.empty()
               ? TLanguageTable::DefaultFolders(DirectoryOf(env.programPath))
               : env.languageFolders;
}

} // namespace

Gateway::Gateway(TApplication& application, const Window& window, GatewayEnvironment environment)
    : app_(application), window_(window.hooks), env_(std::move(environment)),
      programDir_(DirectoryOf(env_.programPath)), configFileName_(ConfigPathFor(env_.programPath)),
      config_(configFileName_), language_(LanguageFolders(env_)),
      log_(window.logList, window.statusBar, application.Loop()), formatter_(language_),
      accountingFile_(programDir_, MakeAppender(env_)), store_(log_, application.Loop()),
      plugin_(log_, application.Loop(), env_.libraryOpener),
      mail_(log_, language_, store_, settings_, env_.libraryOpener, env_.tempFolder),
      commPax_(window.owner, application.Loop(), env_.serialDeviceFactory),
      portRetry_(window.owner, application.Loop()),
      cache_(0, [&application] { return application.Loop().now(); }),
      serverSocket_(MakeListener(env_, window.owner)),
      serverRelay_(*serverSocket_, log_, language_), relayStore_(store_),
      link_(ExchangeLink::Parts{window.owner, application.Loop(), settings_, commPax_, store_,
                                accountingFile_, mail_, log_, language_, formatter_, dispatcher_,
                                &plugin_}),
      relay_(ClientRelay::Parts{application.Loop(), settings_, settings_, log_, language_,
                                formatter_, cache_, records_, link_, relayStore_, serverRelay_}),
      dispatcher_(ReplyDispatcher::Parts{
          link_, store_, settings_, settings_, log_, language_, mail_, relay_, accountingFile_,
          records_,
          [&application](std::string_view text, std::string_view caption, unsigned flags) {
              return application.GetDesktop().MessageBox(text, caption, flags);
          },
          GatewayVersionText()}),
      xapiCommands_(plugin_, log_,
                    XapiCommandHandler::Hooks{
                        [this](std::span<const std::uint8_t, 88> record) {
                            return store_.StoreCommand(record);
                        },
                        [this](int slot) { link_.Enqueue(RequestKind::PluginCommand, slot); },
                        [this](std::string_view number) { return prefixes_.Substitute(number); }}) {
    link_.TimerTick().OnTimer = [this](TObject*) { Tick(); };
    commPax_.SetName("CommPax1");
    commPax_.SetMaxPacketSize(512);
    commPax_.SetDeviceName("Com2");
    commPax_.OnRxPacket = [this](TObject*, int count, const std::uint8_t* data) {
        link_.HandleFrame(count, data);
    };
    commPax_.OnRxChr = [this](TObject*, std::uint8_t chr) { link_.HandleChar(chr); };
    language_.SetWarningSink(
        [this](const std::string& warning) { log_.WriteLog(labels::Error, warning); });
    commPax_.OnDeviceLost = [this](TObject*, int error) { SerialLineLost(error); };
    portRetry_.SetName("TimerPortRetry");
    portRetry_.SetEnabled(false);
    portRetry_.OnTimer = [this](TObject*) { RetryPorts(); };
    store_.SetPluginFeed(&plugin_);
    dispatcher_.SetPluginFeed(&plugin_);
    plugin_.OnCommandMessage = [this](long lParam) { xapiCommands_.HandleMessage(lParam); };
    serverRelay_.Attach(relay_);
}

Gateway::~Gateway() {
    // Nothing may reach the parts through the component callbacks while they go.
    plugin_.OnCommandMessage = nullptr;
    commPax_.OnRxPacket = nullptr;
    commPax_.OnRxChr = nullptr;
    commPax_.OnDeviceLost = nullptr;
    portRetry_.OnTimer = nullptr;
    link_.TimerTick().OnTimer = nullptr;
    store_.SetPluginFeed(nullptr);
}

// ---------------------------------------------------------------------------
// Start-up, in its fixed order.

void Gateway::Start(bool hidden) {
    log_.OnLine = env_.logMirror;
    log_.WriteLog(labels::Note, "Start Tarvo Vantor ----");
    if (env_.serviceMode && env_.serviceEventLog) env_.serviceEventLog("Start", 4);

    ReadConfiguration();

    // Sizes and periods come from the configuration.  The cache is allocated
    // only by an instance that serves clients; a failed allocation switches
    // it off.
    link_.ApplyTimerPeriods();
    accountingFile_.Resume(settings_.UctFile);
    if (auto warning = accountingFile_.TakeStateWarning()) log_.WriteLog(labels::Error, *warning);
    cache_.Allocate(env_.serviceRunningElsewhere ? 0 : settings_.MaxCache);
    settings_.MaxCache = cache_.MaxCache();
    // As a service the window stays hidden and no tray icon is made.
    hideToTray_ = hidden && !env_.serviceMode;

    if (env_.serviceRunningElsewhere) {
        log_.WriteLog(labels::Note, "NT Service -----------");
    } else {
        OpenListeningSocket();
        OpenSerialPortAtStart();
        link_.InitialRequestSet();
    }
    StartMailBridge();
    // A line that could not be opened is a dead link from the start (now that
    // the trap can be mailed); it is tried again until it opens.
    if (serialPending_) link_.LineLost();
    if (settings_.XAPI) StartPlugin();
    link_.TimerTick().SetEnabled(true);
}

void Gateway::ReadConfiguration() {
    // Read once: every setting below is a lookup in this one parsed copy.
    configText_ = config_.Snapshot();
    if (!configText_.refusal.empty()) {
        // A service that cannot read the configuration it was given must not
        // run on the defaults: it would poll whatever line COM2 is.  A file
        // that is missing is another matter (defaults and a warning).
        if (env_.serviceMode) {
            log_.WriteLog(labels::Error, configText_.refusal + "; the service does not start");
            throw EIniFileError(configText_.refusal);
        }
        log_.WriteLog(labels::Error, configText_.refusal + "; the default settings are used");
    }
    ConfigReader reader(configText_.document, language_);

    settings_.Lang = reader.ReadLanguage();
    // The texts first: the folder line and the box about a missing
    // configuration file are in the user's language.
    language_.SetLanguage(settings_.Lang);
    language_.LoadTexts();
    language_.Close();
    settings_.Lang = language_.Language(); // as the file spells it ("cz" is "Cz")
    if (!env_.gatewayFolder.empty())
        log_.WriteLog(labels::Note,
                      FormatText(language_.Msg(msg::GatewayFolder), {env_.gatewayFolder}));
    if (!env_.serviceCheckFailure.empty())
        log_.WriteLog(labels::Note, FormatText(language_.Msg(msg::ServiceStateUnknown),
                                               {env_.serviceCheckFailure}));
    if (!config_.Exists())
        app_.GetDesktop().MessageBox(language_.Msg(msg::NoConfigurationFile),
                                     language_.Msg(msg::WarningCaption), MB_ICONWARNING);
    LoadLanguage();

    std::vector<std::string> warnings;
    reader.ReadSettings(settings_, prefixes_, warnings);
    for (const std::string& warning : warnings) log_.WriteLog(labels::Error, warning);
}

void Gateway::LoadLanguage() {
    language_.Open();
    window_.TranslateWindow(language_);
    language_.LoadTexts();
    language_.Close();
}

void Gateway::ReportStartupError(const std::string& line) {
    log_.WriteLog(labels::Error, line);
    ServiceErrorEvent(line);
}

void Gateway::ServiceErrorEvent(const std::string& text) {
    if (env_.serviceMode && env_.serviceEventLog) env_.serviceEventLog(text, 1);
}

void Gateway::OpenListeningSocket() {
    std::vector<std::string> refused;
    serverRelay_.SetAccess(ClientAccessList::Parse(settings_.IPAllow, refused),
                           [this] { return app_.Loop().monotonicMs(); });
    for (const std::string& entry : refused)
        log_.WriteLog(labels::Error, FormatText(language_.Msg(msg::IPAllowEntryRefused), {entry}));
    // An address that is no IPv4 address can never be bound: it is named and
    // every address is used, rather than retrying it for as long as we run.
    const auto bind = ClientAccessList::ParseAddress(TrimView(settings_.IPBind));
    if (!bind && !TrimView(settings_.IPBind).empty())
        log_.WriteLog(labels::Error, language_.Msg(msg::IPBindInvalid) + settings_.IPBind);
    settings_.IPBind = bind ? ClientAccessList::DottedAddress(*bind) : std::string();
    serverSocket_->SetBindAddress(settings_.IPBind);
    serverSocket_->SetMaxConnections(settings_.MaxClients);
    if (serverRelay_.Open(settings_.IPPort)) return;
    listenFailure_ = log_.LastText();
    ServiceErrorEvent(listenFailure_);
    RetryLater(listenPending_);
}

std::optional<std::string> Gateway::OpenSerialPort(const std::string& settingsText) {
    try {
        if (!commPax_.Set(settingsText))
            throw ECommError("Invalid port settings text \"" + settingsText + "\"", -1);
        commPax_.Open();
        return std::nullopt;
    } catch (const ECommError& e) {
        serialFailure_ = e.Detail().empty() ? TrimmedReason(e.what()) : e.Detail();
        // The system's reason and the device path follow the framework's text.
        return " (" + TrimmedReason(e.what()) + ")" + (e.Detail().empty() ? "" : ": " + e.Detail());
    } catch (const std::exception& e) {
        serialFailure_ = TrimmedReason(e.what());
        return " (" + TrimmedReason(e.what()) + ")";
    }
}

void Gateway::OpenSerialPortAtStart() {
    if (const auto failure = OpenSerialPort(settings_.Port)) {
        // The reason follows the settings text, so a technician sees why.
        ReportStartupError(language_.Msg(msg::SerialPortOpenFailed) + settings_.Port + *failure);
        RetryLater(serialPending_);
        return;
    }
    log_.WriteLog(labels::Ok, language_.Msg(msg::SerialPortOpened) + settings_.Port);
}

void Gateway::SerialLineLost(int error) {
    log_.WriteLog(labels::Error, FormatText(language_.Msg(msg::SerialDeviceLost),
                                            {commPax_.DeviceName(), std::to_string(error)}));
    serialFailure_ = log_.LastText();
    link_.LineLost();
    RetryLater(serialPending_);
}

void Gateway::RetryLater(bool& pending) {
    pending = true;
    lastRetryReport_ = app_.Loop().monotonicMs();
    portRetry_.SetInterval(static_cast<std::uint32_t>(settings_.PortRetry));
    portRetry_.SetEnabled(true);
}

void Gateway::RetryPorts() {
    if (serialPending_) {
        if (const auto failure = OpenSerialPort(settings_.Port)) {
            const std::int64_t now = app_.Loop().monotonicMs();
            if (now - lastRetryReport_ >= 60000) {
                lastRetryReport_ = now;
                log_.WriteLog(labels::Error,
                              language_.Msg(msg::SerialPortOpenFailed) + settings_.Port + *failure);
            }
        } else {
            serialPending_ = false;
            log_.WriteLog(labels::Ok, language_.Msg(msg::SerialPortOpened) + settings_.Port);
            link_.LineReopened();
        }
    }
    if (listenPending_ && serverRelay_.Open(settings_.IPPort, false)) listenPending_ = false;
    if (!serialPending_ && !listenPending_) portRetry_.SetEnabled(false);
}

void Gateway::StartMailBridge() {
    mail_.Create();
    mail_.LoadSettings(configText_.document, language_);
    configText_ = IniSnapshot(); // read: it is not kept
    if (env_.serviceRunningElsewhere) return;
    if (mail_.Initialise()) {
        log_.WriteLog(labels::Ok, language_.Msg(msg::MailConnected));
    } else {
        log_.WriteLog(labels::Error, language_.Msg(msg::MailConnectFailed));
        // The text names every possible cause; the event says which it was.
        const std::string& why = mail_.FailureReason();
        ServiceErrorEvent(language_.Msg(msg::MailConnectFailed) + (why.empty() ? "" : ": " + why));
    }
}

GatewayHealth Gateway::Health() const {
    GatewayHealth health;
    health.linkLostSince = link_.LinkLostSince();
    if (serialPending_) {
        health.serialPort = serialFailure_;
        health.serialDevice = settings_.Port.substr(0, settings_.Port.find(':'));
    }
    if (listenPending_) health.listeningPort = listenFailure_;
    if (accountingFile_.WriteFailed()) health.accountingFile = accountingFile_.Error();
    return health;
}

void Gateway::StartPlugin() {
    if (!plugin_.Start()) return;
    // A fresh picture for the plug-in: the link starts over and the personal
    // data and short numbers are downloaded anew.
    store_.SetBlockCounter(0);
    link_.InitialRequestSet();
    link_.Enqueue(RequestKind::PersonalData, 0);
}

void Gateway::Tick() {
    // The window's part comes first, and like the link's part it does not
    // run inside a tick (a library that pumps messages during one).
    if (hideToTray_ && !link_.Ticking() && window_.AddTrayIcon()) hideToTray_ = false;
    link_.Tick();
}

// ---------------------------------------------------------------------------
// Shut-down, in its fixed order.

void Gateway::SwitchOffIndicators() {
    store_.ClearCounters();
    link_.SendPacket(labels::ToExchange, language_.Msg(msg::ClearingIndicators),
                     store_.BuildRequest(RequestKind::MessageCounters));
}

void Gateway::Stop() {
    link_.StopTimers();
    portRetry_.SetEnabled(false);
    link_.ClearQueues();
    records_ = AccountingRecordList();
    if (commPax_.IsOpen()) commPax_.Close();
    log_.Clear();
    serverRelay_.Close();
    mail_.Close();
    if (settings_.XAPI) plugin_.Stop();
}

void Gateway::Closing() {
    mail_.StopAction();
    link_.TimerTick().SetEnabled(false);
}

// ---------------------------------------------------------------------------
// Commands.

bool Gateway::TogglePolling() {
    TTimer& tick = link_.TimerTick();
    tick.SetEnabled(!tick.Enabled());
    return tick.Enabled();
}

bool Gateway::ChoosePort(const std::string& settingsText) {
    link_.TimerMSG().SetEnabled(false);
    link_.TimerSMS().SetEnabled(false);
    if (commPax_.IsOpen()) commPax_.Close();
    settings_.Port = settingsText;
    Save(&Settings::Port);
    if (OpenSerialPort(settings_.Port)) {
        log_.SetStatusText(language_.Msg(msg::SerialPortCannotOpen));
        RetryLater(serialPending_);
        return false;
    }
    serialPending_ = false;
    log_.SetStatusText("");
    link_.RestartAfterPortChoice();
    return true;
}

bool Gateway::ChangeBaudRate(std::string_view baud) {
    const TimerPause pause(link_.TimerTick());
    const std::string next = WithBaudRate(settings_.Port, baud);
    if (commPax_.IsOpen()) commPax_.Close();
    settings_.Port = next;
    // A text the port cannot take leaves it closed, like a failed open.
    if (OpenSerialPort(next)) {
        RetryLater(serialPending_);
        return false;
    }
    serialPending_ = false;
    return true;
}

void Gateway::SavePortSettings() { Save(&Settings::Port); }

void Gateway::SwitchLanguage(const std::string& code) {
    settings_.Lang = code;
    Save(&Settings::Lang);
    language_.SetLanguage(code);
    window_.TranslateWindow(language_);
    language_.LoadTexts();
    language_.Close();
}

PluginState Gateway::TogglePlugin() {
    const bool wasOn = settings_.XAPI != 0;
    settings_.XAPI = wasOn ? 0 : 1;
    if (wasOn)
        plugin_.Stop();
    else
        StartPlugin();
    Save(&Settings::XAPI);
    return Menu().plugin;
}

void Gateway::ShowPluginUsers(int left, int top, int width, int height) {
    if (!plugin_.Active()) return;
    std::vector<std::string> texts;
    const TStringList& list = language_.Texts();
    for (int i = 0; i < list.Count(); ++i) texts.push_back(list[i]);
    plugin_.Users(left, top, width, height, texts);
}

void Gateway::SaveLogSwitches(const LogSettings& switches) {
    static_cast<LogSettings&>(settings_) = switches;
    for (auto member : {&Settings::Com_In, &Settings::Com_PureIn, &Settings::Com_Out,
                        &Settings::Com_LocOut, &Settings::TCPIP_In, &Settings::TCPIP_Out})
        Save(member);
}

void Gateway::SaveAccountingOptions(const AccountingSettings& options) {
    static_cast<AccountingSettings&>(settings_) = options;
    link_.TimerUR().SetEnabled(settings_.ReadUct == 1);
    Save(&Settings::ReadUct);
    Save(&Settings::SendUct);
    Save(&Settings::UctFile);
}

MailLogin Gateway::MailAccount() const {
    const MailSettings& mail = mail_.Block();
    return {mail.ConfigPath, mail.WorkDir, mail.User, mail.Password};
}

void Gateway::SaveMailAccount(const MailLogin& login) {
    MailSettings& mail = mail_.Block();
    mail.ConfigPath = login.ConfigPath;
    mail.WorkDir = login.WorkDir;
    mail.User = login.User;
    mail.Password = login.Password;
    mail_.SaveMailSettings(config_);
}

TrapOptions Gateway::Traps() const {
    const MailSettings& mail = mail_.Block();
    return {mail.TrapAddress, mail.TrapAddressType, mail.TrapSubject, mail.ComOnMessage,
            mail.ComOffMessage};
}

void Gateway::SaveTraps(const TrapOptions& traps) {
    MailSettings& mail = mail_.Block();
    mail.TrapAddress = traps.Address;
    mail.TrapAddressType = traps.AddressType;
    mail.TrapSubject = traps.Subject;
    mail.ComOnMessage = traps.ComOnMessage;
    mail.ComOffMessage = traps.ComOffMessage;
    mail_.SaveTrapSettings(config_);
}

MenuState Gateway::Menu() const {
    return {BaudRateValue(commPax_.BaudRate()), {settings_.XAPI != 0, plugin_.Active()}};
}

void Gateway::ReportError(int textNumber) {
    log_.WriteLog(labels::Error, language_.Msg(textNumber));
}

} // namespace vantor
