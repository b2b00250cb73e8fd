// Program entry: reads the command line, picks the loop and the desktop,
// creates the main window (which starts the gateway) and runs until the
// window closes or a stop signal arrives.
#include "core/MainForm.h"
#include "app/PlatformEdges.h"
#ifdef VANTOR_HAVE_DESKTOP
#include "app/DesktopStart.h"
#endif
#include "platform/Paths.h"
#include "platform/PollLoop.h"
#include "platform/PosixFileAppender.h"
#include "platform/PosixSerialDevice.h"
#include "platform/PosixServerSocket.h"
#include "platform/Signals.h"
#include "platform/Systemd.h"
#include "service/ServiceControl.h"
#include "service/ServiceProcess.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/IniFile.h"
#include "toolkit/TextSource.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const Usage =
    "usage: vantor [--home DIR] [--headless] [/hide] [/service]\n"
    "       vantor --help | --version\n"
    "\n"
    "Gateway between a telephone exchange on a serial line, TCP/IP clients and\n"
    "a mail system.\n"
    "\n"
    "  --home DIR   use DIR as the gateway's folder: vantor.INI, the language\n"
    "               files TVantor.<code>, relative accounting files and the\n"
    "               outside libraries are taken from there (default: the\n"
    "               folder of the executable; for an installed program\n"
    "               $XDG_DATA_HOME/tarvovantor, ~/.local/share/tarvovantor)\n"
    "  --headless   run without a window; every log line and message box goes\n"
    "               to standard output (also the case when no display can be\n"
    "               reached through DISPLAY or WAYLAND_DISPLAY)\n"
    "  /hide        start hidden in the notification area (exact, whole\n"
    "               argument)\n"
    "  /service     run as the system service (exact, whole argument); only\n"
    "               systemd starts it so (systemctl start tarvovantor), by\n"
    "               hand it ends at once\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "SIGTERM or SIGINT closes the gateway as closing its window does, also\n"
    "during start-up (exit status 0).  As a service, SIGTERM stops it and\n"
    "SIGUSR1 makes it report its state again.\n"
    "A start while the service tarvovantor runs only shows the log and opens\n"
    "neither the serial port nor the TCP port.  See vantor(1).\n";

struct CommandLine {
    std::vector<std::string> arguments;
    std::string raw;
    std::string home;
    bool headless = false;
    bool service = false;
    bool help = false;
    bool version = false;
    std::string error;
};

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine cl;
    for (int i = 0; i < argc; ++i) {
        cl.arguments.emplace_back(argv[i]);
        if (i) cl.raw += ' ';
        cl.raw += argv[i];
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            cl.help = true;
        } else if (arg == "--version") {
            cl.version = true;
        } else if (arg == "--headless") {
            cl.headless = true;
        } else if (arg == "--home") {
            if (i + 1 >= argc) {
                cl.error = "--home needs a folder";
            } else {
                cl.home = argv[++i];
            }
        } else if (arg.rfind("--home=", 0) == 0) {
            cl.home = arg.substr(7);
        } else if (arg.rfind("--", 0) == 0) {
            cl.error = "unknown option " + arg;
        } else if (arg == "/service") {
            // Only as a whole argument, as "/hide" is read: paths are written
            // with '/' here, so `--home /srv/services/pbx` or a program
            // installed under such a folder would otherwise start as the
            // service.
            cl.service = true;
        }
        // Everything else ("/hide" and the like) is the main window's to read.
    }
    return cl;
}


// The start-up check of the service shows no message box: it needs no texts.
class NoTexts final : public vantor::TextSource {
public:
    std::string Msg(int) const override { return {}; }
    std::string Text(int) override { return {}; }
};

// The gateway's folder: --home, else the folder of the executable, unless
// that is an installed program's folder (with the data folder beside it) or
// one this user cannot write; then the user's own data folder.
struct HomeChoice {
    std::string folder;
    std::string error;
};

