#include "platform/PosixSerialDevice.h"
#include "platform/FileDescriptor.h"

// termios2 comes from the kernel headers; glibc's <termios.h> must not be
// included beside them (both define struct termios), so everything here goes
// through ioctl().
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

namespace vantor {

std::string SerialDevicePath(std::string_view name) {
    if (!name.empty() && name.front() == '/') return std::string(name);
    if (name.size() > 3 && (name[0] == 'c' || name[0] == 'C') &&
        (name[1] == 'o' || name[1] == 'O') && (name[2] == 'm' || name[2] == 'M')) {
        long n = 0;
        bool digits = true;
        for (char c : name.substr(3)) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || n > 100000) {
                digits = false;
                break;
            }
            n = n * 10 + (c - '0');
        }
        if (digits && n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + std::string(name);
}

namespace {

struct StandardRate {
    std::uint32_t bps;
    unsigned constant;
};
constexpr StandardRate kStandardRates[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},   {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

// Flags that termios expresses; the others are only remembered.
constexpr std::uint32_t kTermiosFlags = DcbFlag::Binary | DcbFlag::Parity | DcbFlag::OutxCtsFlow |
                                        DcbFlag::RtsControlMask | DcbFlag::OutX | DcbFlag::InX;

// What poll() cannot see (modem lines, error counters, the output queue
// draining) is looked at again at most this often, whether the event thread
// woke for input or for the time: long enough not to load the machine or add
// system calls to every frame, short enough for a person watching the line.
constexpr int kRecheckMs = 100;

// The bytes received and not yet read, in the order they came: the input
// queue a serial driver keeps.  Event thread and loop thread share it under
// the device's input lock.
class InputQueue {
public:
    std::size_t size() const { return end_ - start_; }
    bool empty() const { return size() == 0; }
    std::size_t room() const { return capacity_ > size() ? capacity_ - size() : 0; }
    void setCapacity(std::size_t bytes) { capacity_ = std::max<std::size_t>(bytes, 1); }

    // Reads up to room() bytes from fd onto the end; the result of read(2).
    ssize_t fillFrom(int fd) {
        const std::size_t wanted = room();
        if (wanted == 0) return 0;
        if (start_ > 0) { // the front was read: move the rest there
            std::memmove(bytes_.data(), bytes_.data() + start_, size());
            end_ -= start_;
            start_ = 0;
        }
        if (bytes_.size() < end_ + wanted) bytes_.resize(end_ + wanted);
        const ssize_t n = ::read(fd, bytes_.data() + end_, wanted);
        if (n > 0) end_ += static_cast<std::size_t>(n);
        return n;
    }
    std::size_t take(std::span<std::uint8_t> into) {
        const std::size_t n = std::min(into.size(), size());
        std::memcpy(into.data(), bytes_.data() + start_, n);
        start_ += n;
        if (start_ == end_) clear();
        return n;
    }
    void clear() { start_ = end_ = 0; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t start_ = 0, end_ = 0;
    std::size_t capacity_ = 4096;
};

class PosixSerialDevice final : public SerialDevice {
public:
    PosixSerialDevice(FileDescriptor fd, FileDescriptor wakeFd, bool charDevice)
        : fd_(std::move(fd)), wakeFd_(std::move(wakeFd)), charDevice_(charDevice) {
        // Asked once: a driver without error counters (a pseudo-terminal, many
        // USB adapters) would fail the same way on every look.
        countersSupported_ = ioctl(fd_.get(), TIOCGICOUNT, &threadCounters_) == 0;
    }
    ~PosixSerialDevice() override { close(); }

    bool isCharacterDevice() const override { return charDevice_; }

    int getState(SerialLineSettings& s) override {
        termios2 t{};
        if (ioctl(fd_.get(), TCGETS2, &t) != 0) return errno;
        s.baudRate = t.c_ospeed;
        switch (t.c_cflag & CSIZE) {
        case CS5: s.byteSize = 5; break;
        case CS6: s.byteSize = 6; break;
        case CS7: s.byteSize = 7; break;
        default: s.byteSize = 8; break;
        }
        if (!(t.c_cflag & PARENB))
            s.parity = 0;
        else if (t.c_cflag & CMSPAR)
            s.parity = (t.c_cflag & PARODD) ? 3 : 4;
        else
            s.parity = (t.c_cflag & PARODD) ? 1 : 2;
        if (!(t.c_cflag & CSTOPB))
            s.stopBits = 0;
        else
            s.stopBits = rememberedStopBits_ == 1 ? 1 : 2;
        std::uint32_t flags = DcbFlag::Binary | (rememberedFlags_ & ~kTermiosFlags);
        if (t.c_iflag & INPCK) flags |= DcbFlag::Parity;
        if (t.c_cflag & CRTSCTS)
            flags |= DcbFlag::OutxCtsFlow | DcbFlag::RtsControlHandshake;
        else
            flags |= rememberedFlags_ & DcbFlag::RtsControlEnable;
        if (t.c_iflag & IXON) flags |= DcbFlag::OutX;
        if (t.c_iflag & IXOFF) flags |= DcbFlag::InX;
        s.flags = flags;
        s.xonLim = rememberedXonLim_;
        s.xoffLim = rememberedXoffLim_;
        s.xonChar = t.c_cc[VSTART];
        s.xoffChar = t.c_cc[VSTOP];
        s.errorChar = rememberedErrorChar_;
        s.eofChar = rememberedEofChar_;
        s.evtChar = rememberedEvtChar_;
        return 0;
    }

    int setState(const SerialLineSettings& s) override {
        termios2 t{};
        if (ioctl(fd_.get(), TCGETS2, &t) != 0) return errno;
        if (s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2)
            return EINVAL;

        // Raw bytes in both directions.
        t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                               IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
        t.c_oflag &= ~tcflag_t(OPOST);
        t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &=
            ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
        t.c_cflag |= CREAD | CLOCAL;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;

        static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= sizes[s.byteSize - 5];
        switch (s.parity) {
        case 1: t.c_cflag |= PARENB | PARODD; break;
        case 2: t.c_cflag |= PARENB; break;
        case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case 4: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
        if (s.stopBits != 0) t.c_cflag |= CSTOPB;
        if (s.flags & DcbFlag::Parity) t.c_iflag |= INPCK;
        if ((s.flags & DcbFlag::OutxCtsFlow) ||
            (s.flags & DcbFlag::RtsControlMask) == DcbFlag::RtsControlHandshake)
            t.c_cflag |= CRTSCTS;
        if (s.flags & DcbFlag::OutX) t.c_iflag |= IXON;
        if (s.flags & DcbFlag::InX) t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = s.xonChar;
        t.c_cc[VSTOP] = s.xoffChar;

        unsigned constant = BOTHER;
        for (const auto& rate : kStandardRates)
            if (rate.bps == s.baudRate) constant = rate.constant;
        t.c_cflag |= constant;
        t.c_ispeed = s.baudRate;
        t.c_ospeed = s.baudRate;

        if (ioctl(fd_.get(), TCSETS2, &t) != 0) return errno;
        rememberedFlags_ = s.flags;
        rememberedStopBits_ = s.stopBits;
        rememberedXonLim_ = s.xonLim;
        rememberedXoffLim_ = s.xoffLim;
        rememberedErrorChar_ = s.errorChar;
        rememberedEofChar_ = s.eofChar;
        rememberedEvtChar_ = s.evtChar;
        return 0;
    }

    int setImmediateReads() override {
        termios2 t{};
        if (ioctl(fd_.get(), TCGETS2, &t) != 0) return errno;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        if (ioctl(fd_.get(), TCSETS2, &t) != 0) return errno;
        return 0;
    }

    int setQueueSizes(int inputBytes, int outputBytes) override {
        // The kernel sizes its own tty buffers; the input size bounds the
        // queue this device keeps in front of them.
        if (!fd_) return EBADF;
        if (inputBytes < 0 || outputBytes < 0) return EINVAL;
        std::lock_guard lock(inputLock_);
        input_.setCapacity(static_cast<std::size_t>(inputBytes));
        if (readerPaused_ && input_.room() > 0) wakeThread();
        return 0;
    }

    SerialIoResult read(std::span<std::uint8_t> into) override {
        if (into.empty()) return {};
        std::lock_guard lock(inputLock_);
        if (!input_.empty()) {
            const std::size_t n = input_.take(into);
            // A full queue had stopped the event thread reading the line.
            if (readerPaused_) {
                readerPaused_ = false;
                wakeThread();
            }
            return {static_cast<long>(n), 0};
        }
        // Nothing queued: straight from the kernel (a port whose event
        // thread has not looked yet).  Under the input lock, so these bytes
        // cannot overtake any the thread is queueing.
        for (;;) {
            const ssize_t n = ::read(fd_.get(), into.data(), into.size());
            if (n >= 0) return {static_cast<long>(n), 0};
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return {};
            return {0, errno};
        }
    }

    SerialIoResult write(std::span<const std::uint8_t> bytes, int timeoutMs) override {
        using Clock = std::chrono::steady_clock;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                // The event thread may be sleeping without a time limit: it
                // has to look at the output queue from now on.
                if (!txPending_.exchange(true) && (mask_ & CommEvent::TxEmpty)) wakeThread();
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return {static_cast<long>(done), errno};
            // The driver's queue is full: wait for room, within the time-out.
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) return {-1, 0};
            pollfd p{fd_.get(), POLLOUT, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left));
            if (r < 0 && errno != EINTR) return {static_cast<long>(done), errno};
            if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT))
                return {static_cast<long>(done), EIO};
        }
        return {static_cast<long>(done), 0};
    }

