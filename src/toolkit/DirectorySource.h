#pragma once
// What the directory chooser's controls need to know of the file system:
// where browsing can start (the "drives"), whether a path is a directory, and
// the subdirectories of one.  The platform layer reads the real file system;
// tests give a fake tree.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

struct DirectoryListing {
    std::vector<std::string> names; // subdirectory names, in any order
    bool complete = true;           // false: stopped at the limit
    std::string error;              // why the directory could not be read (fully)
};

class DirectorySource {
public:
    virtual ~DirectorySource() = default;
    // The starting points the drive list offers; the file-system root first.
    virtual std::vector<std::string> Roots() const = 0;
    // The absolute, lexically normal form of a path (a relative path is taken
    // from the current directory, an empty one is the current directory).
    virtual std::string Absolute(std::string_view path) const = 0;
    virtual bool IsDirectory(std::string_view path) const = 0;
    // At most `limit` subdirectory names of `path`.
    virtual DirectoryListing Subdirectories(std::string_view path, std::size_t limit) const = 0;
};

} // namespace vantor
