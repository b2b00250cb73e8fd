#include "toolkit/FilePath.h"

#include "toolkit/Cp1250.h"

#include <cerrno>
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

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

#endif

} // namespace vantor
