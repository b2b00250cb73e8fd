#include "toolkit/Forms.h"

#include <stdexcept>

namespace vantor {

// ------------------------------------------------------------ TApplication

TApplication::TApplication(EventLoop& loop, Desktop& desktop) : loop_(loop), desktop_(desktop) {}

void TApplication::HelpCommand(unsigned command, unsigned long data) {
    desktop_.Help(command, data, helpFile_);
}

int TApplication::Run() {
    if (mainForm_ && showMainForm_ && !terminated_) mainForm_->Show();
    if (terminated_) return 0;
    return loop_.run();
}

void TApplication::Terminate() {
    terminated_ = true;
    loop_.quit(0);
}

void TApplication::ProcessMessages() { loop_.processEvents(); }

void TApplication::ShowException(const std::exception& e) {
    std::string message = e.what();
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
    desktop_.MessageBox(message, title_, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
    return desktop_.MessageBox(text, caption, flags);
}

void TApplication::Activate(TForm* form) {
    if (form == activeForm_) return;
    activeForm_ = form;
    if (form && form->OnActivate) {
        auto handler = form->OnActivate;
        handler(form);
    }
    if (OnActiveFormChange) {
        auto handler = OnActiveFormChange;
        handler(form);
    }
}

void TApplication::FormDestroyed(TForm* form) {
    if (activeForm_ == form) activeForm_ = nullptr;
    if (mainForm_ == form) mainForm_ = nullptr;
}

// ------------------------------------------------------------------- TForm

TForm::TForm(TApplication& application, TComponent* owner)
    : TControl(owner), application_(application) {
    // Forms start hidden and are shown through Show() or ShowModal().
    TControl::SetVisible(false);
    TControl::SetWidth(320 + FrameWidth);
    TControl::SetHeight(240 + FrameHeight);
}

TForm::~TForm() {
    if (!destroyed_) DoDestroy();
    application_.FormDestroyed(this);
    application_.GetDesktop().FormDestroyed(*this);
}

void TForm::DoCreate() {
    placed_ = false;
    if (OnCreate) {
        auto handler = OnCreate;
        handler(this);
    }
}

void TForm::DoDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    if (OnDestroy) {
        auto handler = OnDestroy;
        handler(this);
    }
    FreeOwnedComponents();
}

void TForm::SetLeft(int left) {
    placed_ = true;
    TControl::SetLeft(left);
}

void TForm::SetTop(int top) {
    placed_ = true;
    TControl::SetTop(top);
}

void TForm::SetWidth(int width) {
    if (width == Width()) return;
    TControl::SetWidth(width);
    Resized();
}

void TForm::SetHeight(int height) {
    if (height == Height()) return;
    TControl::SetHeight(height);
    Resized();
}

void TForm::Resized() {
    if (OnResize) {
        auto handler = OnResize;
        handler(this);
    }
}

void TForm::ApplyPosition() {
    if (shownOnce_) return;
    shownOnce_ = true;
    if (placed_) return;
    const Desktop& desk = application_.GetDesktop();
    TForm* main = application_.MainForm();
    if (position_ == poMainFormCenter && main && main != this) {
        TControl::SetLeft(main->Left() + (main->ClientWidth() - Width()) / 2);
        TControl::SetTop(main->Top() + (main->ClientHeight() - Height()) / 2);
    } else if (position_ == poScreenCenter || position_ == poMainFormCenter) {
        TControl::SetLeft((desk.ScreenWidth() - Width()) / 2);
        TControl::SetTop((desk.ScreenHeight() - Height()) / 2);
    }
}

void TForm::Show() {
    const bool wasVisible = Visible();
    if (!wasVisible) ApplyPosition();
    TControl::SetVisible(true);
    application_.GetDesktop().ShowForm(*this);
    if (!wasVisible && OnShow) {
        auto handler = OnShow;
        handler(this);
    }
    application_.Activate(this);
}

void TForm::Hide() {
    const bool wasVisible = Visible();
    TControl::SetVisible(false);
    application_.GetDesktop().HideForm(*this);
    if (wasVisible && OnHide) {
        auto handler = OnHide;
        handler(this);
    }
    if (application_.ActiveForm() == this) application_.Activate(nullptr);
}

void TForm::SetVisible(bool visible) {
    if (visible)
        Show();
    else
        Hide();
}

int TForm::ShowModal() {
    if (modal_) throw std::logic_error("Cannot make a modal window modal again: " + Name());
    TForm* previous = application_.ActiveForm();
    modalResult_ = mrNone;
    modal_ = true;
    struct EndModal {
        TForm& form;
        TForm* previous;
        ~EndModal() {
            form.modal_ = false;
            form.TControl::SetVisible(false);
            form.application_.GetDesktop().HideForm(form);
            if (form.OnHide) {
                auto handler = form.OnHide;
                handler(&form);
            }
            form.application_.Activate(previous);
        }
    };
    {
        const bool wasVisible = Visible();
        if (!wasVisible) ApplyPosition();
        TControl::SetVisible(true);
        if (!wasVisible && OnShow) {
            auto handler = OnShow;
            handler(this);
        }
        EndModal end{*this, previous};
        application_.Activate(this);
        const int answer = application_.GetDesktop().RunModal(*this);
        if (answer != mrNone) modalResult_ = answer;
        if (modalResult_ == mrNone) modalResult_ = mrCancel;
        TCloseAction action = caHide;
        if (OnClose) {
            auto handler = OnClose;
            handler(this, action);
        }
    }
    return modalResult_;
}

void TForm::Close() {
    if (modal_) {
        modalResult_ = mrCancel;
        return;
    }
    TCloseAction action = caHide;
    if (OnClose) {
        auto handler = OnClose;
        handler(this, action);
    }
    if (action == caNone) return;
    if (application_.MainForm() == this) {
        application_.Terminate();
        return;
    }
    Hide();
}

} // namespace vantor
