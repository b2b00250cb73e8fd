#include "ui/FInfo.h"

namespace vantor {

TFInfo::TFInfo(TApplication& app, TComponent* owner, std::string_view text,
               const FormTranslator& translate)
    : TForm(app, owner) {
    SetName("FInfo");
    SetTag(2000);
    SetCaption("Info");
    SetPosition(poMainFormCenter);
    SetBorderIcons(biSystemMenu | biMaximize);
    SetClientWidth(480);
    SetClientHeight(240);
    Memo1 = &MakeControl<TMemo>(*this, *this, 0, "", 0, 0, 480, 200);
    Memo1->SetReadOnly(true);
    Memo1->SetText(text);
    Panel1 = &MakeControl<TPanel>(*this, *this, 0, "", 0, 200, 480, 40);
    Button1 = &MakeControl<TButton>(*this, *Panel1, 100, "Zrušit", 396, 8, 75, 25);
    Button1->SetModalResult(mrCancel);
    Button1->SetCancel(true);
    // The window can be maximised: the text fills it, the button stays in
    // the bottom right corner.
    OnResize = [this](TObject*) {
        const int panelHeight = Panel1->Height();
        Memo1->SetBounds(0, 0, ClientWidth(), ClientHeight() - panelHeight);
        Panel1->SetBounds(0, ClientHeight() - panelHeight, ClientWidth(), panelHeight);
        Button1->SetLeft(ClientWidth() - Button1->Width() - 9);
    };
    if (translate) translate(*this);
    DoCreate();
}

} // namespace vantor
