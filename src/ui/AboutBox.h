#pragma once
// The about box: product name, version and build time.  Created once at
// start and kept; translated each time it is activated.
#include "ui/Dialog.h"

namespace vantor {

// "major.minor" with the minor in two digits, then " " and a letter for a
// non-zero third number (1 = A): 2.5.1 gives "2.05 A", 3.12.0 gives "3.12".
std::string VersionText(unsigned major, unsigned minor, unsigned third);
// The version text of this build.
std::string GatewayVersionText();

class TAboutBox : public TForm {
public:
    TAboutBox(TApplication& app, TComponent* owner, FormTranslator translate);
    std::string ClassName() const override { return "TAboutBox"; }

    TImage* ProgramIcon;
    TLabel* ProductName;
    TLabel* VersionLabel; // "Verze:"
    TLabel* Version;
    TLabel* Notice;
    TLabel* InfoLine;
    TButton* OKButton;

private:
    FormTranslator translate_;
};

} // namespace vantor
