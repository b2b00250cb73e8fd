#include "platform/DesktopModule.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vantor {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

struct LibraryCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

std::string LoaderError() {
    const char* text = ::dlerror();
    return text ? text : "unknown reason";
}

// Whether the X server named by DISPLAY takes a connection (authorisation
// included): the whole handshake Qt would do, without Qt's abort on failure.
// libxcb is loaded for this only, so a gateway that never asks maps none of
// it; its three calls are a stable C interface.
bool XServerAnswers(const std::string& display, std::string& why) {
    struct Connection;
    using Connect = Connection* (*)(const char*, int*);
    using HasError = int (*)(Connection*);
    using Disconnect = void (*)(Connection*);
    const LibraryHandle xcb(::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL));
    const auto connect =
        xcb ? reinterpret_cast<Connect>(::dlsym(xcb.get(), "xcb_connect")) : nullptr;
    const auto hasError =
        xcb ? reinterpret_cast<HasError>(::dlsym(xcb.get(), "xcb_connection_has_error")) : nullptr;
    const auto disconnect =
        xcb ? reinterpret_cast<Disconnect>(::dlsym(xcb.get(), "xcb_disconnect")) : nullptr;
    if (!connect || !hasError || !disconnect) {
        why = "the X display " + display + " cannot be checked (no libxcb)";
        return false;
    }
    int screen = 0;
    Connection* connection = connect(display.c_str(), &screen);
    const int error = connection ? hasError(connection) : 1;
    if (connection) disconnect(connection);
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

// The module's two C names: its build stamp, and the entry that makes the
// view (ownership passes to the caller; null when it could not be made).
constexpr char StampSymbol[] = "vantor_desktop_stamp";
constexpr char OpenSymbol[] = "vantor_desktop_open";
using OpenView = DesktopView* (*)(const DesktopViewOptions*);

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

DesktopOpening OpenDesktopView(const DesktopModuleRequest& request) {
    namespace fs = std::filesystem;
    std::string path, searched;
    for (const std::string& folder : request.folders) {
        const fs::path candidate = fs::path(folder) / DesktopModuleFileName;
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) {
            path = candidate.lexically_normal().string();
            break;
        }
        searched += (searched.empty() ? "" : ", ") + candidate.lexically_normal().string();
    }
    if (path.empty())
        return {nullptr, std::string("no desktop view (") + DesktopModuleFileName +
                             " is not installed: " + searched + ")"};
    const DisplayChoice display = ChooseDisplay();
    if (!display.desktop) return {nullptr, display.note};

    // Every symbol now, so that a module the program cannot serve fails here
    // and not in the middle of the run.
    LibraryHandle module(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!module) return {nullptr, "the desktop view cannot be loaded: " + LoaderError()};
    const auto* stamp = static_cast<const char*>(::dlsym(module.get(), StampSymbol));
    if (!stamp) return {nullptr, "the desktop view " + path + " carries no build stamp"};
    if (request.stamp != stamp)
        return {nullptr, "the desktop view " + path + " is of another build (\"" + stamp +
                             "\", this program is \"" + request.stamp + "\")"};
    const auto open = reinterpret_cast<OpenView>(::dlsym(module.get(), OpenSymbol));
    if (!open) return {nullptr, "the desktop view " + path + " has no entry " + OpenSymbol};
    std::unique_ptr<DesktopView> view(open(&request.options));
    if (!view) return {nullptr, "the desktop view " + path + " could not be opened"};
    // Qt registers handlers and threads that must outlive every window:
    // the module stays to the end of the process.
    ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return {std::move(view), {}};
}

void ContinueHeadless(const std::vector<std::string>& arguments) {
    std::cerr << "vantor: the display went away; going on headless" << std::endl;
    std::vector<std::string> args = arguments;
    args.push_back("--headless");
    std::vector<char*> raw;
    for (std::string& a : args) raw.push_back(a.data());
    raw.push_back(nullptr);
    const std::string self = ExecutablePath();
    ::execv(self.empty() ? raw[0] : self.c_str(), raw.data());
    std::cerr << "vantor: cannot start again headless: " << std::strerror(errno) << std::endl;
    std::_Exit(1);
}

} // namespace vantor
