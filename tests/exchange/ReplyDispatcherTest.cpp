// The reply dispatch on its own: each kind of reply decoded and acted on,
// with the link, the relay and the mail bridge as recording fakes and the
// real data store, accounting file (in memory) and record list.
#include <gtest/gtest.h>

#include <filesystem>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "accounting/AccountingFile.h"
#include "accounting/AccountingRecordList.h"
#include "core/Settings.h"
#include "exchange/DataStore.h"
#include "exchange/MailPort.h"
#include "exchange/ReplyDispatcher.h"
#include "toolkit/VirtualLoop.h"

#include "FakeAppender.h"
#include "RecordingFeed.h"
#include "Recorders.h"

using namespace vantor;
using namespace vantor::test;

namespace {

class FakeReplyLink : public ReplyLink {
public:
    struct Sent {
        std::string text;
        Bytes payload;
    };
    void Enqueue(RequestKind kind, std::int32_t argument) override {
        queued.emplace_back(kind, argument);
    }
    void SendUnawaited(std::string_view text, std::span<const std::uint8_t> payload) override {
        sent.push_back({std::string(text), Bytes(payload.begin(), payload.end())});
    }
    void StartPoll(Poll poll) override { polls.insert(poll); }
    void SetAccountingPace(bool recordsWaiting) override { quickPace = recordsWaiting; }
    void SetPolling(bool on) override { polling = on; }

    std::vector<std::pair<RequestKind, std::int32_t>> queued;
    std::vector<Sent> sent;
    std::set<Poll> polls;
    std::optional<bool> quickPace;
    bool polling = false;
};

class FakeRelay : public RelayedReplies {
public:
    struct ClientReply {
        std::int32_t handle;
        Bytes reply;
        std::uint8_t firstByte;
    };
    void ReplyToClient(std::int32_t handle, std::span<const std::uint8_t> reply,
                       std::uint8_t firstByte) override {
        replies.push_back({handle, Bytes(reply.begin(), reply.end()), firstByte});
    }
    void OfferToCache(std::span<const std::uint8_t> request,
                      std::span<const std::uint8_t> reply) override {
        cached.emplace_back(Bytes(request.begin(), request.end()),
                            Bytes(reply.begin(), reply.end()));
    }
    void FlushCache() override { ++flushes; }
    void ClientRequestSent(std::span<const std::uint8_t>) override {}

    std::vector<ClientReply> replies;
    std::vector<std::pair<Bytes, Bytes>> cached;
    int flushes = 0;
};

class FakeMail : public MailPort {
public:
    struct Message {
        std::string address;
        char type;
        std::string subject, text;
        char flag;
    };
    bool Bound() const override { return bound; }
    bool PollMailboxes() override { return false; }
    bool SendTrap(int) override { return false; }
    void SendStatusMessage(std::string_view address, char addressType, std::string_view subject,
                           std::string_view text, char flag) override {
        messages.push_back(
            {std::string(address), addressType, std::string(subject), std::string(text), flag});
    }
    bool bound = false;
    std::vector<Message> messages;
};

struct MessageBoxCall {
    std::string text, caption;
    unsigned flags;
};

class DispatchTest : public ::testing::Test {
protected:
    // The exchange answers a request of `kind` (`request` as it was sent).
    void Answer(RequestKind kind, Bytes payload, Bytes request = {0}, std::int32_t value = 0) {
        SentRequest record;
        record.kind = kind;
        record.firstByte = request.empty() ? 0 : request[0];
        record.value = value;
        record.payload = std::move(request);
        dispatcher.Dispatch(record, payload);
    }
    bool Started(Poll poll) const { return link.polls.count(poll) != 0; }
    // The texts the record list keeps, oldest first.
    std::vector<std::string> Kept() const {
        std::vector<std::string> texts;
        for (std::uint32_t n = records.FirstKept(); n < records.Total(); ++n)
            texts.emplace_back(records.Text(n).value_or(""));
        return texts;
    }

