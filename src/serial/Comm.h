#pragma once
// The serial port the gateway talks to the exchange through.
//
// TCustomComm holds the line settings and the open device; TComm is the same
// class under its published name.  While the port is open a TCommEventThread
// waits for line events on a thread of its own and hands them to the loop
// thread one hand-over at a time, so notifications never overlap and all
// protocol work stays on the loop thread.  Every port failure is an
// ECommError carrying the system error number (-1 for the port's own checks).
//
// The device itself sits behind toolkit/SerialDevice.h; a factory picks it
// (the real one by default, an in-memory one in tests).
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "toolkit/SerialDevice.h"
#include "toolkit/Component.h"
#include "toolkit/EventLoop.h"

namespace vantor {

enum TBaudrate : std::uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
};
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : std::uint8_t { sb10, sb15, sb20 };
enum TDatabits : std::uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : std::uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : std::uint8_t {
    coParityCheck,
    coDsrSensitivity,
    coIgnoreXOff,
    coErrorChar,
    coNullStrip
};
enum TCommEventType : std::uint8_t {
    evBreak,
    evCts,
    evDsr,
    evError,
    evRing,
    evRlsd,
    evRxChar,
    evRxFlag,
    evTxEmpty,
};

// A small set of enumeration values, as the port's set-typed properties hold them.
template <class E>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> items) {
        for (E e : items) Include(e);
    }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr TSet& Include(E e) {
        bits_ |= Bit(e);
        return *this;
    }
    constexpr TSet& Exclude(E e) {
        bits_ &= ~Bit(e);
        return *this;
    }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr std::uint32_t Bits() const { return bits_; }
    friend constexpr bool operator==(TSet, TSet) = default;

private:
    static constexpr std::uint32_t Bit(E e) { return 1u << static_cast<unsigned>(e); }
    std::uint32_t bits_ = 0;
};

using TCommOptions = TSet<TCommOption>;
using TCommEventTypes = TSet<TCommEventType>;

inline constexpr TCommEventTypes AllCommEvents{evBreak, evCts,    evDsr,    evError,  evRing,
                                               evRlsd,  evRxChar, evRxFlag, evTxEmpty};

// Driver values of the enumerations.
std::uint32_t BaudRateValue(TBaudrate rate);    // bits per second
std::uint8_t ParityValue(TParity parity);       // 0..4
std::uint8_t StopbitsValue(TStopbits stopbits); // 0..2
std::uint8_t DatabitsValue(TDatabits databits); // 4..8
std::uint32_t OptionFlag(TCommOption option);   // DcbFlag bit
std::uint32_t EventValue(TCommEventType event); // CommEvent bit
std::uint32_t EventMaskOf(TCommEventTypes events);

class ECommError : public std::runtime_error {
public:
    // what() is the text followed by " (Error: <code>) ".  detail: what the
    // system said, in words (the device file and the reason), for the log.
    ECommError(std::string_view text, int errorCode, std::string detail = {});
    int ErrorCode() const { return errorCode_; }
    // The fixed text without the error number.
    const std::string& Text() const { return text_; }
    // Empty when the failure has nothing to add to the fixed text.
    const std::string& Detail() const { return detail_; }

private:
    std::string text_;
    int errorCode_;
    std::string detail_;
};

class TCustomComm;

// The five special characters of the line.  Changing one applies the settings
// of an open port at once.
class TCommEventChars {
public:
    explicit TCommEventChars(TCustomComm* owner = nullptr) : owner_(owner) {}
    // A copy carries the characters, not the port.
    TCommEventChars(const TCommEventChars& other) : chars_(other.chars_) {}
    // Copies all five characters (and applies them when this belongs to a port).
    TCommEventChars& operator=(const TCommEventChars& other) {
        Assign(other);
        return *this;
    }
    void Assign(const TCommEventChars& other);

    std::uint8_t XonChar() const { return chars_.xon; }
    std::uint8_t XoffChar() const { return chars_.xoff; }
    std::uint8_t ErrorChar() const { return chars_.error; }
    std::uint8_t EOFChar() const { return chars_.eof; }
    std::uint8_t EvtChar() const { return chars_.evt; }
    void SetXonChar(std::uint8_t c) { Change(chars_.xon, c); }
    void SetXoffChar(std::uint8_t c) { Change(chars_.xoff, c); }
    void SetErrorChar(std::uint8_t c) { Change(chars_.error, c); }
    void SetEOFChar(std::uint8_t c) { Change(chars_.eof, c); }
    void SetEvtChar(std::uint8_t c) { Change(chars_.evt, c); }

    friend bool operator==(const TCommEventChars& a, const TCommEventChars& b) {
        return a.chars_ == b.chars_;
    }

private:
    struct Chars {
        std::uint8_t xon = 17, xoff = 19, error = 0, eof = 0, evt = 0;
        bool operator==(const Chars&) const = default;
    };
    void Change(std::uint8_t& field, std::uint8_t value);

    TCustomComm* owner_ = nullptr;
    Chars chars_;
};

