// The real gateway and vantor-sim through the faults it must survive: the
// exchange's line going away and coming back under the same name, a silent
// exchange while records flow, the gateway killed while a record is on its
// way, and a stop right after a client's reply.  Every accounting record the
// simulator handed out must end up in the file exactly once, in order.
#include "support/EndToEnd.h"
#include "support/Process.h"
#include "support/RecordFile.h"
#include "support/SimProcess.h"
#include "support/TcpClient.h"

#include "ExchangeModel.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::string Six(std::uint64_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "%06llu", static_cast<unsigned long long>(n));
    return text;
}

class RecoveryEndToEnd : public ::testing::Test {
protected:
    RecoveryEndToEnd() {
        // The whole port settings text must stay under 40 characters, so
        // the line's name is short and lives outside the gateway's folder.
        static std::atomic<int> count{0};
        link_ = "/tmp/vr" + std::to_string(::getpid()) + "-" + std::to_string(count++);
    }
    ~RecoveryEndToEnd() override {
        gateway_.reset();
        sim_.reset();
        std::error_code ec;
        std::filesystem::remove(link_, ec); // left behind by a simulator killed with -9
    }

    // The simulator on the line's name; a second call is the device coming
    // back, as the same exchange with the records it handed out before.
    void StartSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--link", link_, "--records-handed",
                                         std::to_string(handed_)};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<SimProcess>(args);
    }
    void StartGateway(const std::string& timers) {
        home_.WriteIni("[Set]\r\nLang=Eng\r\nPort=" + link_ + ":19200,N,8,1\r\nIPPort=" +
                       std::to_string(port_) + "\r\n[Timer]\r\n" + timers);
        gateway_ = home_.Start();
        ASSERT_TRUE(gateway_->WaitForLine("<COM " + EnglishText(106), 20s)) << gateway_->Output();
    }
    std::uint64_t Handed() { return handed_ = sim_->StatusValue("records_handed"); }
    std::string File() const { return home_.Read("DATA.NEW"); }
    static Bytes Query(std::uint8_t index) { return {0x00, 0x3C, index, 0xA5, index}; }
    static Bytes Expected(std::uint8_t index) {
        return sim::ExchangeModel::QueryReply(Query(index));
    }

    // No more records from the exchange; once the last one handed out is in
    // the file the gateway stops, and the file must hold each exactly once.
    void ExpectEveryRecordOnce() {
        ASSERT_EQ(sim_->Command("records 0"), "OK records 0");
        const std::uint64_t handed = Handed();
        ASSERT_GT(handed, 0u);
        EXPECT_TRUE(WaitUntil([&] { return LastRecordNumber(File()) >= handed; }, 30s))
            << "the file's last record is " << LastRecordNumber(File()) << " of " << handed;
        gateway_->Signal(SIGTERM);
        ASSERT_TRUE(gateway_->WaitExit(10s));
        EXPECT_EQ(RecordFileProblem(File(), handed), "");
    }

    GatewayHome home_;
    std::string link_;
    int port_ = FreePort();
    std::uint64_t handed_ = 0;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<Process> gateway_;
};

TEST_F(RecoveryEndToEnd, ALineThatGoesAndComesBackUnderItsNameIsServedAgain) {
    StartSim();
    StartGateway("PortRetry=300\r\nURInterval=200\r\n");
    ASSERT_TRUE(sim_->WaitForEvent("record 000002", 30s));
    TcpClient before(port_);
    ASSERT_EQ(before.Send(Query(1)) ? before.ReceiveBytes(Expected(1).size(), 10s) : Bytes{},
              Expected(1));

    sim_->process().Signal(SIGKILL);
    ASSERT_TRUE(sim_->process().WaitExit(10s));
    handed_ = sim_->LastRecordEvent();
    ASSERT_TRUE(gateway_->WaitForLine("!Err " + EnglishText(116), 20s)) << gateway_->Output();
    StartSim();
    ASSERT_TRUE(gateway_->WaitForLine("-OK- " + EnglishText(117), 30s)) << gateway_->Output();
    TcpClient after(port_);
    ASSERT_TRUE(after.Send(Query(2)));
    EXPECT_EQ(after.ReceiveBytes(Expected(2).size(), 20s), Expected(2));
    int reports = 0;
    for (const std::string& l : gateway_->Lines())
        reports += l.find(EnglishText(116)) != std::string::npos;
    EXPECT_EQ(reports, 1) << "the loss is reported once";
    // Records flow again, and none of the old line's is lost or doubled.
    ASSERT_TRUE(sim_->WaitForEvent("record " + Six(handed_ + 2), 30s));
    ExpectEveryRecordOnce();
}

