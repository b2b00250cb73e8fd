#include "ui/FSetPort.h"

#include "nls/TextIds.h"
#include "toolkit/SerialDevice.h"
#include "toolkit/Strings.h"

namespace vantor {

namespace {

constexpr int ComPorts = 4;
// The line settings of the gateway's default port text, for a text that has
// none of its own to keep.
constexpr std::string_view DefaultLineSettings = ":19200,N,8,1";

// The n of "COMn" (1 to 4) in any letter case; 0 for any other device.
int ComPortNumber(std::string_view device) {
    if (device.size() != 4 || !SameText(device.substr(0, 3), "COM")) return 0;
    const int n = device[3] - '0';
    return n >= 1 && n <= ComPorts ? n : 0;
}

} // namespace

TFSetPort::TFSetPort(TApplication& app, TComponent* owner, std::string& portSettings,
                     const std::vector<std::string>& devices, const TextSource& texts,
                     const FormTranslator& translate)
    : TForm(app, owner), portSettings_(portSettings), texts_(texts) {
    SetName("FSetPort");
    SetTag(3300);
    SetCaption("Serial port selection");
    SetHelpContext(103);
    SetPosition(poMainFormCenter);
    // Wide enough for the whole caption in the title bar and for the long
    // names of USB adapters.
    SetClientWidth(360);
    SetClientHeight(100);
    Label1 = &MakeControl<TLabel>(*this, *this, 3301, "Port:", 16, 20, 40, 16);
    ComboBox1 = &MakeControl<TComboBox>(*this, *this, 0, "", 64, 16, 280, 21);
    ComboBox1->SetStyle(TComboBox::csDropDownList);
    for (const char* item : {"COM 1", "COM 2", "COM 3", "COM 4"}) ComboBox1->Items().Add(item);
    // A system that names its ports "COM3" (Windows) has them listed above.
    for (const std::string& device : devices)
        if (ComPortNumber(device) == 0 && ComboBox1->Items().IndexOf(device) < 0)
            ComboBox1->Items().Add(device);

    const std::string device = portSettings_.substr(0, portSettings_.find(':'));
    if (const int n = ComPortNumber(device)) {
        currentIndex_ = n - 1;
    } else if (!device.empty()) {
        currentIndex_ = ComboBox1->Items().IndexOf(device);
        // Not present now (unplugged, a COM5): still the current choice.
        if (currentIndex_ < 0) currentIndex_ = ComboBox1->Items().Add(device);
    }
    ButtonOK = MakeOkCancel(*this, *this, "Cancel", 60, 64).ok;
    ButtonOK->SetModalResult(mrNone);
    // A text the port could not take is refused here, with a box, and the
    // dialog stays open for another choice.
    ButtonOK->OnClick = [this](TObject*) {
        const std::string next = Choice();
        if (next != portSettings_ && next.size() > MaxPortSettingsText) {
            Application().MessageBox(FormatText(texts_.Msg(msg::PortSettingsTooLong),
                                                {next, std::to_string(next.size()),
                                                 std::to_string(MaxPortSettingsText)}),
                                     Caption(), MB_OK | MB_ICONWARNING);
            return;
        }
        SetModalResult(mrOk);
    };
    OnClose = [this](TObject*, TCloseAction&) {
        const std::string next = Choice();
        if (ModalResult() == mrOk && next.size() <= MaxPortSettingsText) portSettings_ = next;
    };
    OnShow = [this](TObject*) { ComboBox1->SetItemIndex(currentIndex_); };
    ComboBox1->SetItemIndex(currentIndex_);
    if (translate) translate(*this);
    DoCreate();
}

std::string TFSetPort::DeviceAt(int index) const {
    if (index < ComPorts) return "COM" + std::to_string(index + 1);
    return ComboBox1->Items()[index];
}

std::string TFSetPort::Choice() const {
    const int chosen = ComboBox1->ItemIndex();
    // The device in use (or none chosen) keeps the text as it is, whatever
    // it holds.
    if (chosen < 0 || chosen == currentIndex_) return portSettings_;
    const std::size_t colon = portSettings_.find(':');
    return DeviceAt(chosen) + (colon == std::string::npos ? std::string(DefaultLineSettings)
                                                          : portSettings_.substr(colon));
}

} // namespace vantor
