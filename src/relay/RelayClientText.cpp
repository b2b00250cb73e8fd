#include "relay/RelayClientText.h"

#include <algorithm>
#include <cctype>

namespace vantor {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParsePiece(std::string_view piece, std::vector<std::uint8_t>& out, std::string& error) {
    if (piece.size() > 2 && piece[0] == '0' && (piece[1] == 'x' || piece[1] == 'X'))
        piece.remove_prefix(2);
    if (piece.empty()) {
        error = "empty byte";
        return false;
    }
    for (char c : piece)
        if (HexDigit(c) < 0) {
            error = "not a hexadecimal byte: \"" + std::string(piece) + "\"";
            return false;
        }
    if (piece.size() <= 2) {
        int value = 0;
        for (char c : piece) value = value * 16 + HexDigit(c);
        out.push_back(static_cast<std::uint8_t>(value));
        return true;
    }
    if (piece.size() % 2 != 0) {
        error = "odd number of hex digits: \"" + std::string(piece) + "\"";
        return false;
    }
    for (std::size_t i = 0; i < piece.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(HexDigit(piece[i]) * 16 + HexDigit(piece[i + 1])));
    return true;
}

} // namespace

std::optional<RelayTarget> ParseRelayTarget(std::string_view text, std::string& error) {
    RelayTarget target;
    std::string_view portText = text;
    const auto colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        if (colon > 0) target.host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
    }
    if (portText.empty() || portText.size() > 5) {
        error = "no valid port in \"" + std::string(text) + "\"";
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : portText) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            error = "port is not a number: \"" + std::string(portText) + "\"";
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) {
        error = "port out of range: " + std::string(portText);
        return std::nullopt;
    }
    target.port = static_cast<std::uint16_t>(value);
    return target;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::vector<std::string>& args,
                                                       std::string& error) {
    std::vector<std::uint8_t> bytes;
    for (const std::string& arg : args) {
        std::string_view rest = arg;
        while (true) {
            const auto comma = rest.find(',');
            std::string_view piece = rest.substr(0, comma);
            // Blanks inside a quoted argument separate bytes too.
            std::size_t start = 0, words = 0;
            while (start <= piece.size()) {
                auto blank = piece.find(' ', start);
                if (blank == std::string_view::npos) blank = piece.size();
                const std::string_view word = piece.substr(start, blank - start);
                if (!word.empty()) {
                    if (!ParsePiece(word, bytes, error)) return std::nullopt;
                    ++words;
                }
                start = blank + 1;
            }
            if (words == 0 && arg.find(',') != std::string::npos) {
                error = "empty byte between commas in \"" + arg + "\"";
                return std::nullopt;
            }
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    if (bytes.empty()) {
        error = "no request bytes";
        return std::nullopt;
    }
    return bytes;
}

std::string HexDump(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::optional<std::string> AccountingRecordOf(std::span<const std::uint8_t> reply) {
    if (reply.size() < 2 || reply[0] != 0) return std::nullopt;
    // When the gateway forwards the request (it does not download records
    // itself), the exchange answers: its record text ends at the first 0 byte,
    // and an empty text means that no record is waiting.
    auto end = std::find(reply.begin() + 1, reply.end(), std::uint8_t{0});
    if (end == reply.begin() + 1) return std::nullopt;
    return std::string(reply.begin() + 1, end);
}

} // namespace vantor
