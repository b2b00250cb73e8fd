#include "platform/Paths.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace vantor {
namespace {

// strerror_r comes in a GNU flavour (returns the text) and an XSI flavour
// (fills the buffer); these two overloads accept either.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ErrorText(const char* result, const char*) { return result; }

} // namespace

std::string ExecutablePath() {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
        if (buffer.size() >= 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string TempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp/";
    if (path.back() != '/') path += '/';
    return path;
}

std::string UserDataFolder(const std::string& name) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // XDG base directory rules: a relative XDG_DATA_HOME is ignored.
    if (xdg && *xdg == '/') return std::string(xdg) + "/" + name;
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return std::string(home) + "/.local/share/" + name;
    return {};
}

bool FolderWritable(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string SystemErrorMessage(int errorNumber) {
    char buffer[256] = {};
    const char* text = ErrorText(::strerror_r(errorNumber, buffer, sizeof buffer), buffer);
    std::string result = text ? text : "Unknown error " + std::to_string(errorNumber);
    return result + "\r\n";
}

} // namespace vantor
