#include "app/DesktopStart.h"

#include "desktop/DesktopSession.h"
#include "platform/Paths.h"
#include "app/PlatformEdges.h"
#include "nls/TextIds.h"
#include "platform/PollLoop.h"
#include "platform/Signals.h"
#include "toolkit/Forms.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace vantor {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Whether the X server named by DISPLAY takes a connection (authorisation
// included): the whole handshake Qt would do, without Qt's abort on failure.
bool XServerAnswers(const std::string& display, std::string& why) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display.c_str(), &screen);
    const int error = connection ? xcb_connection_has_error(connection) : 1;
    if (connection) xcb_disconnect(connection);
    if (error) why = "the X display " + display + " cannot be reached";
    return error == 0;
}

bool WaylandSocketThere(const std::string& name, std::string& why) {
    std::filesystem::path path(name);
    if (!path.is_absolute()) path = std::filesystem::path(Env("XDG_RUNTIME_DIR")) / path;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) {
        why = "the Wayland socket path is too long";
        return false;
    }
    text.copy(address.sun_path, text.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = "no socket for the Wayland display";
        return false;
    }
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (!ok) why = "the Wayland display " + text + " cannot be reached";
    return ok;
}

// The display went away under the running gateway (the X server died, the
// session ended).  Qt is about to end the process; the gateway goes on
// headless instead, as the same program started again with --headless.
// Every descriptor is close-on-exec, so the serial port, the listening
// socket and the accounting file are free for the new start; records already
// written are on disk, and a record not yet answered is asked for again.
[[noreturn]] void ContinueHeadless(const std::vector<std::string>& given) {
    std::cerr << "vantor: the display went away; going on headless" << std::endl;
    std::vector<std::string> args = given;
    args.push_back("--headless");
    std::vector<char*> raw;
    for (std::string& a : args) raw.push_back(a.data());
    raw.push_back(nullptr);
    const std::string self = ExecutablePath();
    ::execv(self.empty() ? raw[0] : self.c_str(), raw.data());
    std::cerr << "vantor: cannot start again headless: " << std::strerror(errno) << std::endl;
    std::_Exit(1);
}

} // namespace

DisplayChoice ChooseDisplay() {
    const std::string platform = Env("QT_QPA_PLATFORM");
    // A platform without a display server (offscreen, vnc, linuxfb) was
    // chosen on purpose: Qt needs nothing more.
    if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0)
        return {true, "Qt platform " + platform};
    const std::string x = Env("DISPLAY"), wayland = Env("WAYLAND_DISPLAY");
    if (x.empty() && wayland.empty())
        return {false, "no display (DISPLAY and WAYLAND_DISPLAY unset)"};
    std::string why;
    if (!wayland.empty() && platform.rfind("xcb", 0) != 0 && WaylandSocketThere(wayland, why))
        return {true, "Wayland display " + wayland};
    if (!x.empty() && platform.rfind("wayland", 0) != 0 && XServerAnswers(x, why))
        return {true, "X display " + x};
    return {false, why};
}

int RunDesktopGateway(int argc, char** argv, GatewayEnvironment env,
                      const DesktopStarted& started) {
    IgnoreSigPipe();
    // Qt may take its own options out of argv: the arguments as given are
    // kept for a restart without the display.
    std::vector<std::string> given(argv, argv + argc);
    desktop::DesktopSession session(argc, argv, &PollLoop::Readiness);
    session.OnDisplayLost([given] { ContinueHeadless(given); });
    desktop::QtLoop& loop = session.Loop();
    desktop::QtDesktop& desktop = session.Desktop();
    // The listening socket and the serial port's hand-overs run on Qt's loop,
    // and the log is the window's list, not standard output.
    UseThePlatform(env, loop);
    env.logMirror = nullptr;
    TApplication app(loop, desktop);
    // The main window shows itself in its start-up, or stays hidden for /hide.
    app.SetShowMainForm(false);
    std::unique_ptr<TMainForm> mainForm;
    SignalWatcher signals(loop, [&](int) {
        if (mainForm) mainForm->Close();
        app.Terminate();
    });
    desktop.SetTrayCallback([&](unsigned message) {
        if (mainForm) mainForm->TrayCallback(message);
    });
    desktop.SetHelpSources(
        env.languageFolders,
        [&]() -> std::string {
            return mainForm ? mainForm->Core().Config().Lang : std::string("Eng");
        },
        [&] {
            desktop::QtDesktop::HelpTexts texts;
            if (!mainForm) return texts;
            const TextSource& language = mainForm->Core().LanguageTable();
            return desktop::QtDesktop::HelpTexts{language.Msg(msg::HelpFileNotFound),
                                                 language.Msg(msg::HelpNotOpened)};
        });
    try {
        mainForm = std::make_unique<TMainForm>(app, std::move(env));
    } catch (const std::exception& e) {
        app.ShowException(e);
        return 0;
    }
    // Anything that reaches the loop is shown and the gateway goes on.
    loop.setExceptionHandler([&](const std::exception& e) { app.ShowException(e); });
    if (started) started(desktop, app, *mainForm);
    app.Run();
    mainForm.reset();
    return 0;
}

} // namespace vantor
