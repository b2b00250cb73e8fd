// Reading directories the same way on every system; what a path is to the
// system, and where the chooser starts, are in each system's file.
#include "platform/FileSystemDirectories.h"

#include <system_error>

namespace vantor {

namespace fs = std::filesystem;

bool FileSystemDirectories::IsDirectory(std::string_view path) const {
    std::error_code ec;
    return fs::is_directory(PathOf(path), ec);
}

DirectoryListing FileSystemDirectories::Subdirectories(std::string_view path,
                                                       std::size_t limit) const {
    DirectoryListing listing;
    std::error_code ec;
    fs::directory_iterator it(PathOf(path), ec);
    if (ec) {
        listing.error = ec.message();
        return listing;
    }
    std::size_t scanned = 0;
    for (const fs::directory_iterator end; it != end;) {
        if (listing.names.size() >= limit || ++scanned > MaxScanned) {
            listing.complete = false;
            break;
        }
        std::error_code entryError;
        // Follows symbolic links: a link to a directory can be opened.
        if (it->is_directory(entryError)) listing.names.push_back(Utf8Of(it->path().filename()));
        it.increment(ec);
        if (ec) {
            listing.error = ec.message();
            break;
        }
    }
    return listing;
}

} // namespace vantor