    int clearErrors(std::uint32_t& errors, int& inputQueue) override {
        if (!fd_) return EBADF;
        // Both from what the event thread gathered: no system call per frame.
        errors = pendingErrors_.exchange(0);
        std::lock_guard lock(inputLock_);
        inputQueue = static_cast<int>(input_.size());
        return 0;
    }

    int purge(unsigned flags) override {
        const bool tx = flags & (PurgeFlag::TxAbort | PurgeFlag::TxClear);
        const bool rx = flags & (PurgeFlag::RxAbort | PurgeFlag::RxClear);
        if (!tx && !rx) return 0;
        const int which = tx && rx ? TCIOFLUSH : tx ? TCOFLUSH : TCIFLUSH;
        if (rx) {
            std::lock_guard lock(inputLock_);
            input_.clear();
            if (readerPaused_) wakeThread();
        }
        if (ioctl(fd_.get(), TCFLSH, which) != 0) return errno;
        return 0;
    }

    int drainOutput(int timeoutMs) override {
        // tcdrain could wait for ever on a line held by flow control: ask the
        // driver how much is left instead, for at most the given time.
        for (int waited = 0;; waited += 10) {
            int left = 0;
            if (ioctl(fd_.get(), TIOCOUTQ, &left) != 0) return errno;
            if (left <= 0) return 0;
            if (waited >= timeoutMs) return ETIMEDOUT;
            ::usleep(10 * 1000);
        }
    }

