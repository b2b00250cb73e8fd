// The link end of the simulator on a virtual clock: frames in, frames (or
// the faults asked for) out.
#include "SimSession.h"
#include "serial/FrameCodec.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::sim;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Frame {
    std::uint8_t seq;
    Bytes payload;
    bool operator==(const Frame&) const = default;
};

// Collects what the session writes, the way the gateway would read it.
struct Gateway {
    FrameDecoder decoder{512};
    std::vector<Frame> frames;
    Bytes strays;
    std::vector<Bytes> writes; // one entry per write the program would make
    Gateway() {
        decoder.onPacket = [this](int count, const std::uint8_t* data) {
            frames.push_back({data[0], Bytes(data + 1, data + count)});
        };
        decoder.onStray = [this](std::uint8_t b) { strays.push_back(b); };
    }
    // Takes everything due up to `now`.
    void drain(SimSession& s, std::uint64_t now) {
        while (auto chunk = s.PopDue(now)) {
            writes.push_back(*chunk);
            decoder.feed(*chunk);
        }
    }
};

void Send(SimSession& s, std::uint8_t seq, const Bytes& req, std::uint64_t now = 0) {
    s.Receive(EncodeFrame(seq, req), now);
}

} // namespace

TEST(SimSession, RepliesCarryTheRequestsSequenceNumber) {
    SimSession s({}, {});
    Gateway g;
    Send(s, 1, {13});
    Send(s, 2, {2});
    Send(s, 255, {0, 3, 9});
    g.drain(s, 0);
    ASSERT_EQ(g.frames.size(), 3u);
    EXPECT_EQ(g.frames[0].seq, 1);
    EXPECT_EQ(g.frames[0].payload.size(), 17u);
    EXPECT_EQ(g.frames[1].seq, 2);
    EXPECT_EQ(g.frames[1].payload.size(), 8u);
    EXPECT_EQ(g.frames[2].seq, 255);
    EXPECT_EQ((Bytes{g.frames[2].payload[1], g.frames[2].payload[2]}), (Bytes{3, 9}));
    EXPECT_TRUE(g.strays.empty());
    EXPECT_EQ(s.requests(), 3u);
}

TEST(SimSession, ReassemblesRequestsFromAnySplitAndRejectsBadOnes) {
    SimSession s({}, {});
    Gateway g;
    // Two frames in one chunk, then one fed byte by byte, one with a bad CRC
    // and a stray byte in between.
    Bytes both = EncodeFrame(1, Bytes{13});
    Bytes second = EncodeFrame(2, Bytes{0, 238, 0xEE}); // escaped bytes inside
    both.insert(both.end(), second.begin(), second.end());
    s.Receive(both, 0);
    Bytes third = EncodeFrame(3, Bytes{2});
    for (std::uint8_t b : third) s.Receive(Bytes{b}, 0);
    Bytes bad = EncodeFrame(4, Bytes{2});
    bad[bad.size() - 2] ^= 0x40;
    s.Receive(bad, 0);
    s.Receive(Bytes{0x41}, 0);
    g.drain(s, 0);
    ASSERT_EQ(g.frames.size(), 3u);
    EXPECT_EQ(g.frames[1].seq, 2);
    EXPECT_EQ(g.frames[1].payload[1], 238);
    EXPECT_EQ(g.frames[1].payload[2], 0xEE);
    EXPECT_EQ(g.frames[2].seq, 3);
    EXPECT_EQ(s.requests(), 3u);
    EXPECT_EQ(s.strays(), 1u);
}

TEST(SimSession, NakEveryNthReplyAndResendAnswersAsBefore) {
    FaultConfig f;
    f.nakEvery = 2;
    SimSession s({}, f);
    Gateway g;
    Send(s, 1, {4});
    Send(s, 2, {4}); // second reply: E0 instead
    g.drain(s, 0);
    ASSERT_EQ(g.frames.size(), 1u);
    EXPECT_EQ(g.strays, Bytes{NakByte});
    EXPECT_EQ(g.writes.back(), Bytes{NakByte});
    // The gateway resends under the same number and must get record 2, not 3.
    Send(s, 2, {4});
    Send(s, 3, {4}); // fourth reply: E0 again
    Send(s, 3, {4});
    g.drain(s, 0);
    ASSERT_EQ(g.frames.size(), 3u);
    auto text = [](const Frame& f) { return std::string(f.payload.begin() + 1, f.payload.end()); };
    EXPECT_EQ(text(g.frames[0]), ExchangeModel::RecordText(1));
    EXPECT_EQ(text(g.frames[1]), ExchangeModel::RecordText(2));
    EXPECT_EQ(text(g.frames[2]), ExchangeModel::RecordText(3));
    EXPECT_EQ(s.naks(), 2u);
}

