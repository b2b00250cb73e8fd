#include "nls/LanguageTable.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "toolkit/Controls.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"
#include "toolkit/Strings.h"

namespace vantor {

namespace {

constexpr std::string_view kCommon = "Common";
constexpr std::string_view kMenu = "Menu";
constexpr std::string_view kTexty = "Texty";
constexpr std::string_view kText = "Text";

// Menus are trees built by the program; this only keeps a mistakenly
// cyclic one from recursing without end.
constexpr int kMaxMenuDepth = 32;

// A value is cut to the longest a profile read returns (the profile reader
// has already taken off the quotes that keep a blank at a text's end).
std::string CleanValue(std::string value) {
    if (value.size() > TLanguageTable::MaxValueLength) value.resize(TLanguageTable::MaxValueLength);
    return value;
}

// The code becomes part of a file name; one that could name another
// directory (or is empty) names no language file at all.
bool UsableCode(std::string_view code) {
    if (code.empty()) return false;
    for (char c : code) {
        if (c == '/' || c == '\\' || c == '\0') return false;
    }
    return true;
}

// The classes whose caption a translation replaces, compared exactly so that
// a class derived from one of them keeps its caption.
bool TranslatedClass(const std::string& name) {
    return name == "TLabel" || name == "TButton" || name == "TBitBtn" || name == "TGroupBox" ||
           name == "TCheckBox";
}

// Reads at most `limit` bytes of a regular file; nullopt when it cannot be read.
std::optional<std::string> ReadLimited(const std::filesystem::path& path, std::size_t limit) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text;
    char chunk[16384];
    while (text.size() < limit) {
        std::size_t want = std::min(sizeof chunk, limit - text.size());
        in.read(chunk, static_cast<std::streamsize>(want));
        std::streamsize got = in.gcount();
        if (got > 0) text.append(chunk, static_cast<std::size_t>(got));
        if (!in) break;
    }
    if (in.bad()) return std::nullopt;
    return text;
}

} // namespace

// The document a lookup runs over: the open file, or, when none is open, a
// copy read for this one operation (so that a caller who forgot to open the
// file still gets its texts rather than nothing).
class TLanguageTable::Reading {
public:
    explicit Reading(TLanguageTable& table) : table_(table), own_(!table.open_) {
        if (own_) copy_ = table.ReadFile();
    }
    const IniDocument& Doc() const { return own_ ? copy_ : table_.file_; }

private:
    TLanguageTable& table_;
    bool own_;
    IniDocument copy_;
};

TLanguageTable::TLanguageTable(std::vector<std::string> folders) : folders_(std::move(folders)) {}

std::vector<std::string> TLanguageTable::DefaultFolders(std::string gatewayFolder) {
    std::vector<std::string> folders{std::move(gatewayFolder)};
#ifdef VANTOR_DATA_DIR
    if (folders.front() != VANTOR_DATA_DIR) folders.emplace_back(VANTOR_DATA_DIR);
#endif
    return folders;
}

void TLanguageTable::SetLanguage(std::string code) {
    code_ = std::move(code);
    Open();
}

std::string TLanguageTable::FileName() const { return "TVantor." + code_; }

IniDocument TLanguageTable::ReadFile() {
    path_.clear();
    if (!UsableCode(code_)) return {};
    for (const std::string& folder : folders_) {
        std::filesystem::path path = folder.empty() ? std::filesystem::path(FileName())
                                                    : std::filesystem::path(folder) / FileName();
        if (auto text = ReadLimited(path, MaxFileSize)) {
            path_ = path.string();
            return IniDocument::Parse(*text);
        }
    }
    return {};
}

void TLanguageTable::Open() {
    file_ = ReadFile();
    open_ = true;
}

void TLanguageTable::Close() {
    file_ = IniDocument{};
    open_ = false;
}

std::optional<std::string> TLanguageTable::Lookup(const IniDocument& doc, std::string_view section,
                                                  long long key) const {
    auto value = doc.Value(section, IntToStr(key));
    if (!value) return std::nullopt;
    return CleanValue(std::move(*value));
}

