// platform/DynamicLibrary.h on Windows: LoadLibraryW, GetProcAddress and
// FreeLibrary.  "Zelkor.dll" is the file Zelkor.dll: from the gateway's
// folder when it lies there (its own dependencies are then looked for beside
// it as well), otherwise through the system's search for DLLs.  A library
// that cannot be loaded never brings up a system message box: the gateway may
// be a service with nobody to answer it.
#include "platform/DynamicLibrary.h"

#include "platform/win32/WinApi.h"

#include <utility>

namespace vantor {
namespace {

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char a = s[s.size() - suffix.size() + i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != suffix[i]) return false;
    }
    return true;
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

HMODULE Handle(void* h) { return static_cast<HMODULE>(h); }

} // namespace

std::string LibraryFileName(std::string_view name) {
    if (name.empty() || EndsWithNoCase(name, ".dll") ||
        name.find_first_of("\\/") != std::string_view::npos)
        return std::string(name);
    return std::string(name) + ".dll";
}

DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool DynamicLibrary::Open(std::string_view name, const std::string& gatewayFolder) {
    Close();
    error_.clear();
    const std::string file = LibraryFileName(name);
    if (file.empty()) {
        error_ = "No library name given";
        return false;
    }
    std::string candidate = file;
    DWORD flags = 0;
    if (file.find_first_of("\\/") == std::string::npos && !gatewayFolder.empty()) {
        std::string local = gatewayFolder;
        if (local.back() != '\\' && local.back() != '/') local += '\\';
        local += file;
        if (IsFile(win32::Wide(local))) {
            candidate = local;
            flags = LOAD_WITH_ALTERED_SEARCH_PATH; // its dependencies beside it too
        }
    }
    DWORD oldMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    handle_ = ::LoadLibraryExW(win32::Wide(candidate).c_str(), nullptr, flags);
    const DWORD error = ::GetLastError();
    ::SetThreadErrorMode(oldMode, nullptr);
    if (!handle_) {
        error_ = candidate + ": " + win32::ErrorText(error);
        return false;
    }
    path_ = candidate;
    return true;
}

void DynamicLibrary::Close() {
    if (handle_) {
        ::FreeLibrary(Handle(handle_));
        handle_ = nullptr;
    }
    path_.clear();
}

void* DynamicLibrary::Symbol(const char* symbolName) {
    if (!handle_) {
        error_ = "No library is loaded";
        return nullptr;
    }
    const FARPROC address = ::GetProcAddress(Handle(handle_), symbolName);
    if (!address) {
        error_ = std::string(symbolName) + ": " + win32::ErrorText(::GetLastError());
        return nullptr;
    }
    return reinterpret_cast<void*>(address);
}

namespace {

class LoadedLibrary final : public SymbolSource {
public:
    explicit LoadedLibrary(DynamicLibrary library) : library_(std::move(library)) {}
    void* Symbol(const char* name) override { return library_.Symbol(name); }

private:
    DynamicLibrary library_;
};

} // namespace

SymbolSourceOpener SystemLibraryOpener(std::string gatewayFolder) {
    return [folder = std::move(gatewayFolder)](
               const std::string& dllName) -> std::unique_ptr<SymbolSource> {
        DynamicLibrary library;
        if (!library.Open(dllName, folder)) return nullptr;
        return std::make_unique<LoadedLibrary>(std::move(library));
    };
}

} // namespace vantor
