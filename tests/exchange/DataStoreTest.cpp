// The exchange data store: request payloads, reply decoding, downloads,
// counters and the command ring.
#include "exchange/DataStore.h"

#include "RecordingFeed.h"
#include "Recorders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

#include <unistd.h>

namespace vantor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace vantor::test;

class DataStoreTest : public ::testing::Test {
protected:
    // A port-list reply holding these numbers (digit codes of '1'..'9' and '0').
    static Bytes PortList(const std::vector<std::string>& numbers) {
        Bytes reply{0, 0x0E, 0};
        for (const std::string& n : numbers) {
            for (std::size_t i = 0; i < 4; ++i) {
                std::uint8_t code = 0;
                if (i < n.size()) code = n[i] == '0' ? 10 : static_cast<std::uint8_t>(n[i] - '0');
                reply.push_back(code);
            }
        }
        return reply;
    }

    // Decodes and counts the replies that changed the exchange's picture.
    int Decode(RequestKind kind, const Bytes& reply) {
        const DecodeResult result = store.DecodeReply(kind, reply);
        changes += result.exchangeChanged;
        return result.status;
    }

    int changes = 0;
    RecordingLog log; // faults: "!Err" lines
    RecordingFeed feed;
    TDateTime clock = 46000.5;
    TDataStore store{log, [this] { return clock; }};
};

TEST_F(DataStoreTest, FixedRequests) {
    EXPECT_EQ(store.BuildRequest(RequestKind::LineStates), (Bytes{0x00, 0x16, 0x00}));
    EXPECT_EQ(store.BuildRequest(RequestKind::SWState), (Bytes{0x0E}));
    EXPECT_EQ(store.BuildRequest(RequestKind::Configuration), (Bytes{0x0D}));
    EXPECT_EQ(store.BuildRequest(RequestKind::Identification), (Bytes{0x02}));
    EXPECT_EQ(store.BuildRequest(RequestKind::PortList), (Bytes{0x00, 0x0E, 0x00}));
    EXPECT_EQ(store.BuildRequest(RequestKind::PortStructure), (Bytes{0x00, 0x28, 0x00}));
    EXPECT_EQ(store.BuildRequest(RequestKind::Queue), (Bytes{0x21}));
    EXPECT_EQ(store.BuildRequest(RequestKind::Accounting), (Bytes{0x04}));
    EXPECT_EQ(store.BuildRequest(RequestKind::MessageCounters), (Bytes{0x01, 0x11, 0x00}));
    EXPECT_TRUE(store.BuildRequest(RequestKind::Client).empty());
}

TEST_F(DataStoreTest, MessageSlotCounterCyclesThroughFour) {
    std::vector<int> slots;
    for (int i = 0; i < 6; ++i) slots.push_back(store.BuildRequest(RequestKind::MessageSlot).at(2));
    EXPECT_EQ(slots, (std::vector<int>{0, 1, 2, 3, 0, 1}));
    EXPECT_EQ(store.BuildRequest(RequestKind::MessageSlot), (Bytes{0x00, 0x01, 0x02}));
}

TEST_F(DataStoreTest, CallerDataRequestIsRelativeToLineOffset) {
    store.DecodeReply(RequestKind::Identification,
                      Bytes{0, 1, 2, 10, 3, 0, 0, 0}); // line offset 10
    EXPECT_EQ(store.BuildRequest(RequestKind::CallerData, 14), (Bytes{0x00, 0x2F, 4}));
    EXPECT_EQ(store.BuildRequest(RequestKind::CallerData, 3),
              (Bytes{0x00, 0x2F, 249})); // modulo 256
}

TEST_F(DataStoreTest, MessageAcknowledgement) {
    const Bytes ack = store.BuildMessageAck(7);
    ASSERT_EQ(ack.size(), 254u);
    EXPECT_EQ(ack[0], 1);
    EXPECT_EQ(ack[1], 1);
    EXPECT_EQ(ack[2], 7);
    EXPECT_TRUE(std::all_of(ack.begin() + 3, ack.end(), [](auto b) { return b == 0; }));
}

