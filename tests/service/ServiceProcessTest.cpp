// The service process on a virtual loop with a fake manager channel: the
// reports and check points of a run, controls in each state, a stop that
// comes during the start, failures of the dispatcher, of the status channel
// and of the start, the watchdog, and the event texts.
#include "service/ServiceFakes.h"
#include "service/ServiceProcess.h"
#include "toolkit/Cp1250.h"
#include "toolkit/VirtualLoop.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

namespace vantor::test {
namespace {

class ServiceProcessTest : public ::testing::Test {
protected:
    // A host whose gateway runs until stopGateway; it records what happened.
    ServiceHost Host() {
        ServiceHost host;
        host.registerControlHandler = [this](std::function<void(std::uint32_t)> h) {
            handler = std::move(h);
            return registerWorks;
        };
        host.createGateway = [this] {
            steps.push_back("create");
            if (createThrows) throw std::runtime_error("no memory");
            if (duringCreate) duringCreate();
        };
        host.runGateway = [this] {
            steps.push_back("run");
            if (whileRunning) loop.post(whileRunning);
            loop.run();
        };
        host.stopGateway = [this] {
            steps.push_back("stop");
            loop.quit();
        };
        host.destroyGateway = [this] { steps.push_back("destroy"); };
        return host;
    }

    // "STATE check point" of every report, READY/STOPPING marks included.
    std::vector<std::string> Reports() const {
        std::vector<std::string> out;
        // A state that waits for nothing shows no check point: it is 0.
        const std::regex status(R"(STATUS=(\w+)(?: \(check point (\d+))?)");
        for (const std::string& m : notifier.messages) {
            std::smatch match;
            if (!std::regex_search(m, match, status)) continue;
            std::string line = match[1].str() + " " + (match[2].matched ? match[2].str() : "0");
            if (m.find("READY=1") != std::string::npos) line += " READY";
            if (m.find("STOPPING=1") != std::string::npos) line += " STOPPING";
            out.push_back(line);
        }
        return out;
    }

