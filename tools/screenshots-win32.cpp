// vantor-screenshots.exe: the gateway in its Windows view, walked through
// the windows a tour file names; each window is saved as a PNG.  Run by
// tools/screenshots-windows.sh under Wine on a virtual X server against
// vantor-sim.  It makes the main window with the system's own edges as the
// program does, with the Win32 view built in, since the tour drives the
// view's own windows.
//
//   vantor-screenshots --home DIR --tour FILE --out DIR [--prefix P] [--settle-ms N]
#include "desktop-win32/Win32Ui.h" // first: see there

#include <shellapi.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "core/MainForm.h"
#include "desktop-win32/ScreenshotTour.h"
#include "desktop-win32/Win32Session.h"
#include "nls/TextIds.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystemDirectories.h"
#include "platform/Paths.h"
#include "platform/win32/Win32FileAppender.h"
#include "platform/win32/Win32SerialDevice.h"
#include "platform/win32/Win32ServerSocket.h"
#include "toolkit/FilePath.h"
#include "toolkit/TextSource.h"

int main() {
    using namespace vantor;
    // The arguments as the system has them (UTF-16), as the gateway's texts.
    int argc = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(win32::Narrow(wide[i]));
    ::LocalFree(wide);
    TourCommand command;
    try {
        command = ReadTourCommand(
            std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()));
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 2;
    }
    const std::string& home = command.home;

    win32view::Win32Session view;
    Win32Loop& loop = view.Loop();
    TApplication app(loop, view.Screen());
    app.SetShowMainForm(false);

    const std::string exeDir = FilePathText(FilePath(ExecutablePath()).parent_path());
    GatewayEnvironment env;
    env.arguments = {args.empty() ? "vantor" : args[0]};
    env.commandLine = env.arguments[0];
    env.programPath = home + "\\vantor";
    env.languageFolders = {home, exeDir};
    env.gatewayFolder = home;
    env.serialDeviceFactory = OpenWin32SerialDevice;
    env.serialDevices = [] { return ListWin32SerialDevices(); };
    env.serverSocketFactory = [&loop](TComponent* owner) { return MakeServerSocket(owner, loop); };
    env.libraryOpener = SystemLibraryOpener(home);
    env.fileAppenderFactory = [] { return MakeFileAppender(); };
    env.tempFolder = TempPath();
    env.directories = std::make_shared<FileSystemDirectories>();

    std::unique_ptr<TMainForm> main;
    view.SetTrayCallback([&main](unsigned message) {
        if (main) main->TrayCallback(message);
    });
    view.SetHelpSources(
        env.languageFolders,
        [&main] { return main ? main->Core().Language() : std::string("Eng"); },
        [&main] {
            if (!main) return DesktopHelpTexts{};
            const TextSource& texts = main->Core().Texts();
            return DesktopHelpTexts{texts.Msg(msg::HelpFileNotFound),
                                    texts.Msg(msg::HelpNotOpened)};
        });
    loop.setExceptionHandler([&app](const std::exception& e) { app.ShowException(e); });
    try {
        main = std::make_unique<TMainForm>(app, std::move(env));
    } catch (const std::exception& e) {
        std::cerr << "vantor-screenshots: the gateway did not start: " << e.what() << "\n";
        return 1;
    }
    bool ok = false;
    StartScreenshotTour(win32view::MakeTourScreen(view.Screen()), *main, command.steps,
                        command.options, [&](bool allSaved, const std::string& problems) {
                            ok = allSaved;
                            if (!allSaved) std::cerr << problems;
                            main->Close();
                            app.Terminate();
                        });
    app.Run();
    main.reset();
    return ok ? 0 : 1;
}