    int setDTR(bool on) override {
        int bits = TIOCM_DTR;
        if (ioctl(fd_.get(), on ? TIOCMBIS : TIOCMBIC, &bits) != 0) return errno;
        return 0;
    }

    int modemStatus(std::uint32_t& status) override {
        int bits = 0;
        if (ioctl(fd_.get(), TIOCMGET, &bits) != 0) return errno;
        status = ModemBits(bits);
        return 0;
    }

    int setEventMask(std::uint32_t mask) override {
        if (!fd_) return EBADF;
        mask_ = mask & CommEvent::All;
        int bits = 0;
        watchModem_ =
            (mask_ & (CommEvent::Cts | CommEvent::Dsr | CommEvent::Ring | CommEvent::Rlsd)) &&
            ioctl(fd_.get(), TIOCMGET, &bits) == 0;
        lastModem_ = ModemBits(bits);
        return 0;
    }

    SerialWaitResult waitEvents() override {
        for (;;) {
            std::uint32_t events = 0;
            const auto now = Clock::now();
            if (rechecking() && now >= nextRecheck_) {
                events |= recheck();
                nextRecheck_ = now + std::chrono::milliseconds(kRecheckMs);
            }
            if (events & mask_) return {events & mask_, 0};

            // Arriving bytes are moved into the input queue at once, so a
            // byte is news exactly once, and poll() below never reports input
            // that was already announced.  A full queue stops the reading
            // (the kernel's queue and flow control take over) until the loop
            // thread reads.
            bool room;
            {
                std::lock_guard lock(inputLock_);
                room = input_.room() > 0;
                readerPaused_ = !room;
            }
            int timeout = -1;
            if (rechecking())
                timeout = static_cast<int>(std::clamp<std::int64_t>(
                    std::chrono::ceil<std::chrono::milliseconds>(nextRecheck_ - now).count(), 0,
                    kRecheckMs));
            pollfd fds[2] = {{fd_.get(), static_cast<short>(room ? POLLIN : 0), 0},
                             {wakeFd_.get(), POLLIN, 0}};
            const int r = ::poll(fds, 2, timeout);
            if (r < 0) {
                if (errno == EINTR) continue;
                return {0, errno};
            }
            if (fds[1].revents & POLLIN) {
                std::uint64_t drained = 0;
                [[maybe_unused]] ssize_t n = ::read(wakeFd_.get(), &drained, sizeof drained);
                if (interrupted_.exchange(false)) return {};
            }
            int lost = 0;
            if (fds[0].revents & POLLIN) {
                const int error = fillInput(events);
                if (error != 0) lost = error;
            }
            if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                // The device is gone (a USB adapter pulled, the other end of a
                // pseudo-terminal closed): queue what is still waiting, hand
                // it over and stop.
                if (!(fds[0].revents & POLLNVAL)) fillInput(events);
                lost = (fds[0].revents & POLLNVAL) ? EBADF : EIO;
            }
            if (lost != 0) {
                bool waiting;
                {
                    std::lock_guard lock(inputLock_);
                    waiting = !input_.empty();
                }
                if (waiting) events |= CommEvent::RxChar;
                return {events & mask_, lost};
            }
            if (events & mask_) return {events & mask_, 0};
        }
    }

    void interruptWait() override {
        interrupted_.store(true);
        wakeThread();
    }

    void close() override {
        if (!fd_) return;
        // Give up the exclusive claim first: a reopen must not fail while the
        // kernel still holds the file for a moment.
        ioctl(fd_.get(), TIOCNXCL);
        fd_.reset();
    }

