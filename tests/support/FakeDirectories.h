#pragma once
// A directory tree in memory for the directory chooser's tests: directories
// are absolute paths (their parents exist with them), any of them can be made
// unreadable, and every listing asked for is recorded.  Paths are UTF-8,
// as the chooser speaks them (Linux paths, or drive paths on Windows).
#include "toolkit/DirectorySource.h"
#include "toolkit/FilePath.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vantor::test {

class FakeDirectories : public DirectorySource {
public:
    // Adds the directory and every parent of it.
    void Add(const std::string& path) {
        for (std::filesystem::path p = Utf8Path(path); !p.empty(); p = p.parent_path()) {
            dirs_.insert(Utf8PathText(p));
            if (p == p.root_path()) break;
        }
    }
    void Unreadable(const std::string& path, std::string reason) {
        Add(path);
        errors_[path] = std::move(reason);
    }

    std::vector<std::string> Roots() const override { return roots; }
    std::string Absolute(std::string_view path) const override {
        std::filesystem::path p = Utf8Path(path);
        if (p.is_relative()) p = Utf8Path(cwd) / p;
        p = p.lexically_normal();
        if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
        return Utf8PathText(p);
    }
    bool IsDirectory(std::string_view path) const override {
        return dirs_.count(std::string(path)) != 0;
    }
    DirectoryListing Subdirectories(std::string_view path, std::size_t limit) const override {
        listed.emplace_back(path);
        DirectoryListing listing;
        if (auto e = errors_.find(std::string(path)); e != errors_.end()) {
            listing.error = e->second;
            return listing;
        }
        for (const std::string& d : dirs_) {
            const std::filesystem::path p = Utf8Path(d);
            if (p == p.root_path() || Utf8PathText(p.parent_path()) != path) continue;
            if (listing.names.size() == limit) {
                listing.complete = false;
                break;
            }
            listing.names.push_back(Utf8PathText(p.filename()));
        }
        return listing;
    }

    std::vector<std::string> roots{"/"};
    std::string cwd = "/";
    mutable std::vector<std::string> listed;

private:
    std::set<std::string> dirs_;
    std::map<std::string, std::string> errors_;
};

} // namespace vantor::test
