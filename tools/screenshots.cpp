// vantor-screenshots: the gateway in its desktop view, walked through the
// windows that a tour file names; each window is saved as a PNG.  Run by
// tools/screenshots.sh under a virtual X server against vantor-sim.  It runs
// the gateway as the program does (RunGateway), with the Qt view built in
// rather than loaded, since the tour drives the view's own windows.
//
//   vantor-screenshots --home DIR --tour FILE --out DIR [--prefix P] [--settle-ms N]
#include "app/PlatformEdges.h"
#include "app/RunGateway.h"
#include "desktop/DesktopSession.h"
#include "desktop/ScreenshotTour.h"
#include "platform/DesktopModule.h"
#include "platform/Paths.h"
#include "platform/PollLoop.h"
#include "platform/Signals.h"
#include "platform/Systemd.h"
#include "toolkit/Forms.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    using namespace vantor;
    TourCommand command;
    try {
        command = ReadTourCommand(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 2;
    }
    const std::string& home = command.home;
    const DisplayChoice display = ChooseDisplay();
    if (!display.desktop) {
        std::cerr << "vantor-screenshots: " << display.note << "\n";
        return 2;
    }

    GatewayEnvironment env;
    env.arguments = {argv[0]};
    env.commandLine = argv[0];
    env.programPath = (std::filesystem::absolute(home) / "vantor").string();
    const std::string exeDir = std::filesystem::path(ExecutablePath()).parent_path().string();
    env.languageFolders = {std::filesystem::absolute(home).string(), exeDir, VANTOR_DATA_DIR};
    // The services dialog asks the system's manager, as the gateway does; a
    // machine without one (a build box, a container) shows the dialog with
    // the service unknown after the manager's error box.
    env.serviceManager = std::make_shared<SdBusServiceManager>(SdBusServiceManager::Options{
        .bus = SdBusServiceManager::Bus::System, .timeout = std::chrono::milliseconds(2000)});

    IgnoreSigPipe();
    bool ok = false;
    int qtArgc = 1;
    desktop::DesktopSession view(DesktopViewOptions{
        .argc = &qtArgc, .argv = argv, .readiness = &PollLoop::Readiness, .displayLost = {}});
    GatewayRun run;
    run.loop = &view.Loop();
    run.desktop = &view.Screen();
    run.view = &view;
    run.platformEdges = UseThePlatform;
    run.watchRequests = [](EventLoop& loop, std::function<void(SystemRequest)> handler) {
        return WatchSystemRequests(loop, std::move(handler), false);
    };
    run.started = [&](TApplication& app, TMainForm& main) {
        StartScreenshotTour(desktop::MakeTourScreen(view.Screen()), main, command.steps,
                            command.options, [&](bool allSaved, const std::string& problems) {
                                ok = allSaved;
                                if (!allSaved) std::cerr << problems;
                                main.Close();
                                app.Terminate();
                            });
    };
    const int status = RunGateway(std::move(env), run);
    return status != 0 ? status : (ok ? 0 : 1);
}