    VirtualLoop loop;
    Settings settings;
    RecordingLog log;
    NumberTexts texts;
    FakeMail mail;
    FakeRelay relay;
    FakeReplyLink link;
    AppendLog appends;
    AccountingFile accountingFile{"/gw", std::make_unique<FakeAppender>(appends)};
    AccountingRecordList records;
    TDataStore store{log, loop};
    std::vector<MessageBoxCall> boxes;
    int boxAnswer = 1;
    ReplyDispatcher dispatcher{
        {link, store, settings, settings, log, texts, mail, relay, accountingFile, records,
         [this](std::string_view text, std::string_view caption, unsigned flags) {
             boxes.push_back({std::string(text), std::string(caption), flags});
             return boxAnswer;
         },
         "1.00"}};
};

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

TEST_F(DispatchTest, QueryRepliesGoToTheCacheByKind) {
    Answer(RequestKind::PortStructure, {0, 0, 0}, {0, 40, 0});
    Answer(RequestKind::LineStates, {0, 0, 0}, {0, 22, 0});
    Answer(RequestKind::SWState, {0}, {14});
    Answer(RequestKind::Client, {0, 5}, {0, 24, 5});
    ASSERT_EQ(relay.cached.size(), 2u);
    EXPECT_EQ(relay.cached[0].first, (Bytes{0, 40, 0}));
    EXPECT_EQ(relay.cached[1].first, (Bytes{0, 24, 5}));
    EXPECT_EQ(relay.cached[1].second, (Bytes{0, 5}));

    for (char kind : {'#', 'A', 'F', 'U', 'X', 'Y'})
        EXPECT_FALSE(InfoOf(*KindOfLetter(kind)).cached);
    for (char kind : {'C', 'I', 'M', 'S', 'T', 'V', 'p', 's', 'x'})
        EXPECT_TRUE(InfoOf(*KindOfLetter(kind)).cached);
    EXPECT_FALSE(KindOfLetter('Q').has_value());
}

TEST_F(DispatchTest, ConfigurationAndCounterRepliesAreLoggedByTheirSwitches) {
    settings.Com_In = 0;
    Answer(RequestKind::Configuration, {0, 1, 2, 3});
    EXPECT_TRUE(log.lines.empty());
    settings.Com_In = 1;
    Answer(RequestKind::Configuration, {0, 1, 2, 3});
    Answer(RequestKind::Configuration, {9});
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{"<COM", "[100]"}, {"<COM", "[100] [138]9"}}));

    log.lines.clear();
    settings.Com_PureIn = 0;
    Answer(RequestKind::MessageCounters, {0});
    Answer(RequestKind::MessageCounters, {3});
    settings.Com_PureIn = 1;
    Answer(RequestKind::MessageCounters, {0});
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{"<COM", "[131]3"}, {"<COM", "[132]"}}));
}

TEST_F(DispatchTest, InfoCheckStatuses) {
    // Configuration byte 4 = 2 and byte 5 = 0: the exchange is the right one.
    store.DecodeReply(RequestKind::Configuration, Bytes{0, 0, 0, 0, 0, 2, 0});
    settings.Com_In = 0;
    link.polling = true;
    Answer(RequestKind::Identification, {0, 0x3, 0x0A, 0, 0, 0, 0, 0});
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(boxes.empty());
    settings.Com_In = 1;
    Answer(RequestKind::Identification, {0, 0x3, 0x0A, 0, 0, 0, 0, 0});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[101] [145]"}));

    // An exchange error: logged whatever Com_In says.
    settings.Com_In = 0;
    Answer(RequestKind::Identification, {4});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[101] [138]4"}));
    EXPECT_TRUE(link.polling);
}

