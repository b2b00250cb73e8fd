#pragma once
// The log switches dialog: six check boxes for the six switches of the
// [Log] section.  The switches change only when the dialog ends with OK.
#include "ui/Dialog.h"

#include <cstdint>

namespace vantor {

struct LogSwitches {
    std::uint8_t& Com_In;
    std::uint8_t& Com_PureIn;
    std::uint8_t& Com_Out;
    std::uint8_t& Com_LocOut;
    std::uint8_t& TCPIP_In;
    std::uint8_t& TCPIP_Out;
};

class TFSetPis : public TForm {
public:
    TFSetPis(TApplication& app, TComponent* owner, LogSwitches switches,
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
    LogSwitches switches_;
};

} // namespace vantor
