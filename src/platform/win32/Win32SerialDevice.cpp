#include "platform/win32/Win32SerialDevice.h"

#include "platform/win32/WinApi.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <cwchar>
#include <iterator>
#include <mutex>
#include <string_view>
#include <tuple>
#include <vector>

namespace vantor {

using win32::UniqueHandle;

namespace {

// The n of "COMn" in any letter case (n from 1 on, at most five digits); 0
// for any other name.
unsigned ComNumber(std::string_view name) {
    if (name.size() < 4 || name.size() > 8 || name[3] == '0') return 0;
    for (std::size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    unsigned n = 0;
    for (const char c : name.substr(3)) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    return n;
}

} // namespace

std::string Win32SerialDevicePath(const std::string& name) {
    if (ComNumber(name) != 0) return "\\\\.\\COM" + name.substr(3);
    return name;
}

std::vector<std::string> ListWin32SerialDevices() {
    // Enough for any real machine; a registry or device table out of the
    // ordinary is looked through only so far.
    constexpr DWORD MaxEntries = 4096;
    constexpr DWORD MaxDeviceTable = 1 << 20; // characters
    std::vector<std::string> names;
    // The ports their drivers registered.  A name other than COMn (some
    // virtual port drivers) is offered as a device path, since CreateFile
    // takes a bare name for a file.
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                        &key) == ERROR_SUCCESS) {
        for (DWORD i = 0; i < MaxEntries; ++i) {
            wchar_t valueName[256];
            DWORD nameLength = std::size(valueName);
            wchar_t data[64] = {};
            DWORD dataBytes = sizeof data - sizeof(wchar_t); // room for a closing NUL
            DWORD type = 0;
            const LONG r = ::RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data), &dataBytes);
            if (r == ERROR_NO_MORE_ITEMS) break;
            // ERROR_MORE_DATA: a value too long to be a port's name.
            if (r != ERROR_SUCCESS || type != REG_SZ) continue;
            const std::string name = win32::Narrow(std::wstring_view(data));
            if (name.empty() || name.find_first_of("\\/:?*") != std::string::npos) continue;
            names.push_back(ComNumber(name) != 0 ? name : "\\\\.\\" + name);
        }
        ::RegCloseKey(key);
    }
    // The system's device names: ports of drivers that do not register, and
    // under Wine the links of its dosdevices folder.
    std::vector<wchar_t> table(16 * 1024);
    DWORD length = 0;
    while ((length = ::QueryDosDeviceW(nullptr, table.data(), static_cast<DWORD>(table.size()))) == 0 &&
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && table.size() < MaxDeviceTable)
        table.resize(table.size() * 2);
    for (std::size_t at = 0; at < length && table[at] != L'\0';) {
        const std::wstring_view entry(&table[at], ::wcsnlen(&table[at], length - at));
        at += entry.size() + 1;
        const std::string name = win32::Narrow(entry);
        if (ComNumber(name) != 0) names.push_back(name);
    }
    // COM2 before COM10, then the other devices; each once.
    for (std::string& name : names)
        if (ComNumber(name) != 0) name = "COM" + name.substr(3);
    const auto sortKey = [](const std::string& name) {
        const unsigned n = ComNumber(name);
        return std::make_tuple(n == 0, n, name);
    };
    std::sort(names.begin(), names.end(),
              [&](const std::string& a, const std::string& b) { return sortKey(a) < sortKey(b); });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

namespace {

// Events that need the driver to watch the modem lines.
constexpr std::uint32_t kModemEvents = CommEvent::Cts | CommEvent::Dsr | CommEvent::Ring |
                                       CommEvent::Rlsd;
// The line errors ClearCommError reports that the port class knows.
constexpr DWORD kErrorBits = CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK;
// After a wait that brought nothing new the next one starts this much later:
// short for a person watching the line, long enough not to load the machine
// where the driver ends every wait at once (Wine on a pseudo-terminal).
constexpr DWORD kRecheckMs = 10;
// A read returns at once (the read interval time-out is MAXDWORD); this only
// bounds a driver that does not.
constexpr DWORD kReadTimeoutMs = 1000;

class Win32SerialDevice final : public SerialDevice {
public:
    Win32SerialDevice(UniqueHandle port, bool charDevice)
        : port_(std::move(port)), charDevice_(charDevice), ioEvent_(win32::MakeEvent(true)),
          waitEvent_(win32::MakeEvent(true)), stopEvent_(win32::MakeEvent(false)) {}
    ~Win32SerialDevice() override { close(); }

    bool ready() const { return ioEvent_ && waitEvent_ && stopEvent_; }

