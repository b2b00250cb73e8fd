// Digit alphabets and the log text of payloads.
#include "exchange/CommandFormatter.h"
#include "exchange/DigitEncoding.h"
#include "toolkit/TextSource.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

namespace vantor {
namespace {

// Texts by number; a missing one is empty.
struct MapTexts : TextSource {
    std::map<int, std::string> msgs;
    std::string Msg(int number) const override {
        auto it = msgs.find(number);
        return it == msgs.end() ? std::string() : it->second;
    }
    std::string Text(int number) override { return Msg(number); }
};

using Bytes = std::vector<std::uint8_t>;

TEST(PortNumberDecoding, StopsAtZeroAndMapsLetters) {
    EXPECT_EQ(DecodePortNumber(Bytes{1, 2, 0, 9}, 4), "12");
    EXPECT_EQ(DecodePortNumber(Bytes{16, 17, 18, 19}, 4), "ABCD");
    EXPECT_EQ(DecodePortNumber(Bytes{10, 11, 12, 13}, 4), "0*#F");
    EXPECT_EQ(DecodePortNumber(Bytes{14, 15, 0, 0}, 4), "PS");
    EXPECT_EQ(DecodePortNumber(Bytes{0, 1, 2, 3}, 4), "");
}

TEST(PortNumberDecoding, NeverTakesMoreCodesThanAskedOrGiven) {
    EXPECT_EQ(DecodePortNumber(Bytes{1, 2, 3, 4, 5}, 4), "1234");
    EXPECT_EQ(DecodePortNumber(Bytes{1, 2}, 4), "12");
    EXPECT_EQ(DecodePortNumber(Bytes{1, 2, 3}, 2), "12");
}

TEST(PortNumberDecoding, EndCodeAndCodesWithoutCharacter) {
    // 20 is the end of the text; above 20 there is no character.
    EXPECT_EQ(DecodePortNumber(Bytes{3, 20, 4, 5}, 4), "3");
    EXPECT_EQ(DecodePortNumber(Bytes{3, 21, 255, 5}, 4), "3??5");
}

TEST(DialEncoding, FillsAllCodesAndPadsWithZero) {
    std::array<std::uint8_t, 8> codes{};
    codes.fill(0xAA);
    EncodeDialText("0*#", codes);
    EXPECT_EQ(codes, (std::array<std::uint8_t, 8>{10, 11, 12, 0, 0, 0, 0, 0}));

    EncodeDialText("123456789ABC", codes); // longer than the codes: cut
    EXPECT_EQ(codes, (std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(DialEncoding, EveryCharacterOfTheAlphabet) {
    EXPECT_EQ(DialCode(','), 14);
    EXPECT_EQ(DialCode('S'), 15);
    EXPECT_EQ(DialCode('D'), 19);
    EXPECT_EQ(DialCode('T'), 20);
    EXPECT_EQ(DialCode('W'), 21);
    EXPECT_EQ(DialCode('-'), 22);
    EXPECT_EQ(DialCode('x'), 23); // first of the repeated x
    EXPECT_EQ(DialCode('?'), 31);
    EXPECT_EQ(DialCode('P'), 32);
    EXPECT_EQ(DialCode('a'), 0); // lower case has no code
    EXPECT_EQ(DialCode(' '), 0);
    EXPECT_EQ(DialCode('\0'), 0);
}

class FormatterTest : public ::testing::Test {
protected:
    FormatterTest() {
        texts.msgs = {{1000, "Query"},  {1001, "Write"}, {1012, "Dial"},
                      {1013, "Config"}, {1004, "Acc"},   {1007, "Seven"},
                      {2022, "AN"},     {2024, "Short"}, {2017, "MWI"}};
    }
    std::string Req(Bytes p, bool dump = false) {
        return fmt.format(Direction::Request, p, 0, dump);
    }
    std::string Rep(Bytes p, std::uint8_t cmd, bool dump = false) {
        return fmt.format(Direction::Reply, p, cmd, dump);
    }

    MapTexts texts;
    CommandFormatter fmt{texts};
};

TEST_F(FormatterTest, QueryRequests) {
    EXPECT_EQ(Req({0x00, 0x16, 0x00}), "Query AN");
    EXPECT_EQ(Req({0x00, 0x18, 0x05}), "Query Short[5]");
    EXPECT_EQ(Req({0x00, 0x3C, 0x02}), "Query Str:60[2]");
    EXPECT_EQ(Req({0x00, 0x3C}), "Query Str:60");
    EXPECT_EQ(Req({0x00, 0x18}), "Query Short");
    EXPECT_EQ(Req({0x00}), "Query ");
    EXPECT_EQ(Req({0x2D}), "Cmd: 45 ");
    EXPECT_EQ(Req({0x2D, 0x16, 0x01}), "Cmd: 45 AN[1]");
}

TEST_F(FormatterTest, PlainAndRefusedRequests) {
    EXPECT_EQ(Req({0x0D}), "Config");
    EXPECT_EQ(Req({0x0D, 0x01}), "Cmd: ERROR");
    EXPECT_EQ(Req({0x12, 0x05, 0x53}), ""); // command 18 has no text here
    EXPECT_EQ(Req({0x07, 0x01}), "Seven");
    EXPECT_EQ(Req({0x04}), "Acc");
}

TEST_F(FormatterTest, Replies) {
    EXPECT_EQ(Rep({0x07, 0x18, 0x00}, 0), "ShortError 7: ");
    EXPECT_EQ(Rep({0x00, 0x09}, 12), "Dial 9");
    EXPECT_EQ(Rep({0x00}, 0), "");
    EXPECT_EQ(Rep({0x00, 0x18, 0x03}, 0), "Short[3]");
    EXPECT_EQ(Rep({0x00, 0x40, 0x03}, 0), "Str:64[3]");
    EXPECT_EQ(Rep({0x00, 0x41}, 1), "Str:65");
    EXPECT_EQ(Rep({0x00, 'a', 'b'}, 4), "Acc ");
    EXPECT_EQ(Rep({0x03, 0x01}, 13), "ConfigError 3: ");
    EXPECT_EQ(Rep({0x00}, 12), "Dial"); // no byte 1 to show
}

TEST_F(FormatterTest, DumpAppendsUnconsumedBytes) {
    EXPECT_EQ(Req({0x01, 0x11, 0x00, 0x03, 0x00, 0x00, 0x01}, true), "Write MWI 3 0 0 1");
    EXPECT_EQ(Req({0x0D, 0x01, 0x02}, true), "Cmd: ERROR 1 2");
    EXPECT_EQ(Rep({0x00, 0x09, 0x07}, 12, true), "Dial 9 9 7");
    EXPECT_EQ(Req({0x2D}, true), "Cmd: 45 ");
}

TEST_F(FormatterTest, MissingTextsAndEmptyPayload) {
    MapTexts none;
    CommandFormatter bare(none);
    EXPECT_EQ(bare.format(Direction::Request, Bytes{0x00, 0x16, 0x00}), " ");
    EXPECT_EQ(bare.format(Direction::Request, Bytes{}), "");
    EXPECT_EQ(bare.format(Direction::Reply, Bytes{}, 0, true), "");
}

} // namespace
} // namespace vantor
