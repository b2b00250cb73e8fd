// TCP clients on 127.0.0.1 using the exchange through the real gateway and
// vantor-sim: relayed replies, the reply cache, the line-state snapshot, many
// clients at once, and clients that misbehave.
#include "support/Process.h"
#include "support/EndToEnd.h"
#include "support/SimProcess.h"
#include "support/TcpClient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>

namespace vantor::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

using Client = TcpClient;

class RelayEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        home_ = std::filesystem::temp_directory_path() /
                ("vantor-relay-e2e-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(home_);
        port_ = FreePort();
    }
    void TearDown() override {
        if (gateway_) {
            gateway_->Signal(SIGTERM);
            gateway_->WaitExit(10s);
        }
        gateway_.reset();
        sim_.reset();
        std::error_code ec;
        std::filesystem::remove_all(home_, ec);
    }
    void Start(std::vector<std::string> simArgs, const std::string& extraSet = "ReadUct=0\r\n",
               const std::string& extraSections = "") {
        sim_ = std::make_unique<SimProcess>(std::move(simArgs));
        std::ofstream(home_ / "vantor.INI", std::ios::binary)
            << "[Set]\r\nLang=Eng\r\nPort=" << sim_->device() << ":19200,N,8,1\r\nIPPort=" << port_
            << "\r\n"
            << extraSet << "[Log]\r\nTCP/IP_Out=1\r\n"
            << extraSections;
        ProcessOptions options;
        options.args = {"--home", home_.string(), "--headless"};
        gateway_ = std::make_unique<Process>(std::string(VANTOR_BUILD_DIR) + "/vantor", options);
        ASSERT_TRUE(gateway_->WaitForLine("<COM " + EnglishText(106), 20s)) << gateway_->Output();
    }
    std::uint64_t Requests() { return sim_->StatusValue("requests"); }
    int OpenDescriptors() const {
        int n = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(
                 "/proc/" + std::to_string(gateway_->pid()) + "/fd"))
            ++n;
        return n;
    }

    std::filesystem::path home_;
    int port_ = 0;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<Process> gateway_;
};

TEST_F(RelayEndToEnd, RelayedQueryComesBackWithoutTheSequenceByteThenFromTheCache) {
    Start({});
    Client c(port_);
    ASSERT_TRUE(c.connected());
    const std::uint64_t before = Requests();
    const Bytes first = c.Ask({0x00, 0x18, 0x05});
    ASSERT_GE(first.size(), 3u);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 3), (Bytes{0x00, 0x18, 0x05}));
    EXPECT_EQ(Requests(), before + 1);

    // The same query inside its lifetime: from the cache, nothing on the line.
    gateway_->SkipSeenLines();
    EXPECT_EQ(c.Ask({0x00, 0x18, 0x05}), first);
    EXPECT_TRUE(gateway_->WaitForLine("<CCH", 5s));
    // A shorter request matches the stored one on its bytes.
    EXPECT_EQ(c.Ask({0x00, 0x18}), first);
    EXPECT_EQ(Requests(), before + 1);

    // A write flushes the cache once its reply is in: the query goes out again.
    const Bytes written = c.Ask({0x01, 0x11, 0x00});
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written[0], 0x00);
    const std::uint64_t afterWrite = Requests();
    EXPECT_EQ(c.Ask({0x00, 0x18, 0x05}), first);
    EXPECT_EQ(Requests(), afterWrite + 1);
}

TEST_F(RelayEndToEnd, ShortLivedRepliesGoToTheExchangeAgain) {
    Start({});
    Client c(port_);
    const Bytes first = c.Ask({0x00, 0x3C, 0x02}); // sub-commands of 50 and up live 10 ms
    ASSERT_GE(first.size(), 3u);
    const std::uint64_t before = Requests();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(c.Ask({0x00, 0x3C, 0x02}), first);
    EXPECT_EQ(Requests(), before + 1);
}