    bool isCharacterDevice() const override { return charDevice_; }

    int getState(SerialLineSettings& s) override {
        DCB d{};
        d.DCBlength = sizeof d;
        if (!::GetCommState(port_.get(), &d)) return LastError();
        s.baudRate = d.BaudRate;
        s.byteSize = d.ByteSize;
        s.parity = d.Parity;
        s.stopBits = d.StopBits;
        s.flags = FlagsOf(d);
        s.xonLim = d.XonLim;
        s.xoffLim = d.XoffLim;
        s.xonChar = static_cast<std::uint8_t>(d.XonChar);
        s.xoffChar = static_cast<std::uint8_t>(d.XoffChar);
        s.errorChar = static_cast<std::uint8_t>(d.ErrorChar);
        s.eofChar = static_cast<std::uint8_t>(d.EofChar);
        s.evtChar = static_cast<std::uint8_t>(d.EvtChar);
        return 0;
    }

    int setState(const SerialLineSettings& s) override {
        DCB d{};
        d.DCBlength = sizeof d;
        if (!::GetCommState(port_.get(), &d)) return LastError();
        d.BaudRate = s.baudRate;
        d.ByteSize = s.byteSize;
        d.Parity = s.parity;
        d.StopBits = s.stopBits;
        SetFlags(d, s.flags);
        d.XonLim = s.xonLim;
        d.XoffLim = s.xoffLim;
        d.XonChar = static_cast<char>(s.xonChar);
        d.XoffChar = static_cast<char>(s.xoffChar);
        d.ErrorChar = static_cast<char>(s.errorChar);
        d.EofChar = static_cast<char>(s.eofChar);
        d.EvtChar = static_cast<char>(s.evtChar);
        if (!::SetCommState(port_.get(), &d)) return LastError();
        return 0;
    }

    int setImmediateReads() override {
        COMMTIMEOUTS t{};
        t.ReadIntervalTimeout = MAXDWORD; // a read takes what is waiting and returns
        if (!::SetCommTimeouts(port_.get(), &t)) return LastError();
        return 0;
    }

    int setQueueSizes(int inputBytes, int outputBytes) override {
        if (inputBytes < 0 || outputBytes < 0) return ERROR_INVALID_PARAMETER;
        if (!::SetupComm(port_.get(), static_cast<DWORD>(inputBytes),
                         static_cast<DWORD>(outputBytes)))
            return LastError();
        return 0;
    }

    SerialIoResult read(std::span<std::uint8_t> into) override {
        if (into.empty()) return {};
        const SerialIoResult r = transfer(
            [&](OVERLAPPED& ov, DWORD& done) {
                return ::ReadFile(port_.get(), into.data(), static_cast<DWORD>(into.size()),
                                  &done, &ov);
            },
            kReadTimeoutMs);
        if (r.count > 0) readTotal_.fetch_add(static_cast<std::uint64_t>(r.count));
        return r;
    }

    SerialIoResult write(std::span<const std::uint8_t> bytes, int timeoutMs) override {
        if (bytes.empty()) return {};
        return transfer(
            [&](OVERLAPPED& ov, DWORD& done) {
                return ::WriteFile(port_.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                   &done, &ov);
            },
            timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs));
    }

    int clearErrors(std::uint32_t& errors, int& inputQueue) override {
        DWORD e = 0;
        COMSTAT st{};
        if (!::ClearCommError(port_.get(), &e, &st)) return LastError();
        errors = (e & kErrorBits) | seenErrors_.exchange(0);
        inputQueue = static_cast<int>(st.cbInQue);
        return 0;
    }

