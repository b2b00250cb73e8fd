#include "relay/ReplyCache.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantor {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ReplyCacheTest : public ::testing::Test {
protected:
    TDateTime clock = 46000.5; // a date in 2025, midday
    void AdvanceMs(double ms) { clock += ms / MSecsPerDay; }
    ReplyCache::Clock Now() {
        return [this] { return clock; };
    }
    static Bytes Reply(const ReplyCache::Entry* e) {
        return e ? Bytes(e->Reply().begin(), e->Reply().end()) : Bytes{};
    }
};

TEST_F(ReplyCacheTest, LifetimeTableBySubCommand) {
    const std::pair<int, std::uint32_t> expected[] = {
        {0, 3600000}, {1, 2000},   {2, 60000}, {3, 60000},  {4, 120000}, {10, 120000}, {11, 5000},
        {12, 60000},  {15, 60000}, {16, 2000}, {17, 60000}, {21, 60000}, {22, 300},    {23, 60000},
        {46, 60000},  {47, 300},   {49, 300},  {50, 10},    {255, 10}};
    for (auto [sub, ms] : expected)
        EXPECT_EQ(ReplyCache::LifetimeFor(static_cast<std::uint8_t>(sub)), ms) << "sub " << sub;
}

TEST_F(ReplyCacheTest, AnswersWithinTheLifetimeOnly) {
    ReplyCache cache(110, Now());
    cache.Store(Bytes{0, 11, 0}, Bytes{0, 11, 0, 42}); // lifetime 5000 ms
    AdvanceMs(4999);
    EXPECT_EQ(Reply(cache.Lookup(Bytes{0, 11, 0}, true)), (Bytes{0, 11, 0, 42}));
    AdvanceMs(1); // exactly the lifetime: no longer strictly below it
    EXPECT_EQ(cache.Lookup(Bytes{0, 11, 0}, true), nullptr);
    EXPECT_NE(cache.Lookup(Bytes{0, 11, 0}, false), nullptr) << "still there without age";

    cache.Store(Bytes{0, 60, 1}, Bytes{0, 60, 1}); // beyond the table: 10 ms
    AdvanceMs(9);
    EXPECT_NE(cache.Lookup(Bytes{0, 60, 1}, true), nullptr);
    AdvanceMs(1);
    EXPECT_EQ(cache.Lookup(Bytes{0, 60, 1}, true), nullptr);
}

TEST_F(ReplyCacheTest, StampFromTheFutureCountsAsExpired) {
    ReplyCache cache(4, Now());
    cache.Store(Bytes{0, 0, 0}, Bytes{0, 1});
    AdvanceMs(-60000); // the wall clock was set back a minute
    EXPECT_EQ(cache.Lookup(Bytes{0, 0, 0}, true), nullptr);
}

TEST_F(ReplyCacheTest, PrefixMatchFindsTheNewestLongerRequest) {
    ReplyCache cache(110, Now());
    cache.Store(Bytes{0, 24, 5}, Bytes{0, 24, 5, 1});
    cache.Store(Bytes{0, 24, 6}, Bytes{0, 24, 6, 2});
    EXPECT_EQ(Reply(cache.Lookup(Bytes{0, 24}, true)), (Bytes{0, 24, 6, 2})) << "newest wins";
    EXPECT_EQ(Reply(cache.Lookup(Bytes{0, 24, 5}, true)), (Bytes{0, 24, 5, 1}));
    EXPECT_EQ(cache.Lookup(Bytes{0, 24, 7}, true), nullptr);
    // A longer request than any stored one matches none, whatever the bytes
    // left over in the entry are.
    EXPECT_EQ(cache.Lookup(Bytes{0, 24, 5, 0}, true), nullptr);
}

