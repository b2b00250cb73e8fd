#include "toolkit/FilePath.h"

#include "toolkit/Cp1250.h"

#include <cerrno>
#include <system_error>

namespace vantor {

#ifdef _WIN32

std::filesystem::path FilePath(std::string_view name) {
    const std::string utf8 = Utf8FromCp1250(name);
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string FilePathText(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return Cp1250FromUtf8(std::string(utf8.begin(), utf8.end()));
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
