// Faults the gateway must survive without losing or doubling a record: a
// serial device that vanishes and comes back, a listening port busy at
// start, accounting answers lost in a pause or never sent, clients that would
// crowd out the gateway's own polls.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "GatewayFixture.h"

using namespace vantor;
using namespace vantor::test;

namespace {

class RecoveryTest : public GatewayTest {
protected:
    // The exchange answers every request; accounting requests are served
    // from `records` (04: the next one, 05: the last one handed out again).
    void Converse(int ticks) {
        for (int i = 0; i < ticks; ++i) {
            Ticks(1);
            if (link.State() != LinkState::AwaitingReply || Packets().size() == answered) continue;
            answered = Packets().size();
            const Bytes request = LastPayload();
            if (request[0] == 4 || request[0] == 5) {
                asked.push_back(request[0]);
                if (request[0] == 4 && !records.empty()) {
                    current = records.front();
                    records.erase(records.begin());
                } else if (request[0] == 4) {
                    ReplyLast({0});
                    continue;
                }
                Bytes reply{0};
                reply.insert(reply.end(), current.begin(), current.end());
                ReplyLast(reply);
            } else if (request == Bytes{13}) {
                ReplyLast({0, 0, 0, 0, 0, 2, 0});
            } else if (request == Bytes{2}) {
                ReplyLast({0, 1, 0, 0, 0, 0, 0, 0});
            } else {
                ReplyLast({0, 0, 0, 1, 2, 0, 0});
            }
        }
    }
    std::vector<std::string> FileLines() const {
        std::vector<std::string> lines;
        for (const auto& [path, bytes] : appends.appends)
            lines.push_back(bytes.substr(0, bytes.size() - 2));
        return lines;
    }

    std::vector<std::string> records; // what the exchange still has to hand out
    std::string current;              // what it handed out last
    std::size_t answered = 0;         // packets the exchange has answered
    std::vector<std::uint8_t> asked;  // 4 or 5, in order
};

TEST_F(RecoveryTest, AtStartTheLastRecordIsAskedAgainAndKeptOnceOrTakenIfNew) {
    struct Row {
        const char* legend;
        std::optional<std::string> inFile; // the file's last line before the start
        std::string handedOut;             // what the exchange handed out last
        std::vector<std::string> appended;
        std::optional<std::string> state = std::nullopt; // the state file beside it
    } rows[] = {
        {"already stored: not again", "REC 7", "REC 7", {}},
        {"in flight when the gateway stopped: taken", "REC 6", "REC 7", {"REC 7"}},
        {"a new file: taken", std::nullopt, "REC 7", {"REC 7"}},
        {"the file collected: not again", std::nullopt, "REC 7", {}, "stored\r\nREC 7\r\n"},
        {"collected, next one in flight", std::nullopt, "REC 7", {"REC 7"}, "stored\r\nREC 6\r\n"},
        {"killed before the append", std::nullopt, "REC 7", {"REC 7"}, "pending\r\nREC 7\r\n"},
        {"killed after the append: not again", "REC 7", "REC 7", {}, "pending\r\nREC 7\r\n"},
        {"a stale state: the file knows better", "REC 7", "REC 7", {}, "stored\r\nREC 5\r\n"},
        {"a state not ours: ignored", std::nullopt, "REC 7", {"REC 7"}, "REC 7\r\n"},
    };
    const std::string statePath =
        AccountingFile::StatePathFor(gateway->Accounting().Path(settings.UctFile));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        appends = AppendLog{};
        appends.existing = row.inFile;
        if (row.state) appends.files[statePath] = *row.state;
        gateway->Accounting().Resume(settings.UctFile);
        current = row.handedOut;
        link.Enqueue(RequestKind::Accounting, 0);
        link.TimerTick().SetEnabled(true);
        Converse(3);
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked.front(), 5);
        EXPECT_EQ(FileLines(), row.appended);
        asked.clear();
    }
    // A repeat found stored is not "no record".
    EXPECT_EQ(log.Count("<COM", "[128]"), 0);
}

// Two identical calls in a row, the second while another program holds the
// file: it is asked for again until the file takes it, and both are stored.
TEST_F(RecoveryTest, ARepeatAfterAFailedAppendIsStoredEvenWhenItEqualsTheLastRecord) {
    records = {"R1", "R1", "R2"};
    link.TimerTick().SetEnabled(true);
    link.Enqueue(RequestKind::Accounting, 0);
    Converse(2);
    for (int i = 0; i < 6; ++i) {
        appends.fail = i < 3; // the second R1 meets a locked file, and two repeats
        link.Enqueue(RequestKind::Accounting, 0);
        Converse(2);
    }
    EXPECT_EQ(asked, (std::vector<std::uint8_t>{4, 4, 5, 5, 5, 4, 4}));
    EXPECT_EQ(FileLines(), (std::vector<std::string>{"R1", "R1", "R2"}));
}