TEST(SimSession, SpoiledCrcIsDroppedAndDoesNotEatTheNextFrame) {
    // Replies whose CRC ends awkwardly: in 0xEE (travels doubled) and in 0xEF
    // (one bit away from a lone escape byte, which would swallow the start
    // mark of the next frame).
    struct Case {
        const char* name;
        std::uint8_t last;
        std::uint8_t seq = 0, index = 0;
        bool found = false;
    };
    std::vector<Case> cases{{"plain", 0x00}, {"ends in EE", 0xEE}, {"ends in EF", 0xEF}};
    for (auto& c : cases) {
        for (int i = 0; i < 256 && !c.found; ++i)
            for (int q = 0; q < 256 && !c.found; ++q) {
                ExchangeModel m({});
                Bytes frame =
                    EncodeFrame(static_cast<std::uint8_t>(q),
                                m.Handle(0, Bytes{0, 7, static_cast<std::uint8_t>(i)}, 0).payload);
                const bool match = c.last == 0 ? frame.back() != 0xEE && frame.back() != 0xEF
                                               : frame.back() == c.last;
                if (match) {
                    c = {c.name, c.last, static_cast<std::uint8_t>(q), static_cast<std::uint8_t>(i),
                         true};
                }
            }
        ASSERT_TRUE(c.found) << c.name;
    }

    for (const auto& c : cases) {
        SimSession s({}, {});
        Gateway g;
        ASSERT_EQ(s.Command("crc once", 0).reply, "OK crc once");
        Send(s, c.seq, {0, 7, c.index});
        Send(s, static_cast<std::uint8_t>(c.seq + 1), {13}); // its reply follows at once
        g.drain(s, 0);
        ASSERT_EQ(g.writes.size(), 2u);
        EXPECT_EQ((Bytes{g.writes[0][0], g.writes[0][1]}), (Bytes{0xEE, 0x23}))
            << "still looks like a frame";
        ASSERT_EQ(g.frames.size(), 1u) << c.name;
        EXPECT_EQ(g.frames[0].seq, static_cast<std::uint8_t>(c.seq + 1)) << c.name;
        EXPECT_TRUE(g.strays.empty()) << c.name;
        EXPECT_EQ(s.crcErrors(), 1u);
    }
}

TEST(SimSession, SilentAnswersNothingUntilSwitchedOff) {
    FaultConfig f;
    f.silent = true;
    SimSession s({}, f);
    Gateway g;
    Send(s, 1, {13});
    g.drain(s, 1000);
    EXPECT_TRUE(g.writes.empty());
    EXPECT_FALSE(s.NextDueMs());
    EXPECT_EQ(s.silenced(), 1u);
    EXPECT_EQ(s.Command("silent off", 0).reply, "OK silent off");
    Send(s, 2, {13});
    g.drain(s, 1000);
    ASSERT_EQ(g.frames.size(), 1u);
    EXPECT_EQ(g.frames[0].seq, 2);
}

TEST(SimSession, DelayHoldsRepliesBackInOrder) {
    FaultConfig f;
    f.delayMs = 300;
    SimSession s({}, f);
    Gateway g;
    Send(s, 1, {13}, 1000);
    EXPECT_EQ(s.NextDueMs(), 1300u);
    g.drain(s, 1299);
    EXPECT_TRUE(g.writes.empty());
    // Shortening the delay does not let a later reply overtake.
    s.Command("delay 0", 1100);
    Send(s, 2, {2}, 1100);
    g.drain(s, 1299);
    EXPECT_TRUE(g.writes.empty());
    g.drain(s, 1300);
    ASSERT_EQ(g.frames.size(), 2u);
    EXPECT_EQ(g.frames[0].seq, 1);
    EXPECT_EQ(g.frames[1].seq, 2);
}