private:
    static std::uint32_t ModemBits(int bits) {
        std::uint32_t s = 0;
        if (bits & TIOCM_CTS) s |= ModemLine::CtsOn;
        if (bits & TIOCM_DSR) s |= ModemLine::DsrOn;
        if (bits & TIOCM_RNG) s |= ModemLine::RingOn;
        if (bits & TIOCM_CAR) s |= ModemLine::RlsdOn;
        return s;
    }

    static std::uint32_t ErrorBits(const serial_icounter_struct& before,
                                   const serial_icounter_struct& now) {
        std::uint32_t e = 0;
        if (now.buf_overrun != before.buf_overrun) e |= CommErrorFlag::RxOver;
        if (now.overrun != before.overrun) e |= CommErrorFlag::Overrun;
        if (now.parity != before.parity) e |= CommErrorFlag::RxParity;
        if (now.frame != before.frame) e |= CommErrorFlag::Frame;
        if (now.brk != before.brk) e |= CommErrorFlag::Break;
        return e;
    }

    using Clock = std::chrono::steady_clock;

    // Whether the event thread has anything to look at on a timer.
    bool rechecking() const {
        return watchModem_ || countersSupported_ ||
               ((mask_ & CommEvent::TxEmpty) && txPending_.load());
    }

    // Makes the event thread look at the line again (no events by itself).
    void wakeThread() {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_.get(), &one, sizeof one);
    }

    // Moves waiting bytes into the input queue (event thread); RxChar joins
    // `events` when some came.  Returns the error of a device that is gone.
    int fillInput(std::uint32_t& events) {
        std::lock_guard lock(inputLock_);
        for (;;) {
            const ssize_t n = input_.fillFrom(fd_.get());
            if (n > 0) events |= CommEvent::RxChar;
            if (n >= 0) return 0;
            if (errno == EINTR) continue;
            // Taken by a read of the loop thread meanwhile: nothing new.
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            return errno;
        }
    }

    // Modem-line, error-counter and output-queue changes since the last look
    // (event thread).
    std::uint32_t recheck() {
        std::uint32_t events = 0;
        if (watchModem_) {
            int bits = 0;
            if (ioctl(fd_.get(), TIOCMGET, &bits) == 0) {
                const std::uint32_t now = ModemBits(bits);
                const std::uint32_t changed = now ^ lastModem_;
                if (changed & ModemLine::CtsOn) events |= CommEvent::Cts;
                if (changed & ModemLine::DsrOn) events |= CommEvent::Dsr;
                if (changed & now & ModemLine::RingOn) events |= CommEvent::Ring;
                if (changed & ModemLine::RlsdOn) events |= CommEvent::Rlsd;
                lastModem_ = now;
            }
        }
        if (countersSupported_) {
            serial_icounter_struct now{};
            if (ioctl(fd_.get(), TIOCGICOUNT, &now) == 0) {
                const std::uint32_t e = ErrorBits(threadCounters_, now);
                if (e & CommErrorFlag::Break) events |= CommEvent::Break;
                if (e & ~CommErrorFlag::Break) events |= CommEvent::Err;
                pendingErrors_.fetch_or(e);
                threadCounters_ = now;
            }
        }
        if ((mask_ & CommEvent::TxEmpty) && txPending_.load()) {
            int queued = 0;
            if (ioctl(fd_.get(), TIOCOUTQ, &queued) == 0 && queued == 0) {
                txPending_.store(false);
                events |= CommEvent::TxEmpty;
            }
        }
        return events;
    }

    FileDescriptor fd_;
    FileDescriptor wakeFd_;
    bool charDevice_;

    // Settings termios has no place for, reported back as they were set.
    std::uint32_t rememberedFlags_ =
        DcbFlag::Binary | DcbFlag::DtrControlEnable | DcbFlag::RtsControlEnable;
    std::uint8_t rememberedStopBits_ = 0;
    std::uint16_t rememberedXonLim_ = 0;
    std::uint16_t rememberedXoffLim_ = 0;
    std::uint8_t rememberedErrorChar_ = 0;
    std::uint8_t rememberedEofChar_ = 0;
    std::uint8_t rememberedEvtChar_ = 0;

    // Set before the event thread starts, read-only afterwards.
    std::uint32_t mask_ = 0;
    bool watchModem_ = false;
    bool countersSupported_ = false;

    // Event thread.
    std::uint32_t lastModem_ = 0;
    serial_icounter_struct threadCounters_{};
    Clock::time_point nextRecheck_{};

    // Shared between the threads.
    std::mutex inputLock_;
    InputQueue input_;                            // under inputLock_
    bool readerPaused_ = false;                   // under inputLock_: the queue was full
    std::atomic<std::uint32_t> pendingErrors_{0}; // CommErrorFlag bits not yet reported
    std::atomic<bool> txPending_{false};
    std::atomic<bool> interrupted_{false};
};

