// Request queue and sent-request list rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/RequestQueue.h"
#include "core/SentRequests.h"

using namespace vantor;
using K = vantor::RequestKind;

namespace {

std::vector<std::string> Keys(const RequestQueue& q) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < q.Count(); ++i) keys.push_back(q.At(i).key);
    return keys;
}

} // namespace

TEST(RequestQueue, PeriodicKindsWaitOnceWithKeysComparedWithoutCase) {
    RequestQueue q;
    EXPECT_TRUE(q.Enqueue(K::MessageCounters, 0));
    EXPECT_FALSE(q.Enqueue(K::MessageCounters, 0)); // TimerMSG firing again adds nothing
    EXPECT_TRUE(q.Enqueue(K::ShortNumbers, 0));
    EXPECT_FALSE(q.Enqueue(K::MessageSlot, 0)); // a waiting 's' holds back 'S'
    EXPECT_TRUE(q.Enqueue(K::ShortNumbers, 0)); // 's' itself may repeat
    EXPECT_TRUE(q.Enqueue(K::PortStructure, 0));
    EXPECT_FALSE(q.Enqueue(K::SWState, 0));
    EXPECT_FALSE(q.Enqueue(K::PortStructure, 0));
    EXPECT_EQ(Keys(q), (std::vector<std::string>{"M", "s", "s", "x"}));

    RequestQueue r;
    EXPECT_TRUE(r.Enqueue(K::MessageSlot, 0));
    EXPECT_TRUE(r.Enqueue(K::ShortNumbers, 0)); // 's' is queued in any case
    EXPECT_TRUE(r.Enqueue(K::SWState, 0));
    EXPECT_FALSE(r.Enqueue(K::PortStructure, 0));
    EXPECT_EQ(Keys(r), (std::vector<std::string>{"S", "s", "X"}));
}

TEST(RequestQueue, RepeatableKindsKeepEveryArgument) {
    RequestQueue q;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(q.Enqueue(K::PluginCommand, i));
        EXPECT_TRUE(q.Enqueue(K::CallerData, 10 + i));
        EXPECT_TRUE(q.Enqueue(K::PersonalData, 0));
    }
    ASSERT_EQ(q.Count(), 9u);
    EXPECT_EQ(q.At(0).argument, 0);
    EXPECT_EQ(q.At(1).argument, 10);
    EXPECT_EQ(q.At(7).argument, 12);
}

TEST(RequestQueue, ClientRequestReplacesOnlyThatClientsWaitingOne) {
    RequestQueue q;
    const std::uint8_t first[] = {0, 22, 0};
    const std::uint8_t second[] = {14};
    const std::uint8_t third[] = {2, 7};
    q.Enqueue(K::LineStates, 0);
    q.Enqueue(K::Client, 17, first);
    q.Enqueue(K::Client, 23, second);
    q.Enqueue(K::Client, 17, third);
    EXPECT_EQ(Keys(q), (std::vector<std::string>{"A", "T23", "T17"}));
    const RelayedRequest* r = q.At(2).relayed.get();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->firstByte, 2);
    EXPECT_EQ(r->socketHandle, 17);
    EXPECT_EQ(r->bytes, (std::vector<std::uint8_t>{2, 7}));
    EXPECT_EQ(q.At(2).Kind(), K::Client);
}

TEST(RequestQueue, FullQueueDropsItsOldestEntry) {
    RequestQueue q;
    const std::uint8_t req[] = {0, 1, 2};
    for (int i = 0; i < 100; ++i) q.Enqueue(K::Client, i, req);
    ASSERT_EQ(q.Count(), 100u);
    q.Enqueue(K::PluginCommand, 5); // the 101st request
    EXPECT_EQ(q.Count(), 100u);
    EXPECT_EQ(q.At(0).key, "T1");
    EXPECT_EQ(q.At(99).key, "#");

    // Replacing a client's waiting request frees its place first.
    q.Enqueue(K::Client, 50, req);
    EXPECT_EQ(q.Count(), 100u);
    EXPECT_EQ(q.At(0).key, "T1");
    EXPECT_EQ(q.At(99).key, "T50");
}

TEST(RequestQueue, InitialSetReplacesEverythingWaiting) {
    RequestQueue q;
    const std::uint8_t req[] = {9};
    q.Enqueue(K::Client, 4, req);
    q.Enqueue(K::Accounting, 0);
    q.FillInitialSet();
    EXPECT_EQ(Keys(q), (std::vector<std::string>{"C", "I", "x", "V"}));
    EXPECT_EQ(q.TakeNext().key, "C");
    EXPECT_EQ(q.At(0).key, "I");
}

TEST(RequestQueue, ClientsNeitherPushOutNorStarveTheOwnPolls) {
    RequestQueue q;
    const std::uint8_t req[] = {0, 1, 2};
    q.Enqueue(K::Accounting, 0);
    for (int i = 0; i < 120; ++i) q.Enqueue(K::Client, i, req);
    // Full: the oldest client requests went, the accounting poll stayed.
    ASSERT_EQ(q.Count(), 100u);
    EXPECT_EQ(q.At(0).key, "U");
    EXPECT_EQ(q.At(1).key, "T21");
    q.Enqueue(K::LineStates, 0);
    EXPECT_EQ(q.At(1).key, "T22");
    EXPECT_EQ(q.At(99).key, "A");

    // Own and client requests take turns; clients keep their order.
    std::vector<std::string> served;
    for (int i = 0; i < 5; ++i) served.push_back(q.TakeNext().key);
    EXPECT_EQ(served, (std::vector<std::string>{"U", "T22", "A", "T23", "T24"}));
    q.Enqueue(K::Accounting, 0);
    EXPECT_EQ(q.TakeNext().key, "U") << "a poll waits behind at most one client request";
}

TEST(RequestQueue, OverlongClientRequestIsCut) {
    RequestQueue q;
    std::vector<std::uint8_t> big(700, 0x55);
    q.Enqueue(K::Client, 3, big);
    EXPECT_EQ(q.At(0).relayed->bytes.size(), RelayedRequestMaxBytes);
}

TEST(SentRequests, RecordTakeReplaceAndCut) {
    SentRequests list;
    const std::uint8_t c[] = {13};
    list.Record(1, K::Configuration, c, 0);
    EXPECT_TRUE(list.Contains(1));
    EXPECT_EQ(list.Count(), 1u);

    // Same number again (after wrap-around): the old record is replaced.
    std::vector<std::uint8_t> big(600);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i);
    list.Record(1, K::Client, big, 42);
    EXPECT_EQ(list.Count(), 1u);

    auto taken = list.Take(1);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->kind, K::Client);
    EXPECT_EQ(taken->value, 42);
    EXPECT_EQ(taken->firstByte, 0);
    ASSERT_EQ(taken->payload.size(), 512u);
    EXPECT_EQ(taken->payload[511], static_cast<std::uint8_t>(511));
    EXPECT_EQ(list.Count(), 0u);
    // A second copy of the reply finds nothing.
    EXPECT_EQ(list.Take(1), nullptr);

    list.Record(0, K::LineStates, c, 0);
    list.Record(255, K::SWState, c, 0);
    EXPECT_EQ(list.Count(), 2u);
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(list.Contains(255));
}
