#pragma once
// The directory list and the drive list of the directory chooser, as plain
// controls over a DirectorySource.  The directory list shows the path of the
// open directory as a tree (root first, each level indented) followed by its
// subdirectories; a double click opens the selected entry.  The drive list
// offers the source's starting points; choosing one opens it in the linked
// directory list, and it follows the directory list to the starting point
// that holds the open directory.  Items are display texts (Windows-1250);
// the paths behind them stay as the file system spells them.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/DirectorySource.h"

namespace vantor {

class TDriveComboBox;

class TDirectoryListBox : public TListBox {
public:
    // More subdirectories than this are not shown (the rest is reported).
    static constexpr std::size_t MaxEntries = 10000;

    explicit TDirectoryListBox(TComponent* owner, TControl* parent = nullptr);
    ~TDirectoryListBox() override;
    std::string ClassName() const override { return "TDirectoryListBox"; }

    void SetSource(DirectorySource* source);
    // The open directory (absolute).
    const std::string& Directory() const { return directory_; }
    // Opens the directory, or, when the path names none, its nearest parent
    // that exists.  The open directory's own entry is selected.
    void SetDirectory(std::string_view path);
    // The path behind an item; empty outside the items.
    std::string ItemPath(int index) const;
    // The selected entry's path, the open directory when none is selected.
    std::string SelectedPath() const;
    // Why the listing is not complete (unreadable, too many entries); empty
    // when it is.
    const std::string& Problem() const { return problem_; }

    // Opens the selected entry, then runs OnDblClick.
    void DblClick() override;
    // After the open directory changed.
    TNotifyEvent OnChange;

private:
    friend class TDriveComboBox;
    DirectorySource* source_ = nullptr;
    TDriveComboBox* drive_ = nullptr;
    std::string directory_;
    std::string problem_;
    std::vector<std::string> paths_; // one per item
};

class TDriveComboBox : public TComboBox {
public:
    explicit TDriveComboBox(TComponent* owner, TControl* parent = nullptr);
    ~TDriveComboBox() override;
    std::string ClassName() const override { return "TDriveComboBox"; }

    // Fills the list with the source's starting points.
    void SetSource(DirectorySource* source);
    // The directory list this one drives (null: none).
    void SetDirList(TDirectoryListBox* list);
    // The selected starting point; empty when none.
    std::string Drive() const;
    // Choosing a starting point opens it in the directory list.
    void SetItemIndex(int index) override;

private:
    friend class TDirectoryListBox;
    // Selects the starting point that holds the directory, opening nothing.
    void Follow(const std::string& directory);

    std::vector<std::string> roots_;
    TDirectoryListBox* list_ = nullptr;
};

} // namespace vantor
