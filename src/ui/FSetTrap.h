#pragma once
// The local-trap settings dialog: who gets the alarm mails the gateway sends
// when the link to the exchange is lost and when it comes back, the address
// type, the subject and the two messages.  The settings change only when the
// dialog ends with OK.
//
// The address-type list offers "--------" (no type) and the five types the
// gateway knows, labelled by the language file's texts 100, 101, 102, 103 and
// 199; a stored type the list does not offer (such as 'F') shows no
// selection and is kept unless another entry is chosen.
#include "toolkit/TextSource.h"
#include "ui/Dialog.h"

#include <array>
#include <cstddef>
#include <string>

namespace vantor {

// The trap settings the dialog edits (8-bit texts; type NUL: none).
struct TrapSettings {
    std::string& Address;
    char& AddressType;
    std::string& Subject;
    std::string& ComOnMessage;  // link restored
    std::string& ComOffMessage; // link lost
};

class TFSetTrap : public TForm {
public:
    static constexpr std::size_t TextCapacity = 100;
    // The letters of the address-type list, entry by entry, and the language
    // texts that label them ("--------" for the first).
    static constexpr std::array<char, 6> TypeLetters{'\0', 'I', 'Q', 'V', 'L', 'Z'};
    static constexpr std::array<int, 5> TypeTexts{100, 101, 102, 103, 199};

    // texts: fetched in the order above, so the language file is read once.
    TFSetTrap(TApplication& app, TComponent* owner, TrapSettings settings, TextSource& texts,
              const FormTranslator& translate);
    std::string ClassName() const override { return "TFSetTrap"; }

    TGroupBox* GroupBox1;
    TLabel* Label1; // recipient address
    TEdit* EditAddress;
    TLabel* Label2; // address type
    TComboBox* ComboBoxType;
    TLabel* Label3; // subject
    TEdit* EditSubject;
    TLabel* Label4; // link lost, in red
    TEdit* EditComOff;
    TLabel* Label5; // link restored, in green
    TEdit* EditComOn;
    TButton* ButtonOK;
    TButton* ButtonCancel;

private:
    void Fill();
    void Store();

    TrapSettings settings_;
};

} // namespace vantor