    int purge(unsigned flags) override {
        const DWORD f = flags & (PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        if (f == 0) return 0;
        // The emptied queue takes its bytes out of the received count: what
        // is waiting after the purge came after it, and is news.
        std::lock_guard lock(lookLock_);
        if (!::PurgeComm(port_.get(), f)) return LastError();
        if (f & (PURGE_RXABORT | PURGE_RXCLEAR)) reportedTotal_ = readTotal_.load();
        return 0;
    }

    int drainOutput(int timeoutMs) override {
        // FlushFileBuffers would wait for ever on a line held by flow control:
        // the output queue is watched instead, for at most the given time.
        for (int waited = 0;; waited += 10) {
            DWORD e = 0;
            COMSTAT st{};
            if (!::ClearCommError(port_.get(), &e, &st)) return LastError();
            seenErrors_.fetch_or(e & kErrorBits);
            if (st.cbOutQue == 0) return 0;
            if (waited >= timeoutMs) return ERROR_TIMEOUT;
            ::Sleep(10);
        }
    }

    int setDTR(bool on) override {
        if (!::EscapeCommFunction(port_.get(), on ? SETDTR : CLRDTR)) return LastError();
        return 0;
    }

    int modemStatus(std::uint32_t& status) override {
        DWORD s = 0;
        if (!::GetCommModemStatus(port_.get(), &s)) return LastError();
        status = s & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
        return 0;
    }

    int setEventMask(std::uint32_t mask) override {
        mask_ = mask & CommEvent::All;
        if (!::SetCommMask(port_.get(), mask_)) return LastError();
        return 0;
    }

    SerialWaitResult waitEvents() override {
        for (;;) {
            if (::WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0) return {};
            DWORD events = 0;
            DWORD error = 0;
            OVERLAPPED ov{};
            ov.hEvent = waitEvent_.get();
            ::ResetEvent(ov.hEvent);
            if (!::WaitCommEvent(port_.get(), &events, &ov)) {
                error = ::GetLastError();
                if (error == ERROR_IO_PENDING) {
                    HANDLE handles[2] = {waitEvent_.get(), stopEvent_.get()};
                    const DWORD r = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
                    if (r != WAIT_OBJECT_0) {
                        // Interrupted: the wait is called off, and the system is
                        // done with `ov` and `events` before they go.
                        ::CancelIoEx(port_.get(), &ov);
                        DWORD ignored = 0;
                        ::GetOverlappedResult(port_.get(), &ov, &ignored, TRUE);
                        return {};
                    }
                    DWORD ignored = 0;
                    error = ::GetOverlappedResult(port_.get(), &ov, &ignored, FALSE)
                                ? 0
                                : ::GetLastError();
                }
            }
            if ((error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_PARAMETER) &&
                (mask_ & kModemEvents)) {
                // The driver cannot watch the modem lines: wait without them.
                mask_ &= ~kModemEvents;
                if (::SetCommMask(port_.get(), mask_)) continue;
            }

            // A look at the port: whether it still answers, and what waits in it.
            std::unique_lock lock(lookLock_);
            // Read before the look: a read in between then makes the count of
            // bytes received seem smaller, never larger.
            const std::uint64_t readBefore = readTotal_.load();
            DWORD lineErrors = 0;
            COMSTAT st{};
            if (!::ClearCommError(port_.get(), &lineErrors, &st)) {
                // The device has gone (a USB adapter pulled, the far end of a
                // pseudo-terminal closed): what is still waiting cannot be read.
                return {0, LastError()};
            }
            lineErrors &= kErrorBits;
            seenErrors_.fetch_or(lineErrors); // for the loop thread's clearErrors()

            // What the driver ended the wait for; a wait it ended without
            // saying why reports what the look found, as the wait would have.
            const bool driverSaid = error == 0 && events != 0;
            std::uint32_t found = driverSaid ? (events & ~static_cast<DWORD>(CommEvent::RxChar)) : 0;
            if (!driverSaid) {
                if (lineErrors & CE_BREAK) found |= CommEvent::Break;
                if (lineErrors & ~static_cast<DWORD>(CE_BREAK)) found |= CommEvent::Err;
            }
            // Received bytes are news once, when they arrive: the count of
            // bytes received (read or still waiting) has grown since the last
            // look.  Bytes left unread are not news again, whatever the driver
            // says of them (Wine reports a queue that is not empty).
            if (arrivedSinceLastLook(readBefore + st.cbInQue)) found |= CommEvent::RxChar;
            lock.unlock();
            found &= mask_;
            if (found) return {found, 0};
            if (::WaitForSingleObject(stopEvent_.get(), kRecheckMs) == WAIT_OBJECT_0) return {};
        }
    }

    void interruptWait() override { ::SetEvent(stopEvent_.get()); }

    void close() override { port_.reset(); }

private:
    static int LastError() {
        const DWORD e = ::GetLastError();
        return e == 0 ? ERROR_GEN_FAILURE : static_cast<int>(e);
    }

    static std::uint32_t FlagsOf(const DCB& d) {
        std::uint32_t f = 0;
        if (d.fBinary) f |= DcbFlag::Binary;
        if (d.fParity) f |= DcbFlag::Parity;
        if (d.fOutxCtsFlow) f |= DcbFlag::OutxCtsFlow;
        if (d.fOutxDsrFlow) f |= DcbFlag::OutxDsrFlow;
        f |= (static_cast<std::uint32_t>(d.fDtrControl) << 4) & DcbFlag::DtrControlMask;
        if (d.fDsrSensitivity) f |= DcbFlag::DsrSensitivity;
        if (d.fTXContinueOnXoff) f |= DcbFlag::TXContinueOnXoff;
        if (d.fOutX) f |= DcbFlag::OutX;
        if (d.fInX) f |= DcbFlag::InX;
        if (d.fErrorChar) f |= DcbFlag::ErrorChar;
        if (d.fNull) f |= DcbFlag::Null;
        f |= (static_cast<std::uint32_t>(d.fRtsControl) << 12) & DcbFlag::RtsControlMask;
        if (d.fAbortOnError) f |= DcbFlag::AbortOnError;
        return f;
    }

    static void SetFlags(DCB& d, std::uint32_t f) {
        d.fBinary = (f & DcbFlag::Binary) != 0;
        d.fParity = (f & DcbFlag::Parity) != 0;
        d.fOutxCtsFlow = (f & DcbFlag::OutxCtsFlow) != 0;
        d.fOutxDsrFlow = (f & DcbFlag::OutxDsrFlow) != 0;
        d.fDtrControl = (f & DcbFlag::DtrControlMask) >> 4;
        d.fDsrSensitivity = (f & DcbFlag::DsrSensitivity) != 0;
        d.fTXContinueOnXoff = (f & DcbFlag::TXContinueOnXoff) != 0;
        d.fOutX = (f & DcbFlag::OutX) != 0;
        d.fInX = (f & DcbFlag::InX) != 0;
        d.fErrorChar = (f & DcbFlag::ErrorChar) != 0;
        d.fNull = (f & DcbFlag::Null) != 0;
        d.fRtsControl = (f & DcbFlag::RtsControlMask) >> 12;
        d.fAbortOnError = (f & DcbFlag::AbortOnError) != 0;
    }

    // One overlapped read or write with the port's completion event, waited
    // for at most timeoutMs; a transfer that does not complete in time is
    // called off before the buffer it names goes back to the caller.
    template <class Start>
    SerialIoResult transfer(Start start, DWORD timeoutMs) {
        OVERLAPPED ov{};
        ov.hEvent = ioEvent_.get();
        ::ResetEvent(ov.hEvent);
        DWORD done = 0;
        if (start(ov, done)) return {static_cast<long>(done), 0};
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) return {0, static_cast<int>(error)};
        if (::WaitForSingleObject(ov.hEvent, timeoutMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(port_.get(), &ov);
            ::GetOverlappedResult(port_.get(), &ov, &done, TRUE);
            return {-1, 0};
        }
        if (!::GetOverlappedResult(port_.get(), &ov, &done, FALSE))
            return {static_cast<long>(done), LastError()};
        return {static_cast<long>(done), 0};
    }

    // Event thread, under lookLock_: whether bytes came since the last look,
    // given how many were received in all (read by the loop, or waiting).
    // The count only grows; one that seems smaller (a read between the two
    // looks at it) is not taken.
    bool arrivedSinceLastLook(std::uint64_t received) {
        if (received <= reportedTotal_) return false;
        reportedTotal_ = received;
        return true;
    }

    UniqueHandle port_;
    bool charDevice_;
    UniqueHandle ioEvent_;   // reads and writes, which the port class serialises
    UniqueHandle waitEvent_; // the event thread's WaitCommEvent
    UniqueHandle stopEvent_; // interruptWait(); auto-reset, one wait takes it

    // Event thread.
    std::uint32_t mask_ = 0;

    // Shared between the threads.
    std::mutex lookLock_;                    // the event thread's look, and a purge
    std::uint64_t reportedTotal_ = 0;        // under lookLock_: bytes received as last seen
    std::atomic<std::uint64_t> readTotal_{0}; // bytes the loop thread has read
    std::atomic<std::uint32_t> seenErrors_{0};
};

} // namespace

SerialOpenResult OpenWin32SerialDevice(const std::string& deviceName) {
    const std::string path = Win32SerialDevicePath(deviceName);
    UniqueHandle port(::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!port) {
        const DWORD error = ::GetLastError();
        return {nullptr, static_cast<int>(error), path + ": " + win32::ErrorText(error)};
    }
    const bool charDevice = ::GetFileType(port.get()) == FILE_TYPE_CHAR;
    auto device = std::make_unique<Win32SerialDevice>(std::move(port), charDevice);
    if (!device->ready()) {
        const DWORD error = ::GetLastError();
        return {nullptr, static_cast<int>(error), path + ": " + win32::ErrorText(error)};
    }
    return {std::move(device), 0};
}

} // namespace vantor
