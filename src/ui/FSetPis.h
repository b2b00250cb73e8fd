#pragma once
// The log switches dialog: six check boxes for the six switches of the
// [Log] section.  The switches change only when the dialog ends with OK.
#include "toolkit/LogSettings.h"
#include "ui/Dialog.h"

namespace vantor {

class TFSetPis : public TForm {
public:
    TFSetPis(TApplication& app, TComponent* owner, LogSettings& switches,
             const FormTranslator& translate);
    std::string ClassName() const override { return "TFSetPis"; }

    TGroupBox* GroupBox1;
    TLabel* Label1;       // "Sériová komunikace:"
    TLabel* Label2;       // "Komunikace TCP/IP:"
    TCheckBox* CheckBox1; // Com_In
    TCheckBox* CheckBox6; // Com_PureIn
    TCheckBox* CheckBox2; // Com_Out
    TCheckBox* CheckBox5; // Com_LocOut
    TCheckBox* CheckBox3; // TCP/IP_In
    TCheckBox* CheckBox4; // TCP/IP_Out

private:
    void Store();
    LogSettings& switches_;
};

} // namespace vantor
