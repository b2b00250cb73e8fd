#include "relay/RelayClientText.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RelayClientText, Targets) {
    std::string error;
    auto t = ParseRelayTarget("1234", error);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->host, "127.0.0.1");
    EXPECT_EQ(t->port, 1234);
    t = ParseRelayTarget("pbx-gw.local:65535", error);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->host, "pbx-gw.local");
    EXPECT_EQ(t->port, 65535);
    t = ParseRelayTarget(":99", error);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->host, "127.0.0.1");
    for (const char* bad : {"", "host:", "host:0", "65536", "12a4", "host:123456"}) {
        error.clear();
        EXPECT_FALSE(ParseRelayTarget(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(RelayClientText, HexBytesInEveryUsualSpelling) {
    std::string error;
    EXPECT_EQ(ParseHexBytes({"00", "16", "0"}, error), (Bytes{0, 0x16, 0}));
    EXPECT_EQ(ParseHexBytes({"001600"}, error), (Bytes{0, 0x16, 0}));
    EXPECT_EQ(ParseHexBytes({"0x00,0x16,a"}, error), (Bytes{0, 0x16, 0x0a}));
    EXPECT_EQ(ParseHexBytes({"00 18 05"}, error), (Bytes{0, 0x18, 5}));
    EXPECT_EQ(ParseHexBytes({"0E"}, error), (Bytes{0x0e}));
    EXPECT_EQ(ParseHexBytes({"ff", "FF"}, error), (Bytes{0xff, 0xff}));
    for (auto bad : std::vector<std::vector<std::string>>{{}, {"0g"}, {"123"}, {"1,,2"}, {"0x"}}) {
        error.clear();
        EXPECT_FALSE(ParseHexBytes(bad, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(RelayClientText, DumpAndAccountingAnswers) {
    EXPECT_EQ(HexDump(Bytes{0, 0x16, 0xab}), "00 16 AB");
    EXPECT_EQ(HexDump(Bytes{}), "");
    EXPECT_FALSE(AccountingRecordOf(Bytes{0}));
    EXPECT_FALSE(AccountingRecordOf(Bytes{}));
    EXPECT_FALSE(AccountingRecordOf(Bytes{1, 'x'}));
    EXPECT_EQ(AccountingRecordOf(Bytes{0, 'R', '1'}), "R1");
    // Forwarded to the exchange: its text ends at a 0 byte, empty means none.
    EXPECT_EQ(AccountingRecordOf(Bytes{0, 'R', '2', 0, 0}), "R2");
    EXPECT_FALSE(AccountingRecordOf(Bytes{0, 0, 0}));
}

} // namespace
} // namespace vantor