TEST_F(DataStoreTest, SnapshotsKeepWholeReplyWithTimeAndAreCut) {
    Bytes an(300);
    std::iota(an.begin(), an.end(), 0);
    an[0] = 5; // stored whatever the result byte
    EXPECT_EQ(store.DecodeReply(RequestKind::LineStates, an).status, 0);
    EXPECT_EQ(store.ANLength(), 256u);
    EXPECT_EQ(store.ANSnapshot()[255], 255);
    EXPECT_EQ(store.ANTime(), 46000.5);
    EXPECT_EQ(store.LineCount(), 63);

    clock = 46001.0;
    EXPECT_EQ(store.DecodeReply(RequestKind::SWState, Bytes(20, 9)).status, 0);
    EXPECT_EQ(store.SWLength(), 12u);
    EXPECT_EQ(store.SWTime(), 46001.0);

    // An empty reply changes nothing.
    EXPECT_EQ(store.DecodeReply(RequestKind::LineStates, Bytes{}).status, 0);
    EXPECT_EQ(store.ANLength(), 256u);
}

TEST_F(DataStoreTest, ConfigurationFlushesCacheOnlyWhenChanged) {
    Bytes reply(17, 0);
    reply[5] = 2;
    EXPECT_EQ(Decode(RequestKind::Configuration, reply), 128);
    EXPECT_EQ(changes, 1); // differs from the zeroed start value
    EXPECT_EQ(Decode(RequestKind::Configuration, reply), 128);
    EXPECT_EQ(changes, 1);

    Bytes longer = reply;
    longer.resize(25, 0x77); // bytes past 16 are not compared
    EXPECT_EQ(Decode(RequestKind::Configuration, longer), 128);
    EXPECT_EQ(changes, 1);

    reply[16] = 1; // the 16th configuration byte
    EXPECT_EQ(Decode(RequestKind::Configuration, reply), 128);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(store.Configuration()[15], 1);

    Bytes failed = reply;
    failed[0] = 9;
    failed[1] = 0x55;
    EXPECT_EQ(Decode(RequestKind::Configuration, failed), 9);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(store.Configuration()[0], 0);
}

TEST_F(DataStoreTest, InfoCheckStatuses) {
    store.SetPluginFeed(&feed);
    const Bytes info{0, 0x12, 0x34, 0, 3, 0, 0, 0};

    EXPECT_EQ(store.DecodeReply(RequestKind::Identification, info).status,
              130); // configuration byte 4 not 2

    Bytes config(17, 0);
    config[5] = 2;
    config[6] = 1;
    store.DecodeReply(RequestKind::Configuration, config);
    EXPECT_EQ(store.DecodeReply(RequestKind::Identification, info).status, 131); // byte 5 not 0

    config[6] = 0;
    store.DecodeReply(RequestKind::Configuration, config);
    EXPECT_EQ(store.DecodeReply(RequestKind::Identification, info).status, 128);
    EXPECT_EQ(store.ExchangeInfo()[0], 0x12);
    EXPECT_EQ(store.ExchangeInfo()[3], 3);
    EXPECT_EQ(feed.lastInfo, (Bytes{0x12, 0x34, 0, 3, 0, 0, 0}));

    EXPECT_EQ(store.DecodeReply(RequestKind::Identification, Bytes{4, 9, 9}).status, 4);
    EXPECT_EQ(store.ExchangeInfo()[0], 0x12);
}

TEST_F(DataStoreTest, InfoChangeFlushesCacheAndLargeBlockCountIsReported) {
    Decode(RequestKind::Identification, Bytes{0, 1, 2, 3, 4});
    EXPECT_EQ(changes, 1);
    Decode(RequestKind::Identification, Bytes{0, 1, 2, 3, 4});
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(log.HasLabel("!Err"));
    Decode(RequestKind::Identification, Bytes{0, 1, 2, 3, 40});
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(log.CountLabel("!Err"), 1);
    EXPECT_EQ(store.PersonalBlocks(), 30);
}

