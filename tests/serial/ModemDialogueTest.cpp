// The modem dialogue of the packet component against a scripted modem, on
// virtual time: every wait of the dialogue moves the clock by one
// millisecond, and the modem answers each command after a set delay.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "serial/CommPax.h"
#include "toolkit/Controls.h"
#include "toolkit/VirtualLoop.h"
#include "FakeSerialDevice.h"

namespace vantor {
namespace {

using test::FakeFactory;
using test::FakeLine;

struct Reply {
    int afterMs;
    std::string text;
};

// Plays the modem: records every command (up to its CR) and schedules the
// replies its script gives for it.
class ScriptedModem {
public:
    using Script = std::function<std::vector<Reply>(const std::string& command)>;

    ScriptedModem(VirtualLoop& loop, std::shared_ptr<FakeLine> line)
        : loop_(loop), line_(std::move(line)) {
        line_->onWrite = [this](const std::vector<std::uint8_t>& bytes) {
            for (auto b : bytes) {
                written += static_cast<char>(b);
                if (b != '\r') {
                    pending_ += static_cast<char>(b);
                    continue;
                }
                commands.push_back(pending_);
                if (script)
                    for (const Reply& r : script(pending_))
                        due_.emplace(loop_.monotonicMs() + r.afterMs, r.text);
                pending_.clear();
            }
        };
    }
    // Echo of the command, then `answer` after `delayMs`.
    static std::vector<Reply> EchoThen(const std::string& command, const std::string& answer,
                                       int delayMs = 50) {
        std::vector<Reply> replies{{0, command + "\r"}};
        if (!answer.empty()) replies.push_back({delayMs, answer});
        return replies;
    }
    // Puts what has fallen due on the line.
    void Deliver() {
        while (!due_.empty() && due_.begin()->first <= loop_.monotonicMs()) {
            line_->receive(due_.begin()->second);
            due_.erase(due_.begin());
        }
    }

    Script script;
    std::vector<std::string> commands;
    std::string written;

private:
    VirtualLoop& loop_;
    std::shared_ptr<FakeLine> line_;
    std::string pending_;
    std::multimap<std::int64_t, std::string> due_;
};

// The component with its waits on virtual time.  Received bytes reach it the
// way the event thread would hand them over: one characters-received event.
class VirtualTimePax : public TCommPax {
public:
    VirtualTimePax(VirtualLoop& loop, std::shared_ptr<FakeLine> line, ScriptedModem& modem)
        : TCommPax(nullptr, loop, FakeFactory(line)), loop_(loop), line_(std::move(line)),
          modem_(modem) {}
    int sleptMs = 0;

protected:
    void ProcessMessages() override {
        loop_.advance(1);
        modem_.Deliver();
        if (line_->waiting() > 0) DispatchEvents(CommEvent::RxChar);
    }
    void Sleep(int ms) override {
        sleptMs += ms;
        loop_.advance(ms);
    }

private:
    VirtualLoop& loop_;
    std::shared_ptr<FakeLine> line_;
    ScriptedModem& modem_;
};

class Modem : public ::testing::Test {
protected:
    void SetUp() override {
        pax.SetMonitorEvents({});
        pax.Open();
        line->modemError = ENOTTY; // no carrier detect unless a test gives one
        label.OnModelChanged = [this](TControl& c) {
            if (captions.empty() || captions.back() != c.Caption()) captions.push_back(c.Caption());
        };
    }
    std::int64_t Now() const { return loop.monotonicMs(); }

