// The real vantor binary in its desktop view (Qt's offscreen platform)
// against vantor-sim: it runs the link as headless does and ends cleanly on
// SIGTERM.
#include "support/Process.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(DesktopGateway, RunsAgainstTheSimulatorAndStopsCleanlyOnSigterm) {
    SimProcess sim({"--records", "3"});
    const fs::path home =
        fs::temp_directory_path() / ("vantor-desktop-e2e-" + std::to_string(::getpid()));
    fs::create_directories(home);
    std::ofstream(home / "vantor.INI", std::ios::binary)
        << "[Set]\r\nLang=Cz\r\nPort=" << sim.device() << ":19200,N,8,1\r\nIPPort=0\r\n";
    ProcessOptions options;
    options.args = {"--home", home.string()};
    options.env = {{"QT_QPA_PLATFORM", "offscreen"}};
    options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
    Process gw(std::string(VANTOR_BUILD_DIR) + "/vantor", options);
    // The accounting records arrive: the link runs on Qt's loop.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (sim.StatusValue("records_handed") < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sim.StatusValue("records_handed"), 3u);
    EXPECT_TRUE(gw.Running());
    gw.Signal(SIGTERM);
    const auto status = gw.WaitExit(10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);
    // In the window, not headless: nothing on standard output.
    EXPECT_FALSE(gw.HasLine("running headless", Process::Stream::Stderr));
    EXPECT_TRUE(gw.Output().empty()) << gw.Output();
    std::ifstream in(home / "DATA.NEW", std::ios::binary);
    const std::string records((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(records.find("REC 000003"), std::string::npos);
    fs::remove_all(home);
}

} // namespace
} // namespace vantor::test
