// The directory chooser's view of the real file system: subdirectories only,
// links followed, failures reported as text and never thrown.
#include "platform/FileSystemDirectories.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace vantor {
namespace {

namespace fs = std::filesystem;

class FileSystemDirectoriesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vantor-dirs-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir / "locked", fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    std::vector<std::string> Names(const DirectoryListing& listing) {
        std::vector<std::string> names = listing.names;
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir;
    FileSystemDirectories source;
};

TEST_F(FileSystemDirectoriesTest, ListsSubdirectoriesAndLinksToThemOnly) {
    fs::create_directories(dir / "a" / "deeper");
    fs::create_directories(dir / ".hidden");
    std::ofstream(dir / "file.txt") << "x";
    fs::create_directory_symlink(dir / "a", dir / "link-to-a");
    fs::create_symlink(dir / "gone", dir / "dangling");
    const DirectoryListing listing = source.Subdirectories(dir.string(), 100);
    EXPECT_TRUE(listing.complete);
    EXPECT_TRUE(listing.error.empty());
    EXPECT_EQ(Names(listing), (std::vector<std::string>{".hidden", "a", "link-to-a"}));

    const DirectoryListing limited = source.Subdirectories(dir.string(), 2);
    EXPECT_FALSE(limited.complete);
    EXPECT_EQ(limited.names.size(), 2u);
}

TEST_F(FileSystemDirectoriesTest, FailuresAreTextsNotExceptions) {
    std::ofstream(dir / "file.txt") << "x";
    for (const fs::path& p : {dir / "missing", dir / "file.txt"}) {
        const DirectoryListing listing = source.Subdirectories(p.string(), 100);
        EXPECT_FALSE(listing.error.empty()) << p;
        EXPECT_TRUE(listing.names.empty());
        EXPECT_FALSE(source.IsDirectory(p.string()));
    }
    if (::geteuid() != 0) { // root reads any directory
        fs::create_directory(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::none);
        EXPECT_EQ(source.Subdirectories((dir / "locked").string(), 100).error,
                  std::make_error_code(std::errc::permission_denied).message());
    }
}

TEST_F(FileSystemDirectoriesTest, AbsolutePathsAndStartingPoints) {
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(source.Absolute(""), cwd);
    EXPECT_EQ(source.Absolute("x/../y/"), (fs::current_path() / "y").string());
    EXPECT_EQ(source.Absolute("/a/./b/"), "/a/b");
    EXPECT_EQ(source.Absolute("/"), "/");
    EXPECT_TRUE(source.IsDirectory(dir.string()));
    const std::vector<std::string> roots = source.Roots();
    ASSERT_FALSE(roots.empty());
    EXPECT_EQ(roots.front(), "/");
    for (const std::string& root : roots) EXPECT_TRUE(source.IsDirectory(root)) << root;
}

} // namespace
} // namespace vantor
