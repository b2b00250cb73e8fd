#include "platform/Systemd.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace vantor {

namespace {

constexpr char Destination[] = "org.freedesktop.systemd1";
constexpr char ManagerPath[] = "/org/freedesktop/systemd1";
constexpr char ManagerInterface[] = "org.freedesktop.systemd1.Manager";
constexpr char UnitInterface[] = "org.freedesktop.systemd1.Unit";

std::string ErrnoText(int errnoValue) {
    std::string text = SystemErrorMessage(errnoValue);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}


// Whether standard error is the journal's stream: systemd says so in
// JOURNAL_STREAM as "device:inode" of that stream.
bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream || !*stream) return false;
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0) return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
    return device == static_cast<unsigned long long>(st.st_dev) &&
           inode == static_cast<unsigned long long>(st.st_ino);
}

// The manager's protocols for status reports and journal entries are plain
// datagrams on a local socket, written here rather than through libsystemd:
// a service that only reports would otherwise keep libsystemd and its
// compression and crypto libraries mapped (more than a megabyte resident)
// for these two sends.

// Sends one datagram to a local socket: a path, or an abstract name written
// with a leading '@'.  Returns 0 or the errno value.
int SendDatagram(const std::string& socketName, const void* data, std::size_t size) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketName.empty() || (socketName[0] != '/' && socketName[0] != '@'))
        return EAFNOSUPPORT;
    if (socketName.size() >= sizeof address.sun_path) return ENAMETOOLONG;
    socketName.copy(address.sun_path, socketName.size());
    socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketName.size());
    if (socketName[0] == '@')
        address.sun_path[0] = '\0';
    else
        ++length; // with the path's terminating NUL
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    const ssize_t sent = ::sendto(fd, data, size, MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), length);
    const int error = sent < 0 ? errno : 0;
    ::close(fd);
    return error;
}

// A journal entry in the journal's native form: per field its name, a line
// feed, the value's length as 64-bit little endian, the value and a line
// feed (the form that carries any byte in a value).
std::string JournalDatagram(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string datagram;
    for (const auto& [name, value] : fields) {
        datagram += name;
        datagram += '\n';
        std::uint64_t size = value.size();
        for (int i = 0; i < 8; ++i, size >>= 8) datagram += static_cast<char>(size & 0xFF);
        datagram += value;
        datagram += '\n';
    }
    return datagram;
}

constexpr char JournalSocket[] = "/run/systemd/journal/socket";

} // namespace

// ---------------------------------------------------------------------------
// Status reports.

bool SystemdNotifier::Connected() const {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket && *socket;
}

bool SystemdNotifier::Notify(const std::string& message) {
    if (!Connected()) {
        lastError_ = ENOTCONN;
        return false;
    }
    lastError_ = SendDatagram(std::getenv("NOTIFY_SOCKET"), message.data(), message.size());
    return lastError_ == 0;
}

std::string SystemdUnitInstance() {
    // The process's control group names its unit: the last part of the
    // path that is a service ("/system.slice/system-tarvovantor.slice/
    // tarvovantor@east.service"); the unified hierarchy's line first, the
    // systemd hierarchy's on a legacy layout.
    std::ifstream groups("/proc/self/cgroup");
    std::string path;
    for (std::string line; std::getline(groups, line);) {
        if (line.rfind("0::", 0) == 0) {
            path = line.substr(3);
            break;
        }
        const std::size_t named = line.find(":name=systemd:");
        if (named != std::string::npos) path = line.substr(named + 14);
    }
    std::string name;
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part.size() > 8 && part.compare(part.size() - 8, 8, ".service") == 0) name = part;
        start = end + 1;
    }
    const std::size_t at = name.find('@');
    const std::size_t dot = name.rfind('.');
    if (at == std::string::npos || dot == std::string::npos || dot <= at + 1) return {};
    return name.substr(at + 1, dot - at - 1);
}

