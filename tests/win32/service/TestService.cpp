// A service for the tests of the Win32 service side: the gateway's service
// process with an empty gateway, run by the real service control manager.
// "test_service RECORD" appends each status report and each event to RECORD
// ("report STATE CHECKPOINT WAITHINT ACCEPTED", "event TYPE WRITTEN FIRST |
// MESSAGE") and ends with the dispatcher's result ("ran 1"; "ran 0" when no
// manager started the process).
#include "platform/win32/Win32Loop.h"
#include "platform/win32/Win32Service.h"
#include "service/ServiceProcess.h"

#include <fstream>
#include <string>

namespace {

using namespace vantor;

std::string recordPath;

void Record(const std::string& line) { std::ofstream(recordPath, std::ios::app) << line << "\n"; }

// The real link to the manager, each report written down on its way.
class RecordingNotifier final : public ServiceNotifier {
public:
    bool RunDispatcher(const std::string& name, const std::function<void()>& main) override {
        return real.RunDispatcher(name, main);
    }
    bool Connected() const override { return real.Connected(); }
    bool ReportStatus(const ServiceStatus& s, const std::string& message) override {
        Record("report " + std::to_string(s.currentState) + " " + std::to_string(s.checkPoint) +
               " " + std::to_string(s.waitHint) + " " + std::to_string(s.controlsAccepted));
        return real.ReportStatus(s, message);
    }
    bool Notify(const std::string& message) override { return real.Notify(message); }
    std::uint64_t WatchdogMicroseconds() const override { return real.WatchdogMicroseconds(); }
    int LastError() const override { return real.LastError(); }
    Win32ServiceNotifier real;
};

class RecordingEventLog final : public EventLog {
public:
    bool Report(int type, const std::string& first, const std::string& message) override {
        const bool written = real.Report(type, first, message);
        Record("event " + std::to_string(type) + " " + std::to_string(written) + " " + first +
               " | " + message);
        return written;
    }
    Win32EventLog real{EventSourceName};
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    recordPath = argv[1];
    Win32Loop loop; // run by the manager's service thread
    RecordingNotifier notifier;
    RecordingEventLog events;
    ServiceProcess service(notifier, events, loop);
    ServiceHost host;
    host.registerControlHandler = [&](std::function<void(std::uint32_t)> handler) {
        return notifier.real.RegisterControlHandler(loop, std::move(handler));
    };
    host.runGateway = [&] { loop.run(); };
    host.stopGateway = [&] { loop.quit(); };
    const bool ran = service.RunServiceDispatcher(std::move(host));
    Record("ran " + std::to_string(ran));
    return ran ? 0 : 1;
}