// The name of the account the gateway runs under, for the permission hint.
std::string CurrentUserName() {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name)
        return found->pw_name;
    return "uid " + std::to_string(::geteuid());
}

// The group that owns the device file; serial lines on Debian belong to
// "dialout", which is also the answer when the file cannot be looked at
// or belongs to root's group (no one should be added to that).
std::string DeviceGroupName(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || st.st_gid == 0) return "dialout";
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->gr_name)
        return found->gr_name;
    return "dialout";
}

} // namespace

std::string SerialOpenFailureReason(const std::string& path, int error) {
    std::string text = path + ": " + std::strerror(error);
    if (error == EACCES || error == EPERM) {
        const std::string user = CurrentUserName(), group = DeviceGroupName(path);
        text += "; the user " + user + " must be in the group " + group + " (sudo usermod -aG " +
                group + " " + user + ", then log in again or restart the service)";
    } else if (error == EBUSY) {
        text += "; another program holds the line";
    }
    return text;
}

SerialOpenResult OpenPosixSerialDevice(const std::string& deviceName) {
    const std::string path = SerialDevicePath(deviceName);
    auto failed = [&path](int error) {
        return SerialOpenResult{nullptr, error, SerialOpenFailureReason(path, error)};
    };
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return failed(errno);
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) return failed(errno);
    const bool charDevice = S_ISCHR(st.st_mode);
    if (charDevice && ioctl(fd.get(), TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL)
        return failed(errno);
    if (charDevice) {
        // A Linux tty starts with software flow control and line editing on,
        // which would eat XON/XOFF bytes and rewrite CR/LF inside binary
        // frames.  Start from a raw line like a freshly opened serial port
        // elsewhere; hardware flow control set up by the administrator stays.
        termios2 t{};
        if (ioctl(fd.get(), TCGETS2, &t) == 0) {
            t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                   IXON | IXOFF | IXANY | IUCLC | IMAXBEL);
            t.c_oflag &= ~tcflag_t(OPOST);
            t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
            t.c_cflag |= CREAD | CLOCAL;
            t.c_cc[VMIN] = 0;
            t.c_cc[VTIME] = 0;
            ioctl(fd.get(), TCSETS2, &t);
        }
    }
    FileDescriptor wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wakeFd) return failed(errno);
    return {std::make_unique<PosixSerialDevice>(std::move(fd), std::move(wakeFd), charDevice), 0};
}

