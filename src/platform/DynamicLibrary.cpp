#include "platform/DynamicLibrary.h"

#include <utility>

#include <dlfcn.h>
#include <sys/stat.h>

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

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string LastLoaderError(const std::string& fallback) {
    const char* e = ::dlerror();
    return e ? std::string(e) : fallback;
}

} // namespace

std::string LibraryFileName(std::string_view name) {
    if (name.find('/') != std::string_view::npos || name.ends_with(".so") ||
        name.find(".so.") != std::string_view::npos)
        return std::string(name);
    if (EndsWithNoCase(name, ".dll")) name.remove_suffix(4);
    return "lib" + std::string(name) + ".so";
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
    if (file.empty() || file == "lib.so") {
        error_ = "No library name given";
        return false;
    }
    std::string candidate = file;
    if (file.find('/') == std::string::npos && !gatewayFolder.empty()) {
        std::string local = gatewayFolder;
        if (local.back() != '/') local += '/';
        local += file;
        if (IsFile(local)) candidate = local;
    }
    ::dlerror(); // clear any earlier message
    handle_ = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        error_ = LastLoaderError("cannot load " + candidate);
        return false;
    }
    path_ = candidate;
    return true;
}

void DynamicLibrary::Close() {
    if (handle_) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
    path_.clear();
}

void* DynamicLibrary::Symbol(const char* symbolName) {
    if (!handle_) {
        error_ = "No library is loaded";
        return nullptr;
    }
    ::dlerror();
    void* address = ::dlsym(handle_, symbolName);
    if (!address) error_ = LastLoaderError(std::string("undefined symbol: ") + symbolName);
    return address;
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
