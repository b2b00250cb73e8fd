#pragma once
// Fakes of the system's service side: a service manager that keeps units in
// memory and can refuse any call, a status channel that records every report,
// an event log that records every entry, numbered texts and start entries.
#include "toolkit/SystemService.h"
#include "toolkit/TextSource.h"

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vantor::test {

class FakeServiceManager final : public ServiceManager {
public:
    static constexpr char Folder[] = "/etc/systemd/system";

    // The unit as an installed package leaves it: its file elsewhere, disabled.
    void AddVendorUnit(const std::string& unit, std::string activeState = "inactive") {
        units[unit] =
            UnitStatus{"loaded", std::move(activeState), "disabled", "/lib/systemd/system/" + unit};
    }
    // A call that fails from now on ("Connect", "Query", "Stop", ...).
    void Refuse(const std::string& call, ServiceError error) { refused[call] = std::move(error); }
    static ServiceError AccessDenied() { return {EACCES, "Access denied", true, false}; }
    static ServiceError NoManager() { return {ENOENT, "No bus", false, true}; }

    bool Connect() override { return Ok("Connect", ""); }
    std::optional<UnitStatus> Query(const std::string& unit) override {
        if (!Ok("Query", unit)) return std::nullopt;
        UnitStatus& status = Unit(unit);
        if (status.activeState == "deactivating" && stopSteps-- <= 0)
            status.activeState = "inactive";
        return status;
    }
    std::string UnitFolder() const override { return Folder; }
    bool WriteUnitFile(const std::string& unit, const std::string& text) override {
        if (!Ok("WriteUnitFile", unit)) return false;
        files[unit] = text;
        Unit(unit) = UnitStatus{"loaded", "inactive", "disabled", std::string(Folder) + "/" + unit};
        return true;
    }
    bool DeleteUnitFile(const std::string& unit) override {
        if (!Ok("DeleteUnitFile", unit)) return false;
        files.erase(unit);
        Unit(unit) = UnitStatus{"not-found", Unit(unit).activeState, "", ""};
        return true;
    }
    bool Reload() override { return Ok("Reload", ""); }
    bool Enable(const std::string& unit) override {
        return SetFileState("Enable", unit, "enabled");
    }
    bool Disable(const std::string& unit) override {
        return SetFileState("Disable", unit, "disabled");
    }
    bool Mask(const std::string& unit) override {
        if (!SetFileState("Mask", unit, "masked")) return false;
        Unit(unit).loadState = "masked";
        return true;
    }
    bool Unmask(const std::string& unit) override {
        if (!SetFileState("Unmask", unit, "disabled")) return false;
        Unit(unit).loadState = Unit(unit).fragmentPath.empty() ? "not-found" : "loaded";
        return true;
    }
    bool Start(const std::string& unit) override {
        if (!Ok("Start", unit)) return false;
        Unit(unit).activeState = "active";
        return true;
    }
    // The unit stays "deactivating" for stopSteps further queries.
    bool Stop(const std::string& unit) override {
        if (!Ok("Stop", unit)) return false;
        Unit(unit).activeState = "deactivating";
        return true;
    }
    const ServiceError& LastError() const override { return error_; }

    UnitStatus& Unit(const std::string& unit) {
        auto [it, added] = units.try_emplace(unit, UnitStatus{"not-found", "inactive", "", ""});
        return it->second;
    }
    // The calls that changed something, such as "Enable tarvovantor.service".
    std::vector<std::string> Changes() const {
        std::vector<std::string> out;
        for (const std::string& c : calls)
            if (c.rfind("Connect", 0) != 0 && c.rfind("Query", 0) != 0) out.push_back(c);
        return out;
    }

    std::map<std::string, UnitStatus> units;
    std::map<std::string, std::string> files;
    std::map<std::string, ServiceError> refused;
    std::vector<std::string> calls;
    int stopSteps = 0;

private:
    bool Ok(const std::string& call, const std::string& unit) {
        calls.push_back(unit.empty() ? call : call + " " + unit);
        auto it = refused.find(call);
        if (it == refused.end()) return true;
        error_ = it->second;
        return false;
    }
    bool SetFileState(const std::string& call, const std::string& unit, const char* state) {
        if (!Ok(call, unit)) return false;
        Unit(unit).unitFileState = state;
        return true;
    }
    ServiceError error_;
};

// Windows' service control manager with the service installed for manual
// start and running; every call is recorded and succeeds.
class FakeServiceControlManager final : public ServiceControlManager {
public:
    bool Connect(Access) override { return Call("Connect"); }
    bool Open(const std::string& name, Access) override { return Call("Open " + name); }
    bool Create(const std::string& name, const std::string&, const std::string& commandLine,
                std::uint32_t) override {
        return Call("Create " + name + " " + commandLine);
    }
    std::optional<std::uint32_t> StartType() override { return Call("StartType") ? 3 : 0; }
    std::optional<std::uint32_t> State() override { return Call("State") ? 4 : 0; }
    bool HasDisplayName(const std::string&) override { return Call("HasDisplayName"); }
    bool Start() override { return Call("Start"); }
    bool Stop() override { return Call("Stop"); }
    bool Remove() override { return Call("Remove"); }
    void Close() override { Call("Close"); }
    const ServiceError& LastError() const override { return error; }

    std::vector<std::string> calls;
    ServiceError error;

private:
    bool Call(std::string call) {
        calls.push_back(std::move(call));
        return true;
    }
};

class FakeNotifier final : public ServiceNotifier {
public:
    bool Connected() const override { return connected; }
    bool Notify(const std::string& message) override {
        messages.push_back(message);
        return !failing;
    }
    std::uint64_t WatchdogMicroseconds() const override { return watchdogUsec; }
    int LastError() const override { return failing ? EPIPE : 0; }

    bool connected = true;
    bool failing = false;
    std::uint64_t watchdogUsec = 0;
    std::vector<std::string> messages;
};

class FakeEventLog final : public EventLog {
public:
    struct Entry {
        int type;
        std::string first, message;
    };
    bool Report(int type, const std::string& first, const std::string& message) override {
        entries.push_back({type, first, message});
        return true;
    }
    std::vector<Entry> entries;
};

class FakeTexts final : public TextSource {
public:
    std::string Msg(int number) const override {
        auto it = texts.find(number);
        return it == texts.end() ? std::string() : it->second;
    }
    std::string Text(int number) override { return Msg(number); }
    std::map<int, std::string> texts{{137, "Error"}, {200, "Needs root."}};
};

class FakeStartEntries final : public StartEntryStore {
public:
    std::string Read(const std::string& name) override {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
    bool Write(const std::string& name, const std::string& command) override {
        values[name] = command;
        return true;
    }
    bool Delete(const std::string& name) override { return values.erase(name) > 0; }
    std::map<std::string, std::string> values;
};

} // namespace vantor::test
