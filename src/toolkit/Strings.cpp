#include "toolkit/Strings.h"

#include <limits>

namespace vantor {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    bool negative = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    // Accumulate in 64 bits; anything past 32 bits fails.  Hexadecimal may
    // spell the full unsigned range ($FFFFFFFF is -1), as the framework reads it.
    std::uint64_t value = 0;
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : 0x80000000ull;
    for (; i < text.size(); ++i) {
        const int d = base == 16 ? HexDigit(text[i])
                                 : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (d < 0) return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (value > limit) return std::nullopt;
    }
    std::int64_t result;
    if (base == 16) {
        result = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        if (negative) result = -result;
        if (result > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    } else {
        result = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
        if (result > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    return static_cast<std::int32_t>(result);
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t def) {
    return ParseInt32(TrimView(text)).value_or(def);
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

std::string IntToHex(std::int64_t value, int digits) {
    static const char hex[] = "0123456789ABCDEF";
    std::uint64_t v =
        value < 0 ? static_cast<std::uint32_t>(value) : static_cast<std::uint64_t>(value);
    std::string out;
    do {
        out.insert(out.begin(), hex[v & 0xF]);
        v >>= 4;
    } while (v);
    if (digits > 0 && out.size() < static_cast<std::size_t>(digits))
        out.insert(0, static_cast<std::size_t>(digits) - out.size(), '0');
    return out;
}

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiUpper(c);
    return out;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

std::string_view TrimView(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string CutToField(std::string text, std::size_t capacity) {
    if (text.size() > capacity) text.resize(capacity);
    return text;
}

std::string FormatText(std::string_view text, std::initializer_list<std::string_view> values) {
    const std::string_view* value = values.begin();
    bool used[9] = {};
    std::string out;
    // One pass: a value that holds "%2" itself is not read again.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t n = i + 1 < text.size() ? static_cast<std::size_t>(text[i + 1] - '1') : 9;
        if (text[i] == '%' && n < 9 && n < values.size()) {
            out += value[n];
            used[n] = true;
            ++i;
        } else {
            out += text[i];
        }
    }
    for (std::size_t n = 0; n < values.size(); ++n) {
        if (n < 9 && used[n]) continue;
        if (!out.empty()) out += ' ';
        out += value[n];
    }
    return out;
}

} // namespace vantor
