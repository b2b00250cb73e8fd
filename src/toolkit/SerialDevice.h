#pragma once
// One open serial line, as the port class of the serial module drives it.
//
// The port class computes its line settings in the shape of a device control
// block (baud rate, framing, a word of flag bits, the special characters) and
// speaks of line events, error masks and modem lines with the classic driver
// values; this interface keeps those values so that the port class stays free
// of any OS call.  The POSIX implementation lives in PosixSerialDevice.h, the
// Win32 one in win32/Win32SerialDevice.h; tests inject an in-memory device
// through SerialDeviceFactory.
//
// Threads: waitEvents() runs on the port's event thread, interruptWait() may
// be called from any thread, everything else is called on the loop thread.
// Calls that fail return the system error number (errno; on Windows
// GetLastError()); 0 means success.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantor {

// Bits of SerialLineSettings::flags (device control block flag word).
namespace DcbFlag {
inline constexpr std::uint32_t Binary = 0x0001;
inline constexpr std::uint32_t Parity = 0x0002;
inline constexpr std::uint32_t OutxCtsFlow = 0x0004;
inline constexpr std::uint32_t OutxDsrFlow = 0x0008;
inline constexpr std::uint32_t DtrControlEnable = 0x0010;
inline constexpr std::uint32_t DtrControlHandshake = 0x0020;
inline constexpr std::uint32_t DtrControlMask = 0x0030;
inline constexpr std::uint32_t DsrSensitivity = 0x0040;
inline constexpr std::uint32_t TXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t OutX = 0x0100;
inline constexpr std::uint32_t InX = 0x0200;
inline constexpr std::uint32_t ErrorChar = 0x0400;
inline constexpr std::uint32_t Null = 0x0800;
inline constexpr std::uint32_t RtsControlEnable = 0x1000;
inline constexpr std::uint32_t RtsControlHandshake = 0x2000;
inline constexpr std::uint32_t RtsControlMask = 0x3000;
inline constexpr std::uint32_t AbortOnError = 0x4000;
} // namespace DcbFlag

// Line events (event mask bits).
namespace CommEvent {
inline constexpr std::uint32_t RxChar = 0x0001;
inline constexpr std::uint32_t RxFlag = 0x0002;
inline constexpr std::uint32_t TxEmpty = 0x0004;
inline constexpr std::uint32_t Cts = 0x0008;
inline constexpr std::uint32_t Dsr = 0x0010;
inline constexpr std::uint32_t Rlsd = 0x0020;
inline constexpr std::uint32_t Break = 0x0040;
inline constexpr std::uint32_t Err = 0x0080;
inline constexpr std::uint32_t Ring = 0x0100;
inline constexpr std::uint32_t All = 0x01FF;
} // namespace CommEvent

// Line error mask bits reported by clearErrors().
namespace CommErrorFlag {
inline constexpr std::uint32_t RxOver = 0x0001;
inline constexpr std::uint32_t Overrun = 0x0002;
inline constexpr std::uint32_t RxParity = 0x0004;
inline constexpr std::uint32_t Frame = 0x0008;
inline constexpr std::uint32_t Break = 0x0010;
} // namespace CommErrorFlag

// Modem status bits reported by modemStatus().
namespace ModemLine {
inline constexpr std::uint32_t CtsOn = 0x0010;
inline constexpr std::uint32_t DsrOn = 0x0020;
inline constexpr std::uint32_t RingOn = 0x0040;
inline constexpr std::uint32_t RlsdOn = 0x0080;
} // namespace ModemLine

// purge() flags.
namespace PurgeFlag {
inline constexpr unsigned TxAbort = 0x0001;
inline constexpr unsigned RxAbort = 0x0002;
inline constexpr unsigned TxClear = 0x0004;
inline constexpr unsigned RxClear = 0x0008;
} // namespace PurgeFlag

struct SerialLineSettings {
    std::uint32_t baudRate = 9600; // bits per second
    std::uint8_t byteSize = 8;     // data bits, 4..8
    std::uint8_t parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0;     // 0 one, 1 one and a half, 2 two
    std::uint32_t flags = DcbFlag::Binary | DcbFlag::DtrControlEnable | DcbFlag::RtsControlEnable;
    std::uint16_t xonLim = 0;
    std::uint16_t xoffLim = 0;
    std::uint8_t xonChar = 17;
    std::uint8_t xoffChar = 19;
    std::uint8_t errorChar = 0;
    std::uint8_t eofChar = 0;
    std::uint8_t evtChar = 0;

