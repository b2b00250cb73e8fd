// Exchange messages ('S') and accounting records ('U') in the dispatcher.
#include <gtest/gtest.h>

#include <string>

#include "dispatch_fixture.h"

using namespace vantor;
using namespace vantor::testing_fakes;

namespace {

Bytes MessageReply(std::uint8_t number, char type, const std::string& text) {
    Bytes reply{0, 1, number, static_cast<std::uint8_t>(type)};
    reply.insert(reply.end(), text.begin(), text.end());
    return reply;
}

Bytes Ack(std::uint8_t number) {
    Bytes ack(254, 0);
    ack[0] = 1;
    ack[1] = 1;
    ack[2] = number;
    return ack;
}

Bytes Record(const std::string& text) {
    Bytes reply{0};
    reply.insert(reply.end(), text.begin(), text.end());
    return reply;
}

} // namespace

TEST_F(DispatchTest, MessageIsMailedAndAcknowledged) {
    Answer('S', MessageReply(0x2A, 'Q', "x\ny\nz"), {0, 1, 0});
    ASSERT_EQ(mail.messages.size(), 1u);
    EXPECT_EQ(mail.messages[0].address, "x");
    EXPECT_EQ(mail.messages[0].type, 'Q');
    EXPECT_EQ(mail.messages[0].subject, "y");
    EXPECT_EQ(mail.messages[0].text, "z");
    EXPECT_EQ(mail.messages[0].flag, '1');
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].label, ">COM");
    EXPECT_EQ(link.sent[0].text, "[111]");
    EXPECT_EQ(link.sent[0].payload, Ack(0x2A));
    EXPECT_EQ(log.lines,
              (std::vector<LogLine>{{"<COM", "TRAP: SMS to x"}, {">602", "Mail: y to x"}}));
    // The acknowledgement's own answer is not awaited.
    EXPECT_EQ(link.State(), LinkState::Idle);
}

TEST_F(DispatchTest, MessageKindNamesAndUnknownLetters) {
    const std::pair<char, std::string> kinds[] = {
        {'F', "FAX"}, {'I', "Internet"}, {'L', "[129]"}, {'V', "[130]"}, {'Z', "ZModem"}};
    for (const auto& [type, name] : kinds) {
        log.lines.clear();
        Answer('S', MessageReply(1, type, "a\nb\nc"));
        EXPECT_EQ(log.lines.front(), (LogLine{"<COM", "TRAP: " + name + " to a"}));
    }
    EXPECT_EQ(mail.messages.size(), 5u);

    // A letter the gateway does not know is not mailed, but still acknowledged.
    log.lines.clear();
    link.sent.clear();
    Answer('S', MessageReply(9, 'K', "a\nb\nc"));
    EXPECT_EQ(mail.messages.size(), 5u);
    EXPECT_TRUE(log.lines.empty());
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].payload, Ack(9));

    // With Com_In off only the mail line stays.
    settings.Com_In = 0;
    log.lines.clear();
    Answer('S', MessageReply(1, 'Q', "a\nb\nc"));
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{">602", "Mail: b to a"}}));
}

TEST_F(DispatchTest, EmptySlotAndExchangeErrorAreNotAcknowledged) {
    settings.Com_PureIn = 0;
    Answer('S', {0, 1, 5, 0});
    EXPECT_EQ(log.status, "<COM     [110]");
    EXPECT_TRUE(log.lines.empty());
    settings.Com_PureIn = 1;
    Answer('S', {0, 1, 5, 0});
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{"<COM", "[110]"}}));
    Answer('S', {7, 1, 5, 'Q', 'a'});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[112]7"}));
    EXPECT_TRUE(link.sent.empty());
    EXPECT_TRUE(mail.messages.empty());
}

