// Program entry: reads the command line, picks the loop and the desktop,
// creates the main window (which starts the gateway) and runs until the
// window closes or a stop signal arrives.
#include "core/MainForm.h"
#ifdef VANTOR_HAVE_DESKTOP
#include "app/DesktopStart.h"
#endif
#include "platform/Paths.h"
#include "platform/PollLoop.h"
#include "platform/Signals.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"

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
    "               folder of the executable)\n"
    "  --headless   run without a window; every log line and message box goes\n"
    "               to standard output (also the case when no display can be\n"
    "               reached through DISPLAY or WAYLAND_DISPLAY)\n"
    "  /hide        start hidden in the notification area\n"
    "  /service     run as the system service (started by the service manager)\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "SIGTERM or SIGINT closes the gateway as closing its window does.\n";

struct CommandLine {
    std::vector<std::string> arguments;
    std::string raw;
    std::string home;
    bool headless = false;
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
        }
        // Everything else ("/hide" and the like) is the main window's to read.
    }
    return cl;
}

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
    // "/service" anywhere in the command line selects service mode, even
    // inside another argument.
    if (cl.raw.find("/service") != std::string::npos) {
        std::cerr << "vantor: service mode is not available in this build\n";
        return 3;
    }

    GatewayEnvironment env;
    env.arguments = cl.arguments;
    env.commandLine = cl.raw;
    if (!cl.home.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(cl.home, ec)) {
            std::cerr << "vantor: --home " << cl.home << ": not a folder\n";
            return 2;
        }
        env.programPath = (std::filesystem::absolute(cl.home) / "vantor").string();
    } else {
        env.programPath = ExecutablePath();
        if (env.programPath.empty())
            env.programPath = (std::filesystem::current_path() / "vantor").string();
    }
    // Language files: the gateway's folder, then beside the executable (a
    // build tree), then the installed data directory.
    {
        const std::string home = std::filesystem::path(env.programPath).parent_path().string();
        const std::string exeDir = std::filesystem::path(ExecutablePath()).parent_path().string();
        env.languageFolders.push_back(home);
        if (!exeDir.empty() && exeDir != home) env.languageFolders.push_back(exeDir);
        env.languageFolders.push_back(VANTOR_DATA_DIR);
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
    env.logMirror = [](const std::string& line) { std::cout << Utf8FromCp1250(line) << std::endl; };

    IgnoreSigPipe();
    PollLoop loop;
    HeadlessDesktop desktop(std::cout);
    TApplication app(loop, desktop);
    app.SetShowMainForm(false);
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
