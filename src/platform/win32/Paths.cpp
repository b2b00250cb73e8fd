// platform/Paths.h on Windows, and the home of Win32Paths.h.
#include "platform/Paths.h"
#include "platform/win32/Win32Paths.h"

#include "platform/win32/WinApi.h"

#include <shlobj.h>

#include <vector>

namespace vantor {

using win32::Narrow;
using win32::Wide;

std::string ExecutablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return Narrow(std::wstring_view(buffer.data(), n));
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string TempPath() {
    wchar_t buffer[MAX_PATH + 2] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH + 1) return {};
    std::string path = Narrow(std::wstring_view(buffer, n));
    if (path.back() != '\\') path += '\\';
    return path;
}

namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    std::string result;
    if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK && path)
        result = Narrow(path);
    ::CoTaskMemFree(path);
    return result;
}

} // namespace

std::string UserDataFolder(const std::string& name) {
    const std::string base = KnownFolder(FOLDERID_LocalAppData);
    return base.empty() ? std::string() : base + "\\" + name;
}

std::string ProgramDataFolder(const std::string& name) {
    const std::string base = KnownFolder(FOLDERID_ProgramData);
    return base.empty() ? std::string() : base + "\\" + name;
}

bool FolderWritable(const std::string& folder) {
    // Rights on Windows come from access lists, inherited folders and
    // privileges; making a file is the one test that says it all.
    std::wstring probe = Wide(folder);
    if (probe.empty()) return false;
    if (probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
    probe += L".vantor-write-test-" + std::to_wstring(::GetCurrentProcessId());
    HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

std::string SystemErrorMessage(int errorNumber) {
    return win32::ErrorText(static_cast<DWORD>(errorNumber)) + "\r\n";
}

WindowsHome ChooseWindowsHome(const std::string& exeFolder) {
    WindowsHome home;
    if (!exeFolder.empty() && FolderWritable(exeFolder)) {
        home.folder = exeFolder;
        home.besideProgram = true;
        return home;
    }
    const std::string data = ProgramDataFolder("TarvoVantor");
    if (data.empty()) {
        home.error = "the program's folder " + exeFolder +
                     " cannot be written and the system names no ProgramData folder";
        return home;
    }
    if (!::CreateDirectoryW(Wide(data).c_str(), nullptr)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            home.error = "the program's folder " + exeFolder + " cannot be written, and " + data +
                         " cannot be made: " + win32::ErrorText(error);
            return home;
        }
    }
    home.folder = data;
    return home;
}

} // namespace vantor
