// The simulated exchange's answers, read back with the field layouts the
// gateway uses.
#include "ExchangeModel.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace vantor::sim;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Each call uses a fresh sequence number, as the gateway does.
struct Asker {
    ExchangeModel model;
    std::uint8_t seq = 1;
    explicit Asker(ModelConfig c = {}) : model(c) {}
    Reply ask(Bytes req, std::uint64_t now = 0) { return model.Handle(seq++, req, now); }
    Bytes operator()(Bytes req, std::uint64_t now = 0) { return ask(std::move(req), now).payload; }
};

// The port-number alphabet, as the gateway decodes port codes.
std::string DecodePort(const std::uint8_t* codes) {
    static const char Alphabet[] = ".1234567890*#FPSABCD";
    std::string text;
    for (int i = 0; i < 4 && codes[i] != 0; ++i) text += codes[i] <= 19 ? Alphabet[codes[i]] : '?';
    return text;
}

std::string RecordOf(const Bytes& reply) {
    std::string text(reply.begin() + 1, reply.end());
    return text.substr(0, text.find('\0'));
}

} // namespace

TEST(ExchangeModel, ConfigurationAndInfoCarryTheCheckedBytes) {
    Asker ask;
    Bytes c = ask({13});
    ASSERT_EQ(c.size(), 1u + ConfigurationSize);
    EXPECT_EQ(c[0], 0);
    EXPECT_EQ(c[1 + 4], 2); // byte 4 after the result byte
    EXPECT_EQ(c[1 + 5], 0);
    Bytes i = ask({2});
    ASSERT_EQ(i.size(), 1u + InfoSize);
    EXPECT_EQ(i[1 + 2], 0); // line offset
    EXPECT_EQ(i[1 + 3], 3); // personal blocks

    ModelConfig cfg;
    cfg.configByte4 = 7;
    cfg.configByte5 = 1;
    cfg.infoBlocks = 5;
    cfg.lineOffset = 2;
    Asker other(cfg);
    c = other({13});
    EXPECT_EQ(c[5], 7);
    EXPECT_EQ(c[6], 1);
    i = other({2});
    EXPECT_EQ(i[3], 2);
    EXPECT_EQ(i[4], 5);
}

TEST(ExchangeModel, PortListAndStructureFollowThePortCount) {
    for (int ports : {0, 1, 8, MaxPorts}) {
        ModelConfig cfg;
        cfg.ports = ports;
        Asker ask(cfg);
        Bytes v = ask({0, 14, 0});
        ASSERT_EQ(v.size(), 3u + 4u * ports) << ports;
        EXPECT_EQ((Bytes{v[0], v[1], v[2]}), (Bytes{0, 14, 0}));
        std::set<std::string> seen;
        for (int p = 0; p < ports; ++p) {
            std::string number = DecodePort(&v[3 + 4 * p]);
            EXPECT_EQ(number, ExchangeModel::PortNumber(p));
            EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos);
            seen.insert(number);
        }
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(ports)); // all different

        Bytes x = ask({0, 40, 0});
        ASSERT_EQ(x.size(), 3u + PortStructureSize);
        EXPECT_EQ(x[3], ports);
        Bytes a = ask({0, 22, 0});
        ASSERT_EQ(a.size(), 3u + 4u * ports);
        EXPECT_LE(a.size(), 256u); // fits the gateway's line-state snapshot
    }
    ModelConfig tooMany;
    tooMany.ports = 500;
    EXPECT_EQ(ExchangeModel(tooMany).config().ports, MaxPorts);
}

TEST(ExchangeModel, LineStatesMoveOnWithTimeAndFollowTheSeed) {
    ModelConfig cfg;
    cfg.ports = 20;
    Asker a(cfg), b(cfg);
    cfg.seed = 99;
    Asker c(cfg);
    std::set<Bytes> distinct;
    bool seedMatters = false;
    std::set<std::uint8_t> states;
    for (std::uint64_t t = 0; t <= 120000; t += 5000) {
        Bytes ra = a({0, 22, 0}, t), rb = b({0, 22, 0}, t), rc = c({0, 22, 0}, t);
        EXPECT_EQ(ra, rb) << "same seed, same time, same states";
        seedMatters |= ra != rc;
        distinct.insert(ra);
        for (std::size_t i = 3; i < ra.size(); i += 4) {
            states.insert(ra[i]);
            if (ra[i] != LineRinging && ra[i] != LineConnected && ra[i] != LineBusy) {
                EXPECT_EQ(ra[i + 3], 0) << "flags only on calls";
            }
        }
        // The SW state is the fixed 12 bytes, whenever it is asked.
        EXPECT_EQ(a({14}, t).size(), static_cast<std::size_t>(SwStateSize));
    }
    EXPECT_GT(distinct.size(), 10u);
    EXPECT_TRUE(seedMatters);
    EXPECT_TRUE(states.count(LineRinging));
    EXPECT_TRUE(states.count(LineConnected));
    EXPECT_TRUE(states.count(LineFree));
}