TEST(SimSession, SplitWritesOneBytePerWriteAtTheGap) {
    FaultConfig f;
    f.split = true;
    f.splitGapMs = 2;
    SimSession s({}, f);
    Gateway g;
    Send(s, 1, {13}, 100);
    const std::size_t frameSize =
        EncodeFrame(1, ExchangeModel({}).Handle(1, Bytes{13}, 0).payload).size();
    g.drain(s, 100);
    EXPECT_EQ(g.writes.size(), 1u) << "only the first byte is due at once";
    g.drain(s, 100 + 2 * (frameSize - 1) - 1);
    EXPECT_EQ(g.writes.size(), frameSize - 1);
    EXPECT_TRUE(g.frames.empty());
    g.drain(s, 100 + 2 * (frameSize - 1));
    EXPECT_EQ(g.writes.size(), frameSize);
    for (auto& w : g.writes) EXPECT_EQ(w.size(), 1u);
    ASSERT_EQ(g.frames.size(), 1u);
    EXPECT_EQ(g.frames[0].payload.size(), 17u);
}

TEST(SimSession, DroppedOutputAndAReopenedLineStartClean) {
    FaultConfig f;
    f.delayMs = 50;
    SimSession s({}, f);
    Gateway g;
    Send(s, 1, {13});
    s.DropOutput();
    EXPECT_FALSE(s.NextDueMs());
    // Half a frame from the old opener, then a whole one from the new.
    Bytes half = EncodeFrame(2, Bytes{0, 3, 3});
    half.resize(half.size() / 2);
    s.Receive(half, 0);
    s.ResetReceiver();
    Send(s, 3, {2});
    g.drain(s, 100);
    ASSERT_EQ(g.frames.size(), 1u);
    EXPECT_EQ(g.frames[0].seq, 3);
}

TEST(SimSession, CommandsChangeBehaviourAndReportStatus) {
    SimSession s({}, {});
    Gateway g;
    EXPECT_EQ(s.Command("nak once", 0).reply, "OK nak once");
    Send(s, 1, {13});
    Send(s, 2, {13});
    g.drain(s, 0);
    EXPECT_EQ(g.strays, Bytes{NakByte});
    EXPECT_EQ(g.frames.size(), 1u);

    EXPECT_EQ(s.Command("records 1", 0).reply, "OK records 1");
    Send(s, 3, {4});
    Send(s, 4, {4});
    g.drain(s, 0);
    ASSERT_EQ(g.frames.size(), 3u);
    EXPECT_EQ(g.frames[1].payload.size(), 1 + ExchangeModel::RecordText(1).size());
    EXPECT_EQ(g.frames[2].payload, Bytes{0});

    std::string status = s.Command("status", 0).reply;
    EXPECT_NE(status.find("STATUS requests=4 replies=4 naks=1 "), std::string::npos) << status;
    EXPECT_NE(status.find("records_handed=1 "), std::string::npos) << status;
    EXPECT_NE(status.find("kinds=C:2,U:2"), std::string::npos) << status;

    EXPECT_TRUE(s.Command("quit", 0).quit);
    EXPECT_FALSE(s.Command("  split   on ", 0).quit);
    EXPECT_TRUE(s.faults().split);
    EXPECT_EQ(s.Command("nak every 3", 0).reply, "OK nak every 3");
    EXPECT_EQ(s.faults().nakEvery, 3u);
    for (const char* bad : {"silent maybe", "records -1", "records", "delay 1e3", "nak twice",
                            "frobnicate", "quit now"})
        EXPECT_EQ(s.Command(bad, 0).reply.rfind("ERR ", 0), 0u) << bad;
    EXPECT_EQ(s.Command("", 0).reply, "");
}

TEST(SimSession, LogsEveryRequestAndReplyWithKindAndHex) {
    std::vector<std::string> log, events;
    FaultConfig f;
    f.nakEvery = 2;
    SimSession s(
        {}, f, [&](const std::string& l) { log.push_back(l); },
        [&](const std::string& l) { events.push_back(l); });
    Send(s, 1, {13});
    Send(s, 2, {4});
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "RX #01 C configuration: 0D");
    EXPECT_EQ(log[1].rfind("TX #01 C configuration: 00 08 ", 0), 0u) << log[1];
    EXPECT_EQ(log[2], "RX #02 U accounting: 04");
    EXPECT_EQ(log[3], "TX #02 U accounting: E0 instead of the reply");
    EXPECT_EQ(events, std::vector<std::string>{"EVENT record 000001"});
}
