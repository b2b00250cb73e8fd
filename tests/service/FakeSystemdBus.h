#pragma once
// A private D-Bus daemon with a fake systemd manager on it: the object
// org.freedesktop.systemd1 answers the calls the gateway makes (LoadUnit, the
// unit properties, Start/StopUnit, Enable/Disable/Mask/UnmaskUnitFiles,
// Reload) from units it keeps in memory, and takes unit files from a folder
// of its own.  It can refuse every changing call as systemd refuses a user
// without rights, and answer slowly.  Both the sd-bus manager in this process
// and a gateway started with DBUS_SYSTEM_BUS_ADDRESS talk to it.
#include "support/Process.h"
#include "toolkit/SystemService.h"

#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantor::test {

class FakeSystemdBus {
public:
    // Throws when dbus-daemon cannot be started.
    FakeSystemdBus();
    ~FakeSystemdBus();
    FakeSystemdBus(const FakeSystemdBus&) = delete;
    FakeSystemdBus& operator=(const FakeSystemdBus&) = delete;

    const std::string& Address() const { return address_; }
    // Where unit files of the administrator lie for this manager.
    std::string UnitFolder() const { return (folder_ / "units").string(); }

    void SetUnit(const std::string& unit, UnitStatus status);
    UnitStatus Unit(const std::string& unit);
    // Changing calls fail with org.freedesktop.DBus.Error.AccessDenied.
    void SetDenied(bool denied) { denied_ = denied; }
    // Every call is answered only after this long.
    void SetDelay(std::chrono::milliseconds delay) { delayMs_ = static_cast<int>(delay.count()); }
    // The calls made so far, "Method argument".
    std::vector<std::string> Calls();

private:
    static int OnLoadUnit(sd_bus_message* m, void* self, sd_bus_error* error);
    static int OnChange(sd_bus_message* m, void* self, sd_bus_error* error);
    static int OnProperty(sd_bus* bus, const char* path, const char* interface,
                          const char* property, sd_bus_message* reply, void* self,
                          sd_bus_error* error);
    void Serve();
    void Wait();
    UnitStatus& UnitLocked(const std::string& unit);
    void ReloadLocked();

    std::filesystem::path folder_;
    std::unique_ptr<Process> daemon_;
    std::string address_;
    sd_bus* bus_ = nullptr;
    std::thread server_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> denied_{false};
    std::atomic<int> delayMs_{0};
    std::mutex mutex_;
    std::map<std::string, UnitStatus> units_;
    std::vector<std::string> calls_;
};

} // namespace vantor::test
