#pragma once
// Builds the text of one mail (RFC 5322 with MIME): UTF-8 text/plain in
// quoted-printable, a subject and sender name as RFC 2047 encoded words when
// they are not plain ASCII, CR LF line ends.  The output is 7-bit and no line
// is longer than 76 characters, so any SMTP server takes it.  Control
// characters in a subject or name cannot break out of their header line.
#include <ctime>
#include <string>
#include <string_view>

namespace vantorq9 {

struct MailText {
    std::string fromAddress;
    std::string fromName; // UTF-8, may be empty
    std::string to;
    std::string subject; // UTF-8
    std::string body;    // UTF-8
    std::time_t date = 0;
    std::string messageId; // without the angle brackets
};

std::string BuildMessage(const MailText& mail);

// The parts, for the tests.
std::string EncodeHeaderText(std::string_view utf8, std::size_t firstLineUsed);
std::string QuotedPrintable(std::string_view utf8);
// Control characters (line breaks too) become blanks.
std::string OneLine(std::string_view text);
// "Tue, 05 Mar 2024 10:00:00 +0100" in local time, English names whatever
// the process's locale.
std::string MailDate(std::time_t when);
// A new unique id "<time>.<pid>.<counter>.<random>@<domain of sender>".
std::string NewMessageId(std::string_view fromAddress);

} // namespace vantorq9
