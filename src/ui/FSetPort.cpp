#include "ui/FSetPort.h"

namespace vantor {

TFSetPort::TFSetPort(TApplication& app, TComponent* owner, int& portIndex,
                     const FormTranslator& translate)
    : TForm(app, owner), portIndex_(portIndex) {
    SetName("FSetPort");
    SetTag(3300);
    SetCaption("Serial port selection");
    SetHelpContext(103);
    SetPosition(poMainFormCenter);
    // Wide enough for the whole caption in the title bar.
    SetClientWidth(280);
    SetClientHeight(100);
    Label1 = &MakeControl<TLabel>(*this, *this, 3301, "Port:", 16, 20, 40, 16);
    ComboBox1 = &MakeControl<TComboBox>(*this, *this, 0, "", 64, 16, 200, 21);
    ComboBox1->SetStyle(TComboBox::csDropDownList);
    for (const char* item : {"COM 1", "COM 2", "COM 3", "COM 4"}) ComboBox1->Items().Add(item);
    MakeOkCancel(*this, *this, "Cancel", 64, 60);

    OnShow = [this](TObject*) { ComboBox1->SetItemIndex(portIndex_); };
    OnClose = [this](TObject*, TCloseAction&) {
        if (ModalResult() == mrOk && ComboBox1->ItemIndex() >= 0)
            portIndex_ = ComboBox1->ItemIndex();
    };
    ComboBox1->SetItemIndex(portIndex_);
    if (translate) translate(*this);
    DoCreate();
}

} // namespace vantor
