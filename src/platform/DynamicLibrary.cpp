#include "platform/DynamicLibrary.h"
#include "toolkit/Strings.h"

#include <dlfcn.h>
#include <sys/stat.h>

namespace vantor {
namespace {

std::string LastLoaderError(const std::string& fallback) {
    const char* e = ::dlerror();
    return e ? std::string(e) : fallback;
}

} // namespace

std::string LibraryFileName(std::string_view name) {
    if (name.find('/') != std::string_view::npos || name.ends_with(".so") ||
        name.find(".so.") != std::string_view::npos)
        return std::string(name);
    if (LowerCase(name).ends_with(".dll")) name.remove_suffix(4);
    return "lib" + std::string(name) + ".so";
}

std::string DynamicLibrary::FileInFolder(const std::string& folder, const std::string& file) {
    if (folder.empty() || file.find('/') != std::string::npos) return {};
    std::string local = folder;
    if (local.back() != '/') local += '/';
    local += file;
    struct stat st {};
    return ::stat(local.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? local : std::string();
}

void* DynamicLibrary::load(const std::string& path, bool) {
    ::dlerror(); // clear any earlier message
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) error_ = LastLoaderError("cannot load " + path);
    return handle;
}

void DynamicLibrary::unload(void* handle) { ::dlclose(handle); }

void* DynamicLibrary::lookUp(const char* symbolName) {
    ::dlerror();
    void* address = ::dlsym(handle_, symbolName);
    if (!address) error_ = LastLoaderError(std::string("undefined symbol: ") + symbolName);
    return address;
}

} // namespace vantor