TEST_F(DispatchTest, WrongExchangeStopsPollingWithAStopBox) {
    store.DecodeReply(RequestKind::Configuration, Bytes{0, 0, 0, 0, 0, 1, 0}); // byte 4 is not 2
    link.polling = true;
    Answer(RequestKind::Identification, {0, 0xB, 0x05, 0, 3, 0, 0, 0});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, 0x10u);
    EXPECT_EQ(boxes[0].caption, "[137]");
    EXPECT_EQ(boxes[0].text, "[139]1.00    [140]B.05\n[141]");
    EXPECT_FALSE(link.polling);
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[101][142]"}));
}

TEST_F(DispatchTest, DoubtfulExchangeAsksAndGoesOnOnlyOnYes) {
    store.DecodeReply(RequestKind::Configuration, Bytes{0, 0, 0, 0, 0, 2, 1}); // byte 5 is not 0
    link.polling = true;
    boxAnswer = 7; // No
    Answer(RequestKind::Identification, {0, 0x12, 0xAB, 0, 0, 0, 0, 0});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, 0x24u);
    EXPECT_EQ(boxes[0].caption, "[123]");
    EXPECT_EQ(boxes[0].text, "[139]1.00    [140]12.AB\n[143]");
    EXPECT_FALSE(link.polling);
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[101][144]"}));

    boxAnswer = 6; // Yes
    Answer(RequestKind::Identification, {0, 0x12, 0xAB, 0, 0, 0, 0, 0});
    EXPECT_TRUE(link.polling);
}

TEST_F(DispatchTest, PortListStartsThePollTimersOnlyWhenItListsPorts) {
    mail.bound = true;
    Answer(RequestKind::PortList, {0, 0, 0}); // the header alone lists nothing
    EXPECT_FALSE(Started(Poll::MessageCounters));
    EXPECT_FALSE(Started(Poll::Accounting));
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[105]0"}));
    Answer(RequestKind::PortList, {5, 0, 0, 1, 2, 0, 0});
    EXPECT_FALSE(Started(Poll::MessageSlots));
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[105]5"}));

    Answer(RequestKind::PortList, {0, 0, 0, 1, 2, 0, 0});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[106]"}));
    EXPECT_EQ(store.PortCount(), 1);
    EXPECT_EQ(store.Port(0).Number(), "12");
    EXPECT_TRUE(Started(Poll::MessageCounters));
    EXPECT_TRUE(Started(Poll::MessageSlots));
    EXPECT_TRUE(Started(Poll::Accounting));
    EXPECT_FALSE(Started(Poll::LineStates)); // no plug-in
}

TEST_F(DispatchTest, PortListWithoutMailOrAccountingAndWithThePlugIn) {
    RecordingFeed plugin;
    dispatcher.SetPluginFeed(&plugin);
    settings.ReadUct = 0;
    Answer(RequestKind::PortList,
           {0, 0, 0}); // even a failed port list starts the AN poll for the plug-in
    EXPECT_TRUE(Started(Poll::LineStates));
    Answer(RequestKind::PortList, {0, 0, 0, 1, 2, 0, 0});
    EXPECT_FALSE(Started(Poll::MessageCounters));
    EXPECT_FALSE(Started(Poll::Accounting));
}

TEST_F(DispatchTest, LineStatesFeedThePlugInAndAskForCallerData) {
    RecordingFeed plugin;
    store.SetPluginFeed(&plugin);
    dispatcher.SetPluginFeed(&plugin);
    // First reply: nothing kept yet, so the plug-in gets nothing.
    Answer(RequestKind::LineStates, {0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0});
    EXPECT_TRUE(plugin.stateCalls.empty());
    // Line 1 enters state 8 with bit 0 set; line 0 is in state 3 with flags.
    Answer(RequestKind::LineStates, {0, 0, 0, 3, 0, 0, 0xFF, 8, 0, 0, 1});
    EXPECT_EQ(link.queued,
              (std::vector<std::pair<RequestKind, std::int32_t>>{{RequestKind::CallerData, 1}}));
    ASSERT_EQ(plugin.stateCalls.size(), 1u);
    EXPECT_EQ(plugin.stateCalls[0].first, 2);
    EXPECT_EQ(plugin.stateCalls[0].second, (Bytes{3, 0, 0, 0, 8, 0, 0, 1}));
    // The store keeps the reply with the cleared flags.
    EXPECT_EQ(store.ANSnapshot()[6], 0);
    // Staying in state 8 with the bit set asks for nothing more.
    Answer(RequestKind::LineStates, {0, 0, 0, 3, 0, 0, 0, 8, 0, 0, 1});
    EXPECT_EQ(link.queued.size(), 1u);
    EXPECT_EQ(log.Count("<COM", "[102]"), 3);
}

