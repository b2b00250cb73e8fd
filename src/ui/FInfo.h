#pragma once
// Shows one text whole (a traffic-log line) with its line breaks.
#include "ui/Dialog.h"

namespace vantor {

class TFInfo : public TForm {
public:
    TFInfo(TApplication& app, TComponent* owner, std::string_view text,
           const FormTranslator& translate);
    std::string ClassName() const override { return "TFInfo"; }

    TMemo* Memo1;
    TPanel* Panel1;
    TButton* Button1;
};

} // namespace vantor
