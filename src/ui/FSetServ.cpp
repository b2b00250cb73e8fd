#include "ui/FSetServ.h"

#include "service/ServiceWait.h"
#include "toolkit/TextSource.h"

namespace vantor {

TFSetServ::TFSetServ(TApplication& app, TComponent* owner, ServiceControl& control,
                     FormTranslator translate)
    : TForm(app, owner), control_(control), translate_(std::move(translate)) {
    SetName("FSetServ");
    SetTag(TagForm);
    SetCaption(Cp1250FromUtf8("Služby"));
    SetPosition(poScreenCenter);
    SetBorderIcons(0);
    SetClientWidth(304);
    SetClientHeight(196);

    // The page control's Tag is 0: its pages are translated under keys 0 and 1.
    PageControl1 = &MakeControl<TPageControl>(*this, *this, 0, "", 8, 8, 288, 144);
    TabSheet1 = &MakeControl<TTabSheet>(*this, *PageControl1, 0, "Windows 95/98");
    TabSheet2 = &MakeControl<TTabSheet>(*this, *PageControl1, 0, "Windows NT");
    CheckBox1 = &MakeControl<TCheckBox>(*this, *TabSheet1, TagRunAsService, "Spustit jako službu",
                                        12, 16, 250, 17);
    CheckBox2 = &MakeControl<TCheckBox>(*this, *TabSheet2, TagRunAsService, "Spustit jako službu",
                                        12, 16, 250, 17);
    RadioGroup1 = &MakeControl<TRadioGroup>(*this, *TabSheet2, 0, "Start", 12, 42, 150, 64);
    RadioGroup1->Items().Add("Automatic");
    RadioGroup1->Items().Add("Manual");
    RadioGroup1->SetItemIndex(StartAutomatic);
    StopButton = &MakeControl<TButton>(*this, *TabSheet2, 0, "Stop", 180, 50, 75, 25);
    StartButton = &MakeControl<TButton>(*this, *TabSheet2, 0, "Start", 180, 80, 75, 25);
    StartButton->SetVisible(false);
    OKButton = &MakeControl<TButton>(*this, *this, 102, "OK", 136, 162, 75, 25);
    OKButton->SetModalResult(mrOk);
    OKButton->SetDefault(true);
    CancelButton = &MakeControl<TButton>(*this, *this, 100, "Zrušit", 221, 162, 75, 25);
    CancelButton->SetModalResult(mrCancel);
    CancelButton->SetCancel(true);

    StopButton->OnClick = [this](TObject*) { StopButtonClick(); };
    StartButton->OnClick = [this](TObject*) { StartButtonClick(); };
    OKButton->OnClick = [this](TObject*) { OKButtonClick(); };
    OnActivate = [this](TObject*) { FormActivate(); };
    OnCreate = [this](TObject*) { FormCreate(); };
    windowsNT_ = control_.IsWindowsNT();
    DoCreate();
}

TFSetServ::~TFSetServ() { DoDestroy(); }

void TFSetServ::FormCreate() {
    if (windowsNT_) {
        PageControl1->SetActivePage(TabSheet2);
        int startType = RadioGroup1->ItemIndex();
        bool running = false;
        installed_ = control_.QueryService(startType, running);
        RadioGroup1->SetItemIndex(startType);
        CheckBox2->SetChecked(installed_);
        StopButton->SetEnabled(installed_ && running);
        StartButton->SetEnabled(installed_ && !running);
    } else {
        PageControl1->SetActivePage(TabSheet1);
        CheckBox1->SetChecked(control_.IsRunServicesEntry());
    }
    TabSheet1->SetTabVisible(!windowsNT_);
    TabSheet2->SetTabVisible(windowsNT_);
}

void TFSetServ::FormActivate() {
    if (translate_) translate_(*this);
}

void TFSetServ::StopButtonClick() {
    const bool stopped = control_.StopService(false);
    StopButton->SetEnabled(!stopped);
    StartButton->SetEnabled(!StopButton->Enabled());
}

void TFSetServ::StartButtonClick() {
    const bool started = control_.StartServiceNow();
    StartButton->SetEnabled(!started);
    StopButton->SetEnabled(!StartButton->Enabled());
}

void TFSetServ::OKButtonClick() {
    if (!windowsNT_) {
        control_.SetRunServicesEntry(CheckBox1->Checked());
        return;
    }
    // A changed start type of an installed service is left as it is: only a
    // change of the box installs or removes.
    if (CheckBox2->Checked() == installed_) return;
    if (CheckBox2->Checked())
        control_.InstallService(RadioGroup1->ItemIndex() == StartManual);
    else
        control_.StopService(true);
}

int RunServicesDialog(const ServicesDialogParts& parts) {
    TApplication& app = parts.application;
    ServiceControl control(ServiceControlParts{
        .manager = parts.manager,
        .texts = parts.texts,
        .messageBox = [&app](std::string_view text, std::string_view caption,
                             unsigned flags) { return app.MessageBox(text, caption, flags); },
        .wait = [&app](int ms) { WaitWhileServing(app.Loop(), ms); },
        .serviceCommandLine = parts.serviceCommandLine,
        .scm = parts.scm});
    TFSetServ dialog(app, nullptr, control, parts.translate);
    if (parts.centre) parts.centre(dialog);
    return dialog.ShowModal();
}

} // namespace vantor
