#pragma once
// Windows and the application object.  TForm is a control that is shown,
// hidden and run modally through the Desktop; TApplication ties the event
// loop and the desktop together and knows the main form.
//
// Construction and destruction hooks: C++ cannot call a derived class's
// handler from a base constructor or destructor, so a derived form calls
// DoCreate() at the end of its constructor (runs OnCreate) and DoDestroy() at
// the start of its destructor (runs OnDestroy).  ~TForm runs OnDestroy itself
// only when DoDestroy() was never called.
#include <exception>
#include <functional>
#include <string>

#include "toolkit/Controls.h"
#include "toolkit/Desktop.h"
#include "toolkit/EventLoop.h"

namespace vantor {

class TForm;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TPosition { poDesigned, poDefault, poScreenCenter, poMainFormCenter };
// Title-bar buttons.
inline constexpr unsigned biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8;

class TApplication {
public:
    TApplication(EventLoop& loop, Desktop& desktop);
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    EventLoop& Loop() const { return loop_; }
    Desktop& GetDesktop() const { return desktop_; }

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }
    const std::string& HelpFile() const { return helpFile_; }
    void SetHelpFile(std::string file) { helpFile_ = std::move(file); }
    // Asks the desktop's help for the application's help file.
    void HelpCommand(unsigned command, unsigned long data);

    TForm* MainForm() const { return mainForm_; }
    void SetMainForm(TForm* form) { mainForm_ = form; }
    // Whether Run() shows the main form first (the framework's default: yes).
    bool ShowMainForm() const { return showMainForm_; }
    void SetShowMainForm(bool show) { showMainForm_ = show; }

    // Shows the main form (when ShowMainForm) and runs the loop until
    // Terminate().  Returns the loop's exit code.
    int Run();
    // Ends Run(): quits the loop.  Safe to call more than once.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Runs what is due on the loop now (nested waits).
    void ProcessMessages();

    // The standard exception box: the message under the application's title
    // with the stop icon; a '.' is added unless the message ends in a
    // character up to '.' (such as '.', '!' or a blank).
    void ShowException(const std::exception& e);
    int MessageBox(std::string_view text, std::string_view caption, unsigned flags);

    TForm* ActiveForm() const { return activeForm_; }
    // Makes a form the active one: runs its OnActivate and, when the active
    // form changed, OnActiveFormChange.
    void Activate(TForm* form);
    TNotifyEvent OnActiveFormChange;

    // Forms tell the application when they go away.
    void FormDestroyed(TForm* form);

private:
    EventLoop& loop_;
    Desktop& desktop_;
    std::string title_ = "Tarvo Vantor";
    std::string helpFile_;
    TForm* mainForm_ = nullptr;
    TForm* activeForm_ = nullptr;
    bool showMainForm_ = true;
    bool terminated_ = false;
};

class TForm : public TControl {
public:
    TForm(TApplication& application, TComponent* owner);
    ~TForm() override;
    std::string ClassName() const override { return "TForm"; }

    TApplication& Application() const { return application_; }

    // The client area is the window less its frame (FrameWidth x FrameHeight);
    // setting one size moves the other with it.
    static constexpr int FrameWidth = 8, FrameHeight = 27;
    int ClientWidth() const { return Width() - FrameWidth; }
    int ClientHeight() const { return Height() - FrameHeight; }
    void SetClientWidth(int width) { SetWidth(width + FrameWidth); }
    void SetClientHeight(int height) { SetHeight(height + FrameHeight); }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    void SetLeft(int left) override;
    void SetTop(int top) override;

    int ModalResult() const { return modalResult_; }
    // Inside a modal run a result ends the run: the view is told.
    void SetModalResult(int result) {
        modalResult_ = result;
        if (modal_ && result != mrNone) Changed();
    }
    bool Modal() const { return modal_; }
    TPosition Position() const { return position_; }
    void SetPosition(TPosition position) { position_ = position; }
    unsigned BorderIcons() const { return borderIcons_; }
    void SetBorderIcons(unsigned icons) {
        borderIcons_ = icons;
        Changed();
    }

    // Shows the form as a modal dialog through the desktop.  ModalResult is
    // cleared first; the form is visible (and active) while the dialog runs;
    // afterwards OnClose runs (caHide; caNone cannot keep a finished dialog
    // open) and the form is hidden.  Returns ModalResult (mrCancel when the
    // dialog ended without one).  Position (screen or main-form centre) is
    // applied at the first show, unless Left or Top were set after DoCreate().
    int ShowModal();
    void Show();
    void Hide();
    // Outside a modal run: OnClose decides (caHide by default); closing the
    // main form terminates the application, caHide and caFree hide any other
    // form (its owner frees it).  caNone keeps the form open.  Inside a modal
    // run: ModalResult becomes mrCancel.
    void Close();
    // Visible through Show/Hide as well.
    void SetVisible(bool visible) override;

    void DoCreate();
    void DoDestroy();

    TNotifyEvent OnCreate, OnShow, OnHide, OnActivate, OnDestroy, OnResize;
    std::function<void(TObject* sender, TCloseAction& action)> OnClose;

private:
    friend class TApplication;
    void ApplyPosition();
    void Resized();

    TApplication& application_;
    int modalResult_ = mrNone;
    bool modal_ = false;
    bool destroyed_ = false;
    bool placed_ = false;    // Left/Top set since DoCreate()
    bool shownOnce_ = false; // Position is applied at the first show only
    TPosition position_ = poDesigned;
    unsigned borderIcons_ = biSystemMenu | biMinimize | biMaximize;
};

} // namespace vantor
