#pragma once
// The mail settings dialog: the four values that open the mail library's
// connection (configuration path, work directory, user name, password).  The
// settings change only when the dialog ends with OK; the two paths can be
// picked with the directory chooser.  The dialog translates itself each time
// it becomes active.
#include "toolkit/DirectorySource.h"
#include "toolkit/TextSource.h"
#include "ui/Dialog.h"

#include <cstddef>
#include <string>

namespace vantor {

// The mail settings the dialog edits (8-bit texts, the password plain).
struct MailLoginSettings {
    std::string& ConfigPath;
    std::string& WorkDir;
    std::string& User;
    std::string& Password;
};

class TFSetM602 : public TForm {
public:
    static constexpr std::size_t TextCapacity = 100, PasswordCapacity = 20;

    TFSetM602(TApplication& app, TComponent* owner, MailLoginSettings settings,
              DirectorySource& directories, const TextSource& texts, FormTranslator translate);
    std::string ClassName() const override { return "TFSetM602"; }

    TLabel* Label1; // configuration path
    TEdit* EditConfigPath;
    TButton* ButtonConfigPath;
    TLabel* Label2; // work directory
    TEdit* EditWorkDir;
    TButton* ButtonWorkDir;
    TGroupBox* GroupBox1;
    TLabel* Label3; // user name
    TEdit* EditUser;
    TLabel* Label4; // password
    TEdit* EditPassword;
    TButton* ButtonOK;
    TButton* ButtonCancel;

    // A browse button: the directory chooser on the edit's text; a confirmed
    // choice replaces the text.
    void BrowseClick(TEdit& edit);

private:
    void Store();

    MailLoginSettings settings_;
    DirectorySource& directories_;
    const TextSource& texts_;
    FormTranslator translate_;
};

} // namespace vantor