std::uint64_t SystemdNotifier::WatchdogMicroseconds() const {
    // WATCHDOG_USEC, for this process when WATCHDOG_PID names one.
    const char* usec = std::getenv("WATCHDOG_USEC");
    if (!usec || !*usec) return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(usec, &end, 10);
    if (errno || *end || value == 0) return 0;
    if (const char* pid = std::getenv("WATCHDOG_PID"); pid && *pid) {
        const long long owner = std::strtoll(pid, &end, 10);
        if (*end || owner != static_cast<long long>(::getpid())) return 0;
    }
    return value;
}

// ---------------------------------------------------------------------------
// Events.

JournalEventLog::JournalEventLog(std::ostream& mirror)
    : mirror_(mirror), stderrIsJournal_(StderrIsJournal()) {}

bool JournalEventLog::Report(int type, const std::string& firstString, const std::string& message) {
    const int priority = type == Error ? LOG_ERR : type == Warning ? LOG_WARNING : LOG_INFO;
    const std::string text = firstString + " - " + message;
    const std::string entry = JournalDatagram({{"MESSAGE", text},
                                               {"PRIORITY", std::to_string(priority)},
                                               {"SYSLOG_IDENTIFIER", "TarvoVantor"},
                                               {"TARVOVANTOR_EVENT_TYPE", std::to_string(type)}});
    const int r = -SendDatagram(JournalSocket, entry.data(), entry.size());
    if (r < 0 || !stderrIsJournal_) {
        const char* kind = type == Error ? "error" : type == Warning ? "warning" : "information";
        mirror_ << "vantor: " << kind << " event: " << text << std::endl;
    }
    return r >= 0 || mirror_.good();
}

// ---------------------------------------------------------------------------
// The manager on D-Bus.

// libsystemd's bus client, loaded when a manager connects and unloaded when
// it lets the bus go: an ordinary start asks the manager once, and carries
// neither libsystemd nor its compression and crypto libraries afterwards.
#define VANTOR_SD_BUS_CALLS(X)                                                                     \
    X(sd_bus_new) X(sd_bus_set_address) X(sd_bus_set_bus_client) X(sd_bus_start)                 \
    X(sd_bus_open_user) X(sd_bus_open_system) X(sd_bus_close_unref) X(sd_bus_flush_close_unref)   \
    X(sd_bus_is_ready) X(sd_bus_process) X(sd_bus_wait) X(sd_bus_set_method_call_timeout)         \
    X(sd_bus_call_method) X(sd_bus_call_methodv) X(sd_bus_get_property_string)                    \
    X(sd_bus_message_read) X(sd_bus_message_unref) X(sd_bus_error_free)

struct SdBusLibrary {
#define VANTOR_SD_BUS_MEMBER(name) decltype(&::name) name = nullptr;
    VANTOR_SD_BUS_CALLS(VANTOR_SD_BUS_MEMBER)
#undef VANTOR_SD_BUS_MEMBER