TEST_F(RecoveryEndToEnd, ASilenceLongerThanTheLinkDownThresholdLosesNoRecord) {
    StartSim();
    // Records every 200 ms; three ticks per reply, two time-outs make the
    // link down, a pause of one second.
    StartGateway("URInterval=200\r\nMaxTick=3\r\nMaxError=2\r\nMaxErrorTick=10\r\n");
    ASSERT_TRUE(sim_->WaitForEvent("record 000003", 30s));
    ASSERT_EQ(sim_->Command("silent on"), "OK silent on");
    // The next 04 hands a record out whose answer nobody hears.
    const std::uint64_t beforeSilence = Handed();
    ASSERT_TRUE(WaitUntil([&] { return Handed() > beforeSilence; }, 10s));
    ASSERT_TRUE(gateway_->WaitForLine("!Err " + EnglishText(116), 20s)) << gateway_->Output();
    ASSERT_EQ(sim_->Command("silent off"), "OK silent off");
    ASSERT_TRUE(gateway_->WaitForLine("-OK- " + EnglishText(117), 30s)) << gateway_->Output();
    ASSERT_TRUE(sim_->WaitForEvent("record " + Six(Handed() + 2), 30s));
    ExpectEveryRecordOnce();
}

TEST_F(RecoveryEndToEnd, AGatewayKilledWhileARecordIsOnItsWayTakesItAfterTheRestart) {
    StartSim();
    // Replies are held back 1.5 s below; the wait for them is longer.
    StartGateway("URInterval=200\r\nMaxTick=40\r\n");
    ASSERT_TRUE(sim_->WaitForEvent("record 000002", 30s));
    ASSERT_EQ(sim_->Command("delay 1500"), "OK delay 1500");
    const std::uint64_t inFlight = Handed() + 1;
    ASSERT_TRUE(sim_->WaitForEvent("record " + Six(inFlight), 10s));
    gateway_->Kill();
    ASSERT_LT(LastRecordNumber(File()), inFlight) << "the record was already stored";
    ASSERT_EQ(sim_->Command("delay 0"), "OK delay 0");

    StartGateway("URInterval=200\r\n");
    ASSERT_TRUE(sim_->WaitForEvent("record " + Six(inFlight + 2), 30s));
    ExpectEveryRecordOnce();
}

TEST_F(RecoveryEndToEnd, AStopRightAfterAClientsReplyAlwaysClearsTheIndicators) {
    const std::string log = (home_.path() / "sim.log").string();
    StartSim({"--log", log});
    auto countersPackets = [&] {
        std::vector<std::string> found;
        for (const std::string& l : sim_->LogLines())
            if (l.find(" RX #") != std::string::npos &&
                l.find(" M message counters: ") != std::string::npos)
                found.push_back(l.substr(l.find(": ") + 2));
        return found;
    };
    constexpr int Stops = 20;
    for (int i = 0; i < Stops; ++i) {
        SCOPED_TRACE("stop " + std::to_string(i + 1));
        StartGateway("");
        TcpClient client(port_);
        const auto index = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(client.Send(Query(index)));
        ASSERT_EQ(client.ReceiveBytes(Expected(index).size(), 10s), Expected(index));
        gateway_->Signal(SIGTERM);
        const auto status = gateway_->WaitExit(10s);
        ASSERT_TRUE(status);
        EXPECT_EQ(Process::ExitCode(*status), 0);
        ASSERT_TRUE(WaitUntil([&] { return countersPackets().size() == std::size_t(i) + 1; }, 5s))
            << countersPackets().size() << " packets of cleared counters reached the exchange";
    }
    // Every one of them clears every counter.
    for (const std::string& payload : countersPackets()) {
        ASSERT_EQ(payload.rfind("01 11 00", 0), 0u) << payload;
        EXPECT_EQ(payload.substr(8).find_first_not_of(" 0"), std::string::npos) << payload;
    }
}

} // namespace
} // namespace vantor::test
