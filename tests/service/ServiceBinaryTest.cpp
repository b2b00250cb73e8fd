// The real gateway binary as a service and beside one: its reports on a
// notification socket that the test reads (as systemd would), the watchdog,
// a start by hand, and an ordinary start while the service runs, with a fake
// systemd on a private bus.
#include "service/FakeSystemdBus.h"
#include "support/EndToEnd.h"
#include "support/Process.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>
#include <thread>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;

std::string Gateway() { return std::string(VANTOR_BUILD_DIR) + "/vantor"; }

// systemd's end of sd_notify: a datagram socket bound to a path.
class NotifySocket {
public:
    explicit NotifySocket(std::string path) : path_(std::move(path)) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("notify socket " + path_ + ": " + std::strerror(errno));
    }
    ~NotifySocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    const std::string& Path() const { return path_; }

    std::optional<std::string> Receive(std::chrono::milliseconds timeout) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(n));
    }
    // The next report that carries a status, "STATE n" plus READY/STOPPING.
    std::optional<std::string> NextStatus(std::chrono::milliseconds timeout = 10s) {
        // A state that waits for nothing shows no check point: it is 0.
        const std::regex status(R"(STATUS=(\w+)(?: \(check point (\d+))?)");
        for (;;) {
            auto message = Receive(timeout);
            if (!message) return std::nullopt;
            std::smatch match;
            if (!std::regex_search(*message, match, status)) continue;
            std::string line = match[1].str() + " " + (match[2].matched ? match[2].str() : "0");
            if (message->find("READY=1") != std::string::npos) line += " READY";
            if (message->find("STOPPING=1") != std::string::npos) line += " STOPPING";
            return line;
        }
    }

private:
    std::string path_;
    int fd_ = -1;
};

// A gateway folder whose configuration opens nothing that could collide.
struct ServiceHome {
    ServiceHome() {
        folder.Write("vantor.INI",
                     "[Set]\r\nLang=Eng\r\nIPPort=0\r\nPort=/nonexistent/line:19200,N,8,1\r\n");
    }
    ProcessOptions Options(std::vector<std::string> args, std::map<std::string, std::string> env) {
        ProcessOptions options;
        options.args = {"--home", folder.Path()};
        options.args.insert(options.args.end(), args.begin(), args.end());
        options.env = std::move(env);
        // As if started by hand from a terminal, whatever ran the tests.
        options.unsetEnv = {"NOTIFY_SOCKET", "JOURNAL_STREAM", "WATCHDOG_USEC", "WATCHDOG_PID",
                            "DBUS_SYSTEM_BUS_ADDRESS"};
        for (const auto& [name, value] : options.env) std::erase(options.unsetEnv, name);
        options.echoPrefix = "vantor";
        return options;
    }
    TempFolder folder;
};

TEST(ServiceBinary, ReportsItsRunAndItsEventsAndStopsOnSigterm) {
    ServiceHome home;
    NotifySocket notify(home.folder.Path() + "/notify");
    Process gw(Gateway(), home.Options({"/service"}, {{"NOTIFY_SOCKET", notify.Path()}}));
    EXPECT_EQ(notify.NextStatus(), "START_PENDING 1");
    EXPECT_EQ(notify.NextStatus(), "START_PENDING 2");
    EXPECT_EQ(notify.NextStatus(), "RUNNING 0 READY");
    // Interrogate: the same state again.
    gw.Signal(SIGUSR1);
    EXPECT_EQ(notify.NextStatus(), "RUNNING 0 READY");
    gw.Signal(SIGTERM);
    EXPECT_EQ(notify.NextStatus(), "STOP_PENDING 3 STOPPING");
    EXPECT_EQ(notify.NextStatus(), "STOPPED 0");
    const auto status = gw.WaitExit(10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);

    // The log as headless, the events on standard error (not the journal's).
    EXPECT_TRUE(gw.HasLine("---- Start Tarvo Vantor ----"));
    EXPECT_TRUE(gw.HasLine("information event: TarvoVantor - Start", Process::Stream::Stderr));
    std::vector<std::string> errors;
    for (const std::string& line : gw.Lines(Process::Stream::Stderr))
        if (line.find("error event: TarvoVantor error: ") != std::string::npos)
            errors.push_back(line);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find(EnglishText(125) + "/nonexistent/line"), std::string::npos);
    EXPECT_NE(errors[1].find(EnglishText(127)), std::string::npos);
    EXPECT_FALSE(gw.HasLine("MessageBox"));
}

TEST(ServiceBinary, WatchdogIsPingedSeveralTimesPerPeriod) {
    ServiceHome home;
    NotifySocket notify(home.folder.Path() + "/notify");
    Process gw(Gateway(), home.Options({"/service"}, {{"NOTIFY_SOCKET", notify.Path()},
                                                      {"WATCHDOG_USEC", "600000"}}));
    ASSERT_EQ(notify.NextStatus(), "START_PENDING 1");
    ASSERT_EQ(notify.NextStatus(), "START_PENDING 2");
    ASSERT_EQ(notify.NextStatus(), "RUNNING 0 READY");
    int pings = 0;
    const auto until = std::chrono::steady_clock::now() + 1800ms;
    while (std::chrono::steady_clock::now() < until)
        if (auto m = notify.Receive(100ms); m && *m == "WATCHDOG=1") ++pings;
    // Three periods: at least two pings in each.
    EXPECT_GE(pings, 6);
    gw.Signal(SIGTERM);
    ASSERT_TRUE(gw.WaitExit(10s));
}

