#pragma once
// The two outside libraries (mail bridge, call-centre plug-in) are shared
// objects loaded at run time.  A library the gateway knows by its Windows name
// "X.dll" is the file "libX.so" here, looked up in the gateway's folder first
// and then by the system's default search.  The handle is closed with the
// object; symbols fetched from it must not be used after that.
#include "toolkit/SymbolSource.h"

#include <memory>
#include <string>
#include <string_view>

namespace vantor {

// "X.dll" (any case of the extension) -> "libX.so"; a name that already ends
// in ".so" or holds a '/' is returned unchanged; any other name "N" -> "libN.so".
std::string LibraryFileName(std::string_view name);

// The system loader: libX.so in gatewayFolder first, then the default search.
SymbolSourceOpener SystemLibraryOpener(std::string gatewayFolder);

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the library (closing any loaded before).  A file of that name in
    // gatewayFolder is loaded from there, and its load error is reported as
    // it is; otherwise the default search is used.  Returns false with
    // ErrorText() on failure.
    bool Open(std::string_view name, const std::string& gatewayFolder);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    // The address of an exported symbol, or null (ErrorText() says why).
    void* Symbol(const char* symbolName);
    // The same, as a function pointer type.
    template <class Fn>
    Fn Function(const char* symbolName) {
        return reinterpret_cast<Fn>(Symbol(symbolName));
    }

    // Where the library was loaded from (the name given to the loader).
    const std::string& LoadedPath() const { return path_; }
    const std::string& ErrorText() const { return error_; }

private:
    // The system's loader, one file per system.  The file `file` of `folder`
    // when it lies there and names no folder of its own, else empty; loading
    // and looking up set ErrorText() when they fail.
    static std::string FileInFolder(const std::string& folder, const std::string& file);
    void* load(const std::string& path, bool fromFolder);
    static void unload(void* handle);
    void* lookUp(const char* symbolName);

    void* handle_ = nullptr;
    std::string path_;
    std::string error_;
};

} // namespace vantor
