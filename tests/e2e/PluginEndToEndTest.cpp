// The sample call-centre plug-in in the real gateway against vantor-sim: the
// feeds reach its feed file, and a dial command written into its FIFO reaches
// the exchange as requests 12 P + dial codes, eight codes at most each.
#include "support/EndToEnd.h"
#include "support/Process.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Whether a line of the feed file begins with `start` after its time stamp
// ("HH:MM:SS.mmm ").
bool HasLineStarting(const std::string& text, const std::string& start) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.size() > 13 && line.compare(13, start.size(), start) == 0) return true;
    return false;
}

// Index of the first line at or after `from` that contains `text`, or npos.
std::size_t FindFrom(const std::vector<std::string>& lines, std::size_t from,
                     const std::string& text) {
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos) return i;
    return std::string::npos;
}

TEST(SamplePluginEndToEnd, FeedsArriveAndADialCommandReachesTheExchangeInChunksOfEight) {
    const fs::path plugin = fs::path(VANTOR_BUILD_DIR) / "examples" / "plugin" / "libZelkor.so";
    ASSERT_TRUE(fs::exists(plugin)) << "the sample plug-in is built by default";
    GatewayHome home;
    fs::copy_file(plugin, home.path() / "libZelkor.so");
    const std::string simLog = (home.path() / "sim.log").string();
    SimProcess sim({"--log", simLog, "--records", "1"});
    home.WriteIni("[Set]\r\nLang=Eng\r\nPort=" + sim.device() +
                  ":19200,N,8,1\r\nIPPort=0\r\nReadUct=1\r\nXAPI=1\r\n");
    auto gateway = home.Start();
    ASSERT_TRUE(gateway->WaitForLine("XAPI Init", 10s));

    // Every start-up feed, the line states of the AN poll and an accounting
    // record, one readable line each.
    const std::vector<std::string> feeds = {"INIT message=33169",
                                            "INFO 03 05 ",
                                            "PORTS ",
                                            "LINES 8: 101 102 103 104 105 106 107 108",
                                            "STATES 8: 0=state ",
                                            "ACCOUNTING REC 000001 "};
    EXPECT_TRUE(WaitUntil(
        [&] {
            const std::string feed = home.Read("xapi-feed.log");
            for (const std::string& f : feeds)
                if (!HasLineStarting(feed, f)) return false;
            return true;
        },
        20s))
        << home.Read("xapi-feed.log");

    const fs::path fifo = home.path() / "xapi-commands";
    ASSERT_TRUE(fs::is_fifo(fifo));
    std::ofstream(fifo) << "dial 3 12345678901234567890\nspeaker 3\nbogus\n";
    ASSERT_TRUE(gateway->WaitForLine("XAPI Message VOL 12345678901234567890 Port:3", 10s));
    const std::vector<std::string> requests = {
        "# command: 12 03 01 02 03 04 05 06 07 08", "# command: 12 03 09 0A 01 02 03 04 05 06",
        "# command: 12 03 07 08 09 0A", "# command: 12 03 53"};
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto lines = sim.LogLines();
            std::size_t at = 0;
            for (const std::string& r : requests) {
                at = FindFrom(lines, at, r);
                if (at == std::string::npos) return false;
            }
            return true;
        },
        10s));
    EXPECT_TRUE(HasLineStarting(home.Read("xapi-feed.log"), "ERROR unknown command: bogus"));

    gateway->Signal(SIGTERM);
    const auto status = gateway->WaitExit(10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(Process::ExitCode(*status), 0);
    EXPECT_TRUE(HasLineStarting(home.Read("xapi-feed.log"), "DEINIT"));
    EXPECT_FALSE(fs::exists(fifo)) << "the plug-in takes away the FIFO it made";
}

} // namespace
} // namespace vantor::test
