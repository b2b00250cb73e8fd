// The directory list and drive list over a directory tree in memory.
#include "toolkit/FileControls.h"

#include "support/FakeDirectories.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

std::vector<std::string> Items(const TListBox& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list.Items()[i]);
    return out;
}

class FileControlsTest : public ::testing::Test {
protected:
    FileControlsTest() {
        for (const char* d :
             {"/home/u/b", "/home/u/A", "/home/u/.cache", "/home/u/c", "/media/usb", "/srv"})
            fs.Add(d);
        fs.roots = {"/", "/home/u", "/media/usb"};
        list.SetSource(&fs);
    }
    void SetUp() override {
#ifdef _WIN32
        // The tree in memory is made of Linux paths; Windows splits paths
        // by drive and backslash.  Drive paths come with the Win32 view.
        GTEST_SKIP() << "directory tree of Linux paths";
#endif
    }
    test::FakeDirectories fs;
    TComponent owner{nullptr};
    TDirectoryListBox& list = owner.Create<TDirectoryListBox>();
};

TEST_F(FileControlsTest, ShowsThePathAsATreeAndTheVisibleSubdirectoriesSorted) {
    list.SetDirectory("/home/u/");
    EXPECT_EQ(list.ClassName(), "TDirectoryListBox");
    EXPECT_EQ(list.Directory(), "/home/u");
    EXPECT_EQ(Items(list),
              (std::vector<std::string>{"/", "  home", "    u", "      A", "      b", "      c"}));
    EXPECT_EQ(list.ItemIndex(), 2) << "the open directory is selected";
    EXPECT_EQ(list.SelectedPath(), "/home/u");
    EXPECT_EQ(list.ItemPath(0), "/");
    EXPECT_EQ(list.ItemPath(3), "/home/u/A");
    EXPECT_EQ(list.ItemPath(6), "");
    EXPECT_TRUE(list.Problem().empty());
}

TEST_F(FileControlsTest, APathThatIsNoDirectoryOpensTheNearestExistingParent) {
    fs.cwd = "/home";
    const std::pair<const char*, const char*> cases[] = {
        {"/home/u/gone/deeper", "/home/u"},
        {"/home/u/../u/./b/", "/home/u/b"},
        {"u/c", "/home/u/c"},        // relative to the current directory
        {"", "/home"},               // nothing given: the current directory
        {"C:\\MAIL\\WORK", "/home"}, // a name from another system
        {"/nowhere", "/"},
    };
    for (const auto& [given, opened] : cases) {
        list.SetDirectory(given);
        EXPECT_EQ(list.Directory(), opened) << given;
        EXPECT_EQ(list.SelectedPath(), opened) << given;
    }
}

TEST_F(FileControlsTest, DoubleClickOpensTheSelectedEntryThenRunsTheHandler) {
    int handled = 0, changes = 0;
    list.OnDblClick = [&](TObject*) { ++handled; };
    list.OnChange = [&](TObject*) { ++changes; };
    list.SetDirectory("/home/u");
    list.SetItemIndex(4); // "b"
    EXPECT_EQ(list.SelectedPath(), "/home/u/b");
    EXPECT_EQ(list.Directory(), "/home/u") << "a single click only selects";
    list.DblClick();
    EXPECT_EQ(list.Directory(), "/home/u/b");
    list.SetItemIndex(0);
    list.DblClick();
    EXPECT_EQ(list.Directory(), "/");
    EXPECT_EQ(handled, 2);
    EXPECT_EQ(changes, 3);
    list.SetEnabled(false);
    list.DblClick();
    EXPECT_EQ(handled, 2);
}

TEST_F(FileControlsTest, UnreadableAndHugeDirectoriesSayWhyTheListIsShort) {
    fs.Unreadable("/root", "Permission denied");
    list.SetDirectory("/root");
    EXPECT_EQ(Items(list), (std::vector<std::string>{"/", "  root"}));
    EXPECT_EQ(list.Problem(), "Cannot read /root: Permission denied");

    for (int i = 0; i < 10050; ++i) fs.Add("/big/d" + std::to_string(i));
    list.SetDirectory("/big");
    EXPECT_EQ(list.Count(), 2 + static_cast<int>(TDirectoryListBox::MaxEntries));
    EXPECT_EQ(list.Problem(), "Only the first 10000 subdirectories are shown");
    list.SetDirectory("/srv");
    EXPECT_TRUE(list.Problem().empty());
}

TEST_F(FileControlsTest, DriveListFollowsTheDirectoryAndOpensTheChosenStart) {
    auto& drives = owner.Create<TDriveComboBox>();
    drives.SetSource(&fs);
    drives.SetDirList(&list);
    EXPECT_EQ(drives.Style(), TComboBox::csDropDownList);
    EXPECT_EQ(drives.Items().Count(), 3);
    list.SetDirectory("/home/u/b");
    EXPECT_EQ(drives.Drive(), "/home/u") << "the longest start that holds it";
    list.SetDirectory("/home");
    EXPECT_EQ(drives.Drive(), "/");
    drives.SetItemIndex(2);
    EXPECT_EQ(list.Directory(), "/media/usb");
    const std::size_t listings = fs.listed.size();
    drives.SetItemIndex(2);
    EXPECT_EQ(fs.listed.size(), listings) << "choosing the same start again reads nothing";
}

} // namespace
} // namespace vantor
