// What goes into a mail: charset conversion of the gateway's 8-bit texts,
// the MIME encodings, the message headers, and the recipient's address.
#include "Address.h"
#include "Charset.h"
#include "Config.h"
#include "MimeMessage.h"
#include "Status.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace vantor::test {
namespace {

using namespace vantorq9;

// "Příliš žluťoučký kůň" in Windows-1250 and in UTF-8.
const std::string Cp1250Czech = "P\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2";
const std::string Utf8Czech = "Příliš žluťoučký kůň";

std::string Base64Decode(std::string_view in) {
    static const std::string Alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0, value = 0;
    for (const char c : in) {
        if (c == '=') break;
        value = value << 6 | static_cast<unsigned>(Alphabet.find(c));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

TEST(MailText, Windows1250BecomesUtf8AndNoByteMakesTheConversionFail) {
    EXPECT_EQ(ToUtf8(Cp1250Czech, TextCharset::Windows1250), Utf8Czech);
    EXPECT_EQ(ToUtf8("a\x81"
                     "b",
                     TextCharset::Windows1250),
              "a\xEF\xBF\xBD"
              "b");                                                     // unassigned
    EXPECT_EQ(ToUtf8("a\xC3(b", TextCharset::Utf8), "a\xEF\xBF\xBD(b"); // broken UTF-8
    EXPECT_EQ(ToUtf8(Utf8Czech, TextCharset::Utf8), Utf8Czech);
    EXPECT_EQ(FromUtf8(Utf8Czech, TextCharset::Windows1250), Cp1250Czech);
    EXPECT_EQ(FromUtf8("año €", TextCharset::Windows1250), "a?o \x80");
}

TEST(MailText, QuotedPrintableKeepsEveryByteInShortSevenBitLines) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text", "plain text\r\n"},
        {"a=b", "a=3Db\r\n"},
        {"trailing \nblank\t", "trailing=20\r\nblank=09\r\n"},
        {"cr lf\r\nlf\ncr\rend\n", "cr lf\r\nlf\r\ncr\r\nend\r\n"},
        {"bell\x07", "bell=07\r\n"},
        {"č", "=C4=8D\r\n"},
        {"", ""},
        {std::string(80, 'x'), std::string(75, 'x') + "=\r\n" + std::string(5, 'x') + "\r\n"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(QuotedPrintable(in), out) << in;
    // A long line of escapes never splits an escape and never passes 76.
    for (const std::string& line : Lines(QuotedPrintable(std::string(200, '\xC4'))))
        EXPECT_LE(line.size(), 76u);
}

TEST(MailText, HeaderTextIsPlainWhenItCanBeAndWholeCharactersInEncodedWordsOtherwise) {
    EXPECT_EQ(EncodeHeaderText("Link lost", 9), "Link lost");
    EXPECT_EQ(EncodeHeaderText("Ústředna", 9), "=?UTF-8?B?w5pzdMWZZWRuYQ==?=");
    EXPECT_EQ(EncodeHeaderText("looks =?like?= a word", 9).substr(0, 10), "=?UTF-8?B?");
    const std::string longText = "Spojení s ústřednou bylo přerušeno, ústředna neodpovídá " +
                                 std::string("žádným způsobem ") + "už několik minut";
    const std::string encoded = EncodeHeaderText(longText, 9);
    std::string decoded;
    std::istringstream words(encoded);
    for (std::string word; words >> word;) {
        ASSERT_LE(word.size(), 75u);
        ASSERT_TRUE(word.starts_with("=?UTF-8?B?") && word.ends_with("?="));
        const std::string part = Base64Decode(word.substr(10, word.size() - 12));
        EXPECT_EQ(ToUtf8(part, TextCharset::Utf8), part) << "a word ends inside a character";
        decoded += part;
    }
    EXPECT_EQ(decoded, longText);
}

TEST(MailText, TheMessageIsSevenBitAndItsHeadersCannotBeExtendedByTheTexts) {
    MailText mail;
    mail.fromAddress = "vantor@firma.cz";
    mail.fromName = "Ústředna";
    mail.to = "technik@firma.cz";
    mail.subject = "Alarm\r\nBcc: everyone@example.com";
    mail.body = "Spojení ztraceno\n.\nkonec";
    mail.date = 0;
    mail.messageId = "1.2@firma.cz";
    const std::string text = BuildMessage(mail);
    for (const char c : text) ASSERT_LT(static_cast<unsigned char>(c), 0x80u);
    std::vector<std::string> header;
    for (const std::string& line : Lines(text)) {
        if (line.empty()) break;
        EXPECT_LE(line.size(), 78u) << line;
        if (line[0] != ' ') header.push_back(line.substr(0, line.find(':')));
    }
    EXPECT_EQ(header, (std::vector<std::string>{"Date", "From", "To", "Subject", "Message-ID",
                                                "Auto-Submitted", "MIME-Version", "Content-Type",
                                                "Content-Transfer-Encoding"}));
    EXPECT_NE(text.find("Subject: Alarm  Bcc: everyone@example.com\r\n"), std::string::npos);
    EXPECT_NE(text.find("Content-Type: text/plain; charset=UTF-8\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n\r\nSpojen=C3=AD ztraceno\r\n.\r\nkonec\r\n"), std::string::npos);
}

TEST(MailText, DateIsInTheMailFormatWhateverTheLocale) {
    const std::string date = MailDate(86400 * 365);
    EXPECT_TRUE(std::regex_match(date, std::regex(R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d )"
                                                  R"((Jan|Dec) 197[01] \d\d:\d\d:\d\d [+-]\d{4})")))
        << date;
    EXPECT_NE(NewMessageId("a@firma.cz"), NewMessageId("a@firma.cz"));
    EXPECT_TRUE(NewMessageId("a@firma.cz").ends_with("@firma.cz"));
}

TEST(MailText, RecipientsByAddressType) {
    BridgeConfig config;
    config.templates['I' - 'A'] = "{address}";
    config.templates['Q' - 'A'] = "{digits}@sms.firma.cz";
    config.templates['V' - 'A'] = "voice-{address}@firma.cz";
    struct Case {
        char type;
        std::string given;
        std::int32_t status;
        std::string address;
    };
    const Case cases[] = {
        {'I', " technik@firma.cz ", StatusOk, "technik@firma.cz"},
        {'\0', "technik@firma.cz", StatusOk, "technik@firma.cz"},
        {'Q', "+420 601 234 567", StatusOk, "+420601234567@sms.firma.cz"},
        {'q', "601234567", StatusOk, "601234567@sms.firma.cz"},
        {'V', "201", StatusOk, "voice-201@firma.cz"},
        {'F', "601234567", StatusNoTemplate, ""},
        {'Z', "x@y.cz", StatusNoTemplate, ""},
        {'\x01', "x@y.cz", StatusNoTemplate, ""},
        {'Q', "no digits", StatusBadAddress, ""},
        {'I', "two words@firma.cz", StatusBadAddress, ""},
        {'I', "a@b.cz\r\nRCPT TO:<x@y.cz>", StatusBadAddress, ""},
        {'I', "<a@b.cz>", StatusBadAddress, ""},
        {'I', "nobody", StatusBadAddress, ""},
        {'I', "a@b..cz", StatusBadAddress, ""},
        {'I', "jiří@firma.cz", StatusBadAddress, ""},
    };
    for (const Case& c : cases) {
        const Recipient r = ResolveRecipient(config, c.type, c.given);
        EXPECT_EQ(r.status, c.status) << c.given;
        EXPECT_EQ(r.address, c.address) << c.given;
        EXPECT_EQ(r.error.empty(), c.status == StatusOk) << c.given;
    }
}

} // namespace
} // namespace vantor::test
