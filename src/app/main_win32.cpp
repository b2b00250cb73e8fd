// Program entry on Windows: the same command line as on Linux, the home
// beside the program or in ProgramData, and what the gateway runs on: the
// service control manager's dispatcher for /service, else the window (the
// native Win32 view) or headless on the console.  The run
// itself is RunGateway, the same for every way the gateway runs.
//
// Every text here is the gateway's Windows-1250 (arguments, paths); the
// console gets UTF-8, which UseConsoleTextOutput writes as the console or
// the file behind standard output wants it.
#include "app/CommandLine.h"
#include "app/PlatformEdges.h"
#include "app/RunGateway.h"
#include "desktop-win32/Win32DesktopView.h"
#include "platform/Paths.h"
#include "platform/win32/ConsoleStop.h"
#include "platform/win32/Win32Loop.h"
#include "platform/win32/Win32Paths.h"
#include "platform/win32/Win32Program.h"
#include "platform/win32/Win32Service.h"
#include "service/ServiceControl.h"
#include "service/ServiceProcess.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Desktop.h"
#include "toolkit/DesktopView.h"
#include "toolkit/FilePath.h"

#include "VantorVersion.h"

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace vantor;
namespace fs = std::filesystem;

const char* const Usage =
    "usage: vantor.exe [--home DIR] [--headless] [/hide] [/service]\n"
    "       vantor.exe --help | --version\n"
    "\n"
    "Gateway between a telephone exchange on a serial line, TCP/IP clients and\n"
    "a mail system.\n"
    "\n"
    "  --home DIR   use DIR as the gateway's folder: vantor.INI, the language\n"
    "               files TVantor.<code>, relative accounting files and the\n"
    "               outside libraries are taken from there (default: the\n"
    "               folder of vantor.exe, or %ProgramData%\\TarvoVantor when\n"
    "               that folder cannot be written)\n"
    "  --headless   run without a window; every log line and message box goes\n"
    "               to standard output\n"
    "  /hide        start hidden in the notification area (exact, whole\n"
    "               argument)\n"
    "  /service     run as the Windows service TarvoVantor (exact, whole\n"
    "               argument); only the service control manager starts it so\n"
    "               (sc start TarvoVantor), by hand it ends at once\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Ctrl+C, Ctrl+Break or closing the console closes the gateway as closing\n"
    "its window does (exit status 0).  A start while the service TarvoVantor\n"
    "runs only shows the log and opens neither the serial port nor the TCP\n"
    "port.\n";

// The gateway's folder: --home, else ChooseWindowsHome (beside the program,
// or ProgramData when the program's folder cannot be written).
HomeChoice ChooseHome(const std::string& homeArgument, const std::string& exeDir) {
    if (homeArgument.empty()) {
        const WindowsHome home = ChooseWindowsHome(exeDir);
        return {home.folder, home.error};
    }
    return HomeFromArgument(homeArgument);
}

// The console's stop requests: Ctrl+C, Ctrl+Break, closing the console, the
// user's logoff and the system's shutdown.
class ConsoleRequests final : public SystemRequestWatch {
public:
    ConsoleRequests(EventLoop& loop, std::function<void(SystemRequest)> handler)
        : watcher_(loop, [handler](unsigned) { handler(SystemRequest::Stop); }) {}

private:
    ConsoleStopWatcher watcher_;
};

// The service's requests: the manager's controls, and the system's shutdown
// through the console handler (a service accepts no shutdown control, but a
// shutdown must still end the gateway in order, its indicators cleared).  A
// logoff is some user's, not the service's.
class ServiceRequests final : public SystemRequestWatch {
public:
    ServiceRequests(Win32ServiceNotifier& notifier, EventLoop& loop,
                    std::function<void(SystemRequest)> handler) {
        const bool registered =
            notifier.RegisterControlHandler(loop, [handler](std::uint32_t control) {
                handler(control == SERVICE_CONTROL_STOP          ? SystemRequest::Stop
                        : control == SERVICE_CONTROL_INTERROGATE ? SystemRequest::ReportState
                                                                 : SystemRequest::Other);
            });
        if (!registered)
            throw std::runtime_error("RegisterServiceCtrlHandler failed: " +
                                     Trimmed(SystemErrorMessage(notifier.LastError())));
        try {
            shutdown_.emplace(
                loop, [handler](unsigned) { handler(SystemRequest::Stop); },
                /*stopOnLogoff=*/false);
        } catch (const std::exception&) {
            // Without it the manager's stop still works; the shutdown ends
            // the process as it would any service that does not listen.
        }
    }

private:
    static std::string Trimmed(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
    std::optional<ConsoleStopWatcher> shutdown_;
};

// The window: the native Win32 view, linked into the program (it needs no
// library beyond Windows' own), handed over as the DesktopView whose loop and
// desktop then carry the run, as the Qt module's do on Linux.  Null with the
// reason when this process cannot make windows, and the gateway runs
// headless.  sessionEnd runs when the user's session ends.
std::unique_ptr<DesktopView> OpenWindowsView(std::function<void()> sessionEnd, std::string& why) {
    try {
        DesktopViewOptions options;
        options.displayLost = std::move(sessionEnd);
        std::unique_ptr<DesktopView> view = OpenWin32DesktopView(options);
        // Started from Explorer or a shortcut, the console Windows opened for
        // the program would stand idle beside the window.
        LeaveOwnConsoleWindow();
        return view;
    } catch (const std::exception& e) {
        why = e.what();
        return nullptr;
    }
}

} // namespace