TEST(ExchangeModel, CallerDataBelongsToTheRingingLine) {
    ModelConfig cfg;
    cfg.ports = 30;
    cfg.lineOffset = 4;
    Asker ask(cfg);
    int checked = 0;
    for (std::uint64_t t = 0; t < 200000 && checked < 3; t += 1000) {
        ask.model.AdvanceTo(t);
        const auto& lines = ask.model.lines();
        for (int line = cfg.lineOffset; line < cfg.ports; ++line) {
            if (lines[line].state != LineRinging || !(lines[line].flags & FlagCallerData)) continue;
            const std::uint8_t index = static_cast<std::uint8_t>(line - cfg.lineOffset);
            Bytes y = ask({0, 47, index}, t);
            ASSERT_GT(y.size(), 11u);
            EXPECT_EQ(y[0], 0);
            EXPECT_EQ(y[2], index); // the gateway adds the line offset back
            std::string caller(reinterpret_cast<const char*>(&y[11]));
            EXPECT_EQ(caller, ask.model.CallerNumber(line));
            ++checked;
        }
    }
    EXPECT_GE(checked, 3) << "no ringing line with caller data in 200 s";
    // A line past the last port is refused.
    EXPECT_EQ(ask({0, 47, static_cast<std::uint8_t>(cfg.ports)})[0], ErrBadParameter);
}

