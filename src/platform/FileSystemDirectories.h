#pragma once
// The real file system behind the directory chooser: the root, the user's
// home folder and removable media as starting points, and the
// subdirectories of a directory, read without ever throwing.
#include "toolkit/DirectorySource.h"

#include <filesystem>

namespace vantor {

class FileSystemDirectories final : public DirectorySource {
public:
    // Entries looked at in one directory at most, files included, so a
    // directory of millions of files cannot stall the loop thread for long.
    static constexpr std::size_t MaxScanned = 1000000;

    std::vector<std::string> Roots() const override;
    std::string Absolute(std::string_view path) const override;
    bool IsDirectory(std::string_view path) const override;
    DirectoryListing Subdirectories(std::string_view path, std::size_t limit) const override;

private:
    // The chooser's UTF-8 paths to the system's and back, one file per system.
    static std::filesystem::path PathOf(std::string_view utf8);
    static std::string Utf8Of(const std::filesystem::path& path);
};

} // namespace vantor