TEST_F(DataStoreTest, PortListDecodesNumbersAndFeedsPlugin) {
    store.SetPluginFeed(&feed);
    Bytes reply = PortList({"201", "12", "3000"});
    reply.push_back(1); // a partial fourth entry is not a port
    EXPECT_EQ(store.DecodeReply(RequestKind::PortList, reply).status, 0);
    ASSERT_EQ(store.PortCount(), 3);
    EXPECT_EQ(store.Port(0).Number(), "201");
    EXPECT_EQ(store.Port(1).Number(), "12");
    EXPECT_EQ(store.Port(2).Number(), "3000");
    EXPECT_EQ(feed.lastPortCount, 3);
    EXPECT_EQ(Bytes(feed.lastLines.begin(), feed.lastLines.begin() + 12),
              (Bytes{'2', '0', '1', 0, '1', '2', 0, 0, '3', '0', '0', '0'}));

    // An error reply changes nothing.
    Bytes failed = PortList({"9"});
    failed[0] = 1;
    EXPECT_EQ(store.DecodeReply(RequestKind::PortList, failed).status, 0);
    EXPECT_EQ(store.PortCount(), 3);
}

TEST_F(DataStoreTest, PortListAboveCapacityIsCut) {
    std::vector<std::string> numbers;
    for (int i = 0; i < 60; ++i) numbers.push_back(std::to_string(100 + i));
    store.DecodeReply(RequestKind::PortList, PortList(numbers));
    EXPECT_EQ(store.PortCount(), 56);
    EXPECT_EQ(store.Port(55).Number(), "155");
    EXPECT_EQ(log.CountLabel("!Err"), 1);
    EXPECT_EQ(store.BuildRequest(RequestKind::MessageCounters).size(), 3u + 4 * 56);
}