HomeChoice ChooseHome(const std::string& homeArgument, const std::string& exeDir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!homeArgument.empty()) {
        if (!fs::is_directory(homeArgument, ec))
            return {{}, "--home " + homeArgument + ": not a folder"};
        fs::path folder = fs::absolute(homeArgument).lexically_normal();
        // "dir/" and "dir/." name the folder itself.
        if (!folder.has_filename() && folder != folder.root_path()) folder = folder.parent_path();
        return {folder.string(), {}};
    }
    const bool installed =
        !exeDir.empty() && fs::is_directory(fs::path(exeDir) / VANTOR_DATA_DIR_FROM_BIN, ec);
    if (!exeDir.empty() && !installed && vantor::FolderWritable(exeDir)) return {exeDir, {}};
    const std::string own = vantor::UserDataFolder("tarvovantor");
    if (own.empty())
        return {{},
                "neither XDG_DATA_HOME nor HOME names a folder for the gateway's files; "
                "give one with --home"};
    fs::create_directories(own, ec);
    if (!fs::is_directory(own, ec))
        return {{}, "cannot create " + own + " (" + ec.message() + "); give a folder with --home"};
    return {own, {}};
}

// The language files: the gateway's folder, beside the executable (a build
// tree), the data folder of this installation, the configured data folder.
std::vector<std::string> LanguageFolders(const std::string& home, const std::string& exeDir) {
    std::vector<std::string> folders{home};
    auto add = [&folders](const std::string& folder) {
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    };
    if (!exeDir.empty()) {
        add(exeDir);
        add((std::filesystem::path(exeDir) / VANTOR_DATA_DIR_FROM_BIN).lexically_normal().string());
    }
    add(VANTOR_DATA_DIR);
    return folders;
}

// A configuration that is there but cannot be used ends the service with
// this status (EX_CONFIG); the units do not restart on it, since only a
// technician can mend the file.
constexpr int ExitConfigurationUnusable = 78;

// Runs the gateway as the system service; returns the exit status.
int RunAsService(vantor::TApplication& app, vantor::PollLoop& loop,
                 vantor::GatewayEnvironment env) {
    using namespace vantor;
    SystemdNotifier notifier;
    JournalEventLog eventLog(std::cerr);
    ServiceProcess service(notifier, eventLog, loop);
    service.SetInstance(SystemdUnitInstance());
    bool configurationUnusable = false;
    env.serviceMode = true;
    env.serviceRunningElsewhere = false;
    env.serviceEventLog = [&service](const std::string& message, int type) {
        service.LogServiceEvent(message, type);
    };
    std::unique_ptr<SignalWatcher> signals;
    std::unique_ptr<TMainForm> mainForm;
    ServiceHost host;
    // SIGTERM (systemd's stop) and SIGINT stop; SIGUSR1 asks for the state
    // again; SIGHUP is any other control and re-reports too.
    host.registerControlHandler = [&](std::function<void(std::uint32_t)> handler) {
        try {
            signals = std::make_unique<SignalWatcher>(
                loop,
                [handler](int signalNumber) {
                    if (signalNumber == SIGTERM || signalNumber == SIGINT)
                        handler(SERVICE_CONTROL_STOP);
                    else if (signalNumber == SIGUSR1)
                        handler(SERVICE_CONTROL_INTERROGATE);
                    else
                        handler(SERVICE_CONTROL_PARAMCHANGE);
                },
                std::initializer_list<int>{SIGTERM, SIGINT, SIGHUP, SIGUSR1});
            return true;
        } catch (const std::exception& e) {
            std::cerr << "vantor: " << e.what() << "\n";
            return false;
        }
    };
    host.createGateway = [&] {
        try {
            mainForm = std::make_unique<TMainForm>(app, env);
        } catch (const EIniFileError& e) {
            configurationUnusable = true;
            app.ShowException(e);
            throw;
        } catch (const std::exception& e) {
            app.ShowException(e);
            throw;
        }
    };
    host.health = [&] { return mainForm ? mainForm->Core().Health() : GatewayHealth{}; };
    host.runGateway = [&] {
        loop.setExceptionHandler([&](const std::exception& e) { app.ShowException(e); });
        app.Run();
    };
    host.stopGateway = [&] {
        if (mainForm) mainForm->Close();
        app.Terminate();
        app.ProcessMessages();
    };
    host.destroyGateway = [&] { mainForm.reset(); };
    if (service.RunServiceDispatcher(std::move(host))) return 0;
    if (configurationUnusable) return ExitConfigurationUnusable;
    if (!notifier.Connected())
        std::cerr << "vantor: /service: this process was not started by systemd (NOTIFY_SOCKET "
                     "is not set).\n"
                     "        Start the service with: systemctl start tarvovantor\n"
                     "        or run the gateway in the foreground without /service.\n";
    return 1;
}

