#include "serial/CommMode.h"

#include "toolkit/Strings.h"

#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace vantor {

namespace {

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool ParseBaud(std::string_view s, CommMode& mode) {
    if (s.empty() || s.size() > 9) return false;
    std::uint32_t value = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    // The short forms of the mode syntax name the classic rates by their first two digits.
    static constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 9> shortForms{{
        {11, 110},
        {15, 150},
        {30, 300},
        {60, 600},
        {12, 1200},
        {24, 2400},
        {48, 4800},
        {96, 9600},
        {19, 19200},
    }};
    if (s.size() == 2)
        for (auto [abbrev, rate] : shortForms)
            if (value == abbrev) value = rate;
    mode.baudRate = value;
    return true;
}

bool ParseParity(std::string_view s, CommMode& mode) {
    if (s.size() != 1) return false;
    const char p = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    if (p != 'N' && p != 'O' && p != 'E' && p != 'M' && p != 'S') return false;
    mode.parity = p;
    return true;
}

bool ParseDataBits(std::string_view s, CommMode& mode) {
    if (s.size() != 1 || s[0] < '4' || s[0] > '8') return false;
    mode.dataBits = static_cast<std::uint8_t>(s[0] - '0');
    return true;
}

bool ParseStopBits(std::string_view s, CommMode& mode) {
    if (s == "1")
        mode.stopBits = 0;
    else if (s == "1.5")
        mode.stopBits = 1;
    else if (s == "2")
        mode.stopBits = 2;
    else
        return false;
    return true;
}

std::vector<std::string_view> Split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = s.find(separator);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return parts;
        s.remove_prefix(at + 1);
    }
}

std::optional<CommMode> ParseKeywords(std::string_view text) {
    CommMode mode;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        const std::size_t start = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        const std::string_view token = text.substr(start, i - start);
        if (token.empty()) continue;
        const auto eq = token.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        const std::string key = Lower(token.substr(0, eq));
        const std::string_view value = token.substr(eq + 1);
        bool ok;
        if (key == "baud")
            ok = ParseBaud(value, mode);
        else if (key == "parity")
            ok = ParseParity(value, mode);
        else if (key == "data")
            ok = ParseDataBits(value, mode);
        else if (key == "stop")
            ok = ParseStopBits(value, mode);
        else if (key == "to" || key == "xon" || key == "odsr" || key == "octs" || key == "idsr") {
            const std::string v = Lower(value);
            ok = v == "on" || v == "off";
        } else if (key == "dtr" || key == "rts") {
            const std::string v = Lower(value);
            ok = v == "on" || v == "off" || v == "hs" || (key == "rts" && v == "tg");
        } else
            ok = false;
        if (!ok) return std::nullopt;
    }
    return mode;
}

} // namespace

std::optional<CommMode> ParseCommMode(std::string_view text) {
    text = TrimSpaces(text);
    if (text.empty()) return std::nullopt;
    if (text.find('=') != std::string_view::npos) return ParseKeywords(text);

    const auto fields = Split(text, ',');
    if (fields.size() > 5) return std::nullopt;
    CommMode mode;
    using Parser = bool (*)(std::string_view, CommMode&);
    static constexpr Parser parsers[] = {ParseBaud, ParseParity, ParseDataBits, ParseStopBits};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string_view field = TrimSpaces(fields[i]);
        if (field.empty()) {
            if (i == 0) return std::nullopt; // the baud rate leads every mode text
            continue;
        }
        if (i < 4) {
            if (!parsers[i](field, mode)) return std::nullopt;
        } else {
            // Flow control letter of the short syntax; the port sets flow control itself.
            const char f = static_cast<char>(std::tolower(static_cast<unsigned char>(field[0])));
            if (field.size() != 1 || (f != 'x' && f != 'p')) return std::nullopt;
        }
    }
    return mode;
}

std::string WithBaudRate(std::string_view text, std::string_view baud) {
    const std::string_view::size_type colon = text.find(':');
    const std::string_view::size_type comma = text.find(',');
    std::string next(colon == std::string_view::npos ? std::string_view()
                                                     : text.substr(0, colon + 1));
    next += baud;
    if (comma != std::string_view::npos) next += text.substr(comma, 1000);
    return next;
}

} // namespace vantor
