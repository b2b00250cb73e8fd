#include "service/FakeSystemdBus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

namespace vantor::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr char UnitPrefix[] = "/org/freedesktop/systemd1/unit";

std::string UnitName(const char* path) {
    char* name = nullptr;
    if (sd_bus_path_decode(path, UnitPrefix, &name) <= 0) return {};
    std::string result = name;
    std::free(name);
    return result;
}

std::vector<std::string> ReadStrings(sd_bus_message* m) {
    char** strv = nullptr;
    std::vector<std::string> out;
    if (sd_bus_message_read_strv(m, &strv) < 0 || !strv) return out;
    for (char** s = strv; *s; ++s) {
        out.emplace_back(*s);
        std::free(*s);
    }
    std::free(strv);
    return out;
}

} // namespace

FakeSystemdBus::FakeSystemdBus() {
    std::random_device rd;
    folder_ =
        fs::temp_directory_path() / ("vantor-bus-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(folder_ / "units");
    ProcessOptions options;
    options.args = {"--session", "--nofork", "--print-address",
                    "--address=unix:path=" + (folder_ / "bus").string()};
    daemon_ = std::make_unique<Process>("dbus-daemon", options);
    const auto line = daemon_->WaitForLine("unix:", 10s);
    if (!line)
        throw std::runtime_error("dbus-daemon did not start (is package dbus-daemon there?)");
    address_ = *line;

    static const sd_bus_vtable manager[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("LoadUnit", "s", "o", &FakeSystemdBus::OnLoadUnit,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("StartUnit", "ss", "o", &FakeSystemdBus::OnChange,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("StopUnit", "ss", "o", &FakeSystemdBus::OnChange, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", &FakeSystemdBus::OnChange,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", &FakeSystemdBus::OnChange,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("MaskUnitFiles", "asbb", "a(sss)", &FakeSystemdBus::OnChange,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("UnmaskUnitFiles", "asb", "a(sss)", &FakeSystemdBus::OnChange,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("Reload", "", "", &FakeSystemdBus::OnChange, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END};
    static const sd_bus_vtable unit[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_PROPERTY("LoadState", "s", &FakeSystemdBus::OnProperty, 0, 0),
        SD_BUS_PROPERTY("ActiveState", "s", &FakeSystemdBus::OnProperty, 0, 0),
        SD_BUS_PROPERTY("UnitFileState", "s", &FakeSystemdBus::OnProperty, 0, 0),
        SD_BUS_PROPERTY("FragmentPath", "s", &FakeSystemdBus::OnProperty, 0, 0),
        SD_BUS_VTABLE_END};

    int r = sd_bus_new(&bus_);
    if (r >= 0) r = sd_bus_set_address(bus_, address_.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus_, 1);
    if (r >= 0) r = sd_bus_start(bus_);
    if (r >= 0)
        r = sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/systemd1",
                                     "org.freedesktop.systemd1.Manager", manager, this);
    if (r >= 0)
        r = sd_bus_add_fallback_vtable(bus_, nullptr, UnitPrefix, "org.freedesktop.systemd1.Unit",
                                       unit, nullptr, this);
    if (r >= 0) r = sd_bus_request_name(bus_, "org.freedesktop.systemd1", 0);
    if (r < 0) {
        sd_bus_flush_close_unref(bus_);
        throw std::runtime_error("fake systemd: " + std::string(std::strerror(-r)));
    }
    server_ = std::thread([this] { Serve(); });
}

FakeSystemdBus::~FakeSystemdBus() {
    stop_ = true;
    if (server_.joinable()) server_.join();
    sd_bus_flush_close_unref(bus_);
    daemon_.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

void FakeSystemdBus::Serve() {
    while (!stop_) {
        const int r = sd_bus_process(bus_, nullptr);
        if (r > 0) continue;
        if (r < 0) break;
        sd_bus_wait(bus_, 50'000);
    }
}

void FakeSystemdBus::Wait() {
    if (const int ms = delayMs_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void FakeSystemdBus::SetUnit(const std::string& unit, UnitStatus status) {
    std::lock_guard lock(mutex_);
    units_[unit] = std::move(status);
}

UnitStatus FakeSystemdBus::Unit(const std::string& unit) {
    std::lock_guard lock(mutex_);
    return UnitLocked(unit);
}

std::vector<std::string> FakeSystemdBus::Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
}

UnitStatus& FakeSystemdBus::UnitLocked(const std::string& unit) {
    auto [it, added] = units_.try_emplace(unit, UnitStatus{"not-found", "inactive", "", ""});
    return it->second;
}

// As systemd after daemon-reload: a file in the unit folder makes its unit
// loaded, a unit whose file went is not found any more.
void FakeSystemdBus::ReloadLocked() {
    for (const auto& entry : fs::directory_iterator(UnitFolder()))
        UnitLocked(entry.path().filename().string());
    for (auto& [name, status] : units_) {
        const fs::path file = fs::path(UnitFolder()) / name;
        if (status.loadState == "masked") continue;
        if (fs::exists(file)) {
            status.loadState = "loaded";
            status.fragmentPath = file.string();
            if (status.unitFileState.empty()) status.unitFileState = "disabled";
        } else if (status.fragmentPath == file.string()) {
            status = UnitStatus{"not-found", status.activeState, "", ""};
        }
    }
}

int FakeSystemdBus::OnLoadUnit(sd_bus_message* m, void* self, sd_bus_error*) {
    auto& bus = *static_cast<FakeSystemdBus*>(self);
    bus.Wait();
    const char* name = nullptr;
    int r = sd_bus_message_read(m, "s", &name);
    if (r < 0) return r;
    char* path = nullptr;
    r = sd_bus_path_encode(UnitPrefix, name, &path);
    if (r < 0) return r;
    {
        std::lock_guard lock(bus.mutex_);
        bus.UnitLocked(name);
    }
    r = sd_bus_reply_method_return(m, "o", path);
    std::free(path);
    return r;
}

int FakeSystemdBus::OnChange(sd_bus_message* m, void* self, sd_bus_error* error) {
    auto& bus = *static_cast<FakeSystemdBus*>(self);
    bus.Wait();
    const std::string method = sd_bus_message_get_member(m);
    std::string unit;
    if (method == "StartUnit" || method == "StopUnit") {
        const char* name = nullptr;
        const char* mode = nullptr;
        if (sd_bus_message_read(m, "ss", &name, &mode) >= 0) unit = name;
    } else if (method != "Reload") {
        const auto names = ReadStrings(m);
        if (!names.empty()) unit = names[0];
    }
    {
        std::lock_guard lock(bus.mutex_);
        bus.calls_.push_back(unit.empty() ? method : method + " " + unit);
    }
    if (bus.denied_) return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "Access denied");

    std::lock_guard lock(bus.mutex_);
    if (method == "Reload") {
        bus.ReloadLocked();
        return sd_bus_reply_method_return(m, "");
    }
    UnitStatus& status = bus.UnitLocked(unit);
    if (method == "StartUnit" || method == "StopUnit") {
        status.activeState = method == "StartUnit" ? "active" : "inactive";
        return sd_bus_reply_method_return(m, "o", "/org/freedesktop/systemd1/job/1");
    }
    if (method == "EnableUnitFiles") {
        status.unitFileState = "enabled";
        return sd_bus_reply_method_return(m, "ba(sss)", 1, 0);
    }
    if (method == "DisableUnitFiles") {
        status.unitFileState = "disabled";
    } else if (method == "MaskUnitFiles") {
        status.loadState = status.unitFileState = "masked";
    } else if (method == "UnmaskUnitFiles") {
        status.unitFileState = "disabled";
        status.loadState = fs::exists(status.fragmentPath) ? "loaded" : "not-found";
    }
    return sd_bus_reply_method_return(m, "a(sss)", 0);
}

int FakeSystemdBus::OnProperty(sd_bus*, const char* path, const char*, const char* property,
                               sd_bus_message* reply, void* self, sd_bus_error*) {
    auto& bus = *static_cast<FakeSystemdBus*>(self);
    std::lock_guard lock(bus.mutex_);
    const UnitStatus& status = bus.UnitLocked(UnitName(path));
    const std::string name = property;
    const std::string& value = name == "LoadState"       ? status.loadState
                               : name == "ActiveState"   ? status.activeState
                               : name == "UnitFileState" ? status.unitFileState
                                                         : status.fragmentPath;
    return sd_bus_message_append(reply, "s", value.c_str());
}

} // namespace vantor::test