    SdBusLibrary() = default;
    SdBusLibrary(const SdBusLibrary&) = delete;
    SdBusLibrary& operator=(const SdBusLibrary&) = delete;
    ~SdBusLibrary() {
        if (handle) ::dlclose(handle);
    }
    // Null with the loader's reason in why.
    static std::unique_ptr<SdBusLibrary> Load(std::string& why) {
        auto library = std::make_unique<SdBusLibrary>();
        library->handle = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library->handle) {
            const char* text = ::dlerror();
            why = text ? text : "libsystemd.so.0 cannot be loaded";
            return nullptr;
        }
#define VANTOR_SD_BUS_BIND(name)                                                                   \
    library->name = reinterpret_cast<decltype(&::name)>(::dlsym(library->handle, #name));         \
    if (!library->name) {                                                                          \
        why = "libsystemd.so.0 has no " #name;                                                     \
        return nullptr;                                                                            \
    }
        VANTOR_SD_BUS_CALLS(VANTOR_SD_BUS_BIND)
#undef VANTOR_SD_BUS_BIND
        return library;
    }

    void* handle = nullptr;
};

namespace {

// Owns a reply and its error for the length of one call.
struct CallResult {
    explicit CallResult(const SdBusLibrary& library) : sd(library) {}
    ~CallResult() {
        sd.sd_bus_error_free(&error);
        sd.sd_bus_message_unref(reply);
    }
    const SdBusLibrary& sd;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
};

} // namespace

SdBusServiceManager::SdBusServiceManager(Options options) : options_(std::move(options)) {}

SdBusServiceManager::~SdBusServiceManager() { CloseBus(); }

void SdBusServiceManager::CloseBus() {
    // Flushing waits for the login first, unbounded: only a bus that is up
    // has anything to flush.
    if (bus_ && sd_->sd_bus_is_ready(bus_) > 0)
        sd_->sd_bus_flush_close_unref(bus_);
    else if (bus_)
        sd_->sd_bus_close_unref(bus_);
    bus_ = nullptr;
    sd_.reset();
}

bool SdBusServiceManager::FailErrno(int errnoValue, const std::string& what) {
    error_ = ServiceError{};
    error_.code = errnoValue;
    error_.accessDenied = errnoValue == EACCES || errnoValue == EPERM;
    error_.unavailable = errnoValue == ENOENT || errnoValue == ECONNREFUSED;
    error_.text = what + ": " + ErrnoText(errnoValue) + ".";
    return false;
}

bool SdBusServiceManager::Fail(int result, const char* errorName, const char* errorMessage,
                               const std::string& what) {
    const int code = result < 0 ? -result : EIO;
    FailErrno(code, what);
    const std::string name = errorName ? errorName : "";
    if (name == SD_BUS_ERROR_ACCESS_DENIED ||
        name == SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED)
        error_.accessDenied = true;
    if (name == SD_BUS_ERROR_SERVICE_UNKNOWN || name == SD_BUS_ERROR_NAME_HAS_NO_OWNER)
        error_.unavailable = true;
    if (errorMessage && *errorMessage) error_.text = what + ": " + errorMessage;
    if (code == ETIMEDOUT)
        error_.text = what + ": the service manager did not answer within " +
                      std::to_string(options_.timeout.count()) + " ms.";
    return false;
}

bool SdBusServiceManager::Connect() {
    CloseBus();
    const std::string what = "No connection to the service manager's bus";
    std::string why;
    sd_ = SdBusLibrary::Load(why);
    if (!sd_) {
        FailErrno(ENOENT, what);
        error_.text = what + ": " + why + ".";
        return false;
    }
    const SdBusLibrary& sd = *sd_;
    // Opening only starts the connection: the login and the bus's greeting
    // follow while the first call waits, and the library waits for them as
    // long as 90 s.  Both are driven here under the time-out instead, so a
    // bus that takes the connection and never speaks cannot hold the gateway.
    const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
    int r = 0;
    if (!options_.address.empty()) {
        r = sd.sd_bus_new(&bus_);
        if (r >= 0) r = sd.sd_bus_set_address(bus_, options_.address.c_str());
        if (r >= 0) r = sd.sd_bus_set_bus_client(bus_, 1);
        if (r >= 0) r = sd.sd_bus_start(bus_);
    } else if (options_.bus == Bus::User) {
        r = sd.sd_bus_open_user(&bus_);
    } else {
        r = sd.sd_bus_open_system(&bus_);
    }
    while (r >= 0 && (r = sd.sd_bus_is_ready(bus_)) == 0) {
        r = sd.sd_bus_process(bus_, nullptr);
        if (r != 0) continue;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        r = left.count() <= 0 ? -ETIMEDOUT
                              : sd.sd_bus_wait(bus_, static_cast<std::uint64_t>(left.count()));
    }
    if (r < 0) {
        Fail(r, nullptr, nullptr, what);
        CloseBus();
        return false;
    }
    sd.sd_bus_set_method_call_timeout(bus_,
                                      static_cast<std::uint64_t>(options_.timeout.count()) * 1000);
    // The bus may be there without systemd on it.
    CallResult call(sd);
    r = sd.sd_bus_call_method(bus_, Destination, ManagerPath, "org.freedesktop.DBus.Peer", "Ping",
                              &call.error, &call.reply, "");
    if (r < 0) {
        Fail(r, call.error.name, call.error.message,
             "The service manager (systemd) does not answer");
        CloseBus();
        return false;
    }
    return true;
}

bool SdBusServiceManager::Call(const char* method, const std::string& what, const char* signature,
                               ...) {
    if (!bus_) return FailErrno(ENOTCONN, what);
    CallResult call(*sd_);
    va_list args;
    va_start(args, signature);
    const int r = sd_->sd_bus_call_methodv(bus_, Destination, ManagerPath, ManagerInterface,
                                           method, &call.error, &call.reply, signature, args);
    va_end(args);
    if (r < 0) return Fail(r, call.error.name, call.error.message, what);
    return true;
}

bool SdBusServiceManager::CheckUnitName(const std::string& unit) {
    if (unit.empty() || unit.find('/') != std::string::npos || unit == "." || unit == "..")
        return FailErrno(EINVAL, "Unit name \"" + unit + "\"");
    return true;
}

std::optional<UnitStatus> SdBusServiceManager::Query(const std::string& unit) {
    const std::string what = "Query of " + unit;
    if (!bus_) {
        FailErrno(ENOTCONN, what);
        return std::nullopt;
    }
    const SdBusLibrary& sd = *sd_;
    CallResult load(sd);
    int r = sd.sd_bus_call_method(bus_, Destination, ManagerPath, ManagerInterface, "LoadUnit",
                                  &load.error, &load.reply, "s", unit.c_str());
    const char* path = nullptr;
    if (r >= 0) r = sd.sd_bus_message_read(load.reply, "o", &path);
    if (r < 0) {
        Fail(r, load.error.name, load.error.message, what);
        return std::nullopt;
    }
    UnitStatus status;
    const std::pair<const char*, std::string*> properties[] = {
        {"LoadState", &status.loadState},
        {"ActiveState", &status.activeState},
        {"UnitFileState", &status.unitFileState},
        {"FragmentPath", &status.fragmentPath}};
    for (const auto& [name, field] : properties) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        char* value = nullptr;
        r = sd.sd_bus_get_property_string(bus_, Destination, path, UnitInterface, name, &error,
                                          &value);
        if (r < 0) {
            Fail(r, error.name, error.message, what);
            sd.sd_bus_error_free(&error);
            return std::nullopt;
        }
        *field = value ? value : "";
        std::free(value);
    }
    return status;
}

