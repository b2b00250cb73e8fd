#include "platform/Systemd.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>
#include <systemd/sd-login.h>
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

// Owns a reply and its error for the length of one call.
struct CallResult {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    ~CallResult() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
    }
};

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

} // namespace

// ---------------------------------------------------------------------------
// Status reports.

bool SystemdNotifier::Connected() const {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket && *socket;
}

bool SystemdNotifier::Notify(const std::string& message) {
    const int r = sd_notify(0, message.c_str());
    if (r > 0) return true;
    lastError_ = r < 0 ? -r : ENOTCONN;
    return false;
}

std::string SystemdUnitInstance() {
    char* unit = nullptr;
    if (sd_pid_get_unit(0, &unit) < 0 || !unit) return {};
    const std::string name(unit);
    std::free(unit);
    const std::size_t at = name.find('@');
    const std::size_t dot = name.rfind('.');
    if (at == std::string::npos || dot == std::string::npos || dot <= at + 1) return {};
    return name.substr(at + 1, dot - at - 1);
}

std::uint64_t SystemdNotifier::WatchdogMicroseconds() const {
    std::uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

// ---------------------------------------------------------------------------
// Events.

JournalEventLog::JournalEventLog(std::ostream& mirror)
    : mirror_(mirror), stderrIsJournal_(StderrIsJournal()) {}

bool JournalEventLog::Report(int type, const std::string& firstString, const std::string& message) {
    const int priority = type == Error ? LOG_ERR : type == Warning ? LOG_WARNING : LOG_INFO;
    const std::string text = firstString + " - " + message;
    const int r =
        sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=%i", priority, "SYSLOG_IDENTIFIER=%s",
                        "TarvoVantor", "TARVOVANTOR_EVENT_TYPE=%i", type, nullptr);
    if (r < 0 || !stderrIsJournal_) {
        const char* kind = type == Error ? "error" : type == Warning ? "warning" : "information";
        mirror_ << "vantor: " << kind << " event: " << text << std::endl;
    }
    return r >= 0 || mirror_.good();
}

// ---------------------------------------------------------------------------
// The manager on D-Bus.

void SdBusServiceManager::BusCloser::operator()(sd_bus* bus) const {
    sd_bus_flush_close_unref(bus);
}

SdBusServiceManager::SdBusServiceManager(Options options) : options_(std::move(options)) {}

SdBusServiceManager::~SdBusServiceManager() = default;

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
    bus_.reset();
    sd_bus* bus = nullptr;
    int r = 0;
    if (!options_.address.empty()) {
        r = sd_bus_new(&bus);
        if (r >= 0) r = sd_bus_set_address(bus, options_.address.c_str());
        if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
        if (r >= 0) r = sd_bus_start(bus);
    } else if (options_.bus == Bus::User) {
        r = sd_bus_open_user(&bus);
    } else {
        r = sd_bus_open_system(&bus);
    }
    if (r < 0) {
        sd_bus_unref(bus);
        return Fail(r, nullptr, nullptr, "No connection to the service manager's bus");
    }
    bus_.reset(bus);
    sd_bus_set_method_call_timeout(bus,
                                   static_cast<std::uint64_t>(options_.timeout.count()) * 1000);
    // The bus may be there without systemd on it.
    CallResult call;
    r = sd_bus_call_method(bus, Destination, ManagerPath, "org.freedesktop.DBus.Peer", "Ping",
                           &call.error, &call.reply, "");
    if (r < 0) {
        Fail(r, call.error.name, call.error.message,
             "The service manager (systemd) does not answer");
        bus_.reset();
        return false;
    }
    return true;
}

bool SdBusServiceManager::Call(const char* method, const std::string& what, const char* signature,
                               ...) {
    if (!bus_) return FailErrno(ENOTCONN, what);
    CallResult call;
    va_list args;
    va_start(args, signature);
    const int r = sd_bus_call_methodv(bus_.get(), Destination, ManagerPath, ManagerInterface,
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
    CallResult load;
    int r = sd_bus_call_method(bus_.get(), Destination, ManagerPath, ManagerInterface, "LoadUnit",
                               &load.error, &load.reply, "s", unit.c_str());
    const char* path = nullptr;
    if (r >= 0) r = sd_bus_message_read(load.reply, "o", &path);
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
        r = sd_bus_get_property_string(bus_.get(), Destination, path, UnitInterface, name, &error,
                                       &value);
        if (r < 0) {
            Fail(r, error.name, error.message, what);
            sd_bus_error_free(&error);
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