TEST_F(DataStoreTest, CountersUseTheirArrangementAndExactNumbers) {
    store.DecodeReply(RequestKind::PortList, PortList({"12", "123", "12"}));
    EXPECT_EQ(store.FindPort("12"), 0);
    EXPECT_EQ(store.FindPort("123"), 1);
    EXPECT_EQ(store.FindPort("1"), 255);

    EXPECT_EQ(store.SetCounters("123", 1, 2, 3, 4), 4);
    EXPECT_EQ(store.AddCounters("12", 250, 1, 1, 0), 0);
    EXPECT_EQ(store.AddCounters("12", 10, 0, 0, 0), 0); // 260 modulo 256
    EXPECT_EQ(store.SetCounters("999", 1, 1, 1, 1), 255);

    EXPECT_EQ(store.BuildRequest(RequestKind::MessageCounters),
              (Bytes{0x01, 0x11, 0x00, 4, 1, 1, 0, 1, 3, 2, 4, 0, 0, 0, 0}));
    store.ClearCounters();
    EXPECT_EQ(store.BuildRequest(RequestKind::MessageCounters),
              (Bytes{0x01, 0x11, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(DataStoreTest, PortStructureQueueAndCallerDataFeeds) {
    store.SetPluginFeed(&feed);
    store.DecodeReply(RequestKind::Identification,
                      Bytes{0, 0, 0, 20, 0, 0, 0, 0}); // line offset 20

    Bytes ports(150, 0);
    std::iota(ports.begin() + 3, ports.end(), 1);
    store.DecodeReply(RequestKind::PortStructure, ports);
    EXPECT_EQ(store.PortStructure()[0], 1);
    EXPECT_EQ(store.PortStructure()[143], 144);
    EXPECT_EQ(feed.lastPorts.size(), 144u);

    EXPECT_EQ(store.DecodeReply(RequestKind::Queue, Bytes{0, 5, 6}).status, 0);
    EXPECT_EQ(feed.lastFrontOffset, 20);
    EXPECT_EQ(feed.lastFront, (Bytes{5, 6}));
    EXPECT_EQ(store.DecodeReply(RequestKind::Queue, Bytes{3, 5, 6}).status, 3);

    store.DecodeReply(RequestKind::LineStates, Bytes{0, 0, 0, 8, 1, 2, 1, 2, 0, 0, 0});
    Bytes clip(14, 0);
    clip[2] = 2;
    clip[11] = '5';
    clip[12] = '5';
    clip[13] = '1';
    feed.calls.clear();
    EXPECT_EQ(store.DecodeReply(RequestKind::CallerData, clip).status, 0);
    EXPECT_EQ(feed.calls, (std::vector<std::string>{"PutCLIP", "PutStates"}));
    EXPECT_EQ(feed.lastCLIPLine, 22);
    EXPECT_EQ(feed.lastCLIP, (Bytes{'5', '5', '1'}));
    EXPECT_EQ(feed.lastLineCount, 2);
    EXPECT_EQ(feed.lastStates, (Bytes{8, 1, 2, 1, 2, 0, 0, 0}));

    feed.active = false;
    feed.calls.clear();
    store.DecodeReply(RequestKind::CallerData, clip);
    store.DecodeReply(RequestKind::Queue, Bytes{0, 1});
    EXPECT_TRUE(feed.calls.empty());
}

// Runs the download as the dispatcher and the tick do, returning the block
// numbers of the requests sent for the personal data, then the short numbers.
struct DownloadRun {
    std::vector<int> personal, shorts;
};

DownloadRun RunDownload(TDataStore& store, const std::function<Bytes(bool personal, int)>& reply) {
    DownloadRun run;
    store.SetBlockCounter(0);
    RequestKind kind = RequestKind::PersonalData;
    for (int guard = 0; guard < 200; ++guard) {
        const Bytes request = store.BuildRequest(kind);
        int status;
        if (request.empty()) {
            status = store.SkipBlock(kind);
        } else {
            (kind == RequestKind::PersonalData ? run.personal : run.shorts).push_back(request[2]);
            status = store.DecodeReply(kind, reply(kind == RequestKind::PersonalData, request[2]))
                         .status;
        }
        if (status == 129) {
            store.SetBlockCounter(store.BlockCounter() + 1);
        } else if (kind == RequestKind::PersonalData) {
            store.SetBlockCounter(0);
            kind = RequestKind::ShortNumbers;
        } else {
            break;
        }
    }
    return run;
}

TEST_F(DataStoreTest, PersonalThenShortNumberDownload) {
    store.SetPluginFeed(&feed);
    store.DecodeReply(RequestKind::Identification,
                      Bytes{0, 0, 0, 0, 3, 0, 0, 0}); // three personal blocks

    // Personal word 0 points at 10 (block 0), word 40 (block 1) at 5 x 236,
    // word 70 (block 2) at 65 x 236 + 100 (block 65 only).
    auto reply = [](bool personal, int block) {
        Bytes r(3 + (personal ? 64 : 236), 0);
        if (personal) {
            if (block == 0) {
                r[3] = 0;
                r[4] = 10;
            }
            if (block == 1) {
                r[3 + 16] = (5 * 236) >> 8;
                r[3 + 17] = (5 * 236) & 0xFF;
            }
            if (block == 2) {
                r[3 + 12] = (65 * 236 + 100) >> 8;
                r[3 + 13] = (65 * 236 + 100) & 0xFF;
            }
        } else {
            r[3] = static_cast<std::uint8_t>(block + 100);
        }
        return r;
    };
    const DownloadRun run = RunDownload(store, reply);
    EXPECT_EQ(run.personal, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(run.shorts, (std::vector<int>{0, 5, 65}));
    EXPECT_EQ(store.ShortNumbers()[5 * 236], 105);
    EXPECT_EQ(store.ShortNumbers()[65 * 236], 165);
    EXPECT_EQ(std::count(feed.calls.begin(), feed.calls.end(), "PutShorts"), 1);
    EXPECT_EQ(feed.lastShorts[5 * 236], 105);
    EXPECT_EQ(feed.lastPersonal.size(), 960u);
}

TEST_F(DataStoreTest, BlockReferenceBoundsAndUnannouncedWords) {
    // Info byte 3 = 1: only the first 32 words (personal block 0) count.
    store.DecodeReply(RequestKind::Identification, Bytes{0, 0, 0, 0, 1, 0, 0, 0});
    Bytes block(67, 0);
    for (std::size_t i = 3; i < block.size(); i += 2) { // every word 0x0F00 = 3840
        block[i] = 0x0F;
        block[i + 1] = 0x00;
    }
    block[3] = (236 + 235) >> 8; // word 0 = 471, high byte first
    block[4] = (236 + 235) & 0xFF;
    store.SetBlockCounter(0);
    store.DecodeReply(RequestKind::PersonalData, block);
    block[3] = 0x27; // word 32 = 0x2710 = 10000 (block 42), not announced
    block[4] = 0x10;
    store.SetBlockCounter(1);
    store.DecodeReply(RequestKind::PersonalData, block);

    EXPECT_FALSE(store.ShortBlockReferenced(0));  // 471 > 235
    EXPECT_TRUE(store.ShortBlockReferenced(1));   // 471 = 236 + 235
    EXPECT_TRUE(store.ShortBlockReferenced(2));   // 2 x 236 - 81 = 391 <= 471
    EXPECT_FALSE(store.ShortBlockReferenced(3));  // 3 x 236 - 81 = 627 > 471
    EXPECT_FALSE(store.ShortBlockReferenced(15)); // 15 x 236 + 235 = 3775 < 3840
    EXPECT_TRUE(store.ShortBlockReferenced(16));
    EXPECT_FALSE(store.ShortBlockReferenced(17)); // 17 x 236 - 81 = 3931 > 3840
    EXPECT_FALSE(store.ShortBlockReferenced(42));

    store.DecodeReply(RequestKind::Identification, Bytes{0, 0, 0, 0, 2, 0, 0, 0});
    EXPECT_TRUE(store.ShortBlockReferenced(42));
}

TEST_F(DataStoreTest, PersonalBlockErrorAndOverLongReplies) {
    store.DecodeReply(RequestKind::Identification, Bytes{0, 0, 0, 0, 2, 0, 0, 0});
    store.SetBlockCounter(0);
    EXPECT_EQ(store.DecodeReply(RequestKind::PersonalData, Bytes{3, 0, 0, 1, 1}).status,
              0); // exchange error
    Bytes big(400, 0xEE);
    big[0] = 0;
    EXPECT_EQ(store.DecodeReply(RequestKind::PersonalData, big).status, 129);
    store.SetBlockCounter(1);
    EXPECT_EQ(store.DecodeReply(RequestKind::PersonalData, big).status, 128);
    // Only 64 bytes per block were taken: block 2 is untouched.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(store.PersonalData().data());
    EXPECT_EQ(bytes[127], 0xEE);
    EXPECT_EQ(bytes[128], 0);

    // A block counter out of range is refused, not written.
    store.SetBlockCounter(30);
    store.DecodeReply(RequestKind::PersonalData, big);
    EXPECT_EQ(log.CountLabel("!Err"), 1);
    store.SetBlockCounter(66);
    EXPECT_TRUE(store.BuildRequest(RequestKind::ShortNumbers).empty());
    EXPECT_EQ(store.DecodeReply(RequestKind::ShortNumbers, big).status, 128);
}

TEST_F(DataStoreTest, LineStateFeedUsesPreviousSnapshot) {
    store.SetPluginFeed(&feed);
    std::vector<int> queued;
    auto queue = [&](int line) { queued.push_back(line); };

    // Line 0 idle with flag, line 1 ringing (8) without flag, line 2 state 2.
    Bytes first{0, 0, 0, 1, 0, 0, 1, 8, 0, 0, 0, 2, 0, 0, 1};
    store.LineStateFeed(first, queue);
    EXPECT_TRUE(feed.calls.empty()); // nothing kept yet
    EXPECT_EQ(first[6], 1);          // and nothing changed
    store.DecodeReply(RequestKind::LineStates, first);

    Bytes second{0, 0, 0, 1, 0, 0, 1, 8, 0, 0, 1, 2, 0, 0, 1, 8, 0, 0, 1};
    store.LineStateFeed(second, queue);
    EXPECT_EQ(queued, (std::vector<int>{1}));
    EXPECT_EQ(second[6], 0);          // state 1: flags cleared
    EXPECT_EQ(second[14], 1);         // state 2 keeps them
    EXPECT_EQ(feed.lastLineCount, 3); // the previous snapshot's lines
    EXPECT_EQ(feed.lastStates, Bytes(second.begin() + 3, second.begin() + 15));
    store.DecodeReply(RequestKind::LineStates, second);
    EXPECT_EQ(store.ANSnapshot()[6], 0);

    // Staying in state 8 with the bit set asks for nothing more.
    Bytes third = second;
    store.LineStateFeed(third, queue);
    EXPECT_EQ(queued, (std::vector<int>{1}));

    // A reply shorter than the previous one is only read as far as it goes.
    Bytes shorter{0, 0, 0, 8, 0, 0, 1};
    store.DecodeReply(RequestKind::LineStates, Bytes{0, 0, 0, 8, 0, 0, 0, 8, 0, 0, 0});
    store.LineStateFeed(shorter, queue);
    EXPECT_EQ(feed.lastLineCount, 1);
    EXPECT_EQ(queued, (std::vector<int>{1, 0}));
}

TEST_F(DataStoreTest, CommandRingWraps) {
    TDataStore::CommandRecord record{};
    for (int i = 0; i < 32; ++i) {
        record[0] = static_cast<std::uint8_t>(i);
        EXPECT_EQ(store.StoreCommand(record), i);
    }
    record[0] = 0;
    record[4] = 77;
    EXPECT_EQ(store.StoreCommand(record), 0);
    EXPECT_EQ(store.CommandRingIndex(), 1);
    EXPECT_EQ(store.BuildRequest(RequestKind::PluginCommand, 0), (Bytes{0x12, 77, 0x53}));
    EXPECT_EQ(store.CommandSlot(1)[0], 1);
}

TEST_F(DataStoreTest, CommandRequests) {
    auto build = [&](std::uint8_t kind, std::initializer_list<std::uint8_t> data,
                     std::uint8_t b1 = 0, std::uint8_t b3 = 0) {
        TDataStore::CommandRecord r{};
        r[0] = kind;
        r[1] = b1;
        r[3] = b3;
        r[4] = 0x05; // port 0x0105: the low byte is the port
        r[5] = 0x01;
        std::copy(data.begin(), data.end(), r.begin() + 8);
        return store.BuildRequest(RequestKind::PluginCommand, store.StoreCommand(r));
    };
    EXPECT_EQ(build(1, {}), (Bytes{0x12, 5, 0x54}));
    EXPECT_EQ(build(2, {}), (Bytes{0x12, 5, 0x5B}));
    EXPECT_EQ(build(3, {}), (Bytes{0x12, 5, 0x5C}));
    EXPECT_EQ(build(7, {}), (Bytes{0x12, 5, 0x58}));
    EXPECT_EQ(build(9, {}), (Bytes{0x12, 5, 0x57}));
    EXPECT_EQ(build(5, {4}), (Bytes{0x22, 5, 4}));
    EXPECT_EQ(build(8, {6}), (Bytes{0x26, 5, 6}));
    EXPECT_EQ(build(4, {'0', '*', '#', 'P'}), (Bytes{0x12, 5, 10, 11, 12, 32}));
    EXPECT_EQ(build(4, {'1', '2', '3', '4', '5', '6', '7', '8', '9'}),
              (Bytes{0x12, 5, 1, 2, 3, 4, 5, 6, 7, 8}));
    // Short number: L1 = 3 ("3 a b"), L2 = 2 at data byte 3.
    EXPECT_EQ(build(6, {3, 'a', 'b', 2, 'c', 9}, 0x11, 0x33),
              (Bytes{0x24, 0x11, 0x33, 3, 'a', 'b', 2, 'c'}));
    EXPECT_TRUE(build(10, {}).empty());
    EXPECT_TRUE(store.BuildRequest(RequestKind::PluginCommand, 32).empty());
    EXPECT_TRUE(store.BuildRequest(RequestKind::PluginCommand, -1).empty());
    EXPECT_EQ(store.DecodeReply(RequestKind::PluginCommand, Bytes{6, 1}).status, 6);
}

TEST_F(DataStoreTest, ShortNumberEntryNeverReadsPastTheRecord) {
    TDataStore::CommandRecord r{};
    r[0] = 6;
    r[8] = 79;      // L1 = 79, L2 at data byte 79
    r[8 + 79] = 50; // would reach 129 bytes
    EXPECT_EQ(store.BuildRequest(RequestKind::PluginCommand, store.StoreCommand(r)).size(),
              3u + 80);
    r[8] = 200; // L1 beyond the data
    EXPECT_EQ(store.BuildRequest(RequestKind::PluginCommand, store.StoreCommand(r)).size(),
              3u + 80);
}

TEST_F(DataStoreTest, WriteWatchRestartsShortsTimerOnlyForWritesWhilePluginActive) {
    int restarts = 0;
    restarts += store.WriteWatch(Bytes{0x01, 0x12, 0});
    EXPECT_EQ(restarts, 0); // no plug-in
    store.SetPluginFeed(&feed);
    restarts += store.WriteWatch(Bytes{0x01, 13});
    restarts += store.WriteWatch(Bytes{0x01, 18, 0});
    restarts += store.WriteWatch(Bytes{0x01, 24, 0});
    EXPECT_EQ(restarts, 3);
    restarts += store.WriteWatch(Bytes{0x01, 17, 0});
    restarts += store.WriteWatch(Bytes{0x00, 24, 0});
    restarts += store.WriteWatch(Bytes{0x01});
    restarts += store.WriteWatch(Bytes{});
    feed.active = false;
    restarts += store.WriteWatch(Bytes{0x01, 24});
    EXPECT_EQ(restarts, 3);
}

} // namespace
} // namespace vantor

namespace vantor {
namespace {

// Whatever the exchange sends, the store keeps to its capacities.  Run under
// the address sanitizer this also proves that no decoder reads past a reply.
TEST(DataStoreRobustness, ArbitraryRepliesStayWithinCapacities) {
    RecordingLog log;
    RecordingFeed feed;
    TDataStore store(log, [] { return 1.0; });
    store.SetPluginFeed(&feed);

    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 16;
    };
    const std::string kinds = "AXCIVxFYps#USMT";
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> reply(next() % 600);
        for (auto& b : reply) b = static_cast<std::uint8_t>(next());
        if (!reply.empty() && next() % 2)
            reply[0] = 0; // mostly successful replies, so the decoders get past byte 0
        const RequestKind kind = *KindOfLetter(kinds[next() % kinds.size()]);
        store.SetBlockCounter(static_cast<int>(next() % 80) - 5);
        if (kind == RequestKind::LineStates)
            store.LineStateFeed(reply, [](int line) { ASSERT_LT(line, 63); });
        store.DecodeReply(kind, reply);
        store.SkipBlock(kind);
        store.BuildRequest(kind, static_cast<int>(next() % 40) - 4);

        ASSERT_LE(store.ANLength(), TDataStore::ANCapacity);
        ASSERT_LE(store.SWLength(), TDataStore::SWCapacity);
        ASSERT_LE(store.PortCount(), TDataStore::MaxPorts);
        ASSERT_LE(store.LineCount(), 63);
        ASSERT_LE(store.PersonalBlocks(), 30);
        ASSERT_LE(feed.lastLineCount, 63);
        ASSERT_LE(feed.lastPortCount, 56);
        for (std::size_t i = 0; i < store.PortCount(); ++i)
            ASSERT_LE(store.Port(i).Number().size(), 4u);
    }
}

} // namespace
} // namespace vantor
