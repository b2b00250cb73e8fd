// platform/DynamicLibrary.h on Windows: LoadLibraryW, GetProcAddress and
// FreeLibrary.  "Zelkor.dll" is the file Zelkor.dll: from the gateway's
// folder when it lies there (its own dependencies are then looked for beside
// it as well), otherwise through the system's search for DLLs.  A library
// that cannot be loaded never brings up a system message box: the gateway may
// be a service with nobody to answer it.
#include "platform/DynamicLibrary.h"
#include "toolkit/Strings.h"

#include "platform/win32/WinApi.h"

namespace vantor {
namespace {

HMODULE Handle(void* h) { return static_cast<HMODULE>(h); }

} // namespace

std::string LibraryFileName(std::string_view name) {
    if (name.empty() || LowerCase(name).ends_with(".dll") ||
        name.find_first_of("\\/") != std::string_view::npos)
        return std::string(name);
    return std::string(name) + ".dll";
}

std::string DynamicLibrary::FileInFolder(const std::string& folder, const std::string& file) {
    if (folder.empty() || file.find_first_of("\\/") != std::string::npos) return {};
    std::string local = folder;
    if (local.back() != '\\' && local.back() != '/') local += '\\';
    local += file;
    const DWORD attributes = ::GetFileAttributesW(win32::Wide(local).c_str());
    const bool isFile =
        attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    return isFile ? local : std::string();
}

void* DynamicLibrary::load(const std::string& path, bool fromFolder) {
    DWORD oldMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    // A library from the gateway's folder finds its own dependencies beside it too.
    void* handle = ::LoadLibraryExW(win32::Wide(path).c_str(), nullptr,
                                    fromFolder ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    const DWORD error = ::GetLastError();
    ::SetThreadErrorMode(oldMode, nullptr);
    if (!handle) error_ = path + ": " + win32::ErrorText(error);
    return handle;
}

void DynamicLibrary::unload(void* handle) { ::FreeLibrary(Handle(handle)); }

void* DynamicLibrary::lookUp(const char* symbolName) {
    const FARPROC address = ::GetProcAddress(Handle(handle_), symbolName);
    if (!address) {
        error_ = std::string(symbolName) + ": " + win32::ErrorText(::GetLastError());
        return nullptr;
    }
    return reinterpret_cast<void*>(address);
}

} // namespace vantor
