#include "Charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace vantorq9 {

namespace {

const char* IconvName(TextCharset charset) {
    return charset == TextCharset::Windows1250 ? "WINDOWS-1250" : "UTF-8";
}

// One iconv conversion descriptor, closed with the object.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Converts all of `in`; a byte sequence that cannot be converted is
    // skipped (`skip` says how far) and `replacement` written instead.
    std::string Convert(std::string_view in, std::string_view replacement,
                        std::size_t (*skip)(std::string_view rest)) {
        std::string out;
        out.reserve(in.size() * 2 + 8);
        char buffer[1024];
        char* src = const_cast<char*>(in.data());
        std::size_t left = in.size();
        while (left > 0) {
            char* dst = buffer;
            std::size_t room = sizeof buffer;
            const std::size_t rc = iconv(cd_, &src, &left, &dst, &room);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (rc != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (a sequence cut off at the end).
            const std::size_t n = std::min(left, std::max<std::size_t>(1, skip({src, left})));
            src += n;
            left -= n;
            out += replacement;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

std::size_t OneByte(std::string_view) { return 1; }

// The length of the UTF-8 sequence that starts `rest`, so a character that
// cannot be converted is replaced once, not once per byte.
std::size_t Utf8Sequence(std::string_view rest) {
    const auto b = static_cast<unsigned char>(rest[0]);
    std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    for (std::size_t i = 1; i < n; ++i)
        if (i >= rest.size() || (static_cast<unsigned char>(rest[i]) & 0xC0) != 0x80) return i;
    return n;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

} // namespace

bool ParseCharset(std::string_view name, TextCharset& out) {
    if (EqualsIgnoringCase(name, "windows-1250") || EqualsIgnoringCase(name, "cp1250")) {
        out = TextCharset::Windows1250;
        return true;
    }
    if (EqualsIgnoringCase(name, "utf-8") || EqualsIgnoringCase(name, "utf8")) {
        out = TextCharset::Utf8;
        return true;
    }
    return false;
}

std::string ToUtf8(std::string_view text, TextCharset from) {
    Iconv cd("UTF-8", IconvName(from));
    return cd.Convert(text, "\xEF\xBF\xBD", from == TextCharset::Utf8 ? &Utf8Sequence : &OneByte);
}

std::string FromUtf8(std::string_view utf8, TextCharset to) {
    Iconv cd(IconvName(to), "UTF-8");
    return cd.Convert(utf8, to == TextCharset::Utf8 ? "\xEF\xBF\xBD" : "?", &Utf8Sequence);
}

} // namespace vantorq9