TEST_F(RecoveryTest, AnAnswerLostInALinkDownPauseIsAskedAgain) {
    settings.MaxErrorTick = 5;
    records = {"R1", "R2"};
    link.TimerTick().SetEnabled(true);
    link.Enqueue(RequestKind::Accounting, 0);
    Converse(2);
    ASSERT_EQ(FileLines(), std::vector<std::string>{"R1"});
    // The exchange hands out R2 but its answer never arrives.
    link.Enqueue(RequestKind::Accounting, 0);
    Ticks(1);
    ASSERT_EQ(LastPayload(), Bytes{4});
    current = records.front();
    records.erase(records.begin());
    Ticks(60 + 5); // six time-outs, the pause
    asked.clear();
    link.Queue().Clear();
    link.Enqueue(RequestKind::Accounting, 0);
    Converse(4);
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), 5);
    EXPECT_EQ(FileLines(), (std::vector<std::string>{"R1", "R2"}));
}

TEST_F(RecoveryTest, ARequestWhoseAnswerNeverCameMakesTheNextOneAskAgain) {
    records = {"R1", "R2"};
    link.TimerTick().SetEnabled(true);
    link.Enqueue(RequestKind::Accounting, 0);
    Converse(2);
    // R2 is handed out, but before its answer arrives the port is chosen
    // again from the menu and the link starts over.
    link.Enqueue(RequestKind::Accounting, 0);
    Ticks(1);
    ASSERT_EQ(LastPayload(), Bytes{4});
    current = records.front();
    records.erase(records.begin());
    link.RestartAfterPortChoice();
    link.Queue().Clear();
    asked.clear();
    link.Enqueue(RequestKind::Accounting, 0);
    Converse(2);
    EXPECT_EQ(asked, std::vector<std::uint8_t>{5});
    EXPECT_EQ(FileLines(), (std::vector<std::string>{"R1", "R2"}));
    // Answered: the next request asks for the next record.
    link.Enqueue(RequestKind::Accounting, 0);
    Converse(2);
    EXPECT_EQ(asked.back(), 4);
}

TEST_F(RecoveryTest, AVanishedLineIsALinkFailureAndIsOpenedAgain) {
    BindMail();
    settings.PortRetry = 1000;
    Start();
    Converse(6); // the start-up set answered
    const std::size_t sent = Packets().size();
    line->vanish(EIO);
    ASSERT_TRUE(loop.waitForTask());
    loop.runPending();
    EXPECT_FALSE(gateway->CommPax1().IsOpen());
    EXPECT_EQ(log.Count("!Err", "[116]"), 1);
    EXPECT_EQ(log.Count("!Err", "[149] COM2 5"), 1); // the device and the system's error
    EXPECT_EQ(Traps(), std::vector<int>{1});

    // The device is back: the next retry opens it.
    line->lostError = 0;
    Ticks(10);
    EXPECT_EQ(log.Count("-OK-", "[124]COM2:19200,N,8,1"), 1);
    EXPECT_TRUE(gateway->CommPax1().IsOpen());
    // The link starts over with the start-up set and reports the recovery.
    Ticks(1);
    ASSERT_GT(Packets().size(), sent);
    EXPECT_EQ(LastPayload(), Bytes{13});
    ReplyLast({0, 0, 0, 0, 0, 2, 0});
    EXPECT_EQ(log.Count("-OK-", "[117]"), 1);
    EXPECT_EQ(Traps(), (std::vector<int>{1, 2}));
    EXPECT_EQ(log.Count("!Err", "[116]"), 1);
}

TEST_F(RecoveryTest, AFullQueueOfClientsNeitherPushesOutNorStarvesTheAccountingPoll) {
    link.TimerTick().SetEnabled(true);
    link.SubmitClientRequest(1, Bytes{0, 30, 1}); // goes out: the link is busy now
    for (int client = 2; client <= 110; ++client) link.SubmitClientRequest(client, Bytes{0, 30, 2});
    link.Enqueue(RequestKind::Accounting, 0);
    ASSERT_EQ(link.Queue().Count(), 100u);
    EXPECT_TRUE(link.Queue().Contains("U"));
    EXPECT_FALSE(link.Queue().Contains("T2")) << "the oldest client request is the one dropped";
    // Within two turns of the link the accounting request goes out.
    for (int turn = 0; turn < 2; ++turn) {
        ReplyLast({0});
        Ticks(1);
        if (LastPayload() == Bytes{4}) break;
    }
    EXPECT_EQ(LastPayload(), Bytes{4});
}

} // namespace

TEST_F(RecoveryTest, ABusyListeningPortIsTriedAgainUntilItListens) {
    home.Write("vantor.INI", "[Timer]\r\nPortRetry=1000\r\n");
    gateway->CommPax1().Close();
    server->refuse = true;
    gateway->Start(false);
    ASSERT_EQ(log.CountLabel("!Err"), 1);
    EXPECT_EQ(log.lines[1].text.rfind("[121]", 0), 0u);
    Ticks(30);
    EXPECT_EQ(log.CountLabel("!Err"), 1) << "tried again quietly";
    EXPECT_FALSE(server->Active());
    server->refuse = false;
    Ticks(10);
    EXPECT_TRUE(server->Active());
    EXPECT_EQ(log.Count("-OK-", "[119]"), 1);
    EXPECT_FALSE(gateway->PortRetryTimer().Enabled());
}
