#include "ui/FSetM602.h"

#include "nls/TextIds.h"
#include "toolkit/Strings.h"
#include "ui/FSetDir.h"

namespace vantor {

namespace {
std::string Cut(std::string text, std::size_t capacity) {
    if (text.size() > capacity) text.resize(capacity);
    return text;
}
} // namespace

TFSetM602::TFSetM602(TApplication& app, TComponent* owner, MailLoginSettings settings,
                     DirectorySource& directories, const TextSource& texts,
                     FormTranslator translate)
    : TForm(app, owner), settings_(settings), directories_(directories), texts_(texts),
      translate_(std::move(translate)) {
    SetName("FSetM602");
    SetTag(4000);
    SetCaption(Cp1250FromUtf8("Nastavení Mail602"));
    SetHelpContext(101);
    SetBorderIcons(0);
    SetPosition(poMainFormCenter);
    SetClientWidth(424);
    SetClientHeight(240);

    Label1 = &MakeControl<TLabel>(*this, *this, 4001, "Cesta na základní konfigurační soubor:", 8,
                                  8, 408, 16);
    EditConfigPath = &MakeControl<TEdit>(*this, *this, 0, "", 8, 26, 376, 21);
    ButtonConfigPath = &MakeControl<TButton>(*this, *this, 0, "...", 388, 25, 28, 23);
    Label2 = &MakeControl<TLabel>(*this, *this, 4002, "Pracovní adresář", 8, 56, 408, 16);
    EditWorkDir = &MakeControl<TEdit>(*this, *this, 0, "", 8, 74, 376, 21);
    ButtonWorkDir = &MakeControl<TButton>(*this, *this, 0, "...", 388, 73, 28, 23);
    GroupBox1 = &MakeControl<TGroupBox>(*this, *this, 4003, "Uživatel", 8, 106, 408, 88);
    Label3 = &MakeControl<TLabel>(*this, *GroupBox1, 4004, "Jméno:", 12, 24, 80, 16);
    EditUser = &MakeControl<TEdit>(*this, *GroupBox1, 0, "", 96, 22, 300, 21);
    Label4 = &MakeControl<TLabel>(*this, *GroupBox1, 4005, "Heslo:", 12, 56, 80, 16);
    EditPassword = &MakeControl<TEdit>(*this, *GroupBox1, 0, "", 96, 54, 160, 21);
    const OkCancelButtons buttons = MakeOkCancel(*this, *this, "Zrušit", 206, 256);
    ButtonOK = buttons.ok;
    ButtonCancel = buttons.cancel;

    EditConfigPath->SetName("EditConfigPath");
    EditWorkDir->SetName("EditWorkDir");
    EditUser->SetName("EditUser");
    EditPassword->SetName("EditPassword");
    ButtonConfigPath->SetName("ButtonConfigPath");
    ButtonWorkDir->SetName("ButtonWorkDir");
    for (TEdit* edit : {EditConfigPath, EditWorkDir, EditUser})
        edit->SetMaxLength(static_cast<int>(TextCapacity));
    EditPassword->SetMaxLength(static_cast<int>(PasswordCapacity));
    EditPassword->SetPasswordChar('*');

    EditConfigPath->SetText(settings_.ConfigPath);
    EditWorkDir->SetText(settings_.WorkDir);
    EditUser->SetText(settings_.User);
    EditPassword->SetText(settings_.Password);

    ButtonConfigPath->OnClick = [this](TObject*) { BrowseClick(*EditConfigPath); };
    ButtonWorkDir->OnClick = [this](TObject*) { BrowseClick(*EditWorkDir); };
    OnActivate = [this](TObject*) {
        if (translate_) translate_(*this);
    };
    OnClose = [this](TObject*, TCloseAction&) {
        if (ModalResult() == mrOk) Store();
    };
    DoCreate();
}

void TFSetM602::BrowseClick(TEdit& edit) {
    std::string directory = edit.Text();
    {
        TFSetDir chooser(Application(), nullptr, directory, directories_, texts_, translate_);
        if (chooser.ShowModal() != mrOk) return;
    }
    if (directory.size() > TextCapacity) {
        // Cut to the field it would name another directory: say so and keep
        // the text the edit had.
        Application().MessageBox(FormatText(texts_.Msg(msg::PathTooLong),
                                            {std::to_string(TextCapacity), directory}),
                                 Caption(), MB_OK | MB_ICONWARNING);
        return;
    }
    edit.SetText(directory);
}

void TFSetM602::Store() {
    settings_.ConfigPath = Cut(EditConfigPath->Text(), TextCapacity);
    settings_.WorkDir = Cut(EditWorkDir->Text(), TextCapacity);
    settings_.User = Cut(EditUser->Text(), TextCapacity);
    settings_.Password = Cut(EditPassword->Text(), PasswordCapacity);
}

} // namespace vantor
