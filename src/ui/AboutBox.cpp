#include "ui/AboutBox.h"

#include "VantorVersion.h"

namespace vantor {

std::string VersionText(unsigned major, unsigned minor, unsigned third) {
    std::string text = std::to_string(major) + ".";
    if (minor < 10) text += "0";
    text += std::to_string(minor);
    if (third != 0) {
        text += " ";
        text += static_cast<char>(64 + third);
    }
    return text;
}

std::string GatewayVersionText() {
    return VersionText(VANTOR_VERSION_MAJOR, VANTOR_VERSION_MINOR, VANTOR_VERSION_PATCH);
}

TAboutBox::TAboutBox(TApplication& app, TComponent* owner, FormTranslator translate)
    : TForm(app, owner), translate_(std::move(translate)) {
    SetName("AboutBox");
    SetTag(1000);
    SetCaption(Cp1250FromUtf8("O aplikaci"));
    SetPosition(poMainFormCenter);
    SetBorderIcons(0);
    SetClientWidth(300);
    SetClientHeight(200);
    ProgramIcon = &MakeControl<TImage>(*this, *this, 0, "", 8, 8, 32, 32);
    ProgramIcon->SetPicture("vantor");
    ProductName = &MakeControl<TLabel>(*this, *this, 1001, "Tarvo Vantor", 56, 8, 220, 20);
    VersionLabel = &MakeControl<TLabel>(*this, *this, 1002, "Verze:", 56, 36, 60, 16);
    Version = &MakeControl<TLabel>(*this, *this, 0, "", 120, 36, 100, 16);
    Version->SetCaption(GatewayVersionText());
    TFont name;
    name.Bold = true;
    name.Color = clNavy;
    name.Height = 15;
    ProductName->SetFont(name);
    TFont version;
    version.Bold = true;
    version.Color = clMaroon;
    Version->SetFont(version);
    // The notice has no Tag, so no language file translates it: it says
    // nothing that needs a language.
    Notice = &MakeControl<TLabel>(*this, *this, 0, "© Tarvo", 8, 80, 284, 16);
    InfoLine = &MakeControl<TLabel>(*this, *this, 0, "", 8, 104, 284, 16);
    OKButton = &MakeControl<TButton>(*this, *this, 100, "Zrušit", 112, 160, 75, 25);
    OKButton->SetModalResult(mrCancel);
    OKButton->SetCancel(true);
    // The build stamp, for telling installations apart in the field.
    Notice->OnDblClick = [this](TObject*) {
        InfoLine->SetCaption(std::string(__DATE__) + "," + __TIME__);
    };
    OnActivate = [this](TObject*) {
        if (translate_) translate_(*this);
    };
    DoCreate();
}

} // namespace vantor
