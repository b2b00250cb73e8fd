// platform/FileSystemDirectories.h on Windows.  The directory chooser speaks
// UTF-8 (as on Linux); the paths cross to the system as UTF-16.  The starting
// points are the drives (C:\, D:\, ...) and the user's profile folder.
#include "platform/FileSystemDirectories.h"

#include "platform/win32/WinApi.h"

#include <system_error>

namespace vantor {

namespace fs = std::filesystem;

fs::path FileSystemDirectories::PathOf(std::string_view utf8) {
    return fs::path(win32::WideFromUtf8(utf8));
}

std::string FileSystemDirectories::Utf8Of(const fs::path& path) {
    return win32::Utf8FromWide(path.native());
}

std::vector<std::string> FileSystemDirectories::Roots() const {
    std::vector<std::string> roots;
    wchar_t drives[512] = {};
    const DWORD n = ::GetLogicalDriveStringsW(static_cast<DWORD>(std::size(drives) - 1), drives);
    if (n > 0 && n < std::size(drives))
        for (const wchar_t* d = drives; *d; d += wcslen(d) + 1) roots.push_back(win32::Utf8FromWide(d));
    if (roots.empty()) roots.push_back("C:\\");
    wchar_t profile[MAX_PATH] = {};
    const DWORD len = ::GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    std::error_code ec;
    if (len > 0 && len < MAX_PATH && fs::is_directory(profile, ec))
        roots.push_back(win32::Utf8FromWide(profile));
    return roots;
}

std::string FileSystemDirectories::Absolute(std::string_view path) const {
    std::error_code ec;
    fs::path p = PathOf(path);
    if (p.is_relative() || !p.has_root_name()) {
        const fs::path full = fs::absolute(p, ec);
        if (!ec) p = full;
    }
    p = p.lexically_normal();
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return Utf8Of(p);
}

} // namespace vantor