TEST(ServiceBinary, StartedByHandItWritesTheErrorEventAndEnds) {
    ServiceHome home;
    const std::vector<std::vector<std::string>> commandLines = {
        {"/service"}, {"--headless", "/service", "/hide"}};
    for (const auto& args : commandLines) {
        Process gw(Gateway(), home.Options(args, {}));
        EXPECT_TRUE(gw.WaitForLine("error event: TarvoVantor error: 107 - "
                                   "StartServiceCtrlDispatcher failed.",
                                   5s, Process::Stream::Stderr))
            << args[0];
        EXPECT_TRUE(gw.WaitForLine("systemctl start tarvovantor", 5s, Process::Stream::Stderr));
        const auto status = gw.WaitExit(5s);
        ASSERT_TRUE(status);
        EXPECT_EQ(Process::ExitCode(*status), 1);
        EXPECT_FALSE(gw.HasLine("Start Tarvo Vantor"));
    }
}

// SIGTERM in /proc/<pid>/status: 1 held (blocked), 2 caught (a handler).  One
// of the two from the program's first instruction on; before it only the
// dynamic loader runs, which no program can cover.
int SigtermState(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    int state = 0;
    for (std::string line; std::getline(status, line);)
        for (auto [key, bit] : {std::pair{"SigBlk:", 1}, std::pair{"SigCgt:", 2}})
            if (line.rfind(key, 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> 14 & 1))
                state |= bit;
    return state;
}

// A stop at any moment of the start-up ends the gateway as an orderly close.
// On a service manager that answers slowly the window's and the headless
// start last long enough to be seen holding the signal.
TEST(ServiceBinary, SigtermAtAnyMomentOfTheStartEndsWithStatusZero) {
    FakeSystemdBus bus;
    bus.SetDelay(50ms);
    ServiceHome home;
    for (const std::string mode : {"--headless", "", "/service"})
        for (int delayUs : {0, 0, 0, 1000, 10000, 100000}) {
            NotifySocket notify(home.folder.Path() + "/notify");
            Process gw(Gateway(), home.Options(mode.empty() ? std::vector<std::string>{} : std::vector{mode},
                                               {{"QT_QPA_PLATFORM", "offscreen"},
                                                {"DBUS_SYSTEM_BUS_ADDRESS", bus.Address()},
                                                {"NOTIFY_SOCKET", mode == "/service" ? notify.Path() : ""}}));
            int state = 0;
            for (int i = 0; i < 50000 && !(state = SigtermState(gw.pid())); ++i)
                std::this_thread::sleep_for(50us);
            if (mode != "/service") {
                EXPECT_EQ(state, 1) << mode << " is seen holding it";
            }
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            gw.Signal(SIGTERM);
            const auto status = gw.WaitExit(10s);
            ASSERT_TRUE(status);
            EXPECT_EQ(Process::ExitCode(*status), 0) << mode << ", " << delayUs << " us";
        }
}

TEST(ServiceBinary, BesideARunningServiceNothingIsOpened) {
    FakeSystemdBus bus;
    ServiceHome home;
    const int port = FreePort();
    home.folder.Write("vantor.INI", "[Set]\r\nLang=Eng\r\nIPPort=" + std::to_string(port) +
                                        "\r\nPort=/nonexistent/line:19200,N,8,1\r\n");
    const std::map<std::string, std::string> env{{"DBUS_SYSTEM_BUS_ADDRESS", bus.Address()}};
    const std::vector<int> openingTexts = {119, 121, 124, 125, 126, 127};

    bus.SetUnit("tarvovantor.service", {"loaded", "active", "enabled", "/lib/x"});
    {
        Process gw(Gateway(), home.Options({"--headless"}, env));
        ASSERT_TRUE(gw.WaitForLine("---- NT Service -----------", 10s));
        // Give a start that went on regardless time to show itself.
        EXPECT_FALSE(gw.WaitForLine(std::regex("!Err|-OK-"), 1500ms));
        gw.Signal(SIGTERM);
        ASSERT_TRUE(gw.WaitExit(10s));
        for (int text : openingTexts) EXPECT_FALSE(gw.HasLine(EnglishText(text))) << text;
    }
    // Stopped: the ordinary start opens everything.
    bus.SetUnit("tarvovantor.service", {"loaded", "inactive", "enabled", "/lib/x"});
    {
        Process gw(Gateway(), home.Options({"--headless"}, env));
        EXPECT_TRUE(gw.WaitForLine(EnglishText(119), 10s));
        EXPECT_TRUE(gw.WaitForLine(EnglishText(127), 10s));
        EXPECT_FALSE(gw.HasLine("NT Service"));
    }
}

} // namespace
} // namespace vantor::test
