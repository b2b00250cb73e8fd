// The link end of the simulator on a virtual clock: frames in, frames (or
// the faults asked for) out.
#include "SimSession.h"
#include "serial/FrameCodec.h"

#include <gtest/gtest.h>

using namespace vantor;
using namespace vantor::sim;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The session's clock counts microseconds.
constexpr std::uint64_t Ms(std::uint64_t ms) { return ms * 1000; }

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
    g.drain(s, Ms(1000));
    EXPECT_TRUE(g.writes.empty());
    EXPECT_FALSE(s.NextDueUs());
    EXPECT_EQ(s.silenced(), 1u);
    EXPECT_EQ(s.Command("silent off", 0).reply, "OK silent off");
    Send(s, 2, {13});
    g.drain(s, Ms(1000));
    ASSERT_EQ(g.frames.size(), 1u);
    EXPECT_EQ(g.frames[0].seq, 2);
}

TEST(SimSession, DelayHoldsRepliesBackInOrder) {
    FaultConfig f;
    f.delayMs = 300;
    SimSession s({}, f);
    Gateway g;
    Send(s, 1, {13}, Ms(1000));
    EXPECT_EQ(s.NextDueUs(), Ms(1300));
    g.drain(s, Ms(1299));
    EXPECT_TRUE(g.writes.empty());
    // Shortening the delay does not let a later reply overtake.
    s.Command("delay 0", Ms(1100));
    Send(s, 2, {2}, Ms(1100));
    g.drain(s, Ms(1299));
    EXPECT_TRUE(g.writes.empty());
    g.drain(s, Ms(1300));
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
    Send(s, 1, {13}, Ms(100));
    const std::size_t frameSize =
        EncodeFrame(1, ExchangeModel({}).Handle(1, Bytes{13}, 0).payload).size();
    g.drain(s, Ms(100));
    EXPECT_EQ(g.writes.size(), 1u) << "only the first byte is due at once";
    g.drain(s, Ms(100 + 2 * (frameSize - 1)) - 1);
    EXPECT_EQ(g.writes.size(), frameSize - 1);
    EXPECT_TRUE(g.frames.empty());
    g.drain(s, Ms(100 + 2 * (frameSize - 1)));
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
    EXPECT_FALSE(s.NextDueUs());
    // Half a frame from the old opener, then a whole one from the new.
    Bytes half = EncodeFrame(2, Bytes{0, 3, 3});
    half.resize(half.size() / 2);
    s.Receive(half, 0);
    s.ResetReceiver();
    Send(s, 3, {2});
    g.drain(s, Ms(100));
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
    EXPECT_EQ(s.Command("baud 115200", 0).reply, "OK baud 115200");
    EXPECT_EQ(s.Command("think 4", 0).reply, "OK think 4");
    EXPECT_EQ(s.Command("twin", 0).reply, "OK twin");
    EXPECT_EQ(s.line().baud, 115200u);
    EXPECT_EQ(s.line().thinkMs, 4u);
    EXPECT_NE(s.StatusLine().find(" baud=115200 think=4"), std::string::npos);
    for (const char* bad : {"silent maybe", "records -1", "records", "delay 1e3", "nak twice",
                            "frobnicate", "quit now", "baud fast", "baud 4000001", "think 60001"})
        EXPECT_EQ(s.Command(bad, 0).reply.rfind("ERR ", 0), 0u) << bad;
    EXPECT_EQ(s.Command("", 0).reply, "");
}

// At a line speed, a request is complete when its last byte has come in at
// that speed; the reply starts after the think time and each of its bytes
// is written when the line would have carried it.
TEST(SimSession, LineSpeedPacesBothDirectionsAndThinkTimeComesBetween) {
    SimSession s({}, {}, {}, {}, LineConfig{19200, 5});
    Gateway g;
    const Bytes request = EncodeFrame(1, Bytes{13});
    const Bytes reply = EncodeFrame(1, ExchangeModel({}).Handle(1, Bytes{13}, 0).payload);
    LinePacer line(19200);
    const std::uint64_t requestIn = line.Pass(Ms(1000), request.size());
    s.Receive(request, Ms(1000)); // written at once, as a program writes
    const std::uint64_t firstOut =
        requestIn + Ms(5) + static_cast<std::uint64_t>(line.DurationUs(1));
    EXPECT_NEAR(static_cast<double>(*s.NextDueUs()), static_cast<double>(firstOut), 1.0);

    const std::uint64_t lastOut =
        requestIn + Ms(5) + static_cast<std::uint64_t>(line.DurationUs(reply.size()));
    g.drain(s, lastOut - 2);
    EXPECT_TRUE(g.frames.empty()) << "the reply's last byte is still on the line";
    EXPECT_EQ(g.writes.size(), 1u) << "what is due so far goes out in one write";
    g.drain(s, lastOut + 1);
    ASSERT_EQ(g.frames.size(), 1u);
    EXPECT_EQ(g.writes.size(), 2u);

    // Without a speed (and after "baud 0") a reply is due the moment its request is in.
    s.Command("baud 0", 0);
    s.Command("think 0", 0);
    Send(s, 2, {13}, Ms(2000));
    EXPECT_EQ(s.NextDueUs(), Ms(2000));
}

TEST(LinePacer, EachByteTakesTenBitTimesOneAfterTheOther) {
    struct Row {
        std::uint32_t baud;
        std::size_t bytes;
        std::uint64_t startUs;
        std::uint64_t doneUs; // when the last byte is through, rounded up
    };
    for (const Row& r : {Row{19200, 1, 0, 521}, Row{19200, 10, 0, 5209}, Row{19200, 10, 7, 5216},
                         Row{115200, 1, 0, 87}, Row{115200, 100, 0, 8681}, Row{9600, 3, 0, 3125},
                         Row{0, 1000, 42, 42}}) {
        SCOPED_TRACE(r.baud);
        LinePacer line(r.baud);
        EXPECT_EQ(line.Pass(r.startUs, r.bytes), r.doneUs);
    }
    // Bytes queue behind those still on the line, and an idle line starts afresh.
    LinePacer line(19200);
    EXPECT_EQ(line.Pass(0, 2), 1042u);
    EXPECT_EQ(line.Pass(100, 1), 1563u) << "waits for the line";
    EXPECT_EQ(line.Pass(10000, 1), 10521u) << "the line was idle meanwhile";
    line.Reset();
    EXPECT_EQ(line.Pass(0, 1), 521u);
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

TEST(SimSession, ARestartedExchangeGoesOnWithItsNumberingAndReportsOnlyNewRecords) {
    std::vector<std::string> events;
    ModelConfig m;
    m.recordsHanded = 41;
    SimSession s(m, {}, {}, [&](const std::string& l) { events.push_back(l); });
    Gateway g;
    Send(s, 1, {13});
    Send(s, 2, {5});
    EXPECT_TRUE(events.empty()) << "record 41 was handed out before";
    Send(s, 3, {4});
    g.drain(s, 0);
    ASSERT_EQ(g.frames.size(), 3u);
    EXPECT_EQ(std::string(g.frames[1].payload.begin() + 1, g.frames[1].payload.end()),
              ExchangeModel::RecordText(41));
    EXPECT_EQ(events, std::vector<std::string>{"EVENT record 000042"});
}
