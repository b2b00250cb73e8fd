#pragma once
// Serial lines on Windows: the COM ports, through CreateFile with overlapped
// I/O, the device control block (GetCommState/SetCommState), SetupComm,
// SetCommTimeouts and WaitCommEvent on the port's event thread.
//
// Names: "COMn" in any letter case opens \\.\COMn (so COM10 and above work
// too); any other name is handed to CreateFile as it stands (\\.\CNCA0, a
// device path).  Errors are Windows error codes (GetLastError).
//
// Line events: a driver that cannot watch the modem lines (some USB and
// virtual ports; every port Wine maps onto a pseudo-terminal) refuses the
// whole wait; the wait then goes on without the modem-line events.  A wait
// the driver ends by itself is followed by a look at the port: if the port
// answers no more, the device has gone; otherwise bytes that arrived since
// the last look are reported as a characters-received event (bytes left
// unread are not news again), and the wait starts again after a short pause.
#include <string>
#include <vector>

#include "toolkit/SerialDevice.h"

namespace vantor {

// The name CreateFile is given for a device name ("COM3" -> "\\.\COM3").
std::string Win32SerialDevicePath(const std::string& deviceName);

// Opens the device exclusively, for overlapped reading and writing.  On
// failure the result holds the Windows error code and a reason naming the
// device and giving the system's text ("\\.\COM9: The system cannot find the
// file specified.").
SerialOpenResult OpenWin32SerialDevice(const std::string& deviceName);

// The serial ports present, for the port dialog (SerialDeviceList): those
// their drivers registered (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM) and the
// system's COMn device names (QueryDosDevice), COM2 before COM10, each once.
// A registered port of another name is given as its device path ("\\.\CNCA0").
std::vector<std::string> ListWin32SerialDevices();

} // namespace vantor
