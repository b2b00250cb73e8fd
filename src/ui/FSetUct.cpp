#include "ui/FSetUct.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "accounting/AccountingFile.h"
#include "accounting/AccountingSettings.h"
#include "nls/TextIds.h"
#include "toolkit/Cp1250.h"
#include "toolkit/FilePath.h"
#include "toolkit/Strings.h"
#include "toolkit/TextSource.h"

namespace vantor {

namespace fs = std::filesystem;

namespace {

template <class T>
T& Place(TForm& form, int tag, const std::string& caption, int left, int top, int width,
         int height) {
    T& control = form.Create<T>(static_cast<TControl*>(&form));
    control.SetTag(tag);
    control.SetCaption(caption);
    control.SetBounds(left, top, width, height);
    return control;
}

fs::path NormalDir(const fs::path& dir) {
    fs::path p = dir.lexically_normal();
    // "a/b/" and "a/b" name the same directory.
    if (!p.has_filename() && p.has_parent_path() && p != p.root_path()) p = p.parent_path();
    return p;
}

} // namespace

TFSetUct::TFSetUct(TApplication& application, TComponent* owner, std::string programDir,
                   const TextSource& texts, std::uint8_t& readUct, std::uint8_t& sendUct,
                   std::string& uctFile)
    : TForm(application, owner),
      CheckBoxUR(Place<TCheckBox>(*this, TagCheckBoxUR, Cp1250FromUtf8("Stahovat účtovací data"),
                                  16, 16, 300, 17)),
      Label1(
          Place<TLabel>(*this, TagLabelFile, Cp1250FromUtf8("Účtovací soubor:"), 16, 44, 120, 13)),
      EditUR(Place<TEdit>(*this, 0, "", 16, 60, 220, 21)),
      ButtonSearch(Place<TButton>(*this, TagButtonSearch, "Vyhledat", 244, 58, 75, 25)),
      CheckBoxIP(Place<TCheckBox>(*this, TagCheckBoxIP,
                                  Cp1250FromUtf8("Předávat účtovací data na IP"), 16, 96, 300, 17)),
      BitBtnOK(Place<TBitBtn>(*this, TagOK, "OK", 80, 132, 75, 25)),
      BitBtnCancel(Place<TBitBtn>(*this, TagCancel, Cp1250FromUtf8("Zrušit"), 168, 132, 75, 25)),
      programDir_(std::move(programDir)), texts_(texts), readUct_(readUct), sendUct_(sendUct),
      uctFile_(uctFile) {
    SetName("FSetUct");
    SetTag(TagForm);
    SetCaption(Cp1250FromUtf8("Nastavení účtování"));
    SetClientWidth(336);
    SetClientHeight(172);
    SetPosition(poMainFormCenter);
    SetBorderIcons(0);
    CheckBoxUR.SetName("CheckBoxUR");
    EditUR.SetName("EditUR");
    EditUR.SetMaxLength(static_cast<int>(SettingsTextCapacity));
    CheckBoxIP.SetName("CheckBoxIP");
    BitBtnOK.SetDefault(true);
    BitBtnCancel.SetCancel(true);
    BitBtnCancel.SetModalResult(mrCancel);

    CheckBoxUR.OnClick = [this](TObject*) { EditUR.SetEnabled(CheckBoxUR.Checked()); };
    ButtonSearch.OnClick = [this](TObject*) { ButtonSearchClick(); };
    BitBtnOK.OnClick = [this](TObject*) { BitBtnOKClick(); };

    EditUR.SetText(uctFile_);
    CheckBoxIP.SetChecked(sendUct_ != 0);
    CheckBoxUR.SetChecked(readUct_ != 0);
    EditUR.SetEnabled(CheckBoxUR.Checked());
    DoCreate();
}

TFSetUct::~TFSetUct() { DoDestroy(); }

std::string TFSetUct::ResolvePath(std::string_view name) const {
    return AccountingFile::PathFor(programDir_, name);
}

void TFSetUct::ButtonSearchClick() {
    FileDialogOptions options;
    options.title = ButtonSearch.Caption();
    options.fileName = EditUR.Text();
    options.initialDir = programDir_;
    const auto chosen = Application().GetDesktop().SaveFileDialog(options);
    if (!chosen || chosen->empty()) return;
    const fs::path path = FilePath(*chosen);
    if (NormalDir(path.parent_path()) == NormalDir(FilePath(programDir_)))
        EditUR.SetText(FilePathText(path.filename()));
    else
        EditUR.SetText(*chosen);
}

bool TFSetUct::FileUsable(const std::string& path) const {
    std::error_code ec;
    const fs::path file = FilePath(path);
    const auto status = fs::status(file, ec);
    if (fs::exists(status)) return !fs::is_directory(status);
    // Create it to prove the name can be written, and take it away again so
    // that the dialog leaves no trace when the user changes his mind.
    std::FILE* created = OpenFile(file, "wbx");
    if (!created) return false;
    std::fclose(created);
    fs::remove(file, ec);
    return true;
}

void TFSetUct::BitBtnOKClick() {
    const std::string name = EditUR.Text();
    // A name longer than the settings field would be cut when the gateway
    // starts again, and the records would go to another file.
    if (name.empty() || name.size() > SettingsTextCapacity || !FileUsable(ResolvePath(name))) {
        Application().MessageBox(texts_.Msg(msg::CannotCreateAccountingFile), texts_.Msg(msg::ErrorCaption),
                                 MB_OK | MB_ICONSTOP);
        return; // the dialog stays open, nothing changes
    }
    sendUct_ = CheckBoxIP.Checked() ? 1 : 0;
    readUct_ = CheckBoxUR.Checked() ? 1 : 0;
    uctFile_ = name;
    SetModalResult(mrOk);
}

int EditAccountingSettings(const AccountingDialogParts& parts) {
    TFSetUct dialog(parts.application, parts.owner, parts.programDir, parts.texts,
                    parts.settings.ReadUct, parts.settings.SendUct, parts.settings.UctFile);
    if (parts.translate) parts.translate(dialog);
    if (parts.centre) parts.centre(dialog);
    return dialog.ShowModal();
}

} // namespace vantor
