// cmake --install into a fresh prefix: the usual layout, units that name the
// program under that prefix and that systemd accepts, and an installed
// program that keeps its files in the user's data folder and finds its
// language files in the installation's own data folder.
#include "support/EndToEnd.h"
#include "support/Process.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Found(const std::string& program) {
    for (const char* dir : {"/usr/bin", "/bin", "/usr/local/bin"})
        if (::access((std::string(dir) + "/" + program).c_str(), X_OK) == 0)
            return std::string(dir) + "/" + program;
    return {};
}

// cmake --install of the build under test into prefix.
void Install(const fs::path& prefix) {
    Process install(VANTOR_CMAKE_COMMAND,
                    {.args = {"--install", VANTOR_BUILD_DIR, "--prefix", prefix.string()}});
    const auto status = install.WaitExit(120s);
    ASSERT_TRUE(status);
    ASSERT_EQ(Process::ExitCode(*status), 0) << install.Output(Process::Stream::Stderr);
}

TEST(Installation, UsualLayoutAndAnInstalledProgramsOwnFolders) {
    TempFolder folder;
    const fs::path prefix = fs::path(folder.Path()) / "usr";
    ASSERT_NO_FATAL_FAILURE(Install(prefix));
    for (const char* file :
         {"bin/vantor", "bin/vantor-sim", "bin/vantor-client", "share/tarvovantor/TVantor.Cz",
          "share/tarvovantor/TVantor.De", "share/tarvovantor/TVantor.Eng",
          "share/tarvovantor/TVantor.Spa", "share/tarvovantor/vantor.INI",
          "share/man/man1/vantor.1", "lib/systemd/system/tarvovantor.service",
          "lib/systemd/system/tarvovantor@.service"})
        EXPECT_TRUE(fs::exists(prefix / file)) << file;
    const std::string unit = Read(prefix / "lib/systemd/system/tarvovantor.service");
    EXPECT_NE(unit.find("ExecStart=" + (prefix / "bin/vantor").string() +
                        " /service --home /var/lib/tarvovantor\n"),
              std::string::npos);
    {
        Process client((prefix / "bin/vantor-client").string(), {.args = {"--version"}});
        EXPECT_TRUE(client.WaitForLine("vantor-client (Tarvo Vantor) ", 5s));
    }
    // No --home: the user's data folder, created and named; the English
    // texts of the missing-configuration box come from share/tarvovantor.
    const fs::path data = fs::path(folder.Path()) / "data";
    Process gw((prefix / "bin/vantor").string(),
               {.args = {"--headless"},
                .env = {{"XDG_DATA_HOME", data.string()}},
                .unsetEnv = {"NOTIFY_SOCKET", "DBUS_SYSTEM_BUS_ADDRESS"}});
    EXPECT_TRUE(gw.WaitForLine("---- Gateway folder " + (data / "tarvovantor").string(), 10s));
    const auto box = gw.WaitForLine("MessageBox [", 10s);
    ASSERT_TRUE(box);
    EXPECT_NE(box->find(EnglishText(122)), std::string::npos) << *box;
    EXPECT_TRUE(fs::is_directory(data / "tarvovantor"));
    gw.Signal(SIGTERM);
    const auto status = gw.WaitExit(10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);
}

TEST(Installation, SystemdAcceptsTheUnits) {
    const std::string analyze = Found("systemd-analyze");
    if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed (package systemd)";
    TempFolder folder;
    const fs::path prefix = fs::path(folder.Path()) / "usr";
    ASSERT_NO_FATAL_FAILURE(Install(prefix));
    // The template is checked as an instance of it.
    const fs::path instance = fs::path(folder.Path()) / "tarvovantor@east.service";
    fs::copy_file(prefix / "lib/systemd/system/tarvovantor@.service", instance);
    for (const fs::path& file : {prefix / "lib/systemd/system/tarvovantor.service", instance}) {
        Process verify(analyze, {.args = {"verify", "--man=no", file.string()}});
        const auto status = verify.WaitExit(60s);
        ASSERT_TRUE(status);
        // A setting systemd cannot parse is only a warning ("ignoring").
        EXPECT_EQ(Process::ExitCode(*status), 0);
        EXPECT_EQ(verify.Output(Process::Stream::Stderr), "") << file;
    }
}

} // namespace
} // namespace vantor::test
