// The real vantor binary in its desktop view (Qt's offscreen platform)
// against vantor-sim: it runs the link as headless does and ends cleanly on
// SIGTERM.  Without a view it can use it runs headless and maps no Qt.
#include "support/Process.h"
#include "support/SimProcess.h"
#include "support/TempFolder.h"

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

// A copy of the program beside the module of each row (none, one of another
// build, a file that is no library), and the real one with --headless: each
// runs headless with one line on standard error saying why, maps no Qt
// library and ends cleanly.
TEST(DesktopGateway, WithoutAViewItCanUseItRunsHeadlessWithoutQt) {
    const fs::path build = VANTOR_BUILD_DIR;
    struct Row {
        const char* legend;
        fs::path module; // copied beside the program; empty: none
        const char* why; // null: the program in the build folder, --headless
    } const rows[] = {
        {"no module", {}, "libvantor-desktop.so is not installed"},
        {"another build", build / "tests/desktop-stale/libvantor-desktop.so",
         "is of another build (\"Tarvo Vantor 0.9.0 0123456789abcdef\""},
        {"not a library", build / "TVantor.Eng", "the desktop view cannot be loaded"},
        {"--headless", {}, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        TempFolder folder;
        folder.Write("vantor.INI", "[Set]\r\nLang=Eng\r\nIPPort=0\r\nPort=/nonexistent:19200,N,8,1\r\n");
        fs::path program = build / "vantor";
        if (row.why) {
            program = folder.Path() + "/vantor";
            fs::copy_file(build / "vantor", program);
            if (!row.module.empty())
                fs::copy_file(row.module, folder.Path() + "/libvantor-desktop.so");
        }
        ProcessOptions options;
        options.args = {"--home", folder.Path()};
        if (!row.why) options.args.push_back("--headless");
        options.env = {{"QT_QPA_PLATFORM", "offscreen"}};
        Process gw(program.string(), options);
        ASSERT_TRUE(gw.WaitForLine("Start Tarvo Vantor", 10s));
        std::ifstream maps("/proc/" + std::to_string(gw.pid()) + "/maps");
        const std::string mapped((std::istreambuf_iterator<char>(maps)), {});
        EXPECT_EQ(mapped.find("libQt6"), std::string::npos);
        gw.Signal(SIGTERM);
        const auto status = gw.WaitExit(10s);
        ASSERT_TRUE(status);
        EXPECT_EQ(Process::ExitCode(*status), 0);
        const auto errors = gw.Lines(Process::Stream::Stderr);
        if (!row.why) {
            EXPECT_TRUE(errors.empty()) << errors[0];
            continue;
        }
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(row.why), std::string::npos) << errors[0];
        EXPECT_NE(errors[0].find(", running headless"), std::string::npos) << errors[0];
    }
}

} // namespace
} // namespace vantor::test
