// The real gateway binary, headless, in a temporary home: its command line,
// the start line and the missing-configuration box, a clean stop on SIGTERM,
// and the link cycle against vantor-sim on a pseudo-terminal.
#include "support/Process.h"
#include "support/EndToEnd.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;

std::string Gateway() { return GatewayProgram(); }

// A configuration for a gateway on the simulator's line, with the relay on an
// ephemeral port so tests never collide over a fixed one.
std::string SimIni(const std::string& device, const std::string& extra = "") {
    return "[Set]\r\nLang=Eng\r\nPort=" + device + ":19200,N,8,1\r\nIPPort=0\r\n" + extra;
}

int CountLines(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const std::string& l : lines)
        if (l.find(text) != std::string::npos) ++n;
    return n;
}

TEST(GatewayCommandLine, HelpVersionServiceAndUnknownOptions) {
    {
        Process p(Gateway(), {.args = {"--help"}});
        ASSERT_TRUE(p.WaitForLine("usage: vantor", 5s));
        EXPECT_EQ(Process::ExitCode(*p.WaitExit(5s)), 0);
    }
    {
        Process p(Gateway(), {.args = {"--version"}});
        ASSERT_TRUE(p.WaitForLine("Tarvo Vantor ", 5s));
        EXPECT_EQ(Process::ExitCode(*p.WaitExit(5s)), 0);
    }
    {
        // "/service" counts only as a whole argument: a folder or another
        // argument that holds it starts the ordinary gateway.
        GatewayHome home;
        const auto folder = home.path() / "srv" / "services" / "pbx";
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "vantor.INI", std::ios::binary) << SimIni("/nonexistent/line");
        Process p(Gateway(), {.args = {"--headless", "--home", folder.string(), "/opt/x/service/y"},
                              .unsetEnv = {"NOTIFY_SOCKET"}});
        ASSERT_TRUE(p.WaitForLine("---- Start Tarvo Vantor ----", 5s));
        EXPECT_FALSE(p.HasLine("StartServiceCtrlDispatcher", Process::Stream::Stderr));
    }
    {
        Process p(Gateway(), {.args = {"--no-such-option"}});
        EXPECT_TRUE(p.WaitForLine("unknown option", 5s, Process::Stream::Stderr));
        EXPECT_EQ(Process::ExitCode(*p.WaitExit(5s)), 2);
    }
}

TEST(GatewayHeadless, StartLineWarningBoxAndCleanStopOnSigterm) {
    GatewayHome home;
    auto gw = home.Start();
    const auto first = gw->ReadLine(10s);
    ASSERT_TRUE(first);
    EXPECT_TRUE(
        std::regex_match(*first, std::regex(R"(\d\d:\d\d:\d\d\.\d  ---- Start Tarvo Vantor ----)")))
        << *first;
    const auto box = gw->WaitForLine("MessageBox [", 10s);
    ASSERT_TRUE(box);
    EXPECT_NE(box->find(EnglishText(123)), std::string::npos);
    EXPECT_NE(box->find(EnglishText(122)), std::string::npos);
    // The start-up runs to its end (the mail library line comes last).
    ASSERT_TRUE(gw->WaitForLine(EnglishText(127), 10s));
    gw->Signal(SIGTERM);
    const auto status = gw->WaitExit(10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);
    EXPECT_EQ(CountLines(gw->Lines(), "MessageBox"), 1);
}

TEST(GatewayHeadless, SigintClosesLikeTheWindow) {
    GatewayHome home;
    home.WriteIni("[Set]\r\nLang=Eng\r\nIPPort=0\r\nPort=/nonexistent/line:19200,N,8,1\r\n");
    auto gw = home.Start();
    ASSERT_TRUE(gw->WaitForLine(
        EnglishText(125) +
            "/nonexistent/line:19200,N,8,1 (Error accessing specified device (Error: 2))",
        10s));
    gw->Signal(SIGINT);
    const auto status = gw->WaitExit(10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);
    EXPECT_FALSE(gw->HasLine("MessageBox"));
}

// Bad files in the gateway's folder cost a clear line each, never the texts
// of the log or the start-up: an oversized configuration is refused for the
// defaults, a language file without texts gives way to the installed one,
// and a port that cannot be opened says why in words.
TEST(GatewayHeadless, BadFilesAndPortsAreNamedWithTheirReasons) {
    {
        GatewayHome home;
        home.WriteIni("[Set]\r\nLang=De\r\n" + std::string(1024 * 1024, ';') + "\r\n");
        auto gw = home.Start();
        ASSERT_TRUE(gw->WaitForLine((home.path() / "vantor.INI").string() +
                                        " is larger than 1 MiB, far more than any profile file "
                                        "needs; it is not used; the default settings are used",
                                    10s));
        // The defaults: English texts and port COM2 (whether the machine has one or not).
        const auto port = gw->WaitForLine("COM2:19200,N,8,1", 10s);
        ASSERT_TRUE(port);
        EXPECT_TRUE(port->find(EnglishText(124) + "COM2") != std::string::npos ||
                    port->find(EnglishText(125) + "COM2") != std::string::npos)
            << *port;
        EXPECT_FALSE(gw->HasLine("MessageBox")) << "the file is there, only too large";
        gw->Signal(SIGTERM);
        ASSERT_TRUE(gw->WaitExit(10s));
    }
    {
        GatewayHome home;
        home.WriteIni("[Set]\r\nLang=De\r\nIPPort=0\r\nPort=/nonexistent/line:19200,N,8,1\r\n");
        std::ofstream(home.path() / "TVantor.De", std::ios::binary) << "[Common]\r\n";
        auto gw = home.Start();
        ASSERT_TRUE(gw->WaitForLine((home.path() / "TVantor.De").string() +
                                        " holds no texts (no [Texty] section with values); using " +
                                        VANTOR_BUILD_DIR + "/TVantor.De",
                                    10s));
        ASSERT_TRUE(gw->WaitForLine("Serielle Schnittstelle kann nicht geöffnet werden: "
                                    "/nonexistent/line:19200,N,8,1 (Error accessing specified "
                                    "device (Error: 2)): /nonexistent/line: No such file or "
                                    "directory",
                                    10s));
        gw->Signal(SIGTERM);
        ASSERT_TRUE(gw->WaitExit(10s));
    }
}

