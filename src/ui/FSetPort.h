#pragma once
// Choice of the serial port: COM1 to COM4, as a 0-based index that changes
// only when the dialog ends with OK.
#include "ui/Dialog.h"

namespace vantor {

class TFSetPort : public TForm {
public:
    TFSetPort(TApplication& app, TComponent* owner, int& portIndex,
              const FormTranslator& translate);
    std::string ClassName() const override { return "TFSetPort"; }

    TLabel* Label1;
    TComboBox* ComboBox1;

private:
    int& portIndex_;
};

} // namespace vantor