TEST_F(DispatchTest, MessageIsMailedAndAcknowledged) {
    Answer(RequestKind::MessageSlot, MessageReply(0x2A, 'Q', "x\ny\nz"), {0, 1, 0});
    ASSERT_EQ(mail.messages.size(), 1u);
    EXPECT_EQ(mail.messages[0].address, "x");
    EXPECT_EQ(mail.messages[0].type, 'Q');
    EXPECT_EQ(mail.messages[0].subject, "y");
    EXPECT_EQ(mail.messages[0].text, "z");
    EXPECT_EQ(mail.messages[0].flag, '1');
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].text, "[111]");
    EXPECT_EQ(link.sent[0].payload, Ack(0x2A));
    EXPECT_EQ(log.lines,
              (std::vector<LogLine>{{"<COM", "TRAP: SMS to x"}, {">602", "Mail: y to x"}}));
}

TEST_F(DispatchTest, MessageKindNamesAndUnknownLetters) {
    const std::pair<char, std::string> kinds[] = {
        {'F', "FAX"}, {'I', "Internet"}, {'L', "[129]"}, {'V', "[130]"}, {'Z', "ZModem"}};
    for (const auto& [type, name] : kinds) {
        log.lines.clear();
        Answer(RequestKind::MessageSlot, MessageReply(1, type, "a\nb\nc"));
        EXPECT_EQ(log.lines.front(), (LogLine{"<COM", "TRAP: " + name + " to a"}));
    }
    EXPECT_EQ(mail.messages.size(), 5u);

    // A letter the gateway does not know is not mailed, but still acknowledged.
    log.lines.clear();
    link.sent.clear();
    Answer(RequestKind::MessageSlot, MessageReply(9, 'K', "a\nb\nc"));
    EXPECT_EQ(mail.messages.size(), 5u);
    EXPECT_TRUE(log.lines.empty());
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].payload, Ack(9));

    // With Com_In off only the mail line stays.
    settings.Com_In = 0;
    log.lines.clear();
    Answer(RequestKind::MessageSlot, MessageReply(1, 'Q', "a\nb\nc"));
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{">602", "Mail: b to a"}}));
}

TEST_F(DispatchTest, EmptySlotAndExchangeErrorAreNotAcknowledged) {
    settings.Com_PureIn = 0;
    Answer(RequestKind::MessageSlot, {0, 1, 5, 0});
    EXPECT_EQ(log.status, "<COM     [110]");
    EXPECT_TRUE(log.lines.empty());
    settings.Com_PureIn = 1;
    Answer(RequestKind::MessageSlot, {0, 1, 5, 0});
    EXPECT_EQ(log.lines, (std::vector<LogLine>{{"<COM", "[110]"}}));
    Answer(RequestKind::MessageSlot, {7, 1, 5, 'Q', 'a'});
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
    Answer(RequestKind::MessageSlot, MessageReply(3, 'Q', r40 + "\ns\nbody"));
    ASSERT_EQ(mail.messages.size(), 1u);
    EXPECT_EQ(mail.messages[0].address, "");
    EXPECT_EQ(mail.messages[0].text, "");
    EXPECT_EQ(link.sent.size(), 1u);
    // The text ends at its first 0 byte (the exchange pads its slots).
    Bytes padded = MessageReply(4, 'Q', "a\nb\nc");
    padded.insert(padded.end(), {0, 'j', 'u', 'n', 'k'});
    Answer(RequestKind::MessageSlot, padded);
    EXPECT_EQ(mail.messages[1].text, "c");
}