    VirtualLoop loop;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    ScriptedModem modem{loop, line};
    VirtualTimePax pax{loop, line, modem};
    TLabel label{nullptr};
    std::vector<std::string> captions;
};

TEST_F(Modem, ResetInitAndDialUntilConnect) {
    modem.script = [](const std::string& cmd) {
        if (cmd.rfind("ATD", 0) == 0)
            return ScriptedModem::EchoThen(cmd, "\r\nCONNECT 9600\r\n", 3000);
        return ScriptedModem::EchoThen(cmd, "\r\nOK\r\n");
    };
    EXPECT_EQ(pax.ModemStart(&label, "ATZ", "5551234", false), ModemConnect);
    EXPECT_EQ(modem.commands, (std::vector<std::string>{"AT&F", "ATZ", "ATDT5551234"}));
    EXPECT_EQ(label.Caption().rfind("CONNECT 9600\r", 0), 0u) << label.Caption();
    EXPECT_FALSE(pax.ModemActive());

    // Frames are received again once the dialogue is over.
    int packets = 0;
    pax.OnRxPacket = [&](TObject*, int, const std::uint8_t*) { ++packets; };
    line->receive(EncodeFrame(1, std::vector<std::uint8_t>{2}));
    pax.RxChar(&pax, static_cast<int>(line->waiting()));
    EXPECT_EQ(packets, 1);
}

TEST_F(Modem, PulseDialWithoutInitAndInitWithoutNumber) {
    modem.script = [](const std::string& cmd) {
        return ScriptedModem::EchoThen(cmd, "\r\nOK\r\n");
    };
    EXPECT_EQ(pax.ModemStart(&label, "", "42", true), ModemOk);
    EXPECT_EQ(modem.commands, (std::vector<std::string>{"AT&F", "ATDP42"}));
    modem.commands.clear();
    EXPECT_EQ(pax.ModemStart(nullptr, "ATM0", "", false), ModemOk);
    EXPECT_EQ(modem.commands, (std::vector<std::string>{"AT&F", "ATM0"}));
}

TEST_F(Modem, EchoWithoutAnAnswerTimesOut) {
    modem.script = [](const std::string& cmd) { return ScriptedModem::EchoThen(cmd, ""); };
    const std::int64_t start = Now();
    EXPECT_EQ(pax.ModemStart(&label, "ATZ", "1", false), ModemTimedOut);
    EXPECT_EQ(modem.commands, std::vector<std::string>{"AT&F"});
    EXPECT_GT(Now() - start, 6000);
    EXPECT_LT(Now() - start, 6100);
    EXPECT_FALSE(pax.ModemActive());
}

TEST_F(Modem, SilentModemGivesNoEcho) {
    const std::int64_t start = Now();
    EXPECT_EQ(pax.ModemOutPut(&label, "ATI", 5000), ModemNoEcho);
    EXPECT_GT(Now() - start, 2000);
    EXPECT_LT(Now() - start, 2100);
    EXPECT_EQ(captions, std::vector<std::string>{"ATI\r"});
    EXPECT_FALSE(pax.ModemActive());
}

TEST_F(Modem, NoConnectionWordsEndTheRequest) {
    for (std::string word : {"NO DIALTONE", "NODIALTONE", "BUSY", "NO CARRIER"}) {
        modem.script = [word](const std::string& cmd) {
            return ScriptedModem::EchoThen(cmd, "\r\n" + word + "\r\n", 800);
        };
        EXPECT_EQ(pax.ModemOutPut(&label, "ATDT1", 40000), ModemNoConnection) << word;
        EXPECT_EQ(label.Caption(), word + "\r\n");
        EXPECT_FALSE(pax.ModemActive());
    }
}

TEST_F(Modem, CancelWhileWaitingHangsUp) {
    modem.script = [](const std::string& cmd) { return ScriptedModem::EchoThen(cmd, ""); };
    // The user presses Cancel half a second into the wait.
    loop.startTimer(500, [this] { pax.SetCancel(true); });
    EXPECT_EQ(pax.ModemOutPut(&label, "ATDT99", 40000), ModemCancelled);
    EXPECT_FALSE(pax.ModemActive());
    EXPECT_EQ(modem.written, "ATDT99\r+++ATH\r");
    EXPECT_EQ(pax.sleptMs, 1000); // the escape guard time
    EXPECT_EQ(captions, (std::vector<std::string>{"ATDT99\r", "+++", "ATH"}));
    EXPECT_TRUE(line->dtr); // no carrier, so DTR stayed up
}

TEST_F(Modem, HangUpDropsDtrWhileCarrierStays) {
    line->modemError = 0;
    line->modemLines = ModemLine::RlsdOn;
    bool droppedDtr = false;
    label.OnModelChanged = [&](TControl& c) {
        captions.push_back(c.Caption());
        if (c.Caption() == "DTR off") droppedDtr = !line->dtr;
    };
    const std::int64_t start = Now();
    EXPECT_EQ(pax.ModemStop(&label), ModemOk);
    EXPECT_EQ(captions, (std::vector<std::string>{"+++", "ATH", "DTR off", "DTR on"}));
    EXPECT_TRUE(droppedDtr);
    EXPECT_TRUE(line->dtr);
    EXPECT_GE(Now() - start, 300 + 1000 + 1000 + 1500);

    // Carrier that goes within the second after ATH ends the hang-up there.
    captions.clear();
    loop.startTimer(1500, [this] {
        std::lock_guard lock(line->mutex);
        line->modemLines = 0;
    });
    EXPECT_EQ(pax.ModemStop(nullptr), ModemOk);
    EXPECT_TRUE(captions.empty());
    EXPECT_TRUE(line->dtr);
}

TEST_F(Modem, ReceivedTextIsCappedAndTheRestStaysQueued) {
    modem.script = [](const std::string& cmd) {
        return ScriptedModem::EchoThen(cmd, std::string(3000, 'x'), 10);
    };
    int packets = 0;
    pax.OnRxPacket = [&](TObject*, int, const std::uint8_t*) { ++packets; };
    EXPECT_EQ(pax.ModemOutPut(&label, "ATI", 1000), ModemTimedOut);
    EXPECT_EQ(pax.ModemText().size(), static_cast<std::size_t>(TCommPax::ModemInputCapacity));
    EXPECT_EQ(line->waiting(), 4 + 3000 - static_cast<std::size_t>(TCommPax::ModemInputCapacity));
    EXPECT_EQ(packets, 0);
}

TEST_F(Modem, ModemInputMovesOneLineAtATime) {
    modem.script = [](const std::string& cmd) {
        return ScriptedModem::EchoThen(cmd, "\r\nOK\r\n");
    };
    ASSERT_EQ(pax.ModemOutPut(&label, "ATI", 1000), ModemOk);
    ASSERT_EQ(pax.ModemText(), "ATI\r\r\nOK\r\n");
    pax.ModemInput(&label);
    EXPECT_EQ(label.Caption(), "ATI");
    EXPECT_EQ(pax.ModemText(), "\r\nOK\r\n");
    pax.ModemInput(&label);
    EXPECT_EQ(label.Caption(), "");
    pax.ModemInput(&label);
    EXPECT_EQ(label.Caption(), "\nOK");
    EXPECT_EQ(pax.ModemText(), "\n");
    pax.ModemInput(&label); // no CR left: nothing moves
    EXPECT_EQ(label.Caption(), "\nOK");
    EXPECT_EQ(pax.ModemText(), "\n");
}

TEST_F(Modem, LongCommandsAreCutToTheBuffer) {
    const std::string longInit = "AT" + std::string(300, 'S');
    modem.script = [](const std::string& cmd) {
        return ScriptedModem::EchoThen(cmd, "\r\nOK\r\n");
    };
    EXPECT_EQ(pax.ModemOutPut(nullptr, longInit, 1000), ModemOk);
    ASSERT_EQ(modem.commands.size(), 1u);
    EXPECT_EQ(modem.commands[0], longInit.substr(0, TCommPax::ModemCommandSize - 2));
}

TEST_F(Modem, APortFailureStillEndsTheRequest) {
    line->writeError = EIO;
    EXPECT_THROW(pax.ModemOutPut(nullptr, "ATI", 1000), ECommError);
    EXPECT_FALSE(pax.ModemActive());
}

} // namespace
} // namespace vantor
