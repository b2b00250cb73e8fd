#include "toolkit/FilePath.h"

#include "toolkit/Cp1250.h"

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace vantor {

#ifdef _WIN32

// The conversions are the gateway's own: the C++ library's UTF-8 ones are
// not sound on Windows either (this compiler's turns "č" into two
// characters and two NULs).
std::filesystem::path FilePath(std::string_view name) {
    const std::u16string utf16 = Utf16FromCp1250(name);
    return std::filesystem::path(std::wstring(utf16.begin(), utf16.end()));
}

std::string FilePathText(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    return Cp1250FromUtf16(std::u16string(wide.begin(), wide.end()));
}

std::filesystem::path Utf8Path(std::string_view utf8) {
    std::wstring wide;
    wide.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int length = c < 0x80         ? 1
                           : (c >> 5) == 6  ? 2
                           : (c >> 4) == 14 ? 3
                           : (c >> 3) == 30 ? 4
                                            : 0;
        std::uint32_t code = length == 1   ? c
                             : length == 2 ? c & 0x1F
                             : length == 3 ? c & 0x0F
                                           : c & 0x07;
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= utf8.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        if (!valid || code > 0x10FFFF) {
            wide += L'\xFFFD';
            ++i;
            continue;
        }
        i += static_cast<std::size_t>(length);
        if (code >= 0x10000) {
            code -= 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (code >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(code);
        }
    }
    return std::filesystem::path(wide);
}

std::string Utf8PathText(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        std::uint32_t code = wide[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    std::wstring wideMode;
    bool exclusive = false;
    for (const char* m = mode; *m; ++m) {
        if (*m == 'x')
            exclusive = true;
        else
            wideMode += static_cast<wchar_t>(*m);
    }
    // The system's C library knows no "x" (never reuse an existing name);
    // the callers use it for fresh random names, where looking first is
    // enough.
    std::error_code ec;
    if (exclusive && std::filesystem::exists(path, ec)) {
        errno = EEXIST;
        return nullptr;
    }
    return ::_wfopen(path.c_str(), wideMode.c_str());
}

#else

std::filesystem::path FilePath(std::string_view name) { return std::filesystem::path(name); }

std::string FilePathText(const std::filesystem::path& path) { return path.string(); }

std::filesystem::path Utf8Path(std::string_view utf8) { return std::filesystem::path(utf8); }

std::string Utf8PathText(const std::filesystem::path& path) { return path.string(); }

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

#endif

} // namespace vantor
