// What loading a library is on every system; the loader's own calls are in
// each system's DynamicLibrary.cpp.
#include "platform/DynamicLibrary.h"

#include <utility>

namespace vantor {

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
    // The second: a name that is nothing but the extension.
    if (file.empty() || file == LibraryFileName("")) {
        error_ = "No library name given";
        return false;
    }
    const std::string local = FileInFolder(gatewayFolder, file);
    const std::string& candidate = local.empty() ? file : local;
    handle_ = load(candidate, !local.empty());
    if (!handle_) return false;
    path_ = candidate;
    return true;
}

void DynamicLibrary::Close() {
    if (handle_) {
        unload(handle_);
        handle_ = nullptr;
    }
    path_.clear();
}

void* DynamicLibrary::Symbol(const char* symbolName) {
    if (!handle_) {
        error_ = "No library is loaded";
        return nullptr;
    }
    return lookUp(symbolName);
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
