// vantor.exe under Wine against vantor-sim on COM8 of the Wine prefix, with
// the Linux vantor-client as the relay's client: the headless gateway's
// whole run, a folder with Czech letters, and the service under Wine's own
// service manager.  tools/test-windows.sh runs it with VANTOR_WINDOWS_BUILD
// and WINEPREFIX set; started otherwise it skips.
#include "support/EndToEnd.h"
#include "support/Process.h"
#include "support/RecordFile.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class VantorExe : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("VANTOR_WINDOWS_BUILD") || !std::getenv("WINEPREFIX"))
            GTEST_SKIP() << "needs the Windows build and a Wine prefix: ./run test-windows";
    }
    static fs::path Exe() { return fs::path(std::getenv("VANTOR_WINDOWS_BUILD")) / "vantor.exe"; }
    static std::string Com8() {
        return std::string(std::getenv("WINEPREFIX")) + "/dosdevices/com8";
    }
    // Z: is the Linux root in every Wine prefix.
    static std::string WindowsPath(const fs::path& path) {
        std::string text = "Z:" + path.string();
        for (char& c : text) c = c == '/' ? '\\' : c;
        return text;
    }
    // Paths with Czech letters reach Wine in UTF-8 whatever the machine's locale.
    static std::unique_ptr<Process> Wine(std::vector<std::string> args) {
        return std::make_unique<Process>(
            "wine", ProcessOptions{.args = std::move(args), .env = {{"LC_ALL", "C.UTF-8"}}});
    }
    static std::unique_ptr<Process> Gateway(const fs::path& home) {
        return Wine({Exe().string(), "--headless", "--home", WindowsPath(home)});
    }
    static std::string Sc(std::vector<std::string> args, int* exitCode = nullptr) {
        args.insert(args.begin(), "sc");
        const auto sc = Wine(std::move(args));
        const auto status = sc->WaitExit(30s);
        if (exitCode) *exitCode = status ? Process::ExitCode(*status) : -1;
        return sc->Output();
    }
    static bool ServiceIs(const std::string& state) {
        return Sc({"query", "TarvoVantor"}).find(state) != std::string::npos;
    }
    static std::string Client(int port, const std::string& request) {
        Process client(std::string(VANTOR_BUILD_DIR) + "/vantor-client",
                       {.args = {std::to_string(port), request}});
        client.WaitExit(10s);
        return client.Output();
    }
    static bool SimLogged(const SimProcess& sim, const std::string& text) {
        for (const std::string& line : sim.LogLines())
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    static void StopWithCtrlC(Process& gateway) {
        gateway.Signal(SIGINT); // Wine hands it to the console handler as Ctrl+C
        const auto status = gateway.WaitExit(15s);
        ASSERT_TRUE(status);
        EXPECT_EQ(Process::ExitCode(*status), 0);
    }
    static constexpr char ShutDownPacket[] = "M message counters: 01 11 00";

    GatewayHome home_;
    int port_ = FreePort();
};

// Answers on standard output, complaints on standard error.
TEST_F(VantorExe, CommandLine) {
    const struct {
        std::vector<std::string> args;
        std::string line;
        int status;
    } rows[] = {
        {{"--version"}, "Tarvo Vantor ", 0},
        {{"--help"}, "usage: vantor.exe", 0},
        {{"--no-such-option"}, "unknown option", 2},
        {{"--home", "Z:\\no\\such\\folder"}, "not a folder", 2},
        {{"/service", "--home", WindowsPath(home_.path())}, "not started by the service", 1},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.begin(), Exe().string());
        const auto exe = Wine(args);
        const auto stream = row.status ? Process::Stream::Stderr : Process::Stream::Stdout;
        EXPECT_TRUE(exe->WaitForLine(row.line, 20s, stream)) << row.args[0];
        const auto status = exe->WaitExit(20s);
        EXPECT_EQ(status ? Process::ExitCode(*status) : -1, row.status) << row.args[0];
    }
}