bool SdBusServiceManager::WriteUnitFile(const std::string& unit, const std::string& text) {
    if (!CheckUnitName(unit)) return false;
    namespace fs = std::filesystem;
    const fs::path folder(options_.unitFolder);
    const fs::path target = folder / unit;
    const std::string what = "Writing " + target.string();
    std::error_code ec;
    fs::create_directories(folder, ec);
    // Through a temporary file and a rename: the manager never reads half a unit.
    const std::string temporary = target.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return FailErrno(errno, what);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int saved = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temporary.c_str());
            return FailErrno(saved, what);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return FailErrno(saved, what);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return FailErrno(saved, what);
    }
    return true;
}

bool SdBusServiceManager::DeleteUnitFile(const std::string& unit) {
    if (!CheckUnitName(unit)) return false;
    const std::string path = (std::filesystem::path(options_.unitFolder) / unit).string();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return FailErrno(errno, "Deleting " + path);
    return true;
}

bool SdBusServiceManager::Reload() { return Call("Reload", "Reload of the service manager", ""); }

bool SdBusServiceManager::Enable(const std::string& unit) {
    return Call("EnableUnitFiles", "Enabling " + unit, "asbb", 1, unit.c_str(), 0, 1);
}

bool SdBusServiceManager::Disable(const std::string& unit) {
    return Call("DisableUnitFiles", "Disabling " + unit, "asb", 1, unit.c_str(), 0);
}

bool SdBusServiceManager::Mask(const std::string& unit) {
    return Call("MaskUnitFiles", "Masking " + unit, "asbb", 1, unit.c_str(), 0, 1);
}

bool SdBusServiceManager::Unmask(const std::string& unit) {
    return Call("UnmaskUnitFiles", "Unmasking " + unit, "asb", 1, unit.c_str(), 0);
}

bool SdBusServiceManager::Start(const std::string& unit) {
    return Call("StartUnit", "Starting " + unit, "ss", unit.c_str(), "replace");
}

bool SdBusServiceManager::Stop(const std::string& unit) {
    return Call("StopUnit", "Stopping " + unit, "ss", unit.c_str(), "replace");
}

} // namespace vantor
