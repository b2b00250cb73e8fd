#include "nls/LanguageTable.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "toolkit/Controls.h"
#include "toolkit/FilePath.h"
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

// Whether a file has anything for the log lines and message boxes.
bool HasTexts(const IniDocument& doc) {
    for (const auto& [key, value] : doc.Values(kTexty))
        if (!value.empty()) return true;
    return false;
}

// The name of the language file of `code` in `folder` as the folder spells
// it ("TVantor.Cz" for the code "cz"): the code is the user's word, and a
// file system that tells letter cases apart finds the file only by the
// file's own spelling, while one that does not (Windows) finds it under any
// and names it only in its listing.  The exact spelling when there is a file
// of it; empty when there is none at all.  A folder of many files is looked
// through only so far.
std::string FileNameIgnoringCase(const std::string& folder, const std::string& code) {
    constexpr int MaxEntries = 10000;
    const std::string prefix = "TVantor.";
    std::string found;
    std::error_code ec;
    std::filesystem::directory_iterator it(vantor::FilePath(folder.empty() ? "." : folder), ec), end;
    for (int seen = 0; !ec && it != end && seen < MaxEntries; it.increment(ec), ++seen) {
        const std::string name = vantor::FilePathText(it->path().filename());
        if (name.size() != prefix.size() + code.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string_view itsCode = std::string_view(name).substr(prefix.size());
        if (itsCode == code) return name;
        if (found.empty() && SameText(itsCode, code)) found = name;
    }
    return found;
}

std::string Joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty()) out += separator;
        out += p;
    }
    return out;
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

void TLanguageTable::Warn(const std::string& warning) {
    if (warned_.insert(warning).second && warningSink_) warningSink_(warning);
}

IniDocument TLanguageTable::ReadFile() {
    path_.clear();
    std::vector<std::string> problems;                           // files skipped, and why
    std::optional<std::pair<std::string, IniDocument>> textless; // the wanted language's, if any
    // The first file of `code` in folder order that holds texts.
    auto find = [&](const std::string& code) -> std::optional<std::pair<std::string, IniDocument>> {
        for (const std::string& folder : folders_) {
            const auto pathOf = [&folder](const std::string& name) {
                return vantor::FilePathText(folder.empty() ? vantor::FilePath(name)
                                                           : vantor::FilePath(folder) / vantor::FilePath(name));
            };
            const std::string name = "TVantor." + code;
            std::string path = pathOf(name);
            ProfileFileText read = ReadProfileFile(path, MaxFileSize);
            if (read.text || read.refusal.empty()) {
                if (const std::string other = FileNameIgnoringCase(folder, code);
                    !other.empty() && other != name) {
                    path = pathOf(other);
                    if (!read.text) read = ReadProfileFile(path, MaxFileSize);
                }
            }
            if (!read.text) {
                if (!read.refusal.empty()) problems.push_back(read.refusal);
                continue; // missing here: the next folder may have it
            }
            IniDocument doc = IniDocument::Parse(*read.text);
            if (HasTexts(doc)) return std::make_pair(path, std::move(doc));
            problems.push_back(path + " holds no texts (no [Texty] section with values)");
            if (code == code_ && !textless) textless = std::make_pair(path, std::move(doc));
        }
        return std::nullopt;
    };

    std::optional<std::pair<std::string, IniDocument>> found;
    if (UsableCode(code_)) {
        found = find(code_);
    } else {
        problems.push_back("the language code \"" + code_ + "\" names no language file");
    }
    const bool fellBack = !found && code_ != FallbackLanguage;
    if (fellBack) found = find(FallbackLanguage);

    const std::string wanted = FileName();
    if (found) {
        if (fellBack || !problems.empty())
            Warn("Language file " + wanted + ": " +
                 (problems.empty() ? "not found in " + Joined(folders_, ", ")
                                   : Joined(problems, "; ")) +
                 "; using " + found->first);
        path_ = found->first;
        // "cz" found as TVantor.Cz: from now on the code is spelt as the
        // file spells it, as the language menu and the help do.
        const std::string name = vantor::FilePathText(vantor::FilePath(path_).filename());
        if (!fellBack && SameText(name, wanted)) code_ = name.substr(wanted.size() - code_.size());
        return std::move(found->second);
    }
    // No file with texts anywhere: a text-less file of the language still
    // has its captions; the log lines will lack their texts either way.
    const std::string missing =
        problems.empty() ? "not found in " + Joined(folders_, ", ") : Joined(problems, "; ");
    Warn("Language file " + wanted + ": " + missing + "; no language file with texts (not even " +
         "TVantor." + FallbackLanguage + ") was found, so log lines and messages carry no texts" +
         (textless ? "; using " + textless->first + " for its captions" : std::string()));
    if (textless) {
        path_ = textless->first;
        return std::move(textless->second);
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

std::string TLanguageTable::Msg(int number) const {
    const auto it = textsByKey_.find(IntToStr(number));
    return it == textsByKey_.end() ? std::string() : it->second;
}

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
        std::string text = CleanValue(std::move(value));
        if (text.empty())
            textsByKey_.erase(UpperCase(key));
        else
            textsByKey_[UpperCase(key)] = text;
        texts_.SetValue(key, std::move(text));
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