TEST_F(VantorExe, HeadlessAgainstTheExchangeWithClientPlugInLostLineAndCtrlC) {
    fs::copy_file(Exe().parent_path() / "examples" / "plugin" / "Zelkor.dll",
                  home_.path() / "Zelkor.dll");
    auto sim = std::make_unique<SimProcess>(std::vector<std::string>{
        "--link", Com8(), "--records", "3", "--log", (home_.path() / "sim1.log").string()});
    home_.WriteIni("[Set]\r\nLang=Eng\r\nPort=COM8:19200,N,8,1\r\nIPPort=" + std::to_string(port_) +
                   "\r\nReadUct=1\r\nXAPI=1\r\n[Timer]\r\nPortRetry=300\r\n");
    auto gateway = Gateway(home_.path());
    ASSERT_TRUE(gateway->WaitForLine("<COM " + EnglishText(106), 30s)) << gateway->Output();
    for (const char* request : {"RX #01 C ", "RX #02 I ", "RX #03 x ", "RX #04 V "})
        EXPECT_TRUE(SimLogged(*sim, request)) << request;

    // A query the start-up did not make goes to the exchange, then comes from the cache.
    const std::string reply = "reply (11 bytes): 00 1E 01 ";
    EXPECT_NE(Client(port_, "001E01").find(reply), std::string::npos);
    gateway->SkipSeenLines();
    EXPECT_NE(Client(port_, "001E01").find(reply), std::string::npos);
    EXPECT_TRUE(gateway->WaitForLine("<CCH", 5s));

    ASSERT_TRUE(gateway->WaitForLine("<COM REC 000003", 30s));
    EXPECT_EQ(RecordFileProblem(home_.Read("DATA.NEW"), 3), "");
    EXPECT_TRUE(WaitUntil(
        [&] {
            return home_.Read("xapi-feed.log").find("ACCOUNTING REC 000001") != std::string::npos;
        },
        10s))
        << home_.Read("xapi-feed.log");
    std::ofstream(home_.path() / "xapi-commands", std::ios::app) << "dial 3 123\n";
    ASSERT_TRUE(gateway->WaitForLine("XAPI Message VOL 123 Port:3", 10s));
    EXPECT_TRUE(WaitUntil([&] { return SimLogged(*sim, "# command: 12 03 01 02 03"); }, 10s));

    // The line goes and comes back under its name (no more records: none is doubled).
    sim->process().Kill();
    ASSERT_TRUE(gateway->WaitForLine("!Err Serial device lost: COM8 (Error: ", 20s));
    sim = std::make_unique<SimProcess>(std::vector<std::string>{
        "--link", Com8(), "--records", "0", "--log", (home_.path() / "sim2.log").string()});
    ASSERT_TRUE(gateway->WaitForLine("-OK- " + EnglishText(117), 30s)) << gateway->Output();

    StopWithCtrlC(*gateway);
    EXPECT_TRUE(WaitUntil([&] { return SimLogged(*sim, ShutDownPacket); }, 5s));
    EXPECT_EQ(RecordFileProblem(home_.Read("DATA.NEW"), 3), "");
}

TEST_F(VantorExe, BesideItselfInAFolderWithCzechLettersAMissingPortInWindowsWords) {
    const fs::path folder = home_.path() / "Ústředna č. 1";
    fs::create_directory(folder);
    fs::copy_file(Exe(), folder / "vantor.exe");
    fs::copy_file(Exe().parent_path() / "TVantor.Eng", folder / "TVantor.Eng");
    std::ofstream(folder / "vantor.INI", std::ios::binary)
        << "[Set]\r\nLang=Eng\r\nIPPort=0\r\nPort=COM9:19200,N,8,1\r\n";
    auto gateway = Wine({(folder / "vantor.exe").string()});
    EXPECT_TRUE(gateway->WaitForLine("running headless", 20s, Process::Stream::Stderr));
    ASSERT_TRUE(gateway->WaitForLine("---- Gateway folder " + WindowsPath(folder), 20s))
        << gateway->Output();
    // ERROR_FILE_NOT_FOUND in the system's words (Wine's wording).
    EXPECT_TRUE(gateway->WaitForLine(EnglishText(125) +
                                         "COM9:19200,N,8,1 (Error accessing specified device "
                                         "(Error: 2)): \\\\.\\COM9: File not found.",
                                     10s))
        << gateway->Output();
    StopWithCtrlC(*gateway);
}

