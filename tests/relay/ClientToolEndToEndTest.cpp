// vantor-client against the real gateway, headless, with vantor-sim as the
// exchange: a relayed query, the accounting records a client reads, and the
// errors a technician sees.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/EndToEnd.h"
#include "support/Process.h"
#include "support/SimProcess.h"

namespace vantor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FreePort;
using test::Process;
using test::ProcessOptions;
using test::SimProcess;

const std::string BuildDir = VANTOR_BUILD_DIR;

class ClientToolEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"vantor", "vantor-sim", "vantor-client"})
            if (!fs::exists(BuildDir + "/" + program))
                GTEST_SKIP() << program << " is not built in " << BuildDir;
        home = fs::temp_directory_path() / ("relay-e2e-" + std::to_string(::getpid()));
        fs::remove_all(home);
        fs::create_directories(home);
        for (const auto& entry : fs::directory_iterator(BuildDir))
            if (entry.path().filename().string().rfind("TVantor.", 0) == 0)
                fs::copy_file(entry.path(), home / entry.path().filename());
    }
    void TearDown() override {
        gateway.reset();
        sim.reset();
        if (!home.empty()) fs::remove_all(home);
    }

    void StartGateway(const std::string& extraSet) {
        port = FreePort();
        std::ofstream(home / "vantor.INI") << "[Set]\r\nLang=Eng\r\nPort=" << sim->device()
                                           << ":19200,N,8,1\r\nIPPort=" << port << "\r\n"
                                           << extraSet;
        ProcessOptions options;
        options.args = {"--home", home.string(), "--headless"};
        gateway = std::make_unique<Process>(BuildDir + "/vantor", options);
    }

    struct Run {
        int exitCode;
        std::string out, err;
    };
    Run Client(std::vector<std::string> args) {
        ProcessOptions options;
        options.args = std::move(args);
        Process client(BuildDir + "/vantor-client", options);
        const auto status = client.WaitExit(30s);
        EXPECT_TRUE(status.has_value()) << "vantor-client did not end";
        // Read both streams to their end: the exit can be seen before the
        // last output has been collected.
        while (client.ReadLine(5s)) {}
        while (client.ReadLine(5s, Process::Stream::Stderr)) {}
        return {status ? Process::ExitCode(*status) : -1, client.Output(),
                client.Output(Process::Stream::Stderr)};
    }

    fs::path home;
    int port = 0;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Process> gateway;
};

TEST_F(ClientToolEndToEnd, QueryIsRelayedAndRecordsAreReadToTheEnd) {
    sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--records", "3", "--message-every", "0"});
    StartGateway("SendUct=1\r\nReadUct=1\r\n");
    // The third record is in the gateway once its log shows it.
    ASSERT_TRUE(gateway->WaitForLine("REC 000003", 30s)) << gateway->Output();

    const Run query = Client({std::to_string(port), "00", "18", "05"});
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_NE(query.out.find("reply ("), std::string::npos) << query.out;
    EXPECT_NE(query.out.find(": 00 18 05"), std::string::npos) << "the exchange echoes the query\n"
                                                               << query.out;
    EXPECT_NE(query.out.find("text: "), std::string::npos) << "names from the language file";

    const Run records = Client({"--accounting", "127.0.0.1:" + std::to_string(port)});
    EXPECT_EQ(records.exitCode, 0) << records.err;
    const auto first = records.out.find("REC 000001");
    const auto second = records.out.find("REC 000002");
    const auto third = records.out.find("REC 000003");
    ASSERT_NE(first, std::string::npos) << records.out;
    ASSERT_NE(second, std::string::npos) << records.out;
    ASSERT_NE(third, std::string::npos) << records.out;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(records.err.find("3 records"), std::string::npos) << records.err;
}

TEST_F(ClientToolEndToEnd, ClearErrorsForRefusalAndSilence) {
    const Run refused = Client({"127.0.0.1:" + std::to_string(FreePort()), "00", "00", "00"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("Connection refused"), std::string::npos) << refused.err;

    // An exchange that never answers: the gateway forwards, the client times out.
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--silent"});
    StartGateway("");
    ASSERT_TRUE(gateway->WaitForLine("TCP/IP server listening", 30s)) << gateway->Output();
    const Run silent = Client({"--timeout", "1500", std::to_string(port), "21"});
    EXPECT_EQ(silent.exitCode, 3) << silent.out << silent.err;
    EXPECT_NE(silent.err.find("no reply"), std::string::npos) << silent.err;

    const Run usage = Client({std::to_string(port), "0g"});
    EXPECT_EQ(usage.exitCode, 64);
    EXPECT_NE(usage.err.find("0g"), std::string::npos);
}

} // namespace
} // namespace vantor