    VirtualLoop loop;
    FakeNotifier notifier;
    FakeEventLog events;
    ServiceProcess service{notifier, events, loop};
    std::function<void(std::uint32_t)> handler;
    std::vector<std::string> steps;
    bool registerWorks = true;
    bool createThrows = false;
    std::function<void()> duringCreate, whileRunning;
};

TEST_F(ServiceProcessTest, ARunReportsItsCheckPointsAndControls) {
    std::vector<std::uint32_t> accepted;
    whileRunning = [&] {
        accepted.push_back(service.Status().controlsAccepted);
        handler(SERVICE_CONTROL_INTERROGATE);
        handler(SERVICE_CONTROL_STOP);
        accepted.push_back(service.Status().controlsAccepted);
        // Asked again while stopping: the check point goes on counting.
        handler(SERVICE_CONTROL_INTERROGATE);
    };
    duringCreate = [&] { accepted.push_back(service.Status().controlsAccepted); };
    EXPECT_TRUE(service.RunServiceDispatcher(Host()));
    EXPECT_TRUE(service.ServiceMode());
    EXPECT_EQ(Reports(),
              (std::vector<std::string>{"START_PENDING 1", "START_PENDING 2", "RUNNING 0 READY",
                                        "RUNNING 0 READY", "STOP_PENDING 3 STOPPING",
                                        "STOP_PENDING 4 STOPPING", "STOPPED 0"}));
    EXPECT_EQ(accepted, (std::vector<std::uint32_t>{0, SERVICE_ACCEPT_STOP, SERVICE_ACCEPT_STOP}));
    EXPECT_EQ(steps, (std::vector<std::string>{"create", "run", "stop", "destroy"}));
    EXPECT_NE(notifier.messages[0].find("EXTEND_TIMEOUT_USEC=3000000\n"), std::string::npos);
    EXPECT_EQ(service.Status().win32ExitCode, 0u);
    EXPECT_EQ(service.Status().serviceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_TRUE(events.entries.empty());
}

TEST_F(ServiceProcessTest, AStopDuringTheStartIsCarriedOutOnceRunning) {
    duringCreate = [&] { handler(SERVICE_CONTROL_STOP); };
    EXPECT_TRUE(service.RunServiceDispatcher(Host()));
    EXPECT_EQ(Reports(),
              (std::vector<std::string>{"START_PENDING 1", "START_PENDING 2", "RUNNING 0 READY",
                                        "STOP_PENDING 3 STOPPING", "STOPPED 0"}));
}

TEST_F(ServiceProcessTest, FailuresEndTheServiceWithAnEvent) {
    struct Case {
        const char* name;
        bool connected, registerWorks, createThrows, notifyFails;
        std::vector<std::string> reports, steps;
        std::string event;
    } cases[] = {
        {"not started by a manager",
         false,
         true,
         false,
         false,
         {},
         {},
         "TarvoVantor error: 107 StartServiceCtrlDispatcher failed."},
        {"no control handler", true, false, false, false, {"STOPPED 0"}, {}, ""},
        {"start throws",
         true,
         true,
         true,
         false,
         {"START_PENDING 1", "START_PENDING 2", "STOPPED 0"},
         {"create", "destroy"},
         "TarvoVantor error: 0 Start failed: no memory"},
        {"status channel broken",
         true,
         true,
         false,
         true,
         {"START_PENDING 1", "STOPPED 0"},
         {},
         "TarvoVantor error: 32 SetServiceStatus"},
    };
    for (const Case& c : cases) {
        FakeNotifier n;
        n.connected = c.connected;
        n.failing = c.notifyFails;
        FakeEventLog log;
        ServiceProcess process(n, log, loop);
        notifier.messages.clear();
        steps.clear();
        registerWorks = c.registerWorks;
        createThrows = c.createThrows;
        EXPECT_FALSE(process.RunServiceDispatcher(Host())) << c.name;
        notifier.messages = n.messages;
        EXPECT_EQ(Reports(), c.reports) << c.name;
        EXPECT_EQ(steps, c.steps) << c.name;
        // systemctl status shows why the start failed beside the state.
        if (c.createThrows) {
            EXPECT_EQ(n.messages.back(), "STATUS=STOPPED, start failed: no memory");
        }
        if (c.event.empty()) {
            EXPECT_TRUE(log.entries.empty()) << c.name;
        } else {
            ASSERT_FALSE(log.entries.empty()) << c.name;
            EXPECT_EQ(log.entries[0].type, EventLog::Error);
            EXPECT_EQ(log.entries[0].first + " " + log.entries[0].message, c.event) << c.name;
        }
    }
}

TEST_F(ServiceProcessTest, WatchdogPingsThreeTimesPerPeriodWhileRunning) {
    notifier.watchdogUsec = 3'000'000;
    int pings = 0;
    whileRunning = [&] {
        EXPECT_EQ(service.WatchdogIntervalMs(), 1000u);
        loop.advance(3000);
        for (const std::string& m : notifier.messages) pings += m == "WATCHDOG=1";
        handler(SERVICE_CONTROL_STOP);
    };
    EXPECT_TRUE(service.RunServiceDispatcher(Host()));
    EXPECT_EQ(pings, 3);
    EXPECT_EQ(service.WatchdogIntervalMs(), 0u);
}

TEST_F(ServiceProcessTest, EventsCarryTheSourceAndComeOutInUtf8) {
    service.LogServiceEvent(Cp1250FromUtf8("Chyba spojení"), EventLog::Information);
    service.LogServiceEvent("Start", EventLog::Error);
    service.SetInstance("east");
    service.LogServiceEvent("Start", EventLog::Information);
    ASSERT_EQ(events.entries.size(), 3u);
    EXPECT_EQ(events.entries[0].first, "TarvoVantor");
    EXPECT_EQ(events.entries[0].message, "Chyba spojení");
    EXPECT_EQ(events.entries[1].first, "TarvoVantor error: 0");
    EXPECT_EQ(events.entries[2].first, "TarvoVantor@east");
}

// The health read once a second: the status text follows it, and every
// condition that begins or ends is one event; what was wrong from the start
// had its event from the start-up already.
TEST_F(ServiceProcessTest, HealthIsInTheStatusTextAndItsChangesAreEvents) {
    const TDateTime lost = 45000.5; // 12:00:00
    GatewayHealth health{.serialPort = "/tmp/pbx: No such file or directory",
                         .serialDevice = "/tmp/pbx"};
    struct Step {
        GatewayHealth health;
        std::string status;              // the status text after it
        std::vector<std::string> events; // "E text" / "I text"
    } steps[] = {
        {{.serialPort = "/dev/ttyS1: No such file or directory", .serialDevice = "/dev/ttyS1"},
         "RUNNING, serial port not open: /dev/ttyS1: No such file or directory",
         {}},
        {{.linkLostSince = lost, .accountingFile = "File /srv/DATA.NEW open: Read-only"},
         "RUNNING, link lost since 12:00:00; accounting file not writable: File /srv/DATA.NEW "
         "open: Read-only",
         {"I Serial port open again", "E Link to the exchange lost at 12:00:00",
          "E Accounting file not writable: File /srv/DATA.NEW open: Read-only; the exchange "
          "keeps the record until it is written"}},
        {{.listeningPort = "port 1234: in use"},
         "RUNNING, TCP port not open: port 1234: in use",
         {"I Link to the exchange restored (lost since 12:00:00)",
          "E TCP port not open: port 1234: in use", "I Accounting file writable again"}},
        {{}, "RUNNING", {"I TCP port open again"}},
    };
    std::vector<std::string> statuses, seen;
    whileRunning = [&] {
        for (const Step& step : steps) {
            health = step.health;
            loop.advance(ServiceProcess::HealthIntervalMs);
            statuses.push_back(notifier.messages.back());
        }
        handler(SERVICE_CONTROL_STOP);
    };
    ServiceHost host = Host();
    host.health = [&] { return health; };
    EXPECT_TRUE(service.RunServiceDispatcher(std::move(host)));
    // The first RUNNING report already carries what was wrong at the start,
    // with the hint for a device under the system's /tmp.
    EXPECT_NE(notifier.messages[2].find(
                  "STATUS=RUNNING, serial port not open: /tmp/pbx: No such "
                  "file or directory (the service does not see the system's /tmp unless a "
                  "drop-in sets PrivateTmp=no: see vantor(1))"),
              std::string::npos)
        << notifier.messages[2];
    for (const auto& e : events.entries)
        seen.push_back((e.type == EventLog::Error ? "E " : "I ") + e.message);
    std::vector<std::string> expected, expectedStatuses;
    for (const Step& step : steps) {
        expected.insert(expected.end(), step.events.begin(), step.events.end());
        expectedStatuses.push_back("READY=1\nSTATUS=" + step.status);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(statuses, expectedStatuses);
}

} // namespace
} // namespace vantor::test