// Waits for line events on its own thread and hands them to the loop thread.
// One hand-over at a time: while one is queued on the loop or its handlers
// run, further events are merged into the next one, which is queued only
// after those handlers have returned.  The loop thus never sees two
// notifications at once, nor one inside another (a handler that runs the
// loop itself), and a burst of line events cannot flood it; the thread
// itself never waits for the loop, so it keeps the line's events flowing and
// can always be stopped.  When the device goes (hang-up, I/O error) it hands
// over what was still waiting, reports the error once and ends; it never
// spins on a dead descriptor.
class TCommEventThread {
public:
    using DispatchHandler = std::function<void(std::uint32_t mask)>;
    using LostHandler = std::function<void(int error)>;

    // Sets the device's event mask and starts waiting at once.  Both handlers
    // run on the loop thread, and never after Stop().
    TCommEventThread(std::shared_ptr<SerialDevice> device, std::uint32_t eventMask, EventLoop& loop,
                     DispatchHandler dispatch, LostHandler lost);
    ~TCommEventThread();
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;

    // Loop thread (also from inside a handler).  Ends the thread and waits
    // for it; afterwards it no longer touches the device, so the device may
    // be closed.  A hand-over still queued on the loop is dropped when it runs.
    void Stop();
    // Whether the thread is still waiting for events (false once it ended).
    bool Running() const;

private:
    struct Shared;
    struct HandOver;
    static void Run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

class TCustomComm : public TComponent {
public:
    TCustomComm(TComponent* owner, EventLoop& loop, SerialDeviceFactory factory);
    ~TCustomComm() override;
    std::string ClassName() const override { return "TCustomComm"; }
    // How long Close() waits for written bytes to leave the line.
    static constexpr int DrainTimeoutMs = 2000;

    bool IsOpen() const { return device_ != nullptr; }
    void Open();
    void Close();
    // Returns the number of bytes written, -1 when the driver did not take
    // them all within WriteTimeout.
    int Write(const void* buffer, int count);
    int Write(std::span<const std::uint8_t> bytes) {
        return Write(bytes.data(), static_cast<int>(bytes.size()));
    }
    // Reads up to count bytes that are already waiting; 0 when none are.
    int Read(void* buffer, int count);
    void PurgeOutput();
    void SetDTR(bool state);
    // Line 1 CTS, 2 DSR, 3 RING, 4 carrier detect; false for any other line,
    // a closed port or a line without modem control.
    bool LineActive(int line);
    // Writes every line setting to an open port (nothing when closed).
    void ApplySettings();
    // Hands one event mask to the notification slots, in their fixed order.
    void DispatchEvents(std::uint32_t mask);

    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& name);
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int ms) { readTimeout_ = ms; }
    int WriteTimeout() const { return writeTimeout_; }
    void SetWriteTimeout(int ms) { writeTimeout_ = ms; }
    int ReadBufSize() const { return readBufSize_; }
    void SetReadBufSize(int bytes);
    int WriteBufSize() const { return writeBufSize_; }
    void SetWriteBufSize(int bytes);
    TCommEventTypes MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TCommEventTypes events);
    TBaudrate BaudRate() const { return baudRate_; }
    void SetBaudRate(TBaudrate rate);
    TParity Parity() const { return parity_; }
    void SetParity(TParity parity);
    TStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TStopbits stopbits);
    TDatabits Databits() const { return databits_; }
    void SetDatabits(TDatabits databits);
    TCommEventChars& EventChars() { return eventChars_; }
    const TCommEventChars& EventChars() const { return eventChars_; }
    void SetEventChars(const TCommEventChars& chars) { eventChars_.Assign(chars); }
    TCommOptions Options() const { return options_; }
    void SetOptions(TCommOptions options);
    TFlowControl FlowControl() const { return flowControl_; }
    void SetFlowControl(TFlowControl flow);

    EventLoop& Loop() const { return loop_; }

    TNotifyEvent OnBreak;
    TNotifyEvent OnCts;
    TNotifyEvent OnDsr;
    std::function<void(TObject* sender, int errors)> OnError;
    TNotifyEvent OnRing;
    TNotifyEvent OnRlsd;
    std::function<void(TObject* sender, int count)> OnRxChar;
    TNotifyEvent OnRxFlag;
    TNotifyEvent OnTxEmpty;
    // The device went away while open (unplugged adapter, closed
    // pseudo-terminal).  The port has already closed itself when this runs;
    // error is the system error number.
    std::function<void(TObject* sender, int error)> OnDeviceLost;

protected:
    void ApplyTimeouts();
    void SetupComm();

private:
    void DeviceLost(int error);

    EventLoop& loop_;
    SerialDeviceFactory factory_;
    std::shared_ptr<SerialDevice> device_;
    bool deviceGone_ = false; // the device vanished: nothing to drain on close
    std::unique_ptr<TCommEventThread> eventThread_;
    SerialLineSettings dcb_; // as last read from the driver
    std::mutex ioLock_;      // one read or write at a time

    std::string deviceName_ = "Com2";
    int readTimeout_ = 1000;
    int writeTimeout_ = 1000;
    int readBufSize_ = 4096;
    int writeBufSize_ = 2048;
    TCommEventTypes monitorEvents_ = AllCommEvents;
    TBaudrate baudRate_ = br9600;
    TParity parity_ = paNone;
    TStopbits stopbits_ = sb10;
    TDatabits databits_ = da8;
    TCommEventChars eventChars_{this};
    TCommOptions options_;
    TFlowControl flowControl_ = fcDefault;
};

class TComm : public TCustomComm {
public:
    using TCustomComm::TCustomComm;
    std::string ClassName() const override { return "TComm"; }
};

} // namespace vantor