int main() {
    LeaveCurrentFolderOutOfDllSearch();
    UseConsoleTextOutput();
    const CommandLine cl = ParseCommandLine(ProgramArguments());
    if (!cl.error.empty()) {
        std::cerr << "vantor: " << Utf8FromCp1250(cl.error) << "\n\n" << Usage;
        return 2;
    }
    if (cl.help) {
        std::cout << Usage << std::flush;
        return 0;
    }
    if (cl.version) {
        std::cout << "Tarvo Vantor " << VANTOR_VERSION_TEXT << std::endl;
        return 0;
    }

    const std::string exePath = ExecutablePath();
    const std::string exeDir =
        exePath.empty() ? std::string() : FilePathText(FilePath(exePath).parent_path());
    const HomeChoice home = ChooseHome(cl.home, exeDir);
    if (!home.error.empty()) {
        std::cerr << "vantor: " << Utf8FromCp1250(home.error) << std::endl;
        return 2;
    }

    GatewayEnvironment env;
    env.arguments = cl.arguments;
    env.commandLine = cl.raw;
    env.programPath = FilePathText(FilePath(home.folder) / "vantor.exe");
    // The installer puts the language files and the help into the data
    // folder: a start that chose another home (an administrator may write
    // the program's folder) finds them there still.
    std::string installed = ProgramDataFolder("TarvoVantor");
    std::error_code ec;
    if (!installed.empty() && !fs::is_directory(FilePath(installed), ec)) installed.clear();
    env.languageFolders = DistinctFolders({home.folder, exeDir, installed});
    env.gatewayFolder = home.folder;
    env.logMirror = [](const std::string& line) { std::cout << Utf8FromCp1250(line) << std::endl; };
    // The services dialog installs the program as it runs now.  A gateway
    // folder other than the program's own goes with it (--home, or
    // ProgramData): the service runs as the local system account, which may
    // write the program's folder and would otherwise choose that one.
    env.serviceCommandLine = WindowsServiceCommandLine(exePath.empty() ? "vantor.exe" : exePath,
                                                       home.folder != exeDir ? home.folder : "");
    env.serviceControlManager = std::make_shared<Win32ServiceControlManager>();

    GatewayRun run;
    run.platformEdges = UseThePlatform;
    std::optional<Win32Loop> loop;
    std::optional<HeadlessDesktop> headless;
    auto runHeadless = [&] {
        run.loop = &loop.emplace();
        run.desktop = &headless.emplace(std::cout);
    };

    if (cl.service) {
        Win32ServiceNotifier notifier;
        Win32EventLog eventLog(EventSourceName);
        runHeadless();
        run.serviceNotifier = &notifier;
        run.eventLog = &eventLog;
        run.watchRequests = [&notifier](EventLoop& on, std::function<void(SystemRequest)> handler) {
            return std::make_unique<ServiceRequests>(notifier, on, std::move(handler));
        };
        const int status = RunGateway(std::move(env), run);
        constexpr int NotStartedByTheManager = 1063; // ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
        if (status == 1 && notifier.LastError() == NotStartedByTheManager)
            std::cerr << "vantor: /service: this process was not started by the service control "
                         "manager.\n"
                         "        Start the service with: sc start TarvoVantor\n"
                         "        or run the gateway without /service.\n";
        return status;
    }

    run.watchRequests = [](EventLoop& on, std::function<void(SystemRequest)> handler) {
        return std::make_unique<ConsoleRequests>(on, std::move(handler));
    };
    run.serviceControlManagerCheck = [] { return std::make_unique<Win32ServiceControlManager>(); };
    // The end of the user's session: Windows ends the process as soon as
    // every window has taken the news, so the gateway stops in order before
    // (the exchange's indicators cleared, the port and the relay closed), as
    // closing the window does; every window of the program gets the news.
    TMainForm* mainForm = nullptr;
    bool sessionEnded = false;
    auto endSession = [&mainForm, &sessionEnded] {
        if (!mainForm || sessionEnded) return;
        sessionEnded = true;
        mainForm->Close();
        mainForm->FormDestroy();
    };
    std::unique_ptr<DesktopView> view;
    if (!cl.headless) {
        std::string why;
        view = OpenWindowsView(endSession, why);
        if (!view) std::cerr << "vantor: " << why << ", running headless" << std::endl;
    }
    if (view) {
        run.started = [&mainForm](TApplication&, TMainForm& main) { mainForm = &main; };
        run.view = view.get();
        run.loop = &view->Loop();
        run.desktop = &view->Screen();
    } else {
        runHeadless();
    }
    return RunGateway(std::move(env), run);
}
