#include "MimeMessage.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>

namespace vantorq9 {

namespace {

constexpr std::size_t LineLimit = 76;
// 39 bytes make 52 base64 characters, an encoded word of 64: it fits after
// "Subject: " and after the blank of a continuation line.
constexpr std::size_t WordBytes = 39;

std::string Base64(std::string_view in) {
    static constexpr char Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16 |
                           static_cast<unsigned char>(in[i + 1]) << 8 |
                           static_cast<unsigned char>(in[i + 2]);
        out += Alphabet[v >> 18];
        out += Alphabet[(v >> 12) & 63];
        out += Alphabet[(v >> 6) & 63];
        out += Alphabet[v & 63];
    }
    if (i < in.size()) {
        unsigned v = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
        out += Alphabet[v >> 18];
        out += Alphabet[(v >> 12) & 63];
        out += i + 1 < in.size() ? Alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

bool PlainHeaderText(std::string_view text, std::size_t firstLineUsed) {
    if (firstLineUsed + text.size() > LineLimit || text.find("=?") != std::string_view::npos)
        return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return false;
    return true;
}

} // namespace

std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return out;
}

std::string EncodeHeaderText(std::string_view utf8, std::size_t firstLineUsed) {
    if (PlainHeaderText(utf8, firstLineUsed)) return std::string(utf8);
    std::string out;
    while (!utf8.empty()) {
        std::size_t n = std::min(WordBytes, utf8.size());
        // Each word holds whole characters: back off from a cut sequence.
        while (n < utf8.size() && n > 0 && IsContinuation(utf8[n])) --n;
        if (n == 0) n = std::min(WordBytes, utf8.size());
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + Base64(utf8.substr(0, n)) + "?=";
        utf8.remove_prefix(n);
    }
    return out;
}

std::string QuotedPrintable(std::string_view utf8) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    std::size_t column = 0;
    auto put = [&](std::string_view token) {
        if (column + token.size() > LineLimit - 1) { // room for the soft break '='
            out += "=\r\n";
            column = 0;
        }
        out += token;
        column += token.size();
    };
    std::size_t i = 0;
    while (i < utf8.size()) {
        // One line of the text, whatever its line end (CR LF, LF or CR).
        std::size_t end = i;
        while (end < utf8.size() && utf8[end] != '\r' && utf8[end] != '\n') ++end;
        const std::string_view line = utf8.substr(i, end - i);
        for (std::size_t k = 0; k < line.size(); ++k) {
            const auto c = static_cast<unsigned char>(line[k]);
            const bool last = k + 1 == line.size();
            const bool literal =
                (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
            if (literal) {
                put(std::string_view(&line[k], 1));
            } else {
                const char token[3] = {'=', Hex[c >> 4], Hex[c & 15]};
                put(std::string_view(token, 3));
            }
        }
        out += "\r\n";
        column = 0;
        if (end == utf8.size()) break;
        i = end + (utf8[end] == '\r' && end + 1 < utf8.size() && utf8[end + 1] == '\n' ? 2 : 1);
    }
    return out;
}

std::string MailDate(std::time_t when) {
    static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    localtime_r(&when, &t);
    const long offset = t.tm_gmtoff / 60;
    const long absolute = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  Days[t.tm_wday % 7], t.tm_mday, Months[t.tm_mon % 12], t.tm_year + 1900,
                  t.tm_hour, t.tm_min, t.tm_sec, offset < 0 ? '-' : '+', absolute / 60,
                  absolute % 60);
    return text;
}

std::string NewMessageId(std::string_view fromAddress) {
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 random{std::random_device{}()};
    const std::size_t at = fromAddress.rfind('@');
    const std::string domain =
        at == std::string_view::npos ? "vantorq9.invalid" : std::string(fromAddress.substr(at + 1));
    char text[96];
    std::snprintf(text, sizeof text, "%lld.%d.%u.%08x", static_cast<long long>(std::time(nullptr)),
                  static_cast<int>(::getpid()), ++counter, static_cast<unsigned>(random()));
    return std::string(text) + "@" + domain;
}

std::string BuildMessage(const MailText& mail) {
    std::string m;
    m += "Date: " + MailDate(mail.date) + "\r\n";
    m += "From: ";
    if (!mail.fromName.empty()) {
        const std::string name = OneLine(mail.fromName);
        const bool plain =
            PlainHeaderText(name, 6) && name.find_first_of("\"\\()<>[]:;@,.") == std::string::npos;
        m += (plain ? "\"" + name + "\"" : EncodeHeaderText(name, LineLimit)) + "\r\n ";
    }
    m += "<" + mail.fromAddress + ">\r\n";
    m += "To: <" + mail.to + ">\r\n";
    m += "Subject: " + EncodeHeaderText(OneLine(mail.subject), 9) + "\r\n";
    m += "Message-ID: <" + mail.messageId + ">\r\n";
    m += "Auto-Submitted: auto-generated\r\n";
    m += "MIME-Version: 1.0\r\n";
    m += "Content-Type: text/plain; charset=UTF-8\r\n";
    m += "Content-Transfer-Encoding: quoted-printable\r\n";
    m += "\r\n";
    m += QuotedPrintable(mail.body);
    return m;
}

} // namespace vantorq9