TEST_F(DispatchTest, MessageLinesHaveTheirLimits) {
    const std::string r39(39, 'r'), r40(40, 'r'), s39(39, 's'), s40(40, 's');
    auto parts = ReplyDispatcher::SplitMessage(r39 + "\n" + s39 + "\nbody");
    EXPECT_EQ(parts.recipient, r39);
    EXPECT_EQ(parts.subject, s39);
    EXPECT_EQ(parts.body, "body");

    // First line feed beyond the first 40 bytes: everything empty.
    parts = ReplyDispatcher::SplitMessage(r40 + "\n" + "s\nbody");
    EXPECT_EQ(parts.recipient, "");
    EXPECT_EQ(parts.subject, "");
    EXPECT_EQ(parts.body, "");
    // Second one too far: the recipient stays.
    parts = ReplyDispatcher::SplitMessage("r\n" + s40 + "\nbody");
    EXPECT_EQ(parts.recipient, "r");
    EXPECT_EQ(parts.subject, "");
    EXPECT_EQ(parts.body, "");
    // No second line feed at all.
    parts = ReplyDispatcher::SplitMessage("r\nsubject only");
    EXPECT_EQ(parts.recipient, "r");
    EXPECT_EQ(parts.subject, "");
    // The body is cut to 100 characters.
    parts = ReplyDispatcher::SplitMessage("r\ns\n" + std::string(150, 'b'));
    EXPECT_EQ(parts.body, std::string(100, 'b'));

    // A message whose recipient is too long is still forwarded and acknowledged.
    Answer('S', MessageReply(3, 'Q', r40 + "\ns\nbody"));
    ASSERT_EQ(mail.messages.size(), 1u);
    EXPECT_EQ(mail.messages[0].address, "");
    EXPECT_EQ(mail.messages[0].text, "");
    EXPECT_EQ(link.sent.size(), 1u);
    // The text ends at its first 0 byte (the exchange pads its slots).
    Bytes padded = MessageReply(4, 'Q', "a\nb\nc");
    padded.insert(padded.end(), {0, 'j', 'u', 'n', 'k'});
    Answer('S', padded);
    EXPECT_EQ(mail.messages[1].text, "c");
}

TEST_F(DispatchTest, AccountingRecordsGoToFileAndList) {
    FakePlugin plugin;
    dispatcher.SetPluginFeed(&plugin);
    TTimer& ur = link.Timer(LinkTimer::UR);
    settings.URInterval = 1000;
    settings.URIntervalBezDat = 3000;

    Answer('U', {0});
    EXPECT_EQ(ur.Interval(), 3000u);
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[128]"}));

    Answer('U', Record("0123 rec"));
    EXPECT_EQ(ur.Interval(), 1000u);
    ASSERT_EQ(appends.appends.size(), 1u);
    EXPECT_EQ(appends.appends[0].first, "/gw/DATA.NEW");
    EXPECT_EQ(appends.appends[0].second, "0123 rec\r\n");
    EXPECT_EQ(consumers.records, std::vector<std::string>{"0123 rec"});
    EXPECT_EQ(plugin.accLines, std::vector<std::string>{"0123 rec"});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "0123 rec"}));

    // The record text ends at the first 0 byte.
    Bytes withNul = Record("abc");
    withNul.insert(withNul.end(), {0, 'z'});
    Answer('U', withNul);
    EXPECT_EQ(consumers.records.back(), "abc");
    EXPECT_EQ(appends.appends.back().second, "abc\r\n");
}

TEST_F(DispatchTest, AccountingFileFailureKeepsNothingAndAsksAgain) {
    FakePlugin plugin;
    dispatcher.SetPluginFeed(&plugin);
    appends.fail = true;
    Answer('U', Record("r1"));
    Answer('U', Record("r1"));
    EXPECT_TRUE(consumers.records.empty());
    EXPECT_EQ(log.Count("<COM", "r1"), 0);
    // Reported once, not on every retry.
    EXPECT_EQ(log.CountLabel("!Err"), 1);
    EXPECT_EQ(store.BuildRequest('U'), Bytes{5});
    // The plug-in sees each attempt.
    EXPECT_EQ(plugin.accLines.size(), 2u);

    appends.fail = false;
    Answer('U', Record("r1"));
    EXPECT_EQ(consumers.records, std::vector<std::string>{"r1"});
    EXPECT_EQ(store.BuildRequest('U'), Bytes{4});
}