TEST_F(RelayEndToEnd, LineStatesComeFromTheSnapshotWhileItIsFresh) {
    // A fast line-state poll keeps the snapshot well inside its 300 ms.
    Start({}, "ReadUct=0\r\n", "[Timer]\r\nANInterval=100\r\n");
    Client c(port_);
    const Bytes relayed = c.Ask({0x00, 0x16, 0x00}); // no snapshot yet: the exchange answers
    ASSERT_GE(relayed.size(), 3u);
    EXPECT_EQ(relayed[1], 0x16);
    std::this_thread::sleep_for(500ms);
    gateway_->SkipSeenLines();
    bool fromSnapshot = false;
    for (int i = 0; i < 20 && !fromSnapshot; ++i) {
        const Bytes answer = c.Ask({0x00, 0x16, 0x00});
        ASSERT_GE(answer.size(), 3u);
        EXPECT_EQ(answer[1], 0x16);
        fromSnapshot = gateway_->WaitForLine("<CCH " + EnglishText(102), 200ms).has_value();
    }
    EXPECT_TRUE(fromSnapshot);
}

TEST_F(RelayEndToEnd, ManyClientsAtOnceEachGetTheirOwnReply) {
    Start({});
    constexpr int Clients = 40;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < Clients; ++i) {
        clients.push_back(std::make_unique<Client>(port_));
        ASSERT_TRUE(clients.back()->connected());
    }
    // Distinct queries (sub-command 30 + i/8, index i), all sent before any
    // reply is read, so the gateway queues them one per client.
    for (int i = 0; i < Clients; ++i)
        ASSERT_TRUE(clients[i]->Send(
            {0x00, static_cast<std::uint8_t>(30 + i / 8), static_cast<std::uint8_t>(i)}));
    for (int i = 0; i < Clients; ++i) {
        const Bytes reply = clients[i]->Receive(20000ms);
        ASSERT_GE(reply.size(), 3u) << "client " << i;
        EXPECT_EQ(reply[1], 30 + i / 8) << "client " << i;
        EXPECT_EQ(reply[2], i) << "client " << i;
    }
}

TEST_F(RelayEndToEnd, MisbehavingClientsDoNotHurtTheOthersOrTheAccounting) {
    Start({"--records", "8"}, "ReadUct=1\r\nSendUct=0\r\n");
    {
        // Garbage, a 600-byte request, an empty connection, and many clients
        // that connect and vanish without a word.
        Client garbage(port_);
        garbage.Send({0xEE, 0x23, 0xFF, 0xFF, 0x00});
        Client big(port_);
        big.Send(Bytes(600, 0x00));
        std::vector<std::unique_ptr<Client>> vanishing;
        for (int i = 0; i < 300; ++i) vanishing.push_back(std::make_unique<Client>(port_));
        for (int i = 0; i < 300; i += 3) vanishing[i]->Send({0x00, 0x18, 0x01});
        std::this_thread::sleep_for(300ms);
    }
    // A well-behaved client still gets its answer, after the requests of the
    // vanished clients that were queued before it (they go out in their turn).
    Client good(port_);
    ASSERT_TRUE(good.Send({0x00, 0x20, 0x07}));
    const Bytes reply = good.Receive(40000ms);
    ASSERT_GE(reply.size(), 3u);
    EXPECT_EQ(reply[2], 0x07);
    EXPECT_TRUE(gateway_->WaitForLine("REC 000008", 30s));
    // Every record reached the file, once and in order.
    gateway_->Signal(SIGTERM);
    ASSERT_TRUE(gateway_->WaitExit(10s));
    std::ifstream in(home_ / "DATA.NEW", std::ios::binary);
    const std::string file(std::istreambuf_iterator<char>(in), {});
    std::size_t at = 0;
    for (int i = 1; i <= 8; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "REC %06d", i);
        const std::size_t found = file.find(number, at);
        ASSERT_NE(found, std::string::npos) << number;
        at = found + 1;
    }
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 8);
}

TEST_F(RelayEndToEnd, ConnectionsComeAndGoWithoutLeakingDescriptors) {
    Start({});
    {
        Client warm(port_);
        ASSERT_GE(warm.Ask({0x00, 0x18, 0x05}).size(), 3u);
    }
    std::this_thread::sleep_for(200ms);
    const int before = OpenDescriptors();
    for (int round = 0; round < 2; ++round) {
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 500; ++i) clients.push_back(std::make_unique<Client>(port_));
        for (auto& c : clients) EXPECT_TRUE(c->connected());
        EXPECT_EQ(clients.back()->Ask({0x00, 0x18, 0x05}).size() >= 3, true);
    }
    // The gateway notices the closes on its next turns of the loop.
    int after = 0;
    for (int i = 0; i < 50; ++i) {
        after = OpenDescriptors();
        if (after <= before) break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_LE(after, before);
}

} // namespace
} // namespace vantor::test
