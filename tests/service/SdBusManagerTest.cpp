// The service operations over the real sd-bus manager, talking to a fake
// systemd on a private bus: the D-Bus calls and their order, unit files in the
// manager's folder, access refusals, a manager that does not answer in time,
// no bus at all; and, where systemd runs the machine, the real thing.
#include "platform/Systemd.h"
#include "service/FakeSystemdBus.h"
#include "service/ServiceControl.h"
#include "service/ServiceFakes.h"
#include "support/Process.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
constexpr char Unit[] = "tarvovantor.service";

class SdBusManagerTest : public ::testing::Test {
protected:
    ServiceControl Control(SdBusServiceManager& manager) {
        return ServiceControl(
            ServiceControlParts{&manager, texts,
                                [this](std::string_view text, std::string_view, unsigned) {
                                    boxes.emplace_back(text);
                                    return 1;
                                },
                                [](int) {}, "/usr/bin/vantor /service --home /srv/gw"});
    }
    SdBusServiceManager Manager(std::chrono::milliseconds timeout = 5000ms) {
        return SdBusServiceManager(
            {.address = bus.Address(), .unitFolder = bus.UnitFolder(), .timeout = timeout});
    }

    FakeSystemdBus bus;
    FakeTexts texts;
    std::vector<std::string> boxes;
};

TEST_F(SdBusManagerTest, InstallStartStopAndRemoveThroughTheManager) {
    SdBusServiceManager manager = Manager();
    ServiceControl control = Control(manager);
    control.InstallService(false);
    std::ifstream unit(bus.UnitFolder() + "/" + Unit);
    std::string text((std::istreambuf_iterator<char>(unit)), {});
    EXPECT_NE(text.find("ExecStart=/usr/bin/vantor /service --home /srv/gw\n"), std::string::npos);

    int startType = -1;
    bool running = true;
    EXPECT_TRUE(control.QueryService(startType, running));
    EXPECT_EQ(startType, 0);
    EXPECT_FALSE(running);
    EXPECT_TRUE(control.StartServiceNow());
    EXPECT_TRUE(control.IsServiceRunning());
    EXPECT_TRUE(control.StopService(true));
    EXPECT_FALSE(std::filesystem::exists(bus.UnitFolder() + "/" + Unit));
    EXPECT_FALSE(control.QueryService(startType, running));
    EXPECT_EQ(bus.Calls(), (std::vector<std::string>{
                               "Reload", "EnableUnitFiles tarvovantor.service", "Reload",
                               "StartUnit tarvovantor.service", "StopUnit tarvovantor.service",
                               "DisableUnitFiles tarvovantor.service", "Reload"}));
    EXPECT_TRUE(boxes.empty());

    // A unit of the package is masked on removal and unmasked on install.
    bus.SetUnit(Unit, {"loaded", "active", "disabled", "/lib/systemd/system/tarvovantor.service"});
    EXPECT_TRUE(control.StopService(true));
    EXPECT_EQ(bus.Unit(Unit).loadState, "masked");
    control.InstallService(true);
    EXPECT_EQ(bus.Unit(Unit).unitFileState, "disabled");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SdBusManagerTest, RefusalsAndSilenceAreReportedNotWaitedFor) {
    bus.SetUnit(Unit, {"loaded", "inactive", "disabled", "/lib/x"});
    {
        SdBusServiceManager manager = Manager();
        bus.SetDenied(true);
        EXPECT_FALSE(Control(manager).StartServiceNow());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0], "Needs root.");
        EXPECT_TRUE(manager.LastError().accessDenied);
        bus.SetDenied(false);
    }
    {
        SdBusServiceManager manager = Manager(200ms);
        bus.SetDelay(3s);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(manager.Connect()); // answered by the bus library itself
        EXPECT_FALSE(manager.Query(Unit));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_NE(manager.LastError().text.find("did not answer within 200 ms"), std::string::npos)
            << manager.LastError().text;
        bus.SetDelay(0ms);
    }
    {
        // A bus that takes the connection and never says a word: the login
        // is bounded by the same time-out (the bus library alone waits 90 s).
        TempFolder folder;
        const std::string path = folder.Path() + "/silent";
        const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(silent, 4), 0);
        SdBusServiceManager manager({.address = "unix:path=" + path, .timeout = 200ms});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(manager.Connect());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        EXPECT_NE(manager.LastError().text.find("did not answer within 200 ms"), std::string::npos)
            << manager.LastError().text;
        ::close(silent);
    }
    {
        SdBusServiceManager manager({.address = "unix:path=/nonexistent/bus"});
        EXPECT_FALSE(manager.Connect());
        EXPECT_TRUE(manager.LastError().unavailable);
        EXPECT_FALSE(manager.LastError().text.empty());
        EXPECT_FALSE(manager.WriteUnitFile("../escape.service", "x"));
    }
}

// Only where systemd runs the machine: a unit in the user's runtime unit
// folder, started, seen active and stopped by the user's own manager.
TEST(SystemdEndToEnd, InstallStartAndStopWithTheUsersManager) {
    if (sd_booted() <= 0) GTEST_SKIP() << "systemd is not the running system manager here";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) GTEST_SKIP() << "no XDG_RUNTIME_DIR, so no user manager";
    SdBusServiceManager manager({.bus = SdBusServiceManager::Bus::User,
                                 .unitFolder = std::string(runtime) + "/systemd/user"});
    if (!manager.Connect())
        GTEST_SKIP() << "the user's service manager cannot be reached: "
                     << manager.LastError().text;
    TempFolder home;
    home.Write("vantor.INI", "[Set]\r\nLang=Eng\r\nIPPort=0\r\nPort=/nonexistent:19200,N,8,1\r\n");
    const std::string unit = "tarvovantor-test-" + std::to_string(::getpid()) + ".service";
    FakeTexts texts;
    std::vector<std::string> boxes;
    ServiceControl control(ServiceControlParts{
        &manager, texts,
        [&](std::string_view text, std::string_view, unsigned) {
            boxes.emplace_back(text);
            return 1;
        },
        [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); },
        SystemdQuote(std::string(VANTOR_BUILD_DIR) + "/vantor") + " /service --home " +
            SystemdQuote(home.Path()),
        nullptr, "", true, true, unit});
    control.InstallService(true);
    ASSERT_TRUE(boxes.empty()) << boxes[0];
    EXPECT_TRUE(control.StartServiceNow());
    bool active = false;
    for (int i = 0; i < 50 && !active; ++i) {
        std::this_thread::sleep_for(100ms);
        active = manager.Query(unit) && manager.Query(unit)->activeState == "active";
    }
    EXPECT_TRUE(active);
    EXPECT_TRUE(control.StopService(true));
    EXPECT_EQ(manager.Query(unit)->loadState, "not-found");
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace vantor::test