std::vector<std::string> ListSerialDevices(const std::string& dev, const std::string& sys) {
    namespace fs = std::filesystem;
    // A /dev with thousands of entries is looked through only so far.
    constexpr int MaxEntries = 20000;
    std::vector<std::string> found;
    // Names of a folder that begin with `prefix`, "ttyUSB2" before "ttyUSB10".
    const auto scan = [](const fs::path& folder, std::string_view prefix) {
        std::vector<std::string> names;
        std::error_code ec;
        fs::directory_iterator it(folder, ec), end;
        for (int seen = 0; !ec && it != end && seen < MaxEntries; it.increment(ec), ++seen) {
            std::string name = it->path().filename().string();
            if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
                names.push_back(std::move(name));
        }
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        return names;
    };
    for (const std::string& name : scan(fs::path(dev) / "serial" / "by-id", ""))
        found.push_back((fs::path(dev) / "serial" / "by-id" / name).string());
    for (const char* prefix : {"ttyUSB", "ttyACM"})
        for (const std::string& name : scan(dev, prefix)) found.push_back(dev + "/" + name);
    for (const std::string& name : scan(dev, "ttyS")) {
        std::ifstream type(fs::path(sys) / name / "type");
        int uart = 0;
        if (type >> uart && uart != 0) found.push_back(dev + "/" + name);
    }
    return found;
}

} // namespace vantor
