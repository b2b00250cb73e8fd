#pragma once
// The services dialog "Služby": whether the gateway runs as a system service
// (installed or removed on OK), its start type for a new install (automatic
// at boot or manual), and Stop and Start for the installed service.  A
// system without a service manager gets the page of start entries instead;
// a Linux system always has one, so its page is the only one shown.
#include "service/ServiceControl.h"
#include "ui/Dialog.h"

#include <functional>
#include <string>

namespace vantor {

class TextSource;

class TFSetServ : public TForm {
public:
    static constexpr int TagForm = 6000, TagRunAsService = 6001;
    static constexpr int StartAutomatic = 0, StartManual = 1;

    TFSetServ(TApplication& app, TComponent* owner, ServiceControl& control,
              FormTranslator translate);
    ~TFSetServ() override;
    std::string ClassName() const override { return "TFSetServ"; }

    TPageControl* PageControl1;
    TTabSheet* TabSheet1; // start entry, system without a service manager
    TTabSheet* TabSheet2; // service of the service manager
    TCheckBox* CheckBox1; // page 1: start entry present
    TCheckBox* CheckBox2; // page 2: service installed
    TRadioGroup* RadioGroup1;
    TButton* StopButton;
    TButton* StartButton; // never visible
    TButton* OKButton;
    TButton* CancelButton;

    void FormCreate();
    void FormActivate();
    void StopButtonClick();
    void StartButtonClick();
    void OKButtonClick();

    // What FormCreate found: the service is installed.
    bool Installed() const { return installed_; }

private:
    ServiceControl& control_;
    FormTranslator translate_;
    bool windowsNT_ = true;
    bool installed_ = false;
};

// The menu command "Služby": the dialog over the manager, centred over the
// main window and modal.
struct ServicesDialogParts {
    TApplication& application;
    ServiceManager* manager; // null: no manager reachable
    TextSource& texts;
    std::string serviceCommandLine;
    FormTranslator translate;
    std::function<void(TForm&)> centre;
    // Windows' service control manager, in place of `manager` (may be null).
    ServiceControlManager* scm = nullptr;
};
int RunServicesDialog(const ServicesDialogParts& parts);

} // namespace vantor
