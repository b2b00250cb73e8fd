// Program entry on Linux: reads the command line, chooses the gateway's
// folder, and picks what the gateway runs on (the service manager's channel,
// the desktop view when a window will be opened, else headless); the run
// itself is RunGateway, the same for every way the gateway runs.
#include "app/CommandLine.h"
#include "app/PlatformEdges.h"
#include "app/RunGateway.h"
#include "platform/DesktopModule.h"
#include "platform/Paths.h"
#include "platform/PollLoop.h"
#include "platform/Signals.h"
#include "platform/Systemd.h"
#include "service/ServiceControl.h"
#include "toolkit/BatchedOutput.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Desktop.h"

#include "VantorVersion.h"
#include "vantor-desktop-stamp.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
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
    "               reached through DISPLAY or WAYLAND_DISPLAY, or the window's\n"
    "               module libvantor-desktop.so is not installed)\n"
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

// The gateway's folder: --home, else the folder of the executable, unless
// that is an installed program's folder (with the data folder beside it) or
// one this user cannot write; then the user's own data folder.
vantor::HomeChoice ChooseHome(const std::string& homeArgument, const std::string& exeDir) {
    if (!homeArgument.empty()) return vantor::HomeFromArgument(homeArgument);
    namespace fs = std::filesystem;
    std::error_code ec;
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
    const std::string dataBesideProgram =
        exeDir.empty() ? std::string()
                       : (std::filesystem::path(exeDir) / VANTOR_DATA_DIR_FROM_BIN)
                             .lexically_normal()
                             .string();
    return vantor::DistinctFolders({home, exeDir, dataBesideProgram, VANTOR_DATA_DIR});
}

// Where the desktop view's module lies: beside the program in a build tree,
// in the program's library folder when installed.
std::vector<std::string> DesktopModuleFolders(const std::string& exeDir) {
    if (exeDir.empty()) return {};
    return {exeDir, (std::filesystem::path(exeDir) / VANTOR_LIB_DIR_FROM_BIN).lexically_normal().string()};
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
    CommandLine cl = ParseCommandLine(std::vector<std::string>(argv, argv + argc));
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

    // Headless, every log line and message box goes to standard output.  The
    // lines are written together once per pass of the loop, at most every
    // 10 ms while they come faster (a line per write was two system calls of
    // every relayed request); message boxes and the end of the run write
    // at once.  Declared before the loop, so that it is written out last.
    BatchedOutput standardOutputBuffer(std::cout, std::chrono::milliseconds(10));
    std::ostream standardOutput(&standardOutputBuffer);
    // A line on standard error (the service's events, start-up failures)
    // still comes after the log lines before it: the journal keeps the order.
    std::cerr.tie(&standardOutput);
    struct UntieStandardError {
        ~UntieStandardError() { std::cerr.tie(&std::cout); }
    } untieStandardError;

    GatewayEnvironment env;
    env.arguments = cl.arguments;
    env.commandLine = cl.raw;
    env.programPath = (std::filesystem::path(home.folder) / "vantor").string();
    env.languageFolders = LanguageFolders(home.folder, exeDir);
    env.gatewayFolder = Cp1250FromUtf8(home.folder);
    env.logMirror = [&standardOutput](const std::string& line) {
        standardOutput << Utf8FromCp1250(line) << '\n';
    };
    // The services dialog installs the program as it runs now, with its folder.
    env.serviceCommandLine = SystemdQuote(exePath.empty() ? "vantor" : exePath) +
                             " /service --home " + SystemdQuote(home.folder);
    env.serviceManager = std::make_shared<SdBusServiceManager>(SdBusServiceManager::Options{});

    IgnoreSigPipe();
    GatewayRun run;
    run.platformEdges = UseThePlatform;
    run.watchRequests = [serviceMode](EventLoop& loop,
                                      std::function<void(SystemRequest)> handler) {
        return WatchSystemRequests(loop, std::move(handler), serviceMode);
    };
    std::optional<PollLoop> pollLoop;
    std::optional<HeadlessDesktop> headless;
    auto runHeadless = [&] {
        run.loop = &pollLoop.emplace();
        standardOutputBuffer.Attach(*pollLoop);
        run.desktop = &headless.emplace(standardOutput);
    };
    // An exception that leaves the run ends the process without unwinding:
    // what is held is written first.
    auto runGateway = [&] {
        try {
            return RunGateway(std::move(env), run);
        } catch (...) {
            standardOutput.flush();
            throw;
        }
    };

    if (serviceMode) {
        SystemdNotifier notifier;
        JournalEventLog eventLog(std::cerr);
        runHeadless();
        run.serviceNotifier = &notifier;
        run.eventLog = &eventLog;
        run.serviceInstance = SystemdUnitInstance();
        const int status = runGateway();
        if (status == 1 && !notifier.Connected())
            std::cerr << "vantor: /service: this process was not started by systemd (NOTIFY_SOCKET "
                         "is not set).\n"
                         "        Start the service with: systemctl start tarvovantor\n"
                         "        or run the gateway in the foreground without /service.\n";
        return status;
    }

    // A short time-out, login included: a manager that does not answer must
    // not hold up the start for long.
    run.serviceCheck = [] {
        return std::make_unique<SdBusServiceManager>(SdBusServiceManager::Options{
            .bus = SdBusServiceManager::Bus::System, .timeout = std::chrono::milliseconds(2000)});
    };
    std::unique_ptr<DesktopView> view;
    if (!cl.headless) {
        // Qt may take its own options out of argv: the arguments as given
        // are kept for a restart without the display.
        DesktopOpening opening = OpenDesktopView(DesktopModuleRequest{
            .folders = DesktopModuleFolders(exeDir),
            .stamp = VANTOR_DESKTOP_STAMP,
            .options = DesktopViewOptions{
                .argc = &argc,
                .argv = argv,
                .readiness = &PollLoop::Readiness,
                .displayLost = [given = cl.arguments] { ContinueHeadless(given); }}});
        view = std::move(opening.view);
        if (!view) std::cerr << "vantor: " << opening.why << ", running headless\n";
    }
    if (view) {
        run.view = view.get();
        run.loop = &view->Loop();
        run.desktop = &view->Screen();
    } else {
        runHeadless();
    }
    return runGateway();
}