std::string TLanguageTable::Msg(int number) const { return texts_.Values(IntToStr(number)); }

std::string TLanguageTable::Text(int number) {
    if (number % 100 == 0) Open();
    std::string text;
    {
        Reading reading(*this);
        text = Lookup(reading.Doc(), kText, number).value_or(std::string());
    }
    if (std::abs(number % 100) == 99) Close();
    return text;
}

void TLanguageTable::LoadTexts() {
    Reading reading(*this);
    for (auto& [key, value] : reading.Doc().Values(kTexty)) {
        if (key.empty()) continue;
        texts_.SetValue(key, CleanValue(std::move(value)));
    }
}

void TLanguageTable::TranslateCaption(const IniDocument& doc, TControl& control, long long key) {
    auto caption = Lookup(doc, kCommon, key);
    if (caption && *caption != control.Caption()) control.SetCaption(std::move(*caption));
}

void TLanguageTable::TranslateControl(const IniDocument& doc, TControl& control) {
    if (control.Tag() == 0 || !TranslatedClass(control.ClassName())) return;
    TranslateCaption(doc, control, control.Tag());
}

void TLanguageTable::TranslateForm(TForm& form, bool ownFile) {
    if (ownFile) Open();
    // Closes the file also when a caption change handler throws.
    struct CloseAfter {
        TLanguageTable* table;
        ~CloseAfter() {
            if (table) table->Close();
        }
    } closeAfter{ownFile ? this : nullptr};

    Reading reading(*this);
    const IniDocument& doc = reading.Doc();
    TranslateCaption(doc, form, form.Tag());
    // Copies of the child lists: a caption change notifies the view, which
    // must not be able to pull a list out from under the loop.
    const std::vector<TControl*> children = form.Controls();
    for (TControl* child : children) {
        const std::string kind = child->ClassName();
        if (kind == "TPanel") {
            const std::vector<TControl*> inner = child->Controls();
            for (TControl* c : inner) TranslateControl(doc, *c);
        } else if (kind == "TGroupBox") {
            TranslateControl(doc, *child);
            const std::vector<TControl*> inner = child->Controls();
            for (TControl* c : inner) TranslateControl(doc, *c);
        } else if (kind == "TPageControl") {
            const std::vector<TControl*> pages = child->Controls();
            long long page = 0;
            for (TControl* p : pages) {
                auto* sheet = dynamic_cast<TTabSheet*>(p);
                if (!sheet) continue;
                TranslateCaption(doc, *sheet, static_cast<long long>(child->Tag()) + page);
                ++page;
                const std::vector<TControl*> inner = sheet->Controls();
                for (TControl* c : inner) TranslateControl(doc, *c);
            }
        } else {
            TranslateControl(doc, *child);
        }
    }
}

void TLanguageTable::TranslateMenuItems(const IniDocument& doc, TMenuItem& item, int depth) {
    if (depth > kMaxMenuDepth) return;
    for (int i = 0; i < item.Count(); ++i) {
        TMenuItem* sub = item.Items(i);
        if (!sub) continue;
        if (sub->Tag() != 0 && !sub->IsLine()) {
            auto caption = Lookup(doc, kMenu, sub->Tag());
            if (caption && *caption != sub->Caption()) sub->SetCaption(std::move(*caption));
        }
        if (sub->Count() > 0) TranslateMenuItems(doc, *sub, depth + 1);
    }
}

void TLanguageTable::TranslateMenu(TMenuItem& item) {
    Reading reading(*this);
    TranslateMenuItems(reading.Doc(), item, 0);
}

void TLanguageTable::LoadLanguage(TForm& mainForm, std::initializer_list<TMenuItem*> menus) {
    Open();
    struct CloseAfter {
        TLanguageTable& table;
        ~CloseAfter() { table.Close(); }
    } closeAfter{*this};
    TranslateForm(mainForm, false);
    for (TMenuItem* menu : menus) {
        if (menu) TranslateMenu(*menu);
    }
    LoadTexts();
}

} // namespace vantor
