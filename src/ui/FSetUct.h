#pragma once
// The accounting settings dialog: whether the gateway downloads accounting
// records from the exchange (ReadUct), which file they go to (UctFile), and
// whether network clients may read them from the gateway (SendUct).
//
// The dialog edits references to the values and writes them back only when
// OK is accepted; OK refuses a file name that cannot be created.
// EditAccountingSettings() runs it over a set of values.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "toolkit/Forms.h"

namespace vantor {

class TextSource;
struct AccountingSettings;

class TFSetUct : public TForm {
public:
    // Tags, the keys of the captions in the language files.
    static constexpr int TagForm = 5100, TagCheckBoxUR = 5101, TagLabelFile = 5102,
                         TagButtonSearch = 5103, TagCheckBoxIP = 5104, TagOK = 102, TagCancel = 100;

    // programDir: where file names without a directory lie.
    TFSetUct(TApplication& application, TComponent* owner, std::string programDir,
             const TextSource& texts, std::uint8_t& readUct, std::uint8_t& sendUct,
             std::string& uctFile);
    ~TFSetUct() override;
    std::string ClassName() const override { return "TFSetUct"; }

    TCheckBox& CheckBoxUR;
    TLabel& Label1;
    TEdit& EditUR;
    TButton& ButtonSearch;
    TCheckBox& CheckBoxIP;
    TBitBtn& BitBtnOK;
    TBitBtn& BitBtnCancel;

    // "Vyhledat": the save-file chooser in the program's directory.
    void ButtonSearchClick();
    // OK: accepts only a file that exists or can be created.
    void BitBtnOKClick();

    // The file a name in the edit refers to.
    std::string ResolvePath(std::string_view name) const;

private:
    bool FileUsable(const std::string& path) const;

    std::string programDir_;
    const TextSource& texts_;
    std::uint8_t& readUct_;
    std::uint8_t& sendUct_;
    std::string& uctFile_;
};

// Runs the dialog modally over the main window on `settings`, which it
// changes only on OK.  Returns the dialog's modal result.
struct AccountingDialogParts {
    TApplication& application;
    TComponent* owner; // the main window
    std::string programDir;
    const TextSource& texts;
    AccountingSettings& settings;
    // Translates a freshly created dialog by its Tags (may be empty).
    std::function<void(TForm&)> translate;
    // Places the dialog over the main window (may be empty).
    std::function<void(TForm&)> centre = {};
};

int EditAccountingSettings(const AccountingDialogParts& parts);

} // namespace vantor
