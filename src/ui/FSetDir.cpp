#include "ui/FSetDir.h"

#include "nls/TextIds.h"
#include "toolkit/Strings.h"

namespace vantor {

namespace {
bool Storable(const std::string& path) { return Utf8FromCp1250(Cp1250FromUtf8(path)) == path; }
} // namespace

TFSetDir::TFSetDir(TApplication& app, TComponent* owner, std::string& directory,
                   DirectorySource& directories, const TextSource& texts,
                   const FormTranslator& translate)
    : TForm(app, owner), directory_(directory), texts_(texts) {
    SetName("FSetDir");
    SetTag(3000);
    SetCaption(Cp1250FromUtf8("Výběr adresáře"));
    SetBorderIcons(0);
    SetPosition(poMainFormCenter);
    SetClientWidth(320);
    SetClientHeight(352);

    LabelPath = &MakeControl<TLabel>(*this, *this, 0, "", 8, 8, 304, 16);
    DirectoryListBox1 = &MakeControl<TDirectoryListBox>(*this, *this, 0, "", 8, 28, 304, 236);
    DirectoryListBox1->SetName("DirectoryListBox1");
    DriveComboBox1 = &MakeControl<TDriveComboBox>(*this, *this, 0, "", 8, 272, 304, 21);
    DriveComboBox1->SetName("DriveComboBox1");
    LabelProblem = &MakeControl<TLabel>(*this, *this, 0, "", 8, 298, 304, 16);
    TFont warning = LabelProblem->Font();
    warning.Color = clRed;
    LabelProblem->SetFont(warning);
    const OkCancelButtons buttons = MakeOkCancel(*this, *this, "Zrušit", 320, 76);
    ButtonOK = buttons.ok;
    ButtonCancel = buttons.cancel;

    DirectoryListBox1->OnChange = [this](TObject*) { ShowDirectory(); };
    DirectoryListBox1->SetSource(&directories);
    DriveComboBox1->SetSource(&directories);
    DriveComboBox1->SetDirList(DirectoryListBox1);
    // The text is the gateway's (Windows-1250); the file system spells its
    // names in UTF-8.
    DirectoryListBox1->SetDirectory(Utf8FromCp1250(directory_));

    // A path with a character that Windows-1250 does not have would be
    // stored as another path: OK says so and the chooser stays open.
    ButtonOK->SetModalResult(mrNone);
    ButtonOK->OnClick = [this](TObject*) {
        if (!Storable(DirectoryListBox1->SelectedPath())) {
            Application().MessageBox(
                FormatText(texts_.Msg(msg::PathNotStorable),
                           {Cp1250FromUtf8(DirectoryListBox1->SelectedPath())}),
                Caption(), MB_OK | MB_ICONWARNING);
            return;
        }
        SetModalResult(mrOk);
    };
    OnClose = [this](TObject*, TCloseAction&) {
        const std::string chosen = DirectoryListBox1->SelectedPath();
        if (ModalResult() == mrOk && Storable(chosen)) directory_ = Cp1250FromUtf8(chosen);
    };
    if (translate) translate(*this);
    DoCreate();
}

void TFSetDir::ShowDirectory() {
    LabelPath->SetCaption(Cp1250FromUtf8(DirectoryListBox1->Directory()));
    LabelProblem->SetCaption(DirectoryListBox1->Problem());
}

} // namespace vantor
