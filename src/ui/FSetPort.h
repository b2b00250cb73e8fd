#pragma once
// Choice of the serial port.  The list offers COM1 to COM4 and the serial
// devices present on the system, with the device of the current settings
// text selected (added to the list when it is none of them).  A choice
// replaces only the device part of the settings text ("COM2" of
// "COM2:19200,N,8,1"); the line settings after it are kept.  The text
// changes only when the dialog ends with OK on another device; a text the
// port could not take (longer than it holds) is refused with a box and the
// dialog stays open.
#include "toolkit/TextSource.h"
#include "ui/Dialog.h"

#include <string>
#include <vector>

namespace vantor {

class TFSetPort : public TForm {
public:
    // devices: the serial devices present (SerialDeviceList), in list order.
    TFSetPort(TApplication& app, TComponent* owner, std::string& portSettings,
              const std::vector<std::string>& devices, const TextSource& texts,
              const FormTranslator& translate);
    std::string ClassName() const override { return "TFSetPort"; }

    TLabel* Label1;
    TComboBox* ComboBox1;
    TButton* ButtonOK;

private:
    // The device a list entry names: "COM 2" is COM2, a path is itself.
    std::string DeviceAt(int index) const;
    // The settings text with the chosen device.
    std::string Choice() const;

    std::string& portSettings_;
    const TextSource& texts_;
    int currentIndex_ = -1;
};

} // namespace vantor
