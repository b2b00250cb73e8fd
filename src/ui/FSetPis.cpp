#include "ui/FSetPis.h"

namespace vantor {

TFSetPis::TFSetPis(TApplication& app, TComponent* owner, LogSettings& switches,
                   const FormTranslator& translate)
    : TForm(app, owner), switches_(switches) {
    SetName("FSetPis");
    SetTag(5000);
    SetCaption(Cp1250FromUtf8("Nastavení Logu"));
    SetHelpContext(102);
    SetBorderIcons(0);
    SetPosition(poMainFormCenter);
    SetClientWidth(400);
    SetClientHeight(190);

    GroupBox1 = &MakeControl<TGroupBox>(*this, *this, 0, "", 8, 8, 384, 140);
    Label1 = &MakeControl<TLabel>(*this, *GroupBox1, 5001, "Sériová komunikace:", 12, 12, 180, 16);
    CheckBox1 = &MakeControl<TCheckBox>(*this, *GroupBox1, 5002, "Příjmy dat", 12, 34, 180, 17);
    CheckBox6 = &MakeControl<TCheckBox>(*this, *GroupBox1, 5003, "Příjmy prázdné", 12, 58, 180, 17);
    CheckBox2 =
        &MakeControl<TCheckBox>(*this, *GroupBox1, 5004, "Výstupy dat z TCP/IP", 12, 82, 180, 17);
    CheckBox5 =
        &MakeControl<TCheckBox>(*this, *GroupBox1, 5005, "Výstupy lokálních dat", 12, 106, 180, 17);
    Label2 = &MakeControl<TLabel>(*this, *GroupBox1, 5006, "Komunikace TCP/IP:", 200, 12, 170, 16);
    CheckBox3 = &MakeControl<TCheckBox>(*this, *GroupBox1, 5007, "Příjmy", 200, 34, 170, 17);
    CheckBox4 = &MakeControl<TCheckBox>(*this, *GroupBox1, 5008, "Výstupy", 200, 58, 170, 17);
    MakeOkCancel(*this, *this, "Zrušit", 156, 232);

    CheckBox1->SetChecked(switches_.Com_In != 0);
    CheckBox6->SetChecked(switches_.Com_PureIn != 0);
    CheckBox2->SetChecked(switches_.Com_Out != 0);
    CheckBox5->SetChecked(switches_.Com_LocOut != 0);
    CheckBox3->SetChecked(switches_.TCPIP_In != 0);
    CheckBox4->SetChecked(switches_.TCPIP_Out != 0);

    OnClose = [this](TObject*, TCloseAction&) {
        if (ModalResult() == mrOk) Store();
    };
    if (translate) translate(*this);
    DoCreate();
}

void TFSetPis::Store() {
    switches_.Com_In = CheckBox1->Checked() ? 1 : 0;
    switches_.Com_PureIn = CheckBox6->Checked() ? 1 : 0;
    switches_.Com_Out = CheckBox2->Checked() ? 1 : 0;
    switches_.Com_LocOut = CheckBox5->Checked() ? 1 : 0;
    switches_.TCPIP_In = CheckBox3->Checked() ? 1 : 0;
    switches_.TCPIP_Out = CheckBox4->Checked() ? 1 : 0;
}

} // namespace vantor