// The stop signals are held from the program's first instruction on, before
// any constructor of the program or its libraries runs: a service manager may
// stop the gateway while it is still starting, and the stop must then end it
// as an orderly close (status 0), never by the signal.  The watcher made later
// takes up whatever arrived meanwhile.
void HoldStopSignalsAtStart(int, char**, char**) { vantor::HoldSignals(); }
[[gnu::section(".preinit_array"), gnu::used]] void (*const holdStopSignalsAtStart)(
    int, char**, char**) = HoldStopSignalsAtStart;

} // namespace

int main(int argc, char** argv) {
    using namespace vantor;
    CommandLine cl = ParseCommandLine(argc, argv);
    if (!cl.error.empty()) {
        std::cerr << "vantor: " << cl.error << "\n\n" << Usage;
        return 2;
    }
    if (cl.help) {
        std::cout << Usage;
        return 0;
    }
    if (cl.version) {
        std::cout << "Tarvo Vantor " << VANTOR_VERSION_TEXT << "\n";
        return 0;
    }
    const bool serviceMode = cl.service;
    // The service also takes SIGUSR1 (report the state again): held as well
    // until its watcher is there.
    if (serviceMode) HoldSignals({SIGUSR1});

    const std::string exePath = ExecutablePath();
    const std::string exeDir =
        exePath.empty() ? std::string() : std::filesystem::path(exePath).parent_path().string();
    const HomeChoice home = ChooseHome(cl.home, exeDir);
    if (!home.error.empty()) {
        std::cerr << "vantor: " << home.error << "\n";
        return 2;
    }

    GatewayEnvironment env;
    env.arguments = cl.arguments;
    env.commandLine = cl.raw;
    env.programPath = (std::filesystem::path(home.folder) / "vantor").string();
    env.languageFolders = LanguageFolders(home.folder, exeDir);
    env.gatewayFolder = Cp1250FromUtf8(home.folder);
    env.logMirror = [](const std::string& line) { std::cout << Utf8FromCp1250(line) << std::endl; };
    // The services dialog installs the program as it runs now, with its folder.
    env.serviceCommandLine = SystemdQuote(exePath.empty() ? "vantor" : exePath) +
                             " /service --home " + SystemdQuote(home.folder);
    env.serviceManager = std::make_shared<SdBusServiceManager>(SdBusServiceManager::Options{});

    IgnoreSigPipe();
    PollLoop loop;
    UseThePlatform(env, loop);
    HeadlessDesktop desktop(std::cout);
    TApplication app(loop, desktop);
    app.SetShowMainForm(false);

    if (serviceMode) return RunAsService(app, loop, std::move(env));

    {
        // A short time-out: a manager that does not answer must not hold up
        // the start for long.
        SdBusServiceManager manager(SdBusServiceManager::Options{
            .bus = SdBusServiceManager::Bus::System, .timeout = std::chrono::milliseconds(2000)});
        const NoTexts noTexts;
        ServiceControl control(ServiceControlParts{.manager = &manager, .texts = noTexts});
        std::string why;
        env.serviceRunningElsewhere = control.IsServiceRunning(&why);
        if (!why.empty())
            env.startNotes.push_back(
                Cp1250FromUtf8("Not known whether the service runs elsewhere: " + why));
    }
    if (!cl.headless) {
#ifdef VANTOR_HAVE_DESKTOP
        const DisplayChoice display = ChooseDisplay();
        if (display.desktop) return RunDesktopGateway(argc, argv, std::move(env));
        std::cerr << "vantor: " << display.note << ", running headless\n";
#else
        std::cerr << "vantor: no desktop view in this build, running headless\n";
#endif
    }

    std::unique_ptr<TMainForm> mainForm;
    // Watching from before the start: a stop request during start-up is
    // taken up as soon as the loop runs.
    SignalWatcher signals(loop, [&](int) {
        if (mainForm) mainForm->Close();
        app.Terminate();
    });
    try {
        mainForm = std::make_unique<TMainForm>(app, env);
    } catch (const std::exception& e) {
        app.ShowException(e);
        return 0;
    }
    // Anything that reaches the loop is shown and the gateway goes on.
    loop.setExceptionHandler([&](const std::exception& e) { app.ShowException(e); });
    app.Run();
    mainForm.reset();
    return 0;
}
