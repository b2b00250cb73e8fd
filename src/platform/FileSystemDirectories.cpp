#include "platform/FileSystemDirectories.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace vantor {

namespace fs = std::filesystem;

namespace {

// Mount points in /proc/self/mounts write a blank, tab, newline and
// backslash as three octal digits after a backslash.
std::string UnescapeMountPath(const std::string& field) {
    auto octal = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) &&
            octal(field[i + 2]) && octal(field[i + 3])) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

} // namespace

std::vector<std::string> FileSystemDirectories::Roots() const {
    std::vector<std::string> roots{"/"};
    std::error_code ec;
    if (const char* home = std::getenv("HOME");
        home && *home == '/' && fs::is_directory(home, ec)) {
        const std::string h = fs::path(home).lexically_normal().string();
        if (h != "/") roots.push_back(h);
    }
    // Removable media and hand-made mounts, where a technician keeps files
    // brought to the machine.
    std::vector<std::string> media;
    std::ifstream mounts("/proc/self/mounts");
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string device, where;
        if (!(fields >> device >> where)) continue;
        where = UnescapeMountPath(where);
        if (StartsWith(where, "/media/") || StartsWith(where, "/mnt/") ||
            StartsWith(where, "/run/media/"))
            media.push_back(where);
    }
    std::sort(media.begin(), media.end());
    media.erase(std::unique(media.begin(), media.end()), media.end());
    for (std::string& m : media)
        if (std::find(roots.begin(), roots.end(), m) == roots.end()) roots.push_back(std::move(m));
    return roots;
}

std::string FileSystemDirectories::Absolute(std::string_view path) const {
    std::error_code ec;
    fs::path p = PathOf(path);
    if (p.is_relative()) {
        const fs::path cwd = fs::current_path(ec);
        p = (ec ? fs::path("/") : cwd) / p;
    }
    p = p.lexically_normal();
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return Utf8Of(p);
}

fs::path FileSystemDirectories::PathOf(std::string_view utf8) {
    return fs::path(std::string(utf8));
}

std::string FileSystemDirectories::Utf8Of(const fs::path& path) { return path.string(); }

} // namespace vantor