    bool operator==(const SerialLineSettings&) const = default;
};

// count: bytes moved; -1 when a write did not complete within its time-out.
// error: 0, or the system error number of a failed call.
struct SerialIoResult {
    long count = 0;
    int error = 0;
};

// events: the line events seen (0 when the wait was interrupted).
// lostError: non-zero when the device has gone (hang-up, I/O error); the
// events found on the way out are still reported, and no wait follows.
struct SerialWaitResult {
    std::uint32_t events = 0;
    int lostError = 0;
};

class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Whether the opened file is a character device (a serial port, a
    // pseudo-terminal); anything else is refused by the port class.
    virtual bool isCharacterDevice() const = 0;

    // Current line settings as the driver holds them.
    virtual int getState(SerialLineSettings& settings) = 0;
    virtual int setState(const SerialLineSettings& settings) = 0;
    // Reads return at once with whatever is waiting.
    virtual int setImmediateReads() = 0;
    // Driver queue sizes; a driver without adjustable queues keeps the values.
    virtual int setQueueSizes(int inputBytes, int outputBytes) = 0;

    // Reads up to into.size() bytes that are already waiting (0 when none).
    virtual SerialIoResult read(std::span<std::uint8_t> into) = 0;
    // Writes all bytes, waiting at most timeoutMs for the driver to take them.
    virtual SerialIoResult write(std::span<const std::uint8_t> bytes, int timeoutMs) = 0;
    // Line errors since the last call (CommErrorFlag bits) and the number of
    // bytes waiting in the input queue.
    virtual int clearErrors(std::uint32_t& errors, int& inputQueue) = 0;
    // Discards queued output and/or input (PurgeFlag bits).
    virtual int purge(unsigned flags) = 0;
    // Waits until everything written has left the driver, at most timeoutMs;
    // 0 when it has, ETIMEDOUT (ERROR_TIMEOUT on Windows) when the time ran
    // out, or the error.
    virtual int drainOutput(int timeoutMs) = 0;
    virtual int setDTR(bool on) = 0;
    // ModemLine bits; fails on a line without modem control (a pseudo-terminal).
    virtual int modemStatus(std::uint32_t& status) = 0;

    // The events (CommEvent bits) that waitEvents() looks for.
    virtual int setEventMask(std::uint32_t mask) = 0;
    // Blocks until a monitored event happens, the device goes, or
    // interruptWait() is called.  Event thread only.  The port calls it again
    // at once, without waiting for the loop to handle what it reported, so an
    // event is reported when it happens, not while its state lasts: received
    // bytes count once, when they arrive (those left unread are not news).
    virtual SerialWaitResult waitEvents() = 0;
    // Makes the current (or else the next) waitEvents() return at once with
    // no events.  Any thread.
    virtual void interruptWait() = 0;

    // Releases the device now (the exclusive claim first, so it can be opened
    // again at once).  Later calls fail with EBADF.  Not while waitEvents()
    // runs on another thread: interrupt that wait first.
    virtual void close() = 0;
};

struct SerialOpenResult {
    SerialOpenResult() = default;
    SerialOpenResult(std::unique_ptr<SerialDevice> opened, int errorNumber, std::string why = {})
        : device(std::move(opened)), error(errorNumber), reason(std::move(why)) {}

    std::unique_ptr<SerialDevice> device; // null on failure
    int error = 0;                        // system error number on failure
    // On failure, what was tried and why it failed, in words a technician can
    // act on: the file the name stands for, the system's reason and, where
    // there is one, what to do about it.  Empty when there is nothing to add.
    std::string reason;
};

// Opens a device by the name the port class was given ("COM2", "/dev/ttyUSB0").
using SerialDeviceFactory = std::function<SerialOpenResult(const std::string& deviceName)>;

// The serial devices present on the system, by names a settings text can
// hold ("/dev/ttyUSB0"), for the user to choose from.
using SerialDeviceList = std::function<std::vector<std::string>()>;

// The longest port settings text ("device:baud,parity,data,stop") the port
// takes.
inline constexpr std::size_t MaxPortSettingsText = 39;

} // namespace vantor