TEST(GatewayWithExchange, StartUpSequenceThenAccountingPollsWithoutLosingARecord) {
    SimProcess sim({"--records", "5"});
    GatewayHome home;
    home.WriteIni(SimIni(sim.device()));
    auto gw = home.Start();
    ASSERT_TRUE(gw->WaitForLine("-OK- " + EnglishText(124) + sim.device(), 10s));
    ASSERT_TRUE(gw->WaitForLine("<COM " + EnglishText(106), 20s));
    ASSERT_TRUE(gw->WaitForLine("<COM REC 000005", 30s));
    const auto status = sim.Status();
    EXPECT_EQ(status.count("records_handed") ? status.at("records_handed") : "", "5");
    gw->Signal(SIGTERM);
    ASSERT_TRUE(gw->WaitExit(10s));
    const std::string file = home.Read("DATA.NEW");
    std::size_t at = 0;
    for (int i = 1; i <= 5; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "REC %06d", i);
        const std::size_t found = file.find(number, at);
        ASSERT_NE(found, std::string::npos) << number;
        at = found + 1;
    }
    // Every record ends in CR LF and none is there twice.
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 5);
    EXPECT_EQ(std::count(file.begin(), file.end(), '\r'), 5);
}

TEST(GatewayWithExchange, StartRequestsGoOutInOrder) {
    GatewayHome home;
    const std::string log = (home.path() / "sim.log").string();
    SimProcess sim({"--log", log});
    home.WriteIni(SimIni(sim.device()));
    auto gw = home.Start();
    ASSERT_TRUE(gw->WaitForLine("<COM " + EnglishText(106), 20s));
    gw->Signal(SIGTERM);
    ASSERT_TRUE(gw->WaitExit(10s));
    std::vector<std::string> received;
    for (const std::string& l : sim.LogLines())
        if (l.find(" RX ") != std::string::npos) received.push_back(l.substr(l.find(" RX ") + 4));
    ASSERT_GE(received.size(), 4u);
    EXPECT_EQ(received[0].substr(0, 6), "#01 C ");
    EXPECT_EQ(received[1].substr(0, 6), "#02 I ");
    EXPECT_EQ(received[2].substr(0, 6), "#03 x ");
    EXPECT_EQ(received[3].substr(0, 6), "#04 V ");
}

TEST(GatewayWithExchange, SilentExchangeIsReportedOnceAndTheRecoveryOnce) {
    SimProcess sim({"--silent"});
    GatewayHome home;
    // Short waits so the cycle runs in a second or two: 2 ticks of 50 ms per
    // reply, a pause of 10 ticks.
    home.WriteIni(
        SimIni(sim.device(), "[Timer]\r\nInterval=50\r\nMaxTick=2\r\nMaxErrorTick=10\r\n"));
    auto gw = home.Start();
    const std::string lost = "!Err " + EnglishText(116);
    ASSERT_TRUE(gw->WaitForLine(lost, 20s));
    // After the pause the initial requests are tried again; wait for the
    // second round of six to be under way.
    for (int i = 0; i < 200 && sim.StatusValue("silenced") < 9; ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_GE(sim.StatusValue("silenced"), 9u);
    EXPECT_EQ(CountLines(gw->Lines(), lost), 1);
    EXPECT_EQ(sim.Command("silent off").rfind("OK", 0), 0u);
    ASSERT_TRUE(gw->WaitForLine("-OK- " + EnglishText(117), 20s));
    ASSERT_TRUE(gw->WaitForLine("<COM " + EnglishText(106), 20s));
    EXPECT_EQ(CountLines(gw->Lines(), "-OK- " + EnglishText(117)), 1);
    EXPECT_EQ(CountLines(gw->Lines(), lost), 1);
    gw->Signal(SIGTERM);
    EXPECT_TRUE(gw->WaitExit(10s));
}

TEST(GatewayWithExchange, NegativeAcknowledgementIsAnsweredWithAResendUnderTheSameNumber) {
    GatewayHome home;
    const std::string log = (home.path() / "sim.log").string();
    SimProcess sim({"--log", log, "--nak-every", "3"});
    home.WriteIni(SimIni(sim.device()));
    auto gw = home.Start();
    ASSERT_TRUE(gw->WaitForLine("<COM " + EnglishText(106), 20s));
    gw->Signal(SIGTERM);
    ASSERT_TRUE(gw->WaitExit(10s));
    EXPECT_GE(sim.StatusValue("naks"), 1u);
    // The request refused third (x) comes again with its own sequence number.
    std::vector<std::string> numbers;
    for (const std::string& l : sim.LogLines())
        if (l.find(" RX ") != std::string::npos) numbers.push_back(l.substr(l.find(" RX ") + 4, 3));
    ASSERT_GE(numbers.size(), 4u);
    EXPECT_EQ(numbers[2], "#03");
    EXPECT_EQ(numbers[3], "#03");
}

} // namespace
} // namespace vantor::test
