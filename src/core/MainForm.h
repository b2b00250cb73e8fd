#pragma once
// TMainForm is the gateway's window: the log list and status line, the
// button that hides it, the main and tray menus, the tray icon, and the
// published handlers of its events and commands.  The gateway itself (every
// part and their start and stop orders) is the Gateway it owns; a handler
// here is a few lines that call the gateway or open a dialog.
//
// Creating the form starts the gateway; destroying it stops the gateway.
#include "core/Gateway.h"
#include "toolkit/Desktop.h"
#include "toolkit/Forms.h"
#include "toolkit/Menus.h"
#include "ui/Dialog.h"

#include <memory>
#include <string>

namespace vantor {

class DirectorySource;
class ServiceManager;
class ServiceControlManager;
class TAboutBox;

class TMainForm : public TForm, private GatewayWindow {
public:
    TMainForm(TApplication& app, GatewayEnvironment environment);
    ~TMainForm() override;
    std::string ClassName() const override { return "TMainForm"; }

    // ---- components ----
    TMainMenu MainMenu1;
    TPopupMenu PopupMenu1;
    TMenuItem *Vantor1, *ShowOnTrayClick, *Ukonit1, *Zastavit1;
    TMenuItem *Nastaven1, *Mail6021, *LoklnTrapy1, *VpisuLogu1, *tovn1, *StartItem, *XAPI1,
        *Callcentrum1, *Volbasriovhoportu1, *x1, *Baud57600, *Baud38400, *Baud19200, *Baud9600,
        *Ulo6itdosouboru1, *Volbajazyka1;
    TMenuItem *Npovda1, *Obsah1, *Kontextovnpovda1, *Jakpouvatnpovdu1, *Oaplikaci1;
    TMenuItem *Zobrazit1, *Ukonit2;
    TListBox* ListBox1;
    TStatusBar* StatusBar1;
    TButton* Button4;
    TImage* Image1;

    // ---- event handlers ----
    void FormCreate();
    void FormActivate();
    void FormResize();
    void FormClose(TCloseAction& action);
    void FormDestroy();
    void ShowOnTrayClickClick();
    void ShowOnClick();
    void ShutDownClick();
    void Zastavit1Click();
    void VpisuLogu1Click();
    void tovn1Click();
    void StartItemClick();
    void Volbasriovhoportu1Click();
    void COMBaudClick(TMenuItem& item);
    void Ulo6itdosouboru1Click();
    void LanguageClick(TMenuItem& item);
    void Obsah1Click();
    void Kontextovnpovda1Click();
    void Jakpouvatnpovdu1Click();
    void Oaplikaci1Click();
    void XAPI1Click();
    void Callcentrum1Click();
    void Mail6021Click();
    void LoklnTrapy1Click();
    void ListBox1DblClick();
    // The tray icon's notification (mouse message in the low parameter).
    void TrayCallback(unsigned mouseMessage);

    // ---- window operations ----
    bool TrayIconOperation(TrayOperation operation);
    void CentreDialog(TForm& dialog);
    void MenuStateRefresh();

    // ---- the gateway and the window's own state ----
    Gateway& Core() { return *gateway_; }
    TAboutBox& AboutBox() { return *aboutBox_; }
    bool HideToTrayRequested() const { return gateway_ && gateway_->HideToTrayRequested(); }
    bool TrayIconPresent() const { return trayIconPresent_; }

private:
    // What the window's own commands take from the program entry.
    struct WindowEnvironment {
        bool serviceMode = false;
        bool hidden = false; // "/hide", as a whole argument in exactly that spelling
        SerialDeviceList serialDevices;
        std::shared_ptr<ServiceManager> serviceManager;
        std::string serviceCommandLine;
        std::shared_ptr<DirectorySource> directories;
        std::shared_ptr<ServiceControlManager> serviceControlManager;
    };
    static WindowEnvironment WindowPartOf(const GatewayEnvironment& environment);

    void BuildMenus();
    void BuildControls();
    // Runs a dialog centred over the window, modally; returns its result.
    int RunDialog(TForm& dialog);
    // Translates a dialog from the gateway's language.
    FormTranslator Translator();
    // GatewayWindow
    void TranslateWindow(TLanguageTable& language) override;
    bool AddTrayIcon() override;

    WindowEnvironment env_;
    std::unique_ptr<Gateway> gateway_;
    std::unique_ptr<TAboutBox> aboutBox_;
    std::string trayTip_;
    bool trayTipKept_ = false;
    bool trayIconPresent_ = false;
    bool destroyed_ = false;
};

} // namespace vantor