TEST(ExchangeModel, MessagesWaitForTheirAcknowledgement) {
    ModelConfig cfg;
    cfg.messageEvery = 3;
    Asker ask(cfg);
    EXPECT_EQ(ask({0, 1, 0}), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(ask({0, 1, 1}), (Bytes{0, 1, 0, 0}));
    Bytes m = ask({0, 1, 2});
    ASSERT_GT(m.size(), 4u);
    EXPECT_EQ(m[1], 2);
    const std::uint8_t number = m[2];
    EXPECT_NE(number, 0);
    EXPECT_EQ(m[3], 'Q');
    std::string text(m.begin() + 4, m.end());
    auto lf1 = text.find('\n');
    ASSERT_NE(lf1, std::string::npos);
    EXPECT_LT(lf1, 40u);
    auto lf2 = text.find('\n', lf1 + 1);
    ASSERT_NE(lf2, std::string::npos);
    EXPECT_LT(lf2 - lf1 - 1, 40u);
    EXPECT_LE(text.size() - lf2 - 1, 100u);
    EXPECT_EQ(text.substr(0, lf1), "user102@mail.local");

    // Not acknowledged (or with another number): offered again.
    Bytes ack(254, 0);
    ack[0] = 1;
    ack[1] = 1;
    ack[2] = static_cast<std::uint8_t>(number + 1);
    EXPECT_EQ(ask(ack), Bytes{0});
    Bytes again = ask({0, 1, 3});
    ASSERT_GT(again.size(), 4u);
    EXPECT_EQ(again[1], 3);
    EXPECT_EQ(Bytes(again.begin() + 2, again.end()), Bytes(m.begin() + 2, m.end()));
    EXPECT_EQ(ask.model.messagesAcked(), 0u);
    ack[2] = number;
    EXPECT_EQ(ask(ack), Bytes{0});
    EXPECT_EQ(ask.model.messagesAcked(), 1u);
    // Gone now (poll 5 is not a message poll); asked for, the next one comes
    // with its own number and the next type.
    EXPECT_EQ(ask({0, 1, 0}), (Bytes{0, 0, 0, 0}));
    ask.model.QueueMessageNow();
    Bytes next = ask({0, 1, 1});
    ASSERT_GT(next.size(), 4u);
    EXPECT_NE(next[2], number);
    EXPECT_EQ(next[3], 'F');
}

TEST(ExchangeModel, AccountingRecordsAreNumberedWithoutGaps) {
    ModelConfig cfg;
    cfg.records = 3;
    Asker ask(cfg);
    EXPECT_EQ(ask({5}), Bytes{0}) << "nothing handed yet: nothing to repeat";
    EXPECT_EQ(RecordOf(ask({4})).substr(0, 10), "REC 000001");
    EXPECT_EQ(RecordOf(ask({5})).substr(0, 10), "REC 000001");
    EXPECT_EQ(RecordOf(ask({5})).substr(0, 10), "REC 000001");
    EXPECT_EQ(RecordOf(ask({4})), ExchangeModel::RecordText(2));
    EXPECT_EQ(RecordOf(ask({4})), ExchangeModel::RecordText(3));
    EXPECT_EQ(ask({4}), Bytes{0}) << "budget used up";
    EXPECT_EQ(RecordOf(ask({5})), ExchangeModel::RecordText(3));
    ask.model.SetRecordBudget(2);
    EXPECT_EQ(RecordOf(ask({4})), ExchangeModel::RecordText(4));
    ask.model.TwinNextRecord(); // record 5 repeats record 4's text
    EXPECT_EQ(RecordOf(ask({4})), ExchangeModel::RecordText(4));
    EXPECT_EQ(RecordOf(ask({5})), ExchangeModel::RecordText(4));
    EXPECT_EQ(ask({4}), Bytes{0});
    EXPECT_EQ(ask.model.recordsHanded(), 5u);

    // Record texts are distinct, carry no NUL and fit a frame.
    std::set<std::string> texts;
    for (std::uint64_t n = 1; n <= 500; ++n) {
        std::string t = ExchangeModel::RecordText(n);
        EXPECT_EQ(t.find('\0'), std::string::npos);
        EXPECT_LT(t.size(), 200u);
        texts.insert(t);
    }
    EXPECT_EQ(texts.size(), 500u);
}

TEST(ExchangeModel, ResendOfTheSameRequestDoesNotSkipARecord) {
    Asker ask;
    Reply first = ask.model.Handle(7, Bytes{4}, 0);
    Reply again = ask.model.Handle(7, Bytes{4}, 0); // reply was lost, gateway resends
    EXPECT_TRUE(again.repeated);
    EXPECT_EQ(again.payload, first.payload);
    EXPECT_EQ(ask.model.recordsHanded(), 1u);
    Reply next = ask.model.Handle(8, Bytes{4}, 0);
    EXPECT_FALSE(next.repeated);
    EXPECT_EQ(RecordOf(next.payload), ExchangeModel::RecordText(2));
    // Same sequence number with another payload is a new request.
    EXPECT_EQ(RecordOf(ask.model.Handle(8, Bytes{5}, 0).payload), ExchangeModel::RecordText(2));
    EXPECT_EQ(ask.model.resends(), 1u);
}

TEST(ExchangeModel, RecordsCanComeAtAPace) {
    ModelConfig cfg;
    cfg.recordEveryMs = 1000;
    cfg.records = 4;
    Asker ask(cfg);
    EXPECT_EQ(ask({4}, 999), Bytes{0});
    EXPECT_EQ(RecordOf(ask({4}, 1000)), ExchangeModel::RecordText(1));
    EXPECT_EQ(ask({4}, 1500), Bytes{0});
    // Three periods later three more are waiting, then the budget ends.
    EXPECT_EQ(RecordOf(ask({4}, 4000)), ExchangeModel::RecordText(2));
    EXPECT_EQ(RecordOf(ask({4}, 4000)), ExchangeModel::RecordText(3));
    EXPECT_EQ(RecordOf(ask({4}, 4001)), ExchangeModel::RecordText(4));
    EXPECT_EQ(ask({4}, 100000), Bytes{0});
    EXPECT_EQ(ask.model.recordsGenerated(), 4u);
}

TEST(ExchangeModel, PersonalAndShortNumberBlocks) {
    ModelConfig cfg;
    cfg.infoBlocks = 3;
    Asker ask(cfg);
    std::vector<std::uint16_t> words;
    for (std::uint8_t page = 0; page < 3; ++page) {
        Bytes p = ask({0, 25, page});
        ASSERT_EQ(p.size(), 3u + PersonalBlockSize);
        EXPECT_EQ(p[2], page);
        for (int w = 0; w < PersonalBlockSize / 2; ++w)
            words.push_back(static_cast<std::uint16_t>(p[3 + 2 * w] << 8 | p[4 + 2 * w]));
    }
    EXPECT_EQ(ask({0, 25, 3})[0], ErrBadParameter) << "past the announced block count";

    // The gateway fetches a short-number block only when a personal word
    // points into it; some blocks must be fetched and some skipped.
    int referenced = 0;
    for (int block = 0; block < ShortBlocks; ++block) {
        bool ref = false;
        for (auto w : words) ref |= w >= block * 236 - 81 && w <= block * 236 + 235;
        referenced += ref;
    }
    EXPECT_GT(referenced, 0);
    EXPECT_LT(referenced, ShortBlocks);

    Bytes s = ask({0, 24, 65});
    ASSERT_EQ(s.size(), 3u + ShortBlockSize);
    EXPECT_EQ(s[2], 65);
    EXPECT_NE(s, ask({0, 24, 64}));
    EXPECT_EQ(ask({0, 24, 66})[0], ErrBadParameter);
}

TEST(ExchangeModel, QueriesEchoAndDependOnTheirQuestion) {
    Asker ask;
    std::set<Bytes> replies;
    for (std::uint8_t sub : {0, 2, 3, 11, 30, 49, 50, 200})
        for (std::uint8_t index : {0, 1, 5, 255}) {
            Bytes r = ask({0, sub, index});
            ASSERT_GE(r.size(), 7u);
            EXPECT_EQ(r[0], 0);
            EXPECT_EQ(r[1], sub);
            EXPECT_EQ(r[2], index);
            replies.insert(r);
        }
    EXPECT_EQ(replies.size(), 32u);
    // A short query still gets its echo; bytes after the index come back
    // at the end, so every request can carry a tag of its own.
    EXPECT_EQ((Bytes{ask({0, 3})[1], ask({0, 3})[2]}), (Bytes{3, 0}));
    Bytes tagged = ask({0, 200, 5});
    tagged.insert(tagged.end(), {0xEE, 7, 0});
    EXPECT_EQ(ask({0, 200, 5, 0xEE, 7, 0}), tagged);
    EXPECT_EQ(ExchangeModel::QueryReply(Bytes{0, 200, 5, 0xEE, 7, 0}), tagged);
    EXPECT_EQ(ask({99}), Bytes{ErrUnknownCommand});
    EXPECT_EQ(ask({}), Bytes{ErrUnknownCommand});
    EXPECT_EQ(ask({1, 13, 4, 4}), (Bytes{0, 13}));
}

TEST(ExchangeModel, WritesAndCommandsAreAnsweredAndKept) {
    Asker ask;
    EXPECT_EQ(ask({1, 17, 0, 1, 2, 3, 4, 0, 0, 0, 9}), Bytes{0});
    EXPECT_EQ(ask.model.messageCounters(), (Bytes{1, 2, 3, 4, 0, 0, 0, 9}));
    EXPECT_EQ(ask({1, 17, 0, 1, 2}), Bytes{ErrBadParameter}) << "not whole entries";

    EXPECT_EQ(ask({18, 3, 1, 10, 11}), Bytes{0});
    EXPECT_EQ(ask.model.lastCommand(), (Bytes{18, 3, 1, 10, 11}));
    EXPECT_EQ(ask({34, 2, 1}), Bytes{0});
    EXPECT_EQ(ask({38, 2, 0}), Bytes{0});
    EXPECT_EQ(ask({18, 3}), Bytes{ErrBadParameter});
    // Short-number store: 24 B1 B3, then fields of L1 and L2 bytes (each length counts itself).
    EXPECT_EQ(ask({36, 1, 2, 3, 'a', 'b', 2, 'c'}), Bytes{0});
    EXPECT_EQ(ask({36, 1, 2, 3, 'a', 'b', 5, 'c'}), Bytes{ErrBadParameter});
    EXPECT_EQ(ask({36, 1, 2, 9, 'a'}), Bytes{ErrBadParameter});
    EXPECT_EQ(ExchangeModel::Classify(Bytes{36, 1, 2}), '#');
    EXPECT_EQ(ask.model.requestCounts().at('#'), 7u);
}

TEST(ExchangeModel, QueueListsRingingLines) {
    ModelConfig cfg;
    cfg.ports = 40;
    Asker ask(cfg);
    bool sawQueue = false;
    for (std::uint64_t t = 0; t <= 60000; t += 3000) {
        Bytes f = ask({33}, t);
        ASSERT_GE(f.size(), 2u);
        ASSERT_EQ(f.size(), 2u + 2u * f[1]);
        for (int i = 0; i < f[1]; ++i)
            EXPECT_EQ(ask.model.lines()[f[2 + 2 * i]].state, LineRinging);
        sawQueue |= f[1] > 0;
    }
    EXPECT_TRUE(sawQueue);
}