TEST_F(VantorExe, InItsWindowStoppedInOrderByCtrlCAndByTheEndOfTheSession) {
    const char* display = std::getenv("VANTOR_TEST_DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "no display for the window";
    auto onDisplay = [display](std::vector<std::string> args) {
        return Process("wine", {.args = std::move(args),
                                .env = {{"LC_ALL", "C.UTF-8"}, {"DISPLAY", display}}});
    };
    home_.WriteIni("[Set]\r\nLang=Eng\r\nPort=COM8:19200,N,8,1\r\nIPPort=0\r\nReadUct=0\r\n");
    for (const bool sessionEnds : {false, true}) {
        SCOPED_TRACE(sessionEnds ? "the session ends" : "Ctrl+C");
        SimProcess sim({"--link", Com8(), "--log",
                        (home_.path() / (sessionEnds ? "sim2.log" : "sim1.log")).string()});
        Process gateway = onDisplay({Exe().string(), "--home", WindowsPath(home_.path())});
        EXPECT_TRUE(WaitUntil([&] { return SimLogged(sim, "RX #04 V "); }, 30s));
        // In a window the log is the window's: none of it on standard output.
        EXPECT_FALSE(gateway.HasLine("-OK- ")) << gateway.Output();
        if (sessionEnds) {
            // Windows ends the process once its windows have taken the news.
            onDisplay({"wineboot", "--end-session"}).WaitExit(30s);
            gateway.Kill();
            EXPECT_TRUE(WaitUntil([&] { return SimLogged(sim, ShutDownPacket); }, 5s));
        } else {
            StopWithCtrlC(gateway);
            EXPECT_TRUE(WaitUntil([&] { return SimLogged(sim, ShutDownPacket); }, 5s));
        }
    }
}

TEST_F(VantorExe, AsAServiceInstalledStartedQueriedStoppedAndRemoved) {
    SimProcess sim({"--link", Com8(), "--log", (home_.path() / "sim.log").string()});
    home_.WriteIni("[Set]\r\nLang=Eng\r\nPort=COM8:19200,N,8,1\r\nIPPort=" + std::to_string(port_) +
                   "\r\nReadUct=0\r\n");
    Sc({"create", "TarvoVantor", "binPath=",
        "\"" + WindowsPath(Exe()) + "\" /service --home \"" + WindowsPath(home_.path()) + "\"",
        "start=", "demand"});
    Sc({"start", "TarvoVantor"});
    EXPECT_TRUE(WaitUntil([] { return ServiceIs("4  RUNNING"); }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return SimLogged(sim, "RX #04 V "); }, 20s));
    EXPECT_NE(Client(port_, "001E01").find("reply (11 bytes): 00 1E 01 "), std::string::npos);

    // A start beside the running service opens nothing.
    GatewayHome other;
    other.WriteIni("[Set]\r\nLang=Eng\r\nPort=COM8:19200,N,8,1\r\nIPPort=0\r\n");
    auto beside = Gateway(other.path());
    EXPECT_TRUE(beside->WaitForLine("---- NT Service -----------", 20s)) << beside->Output();
    StopWithCtrlC(*beside);
    EXPECT_FALSE(beside->HasLine("-OK- "));

    Sc({"stop", "TarvoVantor"});
    EXPECT_TRUE(WaitUntil([] { return ServiceIs("1  STOPPED"); }, 20s));
    EXPECT_TRUE(SimLogged(sim, ShutDownPacket));
    Sc({"delete", "TarvoVantor"});
    int queried = 0;
    Sc({"query", "TarvoVantor"}, &queried);
    EXPECT_NE(queried, 0) << "the service is still there";
}

} // namespace
} // namespace vantor::test