TEST_F(DispatchTest, AccountingRecordsGoToFileAndList) {
    RecordingFeed plugin;
    dispatcher.SetPluginFeed(&plugin);

    Answer(RequestKind::Accounting, {0});
    EXPECT_EQ(link.quickPace, false);
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "[128]"}));

    Answer(RequestKind::Accounting, Record("0123 rec"));
    EXPECT_EQ(link.quickPace, true);
    ASSERT_EQ(appends.appends.size(), 1u);
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    EXPECT_EQ(appends.appends[0].first, std::string("/gw") + separator + "DATA.NEW");
    EXPECT_EQ(appends.appends[0].second, "0123 rec\r\n");
    EXPECT_EQ(Kept(), std::vector<std::string>{"0123 rec"});
    EXPECT_EQ(plugin.accLines, std::vector<std::string>{"0123 rec"});
    EXPECT_EQ(log.lines.back(), (LogLine{"<COM", "0123 rec"}));

    // The record text ends at the first 0 byte.
    Bytes withNul = Record("abc");
    withNul.insert(withNul.end(), {0, 'z'});
    Answer(RequestKind::Accounting, withNul);
    EXPECT_EQ(Kept().back(), "abc");
    EXPECT_EQ(appends.appends.back().second, "abc\r\n");
}

TEST_F(DispatchTest, AccountingFileFailureKeepsNothingAndAsksAgain) {
    RecordingFeed plugin;
    dispatcher.SetPluginFeed(&plugin);
    appends.fail = true;
    Answer(RequestKind::Accounting, Record("r1"));
    Answer(RequestKind::Accounting, Record("r1"));
    EXPECT_TRUE(Kept().empty());
    EXPECT_EQ(log.Count("<COM", "r1"), 0);
    // Reported once, not on every retry.
    EXPECT_EQ(log.CountLabel("!Err"), 1);
    EXPECT_TRUE(accountingFile.AskAgain()); // the next request is 05
    // The plug-in sees each attempt.
    EXPECT_EQ(plugin.accLines.size(), 2u);

    appends.fail = false;
    Answer(RequestKind::Accounting, Record("r1"));
    EXPECT_EQ(Kept(), std::vector<std::string>{"r1"});
    EXPECT_FALSE(accountingFile.AskAgain());
}

TEST_F(DispatchTest, RelayedReplyGoesToItsClient) {
    Answer(RequestKind::Client, {0, 0x10, 0x20}, {2}, 41);
    ASSERT_EQ(relay.replies.size(), 1u);
    EXPECT_EQ(relay.replies[0].handle, 41);
    EXPECT_EQ(relay.replies[0].firstByte, 2);
    EXPECT_EQ(relay.replies[0].reply, (Bytes{0, 0x10, 0x20}));
}

TEST_F(DispatchTest, ChangedExchangePictureFlushesTheCache) {
    Answer(RequestKind::Configuration, {0, 1, 2, 3});
    EXPECT_EQ(relay.flushes, 1);
    Answer(RequestKind::Configuration, {0, 1, 2, 3}); // the same again
    EXPECT_EQ(relay.flushes, 1);
    Answer(RequestKind::Identification, {0, 5, 6, 0, 0, 0, 0, 0});
    EXPECT_EQ(relay.flushes, 2);
}

TEST_F(DispatchTest, EmptyRepliesOfEveryKindDoNoHarm) {
    for (char letter : {'A', 'C', 'I', 'M', 'S', 'U', 'V', 'X', 'p', 's', 'x', 'F', 'Y', '#'}) {
        Answer(*KindOfLetter(letter), {});
        EXPECT_TRUE(link.sent.empty()) << letter;
    }
}
