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
        const std::regex status(R"(STATUS=(\w+) \(check point (\d+))");
        for (const std::string& m : notifier.messages) {
            std::smatch match;
            if (!std::regex_search(m, match, status)) continue;
            std::string line = match[1].str() + " " + match[2].str();
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
    ASSERT_EQ(events.entries.size(), 2u);
    EXPECT_EQ(events.entries[0].first, "TarvoVantor");
    EXPECT_EQ(events.entries[0].message, "Chyba spojení");
    EXPECT_EQ(events.entries[1].first, "TarvoVantor error: 0");
}

} // namespace
} // namespace vantor::test
