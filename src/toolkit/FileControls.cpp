#include "toolkit/FileControls.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "toolkit/Cp1250.h"
#include "toolkit/FilePath.h"

namespace vantor {

namespace fs = std::filesystem;

namespace {

// "/a/b/" and "/a/b" name the same directory.
fs::path WithoutTrailingSeparator(fs::path p) {
    p = p.lexically_normal();
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return p;
}

std::string Indented(int level, std::string_view name) {
    return std::string(static_cast<std::size_t>(level) * 2, ' ') + Cp1250FromUtf8(name);
}

// Letter case does not decide the order, so "Data" and "data" stand side by
// side; bytes decide between names that differ in case only.
void SortNames(std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) {
        std::string key = name;
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        keyed.emplace_back(std::move(key), std::move(name));
    }
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = std::move(keyed[i].second);
}

// Whether `dir` is `root` or lies inside it, compared by path components.
bool Holds(const fs::path& root, const fs::path& dir) {
    auto r = root.begin();
    auto d = dir.begin();
    for (; r != root.end(); ++r, ++d) {
        if (r->empty()) continue; // a trailing separator
        if (d == dir.end() || *r != *d) return false;
    }
    return true;
}

} // namespace

// ------------------------------------------------------- TDirectoryListBox

TDirectoryListBox::TDirectoryListBox(TComponent* owner, TControl* parent)
    : TListBox(owner, parent) {}

TDirectoryListBox::~TDirectoryListBox() {
    if (drive_) drive_->list_ = nullptr;
}

void TDirectoryListBox::SetSource(DirectorySource* source) { source_ = source; }

void TDirectoryListBox::SetDirectory(std::string_view path) {
    paths_.clear();
    problem_.clear();
    if (!source_) {
        directory_ = std::string(path);
        Items().Clear();
        return;
    }
    // A path that is not (or no longer) a directory opens the nearest parent
    // that is, so the chooser always starts somewhere near what was asked.
    // Paths are UTF-8 here, as the source speaks them (Utf8Path: Windows
    // reads a narrow path in its own code page).
    fs::path dir = WithoutTrailingSeparator(Utf8Path(source_->Absolute(path)));
    while (!source_->IsDirectory(Utf8PathText(dir))) {
        const fs::path parent = dir.parent_path();
        if (parent.empty() || parent == dir) break;
        dir = parent;
    }
    directory_ = Utf8PathText(dir);

    // The root first as one level ("/", "C:"), then each directory below.
    std::vector<std::string> texts;
    fs::path at = dir.root_path();
    int level = 0;
    if (!at.empty()) {
        texts.push_back(Indented(level++, Utf8PathText(at)));
        paths_.push_back(Utf8PathText(at));
    }
    for (const fs::path& part : dir.relative_path()) {
        if (part.empty()) continue;
        at /= part;
        texts.push_back(Indented(level++, Utf8PathText(part)));
        paths_.push_back(Utf8PathText(at));
    }
    const int current = static_cast<int>(paths_.size()) - 1;

    DirectoryListing listing = source_->Subdirectories(directory_, MaxEntries);
    // Names beginning with a dot are hidden, as file managers hide them.
    std::erase_if(listing.names, [](const std::string& n) { return n.empty() || n[0] == '.'; });
    SortNames(listing.names);
    if (listing.names.size() > MaxEntries) {
        listing.names.resize(MaxEntries);
        listing.complete = false;
    }
    for (const std::string& name : listing.names) {
        texts.push_back(Indented(level, name));
        paths_.push_back(Utf8PathText(dir / Utf8Path(name)));
    }
    if (!listing.error.empty())
        problem_ = "Cannot read " + directory_ + ": " + listing.error;
    else if (!listing.complete)
        problem_ =
            "Only the first " + std::to_string(listing.names.size()) + " subdirectories are shown";

    Items().Assign(std::move(texts));
    SetItemIndex(current);
    SetTopIndex(std::max(current, 0));
    if (drive_) drive_->Follow(directory_);
    if (OnChange) {
        auto handler = OnChange;
        handler(this);
    }
}

std::string TDirectoryListBox::ItemPath(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= paths_.size()) return {};
    return paths_[static_cast<std::size_t>(index)];
}

std::string TDirectoryListBox::SelectedPath() const {
    const std::string selected = ItemPath(ItemIndex());
    return selected.empty() ? directory_ : selected;
}

void TDirectoryListBox::DblClick() {
    if (!Enabled()) return;
    if (ItemIndex() >= 0) SetDirectory(ItemPath(ItemIndex()));
    TControl::DblClick();
}

// ---------------------------------------------------------- TDriveComboBox

TDriveComboBox::TDriveComboBox(TComponent* owner, TControl* parent) : TComboBox(owner, parent) {
    SetStyle(csDropDownList);
}

TDriveComboBox::~TDriveComboBox() {
    if (list_) list_->drive_ = nullptr;
}

void TDriveComboBox::SetSource(DirectorySource* source) {
    roots_ = source ? source->Roots() : std::vector<std::string>{};
    std::vector<std::string> texts;
    for (const std::string& root : roots_) texts.push_back(Cp1250FromUtf8(root));
    Items().Assign(std::move(texts));
    if (list_) Follow(list_->Directory());
}

void TDriveComboBox::SetDirList(TDirectoryListBox* list) {
    if (list_) list_->drive_ = nullptr;
    list_ = list;
    if (list_) {
        if (list_->drive_ && list_->drive_ != this) list_->drive_->list_ = nullptr;
        list_->drive_ = this;
        Follow(list_->Directory());
    }
}

std::string TDriveComboBox::Drive() const {
    const int index = ItemIndex();
    return index >= 0 && static_cast<std::size_t>(index) < roots_.size()
               ? roots_[static_cast<std::size_t>(index)]
               : std::string();
}

void TDriveComboBox::SetItemIndex(int index) {
    const int before = ItemIndex();
    TComboBox::SetItemIndex(index);
    if (!list_ || ItemIndex() < 0 || ItemIndex() == before) return;
    list_->SetDirectory(Drive());
}

void TDriveComboBox::Follow(const std::string& directory) {
    // The longest starting point that holds the directory: a home folder
    // rather than the root it lies under.
    int best = -1;
    std::size_t bestLength = 0;
    const fs::path dir = Utf8Path(directory);
    for (std::size_t i = 0; i < roots_.size(); ++i) {
        const fs::path root = WithoutTrailingSeparator(Utf8Path(roots_[i]));
        const std::size_t length = Utf8PathText(root).size();
        if (Holds(root, dir) && (best < 0 || length > bestLength)) {
            best = static_cast<int>(i);
            bestLength = length;
        }
    }
    TComboBox::SetItemIndex(best); // only shows it: the directory stays open
}

} // namespace vantor