TEST_F(ReplyCacheTest, StoringTheSameRequestOverwritesItsEntry) {
    ReplyCache cache(3, Now());
    cache.Store(Bytes{0, 2, 0}, Bytes{0, 1});
    cache.Store(Bytes{0, 3, 0}, Bytes{0, 2});
    cache.Store(Bytes{0, 2, 0}, Bytes{0, 3});
    EXPECT_EQ(cache.Count(), 2u);
    EXPECT_EQ(Reply(cache.Lookup(Bytes{0, 2, 0}, true)), (Bytes{0, 3}));
    // The overwrite renewed the stamp too.
    AdvanceMs(59999);
    EXPECT_NE(cache.Lookup(Bytes{0, 2, 0}, true), nullptr);

    // A short request overwriting a longer entry found by prefix answers only
    // itself afterwards.
    cache.Store(Bytes{0, 3}, Bytes{0, 9});
    EXPECT_EQ(Reply(cache.Lookup(Bytes{0, 3}, true)), (Bytes{0, 9}));
    EXPECT_EQ(cache.Lookup(Bytes{0, 3, 0}, false), nullptr);
}

TEST_F(ReplyCacheTest, RingReplacesTheOldestWhenFull) {
    ReplyCache cache(3, Now());
    for (std::uint8_t i = 0; i < 5; ++i) cache.Store(Bytes{0, 30, i}, Bytes{0, i});
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_EQ(cache.Lookup(Bytes{0, 30, 0}, false), nullptr);
    EXPECT_EQ(cache.Lookup(Bytes{0, 30, 1}, false), nullptr);
    for (std::uint8_t i = 2; i < 5; ++i)
        EXPECT_EQ(Reply(cache.Lookup(Bytes{0, 30, i}, false)), (Bytes{0, i}));
}

TEST_F(ReplyCacheTest, KeepsOnlyQueriesWhoseReplyFits) {
    ReplyCache cache(10, Now());
    cache.Store(Bytes{1, 17, 0}, Bytes{0});
    cache.Store(Bytes{2}, Bytes{0, 1, 2});
    EXPECT_EQ(cache.Count(), 0u);
    cache.Store(Bytes{0, 5, 0}, Bytes(513, 0));
    EXPECT_EQ(cache.Count(), 0u) << "a reply cut to the entry would be served corrupted";
    cache.Store(Bytes{0, 5, 0}, Bytes(512, 7));
    ASSERT_EQ(cache.Count(), 1u);
    EXPECT_EQ(cache.Lookup(Bytes{0, 5, 0}, true)->replyLength, 512u);
    EXPECT_EQ(cache.Lookup(Bytes{}, false), nullptr);
}

TEST_F(ReplyCacheTest, FlushForgetsEverything) {
    ReplyCache cache(10, Now());
    cache.Store(Bytes{0, 0, 0}, Bytes{0});
    cache.Store(Bytes{0, 1, 0}, Bytes{0});
    cache.Flush();
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_EQ(cache.Lookup(Bytes{0, 0, 0}, false), nullptr);
    cache.Store(Bytes{0, 1, 0}, Bytes{0, 5});
    EXPECT_EQ(Reply(cache.Lookup(Bytes{0, 1, 0}, true)), (Bytes{0, 5}));
}

TEST_F(ReplyCacheTest, SizeZeroOrUnusableSwitchesTheCacheOff) {
    for (std::int32_t size : {0, -3}) {
        ReplyCache cache(size, Now());
        EXPECT_EQ(cache.MaxCache(), 0);
        cache.Store(Bytes{0, 0, 0}, Bytes{0});
        EXPECT_EQ(cache.Count(), 0u);
        EXPECT_EQ(cache.Lookup(Bytes{0, 0, 0}, false), nullptr);
    }
#if !defined(__SANITIZE_ADDRESS__)
    // More entries than memory holds: allocation fails, the cache is off.
    // (AddressSanitizer aborts on such a request instead of failing it.)
    ReplyCache huge(0x7fffffff, Now());
    if (huge.MaxCache() == 0) {
        huge.Store(Bytes{0, 0, 0}, Bytes{0});
        EXPECT_EQ(huge.Lookup(Bytes{0, 0, 0}, false), nullptr);
    }
#endif
}

} // namespace
} // namespace vantor
