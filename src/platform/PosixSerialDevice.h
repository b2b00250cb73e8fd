#pragma once
// Serial lines on Linux: UARTs (/dev/ttyS*), USB adapters and pseudo-terminals,
// driven through termios2 so that every baud rate can be set, including those
// without a B-constant (14400, 56000, 128000, 256000).
//
// Names: "COMn" in any letter case is /dev/ttyS<n-1>; a name beginning with
// '/' is a path; any other name is looked up under /dev/.
//
// What termios cannot express is kept and reported back by getState() but
// not applied: DSR/DTR handshake and DSR sensitivity, continue-on-XOFF,
// error-character replacement, NUL stripping.  One and a half stop bits are
// sent as two (the UART's own rule for 5 data bits).  setState() leaves the
// DTR and RTS lines as they are; setDTR() changes DTR.
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/SerialDevice.h"

namespace vantor {

// The file a device name stands for.
std::string SerialDevicePath(std::string_view deviceName);

// Opens the device exclusively for reading and writing (non-blocking, not as
// the controlling terminal).  On failure the result holds errno and a reason
// in words naming the file (SerialOpenFailureReason).
SerialOpenResult OpenPosixSerialDevice(const std::string& deviceName);

// The serial devices present, for the port choice: the stable names of USB
// adapters (<dev>/serial/by-id/*), then <dev>/ttyUSB*, <dev>/ttyACM* and the
// UARTs <dev>/ttyS* that the kernel found hardware for (their <sys>/ttySn/type
// is not 0), each group in natural order.  Nothing is opened: opening a line
// would raise its modem lines under another program.
std::vector<std::string> ListSerialDevices(const std::string& dev = "/dev",
                                           const std::string& sys = "/sys/class/tty");

// "/dev/ttyS1: Permission denied", followed by what to do where the cause is
// a usual one: the dialout group for a permission failure, another program
// for a device that is busy.
std::string SerialOpenFailureReason(const std::string& path, int error);

} // namespace vantor
