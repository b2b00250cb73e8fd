#include "ui/FSetTrap.h"

#include <algorithm>

namespace vantor {

namespace {
std::string Cut(std::string text, std::size_t capacity) {
    if (text.size() > capacity) text.resize(capacity);
    return text;
}
// The two message labels stand out: larger, red for the failure, green for
// the recovery.
void Emphasise(TLabel& label, TColor color) {
    TFont font = label.Font();
    font.Height = 16;
    font.Color = color;
    label.SetFont(font);
}
} // namespace

TFSetTrap::TFSetTrap(TApplication& app, TComponent* owner, TrapSettings settings, TextSource& texts,
                     const FormTranslator& translate)
    : TForm(app, owner), settings_(settings) {
    SetName("FSetTrap");
    SetTag(3200);
    SetCaption(Cp1250FromUtf8("Nastavení lokálních TRAPů"));
    SetHelpContext(104);
    SetBorderIcons(0);
    SetPosition(poScreenCenter);
    SetClientWidth(440);
    SetClientHeight(282);

    GroupBox1 = &MakeControl<TGroupBox>(*this, *this, 3201, "Adresát", 8, 8, 424, 116);
    Label1 = &MakeControl<TLabel>(*this, *GroupBox1, 4004, "Jméno:", 12, 24, 90, 16);
    EditAddress = &MakeControl<TEdit>(*this, *GroupBox1, 0, "", 108, 22, 304, 21);
    Label2 = &MakeControl<TLabel>(*this, *GroupBox1, 3202, "Typ adresy:", 12, 54, 90, 16);
    ComboBoxType = &MakeControl<TComboBox>(*this, *GroupBox1, 0, "", 108, 52, 180, 21);
    Label3 = &MakeControl<TLabel>(*this, *GroupBox1, 3205, "Subject:", 12, 84, 90, 16);
    EditSubject = &MakeControl<TEdit>(*this, *GroupBox1, 0, "", 108, 82, 304, 21);
    Label4 =
        &MakeControl<TLabel>(*this, *this, 3203, "Chyba komunikace s ústřednou", 8, 134, 424, 20);
    Emphasise(*Label4, clRed);
    EditComOff = &MakeControl<TEdit>(*this, *this, 0, "", 8, 156, 424, 21);
    Label5 =
        &MakeControl<TLabel>(*this, *this, 3204, "Obnova komunikace s ústřednou", 8, 188, 424, 20);
    Emphasise(*Label5, clGreen);
    EditComOn = &MakeControl<TEdit>(*this, *this, 0, "", 8, 210, 424, 21);
    const OkCancelButtons buttons = MakeOkCancel(*this, *this, "Zrušit", 248, 272);
    ButtonOK = buttons.ok;
    ButtonCancel = buttons.cancel;

    EditAddress->SetName("EditAddress");
    ComboBoxType->SetName("ComboBoxType");
    EditSubject->SetName("EditSubject");
    EditComOff->SetName("EditComOff");
    EditComOn->SetName("EditComOn");
    for (TEdit* edit : {EditAddress, EditSubject, EditComOff, EditComOn})
        edit->SetMaxLength(static_cast<int>(TextCapacity));

    ComboBoxType->SetStyle(TComboBox::csDropDownList);
    ComboBoxType->Items().Add("--------");
    // One run from 100 to 199: the first opens the language file, the last
    // closes it.
    for (int number : TypeTexts) ComboBoxType->Items().Add(texts.Text(number));

    OnShow = [this](TObject*) { Fill(); };
    OnClose = [this](TObject*, TCloseAction&) {
        if (ModalResult() == mrOk) Store();
    };
    if (translate) translate(*this);
    DoCreate();
}

void TFSetTrap::Fill() {
    EditAddress->SetText(settings_.Address);
    EditSubject->SetText(settings_.Subject);
    EditComOn->SetText(settings_.ComOnMessage);
    EditComOff->SetText(settings_.ComOffMessage);
    const auto* letter = std::find(TypeLetters.begin(), TypeLetters.end(), settings_.AddressType);
    ComboBoxType->SetItemIndex(
        letter == TypeLetters.end() ? -1 : static_cast<int>(letter - TypeLetters.begin()));
}

void TFSetTrap::Store() {
    settings_.Address = Cut(EditAddress->Text(), TextCapacity);
    settings_.Subject = Cut(EditSubject->Text(), TextCapacity);
    settings_.ComOnMessage = Cut(EditComOn->Text(), TextCapacity);
    settings_.ComOffMessage = Cut(EditComOff->Text(), TextCapacity);
    const int index = ComboBoxType->ItemIndex();
    if (index >= 0 && static_cast<std::size_t>(index) < TypeLetters.size())
        settings_.AddressType = TypeLetters[static_cast<std::size_t>(index)];
}

} // namespace vantor
