#pragma once
// The gateway's translator.  A language file "TVantor.<code>" (an 8-bit,
// Windows-1250 profile file) replaces the captions of windows, controls and
// menu items by their Tag and supplies the numbered texts of log lines,
// status texts and message boxes:
//   [Common]  Tag of a form or control  -> caption
//   [Menu]    Tag of a menu item        -> caption
//   [Texty]   text number               -> text, cached whole by LoadTexts()
//   [Text]    text number               -> text, read one at a time by Text()
// A missing section or key is not an error: captions keep what they have
// and texts are empty.  A file, though, is only taken when it holds texts:
// one that is missing, unreadable, larger than MaxFileSize or without any
// "Texty" text would leave every log line blank, so the same language is
// looked for in the following folders (the installed files), then English,
// and a warning in English says what was skipped and what is used instead.
//
// The file is read once by Open() and stays "open" (held in memory) until
// Close(), so one translation or one run of Text() numbers sees one file.
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "toolkit/IniFile.h"
#include "toolkit/StringList.h"
#include "toolkit/TextSource.h"

namespace vantor {

class TControl;
class TForm;
class TMenuItem;

class TLanguageTable : public TextSource {
public:
    // A value longer than this is cut, as a profile read into the
    // framework's fixed read buffer cuts it.
    static constexpr std::size_t MaxValueLength = 2047;
    // A real language file is a few kilobytes; a larger one is refused.
    static constexpr std::size_t MaxFileSize = 1024 * 1024;
    // The language every gateway ships, the last resort for texts.
    static constexpr const char* FallbackLanguage = "Eng";
    using WarningSink = std::function<void(const std::string& warning)>;

    // folders: where the language file is looked for, in this order.
    explicit TLanguageTable(std::vector<std::string> folders);
    // The gateway's own folder first, then the installed data directory.
    static std::vector<std::string> DefaultFolders(std::string gatewayFolder);

    const std::vector<std::string>& Folders() const { return folders_; }
    // The language code ("Cz" until SetLanguage).  The code is matched
    // without regard to letter case: once its file is found it is spelt as
    // the file name spells it.
    const std::string& Language() const { return code_; }
    // Stores the code and opens its file.
    void SetLanguage(std::string code);
    // "TVantor." + code.
    std::string FileName() const;
    // Path of the file the last Open() read; empty when none was found.
    const std::string& FilePath() const { return path_; }
    // Where the warnings about skipped files go (the traffic log); each
    // distinct warning is given once per run.
    void SetWarningSink(WarningSink sink) { warningSink_ = std::move(sink); }

    // Reads the current language's file (again, when one is open already).
    void Open();
    // Releases the open file.
    void Close();
    bool IsOpen() const { return open_; }

    // The cached "Texty" text of the number, empty when absent.
    std::string Msg(int number) const override;
    // The "Text" text of the number, empty when absent.  A number ending in
    // 00 opens the file first and one ending in 99 closes it afterwards, so
    // a run such as 100, 101, 102, 103, 199 reads the file once.
    std::string Text(int number) override;
    // Puts every key of "Texty" into the cache; an empty value removes the
    // key's entry.  The cache is not emptied first: an entry that the new
    // file lacks keeps the text of the language before.
    void LoadTexts();
    // The cache as "number=text" lines, in the order the entries were made
    // (handed to the call-centre plug-in).
    const TStringList& Texts() const { return texts_; }

    // Translates the form's caption ("Common", key = its Tag, also 0) and
    // its controls: the direct children of the form, of a panel (not the
    // panel itself), of a group box (and the box) and of each page of a page
    // control (page j takes key page control's Tag + j).  A control is
    // translated when its Tag is not 0 and its class is exactly TLabel,
    // TButton, TBitBtn, TGroupBox or TCheckBox.  ownFile: open the file
    // before and close it after.
    void TranslateForm(TForm& form, bool ownFile);
    // Translates the sub-items of the item from "Menu", recursively; items
    // with Tag 0 and separators keep their captions.
    void TranslateMenu(TMenuItem& item);

    // Loading a language, as start-up and a language change do it: open the
    // file, translate the main window (file already open) and the roots of
    // its menus, load the texts, close the file.
    void LoadLanguage(TForm& mainForm, std::initializer_list<TMenuItem*> menus);

private:
    // Runs over the open file, or over a copy read for this call alone when
    // none is open.
    class Reading;

    IniDocument ReadFile();
    void Warn(const std::string& warning);
    std::optional<std::string> Lookup(const IniDocument& doc, std::string_view section,
                                      long long key) const;
    void TranslateCaption(const IniDocument& doc, TControl& control, long long key);
    void TranslateControl(const IniDocument& doc, TControl& control);
    void TranslateMenuItems(const IniDocument& doc, TMenuItem& item, int depth);

    std::vector<std::string> folders_;
    std::string code_ = "Cz";
    std::string path_;
    bool open_ = false;
    IniDocument file_;
    TStringList texts_;
    // The same texts by key (in capitals, as keys compare without regard to
    // case), for Msg(): every log line asks for one or two.
    std::unordered_map<std::string, std::string> textsByKey_;
    WarningSink warningSink_;
    std::set<std::string> warned_;
};

} // namespace vantor
