#include "serial/Comm.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace vantor {

namespace {
constexpr std::uint32_t kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                        19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr std::uint32_t kOptionFlags[] = {DcbFlag::Parity, DcbFlag::DsrSensitivity,
                                          DcbFlag::TXContinueOnXoff, DcbFlag::ErrorChar,
                                          DcbFlag::Null};
constexpr std::uint32_t kEventValues[] = {CommEvent::Break,  CommEvent::Cts,    CommEvent::Dsr,
                                          CommEvent::Err,    CommEvent::Ring,   CommEvent::Rlsd,
                                          CommEvent::RxChar, CommEvent::RxFlag, CommEvent::TxEmpty};

constexpr char kAlreadyOpen[] = "Port already assigned (open)";
constexpr char kNotOpen[] = "Port not open, unable to complete operation";
} // namespace

std::uint32_t BaudRateValue(TBaudrate rate) {
    return kBaudRates[std::min<unsigned>(rate, br256000)];
}
std::uint8_t ParityValue(TParity parity) { return static_cast<std::uint8_t>(parity); }
std::uint8_t StopbitsValue(TStopbits stopbits) { return static_cast<std::uint8_t>(stopbits); }
std::uint8_t DatabitsValue(TDatabits databits) { return static_cast<std::uint8_t>(databits + 4); }
std::uint32_t OptionFlag(TCommOption option) {
    return kOptionFlags[std::min<unsigned>(option, coNullStrip)];
}
std::uint32_t EventValue(TCommEventType event) {
    return kEventValues[std::min<unsigned>(event, evTxEmpty)];
}
std::uint32_t EventMaskOf(TCommEventTypes events) {
    std::uint32_t mask = 0;
    for (unsigned e = evBreak; e <= evTxEmpty; ++e)
        if (events.Contains(static_cast<TCommEventType>(e))) mask |= kEventValues[e];
    return mask;
}

ECommError::ECommError(std::string_view text, int errorCode, std::string detail)
    : std::runtime_error(std::string(text) + " (Error: " + std::to_string(errorCode) + ") "),
      text_(text), errorCode_(errorCode), detail_(std::move(detail)) {}

// ---------------------------------------------------------------------------

void TCommEventChars::Assign(const TCommEventChars& other) {
    chars_ = other.chars_;
    if (owner_) owner_->ApplySettings();
}

void TCommEventChars::Change(std::uint8_t& field, std::uint8_t value) {
    field = value;
    if (owner_) owner_->ApplySettings();
}

// ---------------------------------------------------------------------------

// What the event thread, the port and the queued hand-over share.  The port
// may be gone while a hand-over still waits on the loop, so that only ever
// touches this.
struct TCommEventThread::Shared {
    Shared(std::shared_ptr<SerialDevice> d, EventLoop& l, DispatchHandler h, LostHandler lh)
        : device(std::move(d)), loop(l), dispatch(std::move(h)), lost(std::move(lh)) {}

    std::shared_ptr<SerialDevice> device;
    EventLoop& loop;
    DispatchHandler dispatch;
    LostHandler lost;

    mutable std::mutex mutex;
    bool stop = false;
    bool ended = false;
    // Found by the thread and not yet taken by the loop.
    std::uint32_t mask = 0;
    int lostError = 0;
    bool handOverActive = false; // queued on the loop, or its handlers running

    bool stopped() const {
        std::lock_guard lock(mutex);
        return stop;
    }
    void requestStop() {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        device->interruptWait();
    }
};

// One hand-over queued on the loop.  Dropped unrun, it means the loop has
// gone for good: the thread then stops instead of handing events to no one.
struct TCommEventThread::HandOver {
    explicit HandOver(const std::shared_ptr<Shared>& s) : shared(s) {}
    ~HandOver() {
        if (ran) return;
        if (auto s = shared.lock()) s->requestStop();
    }

    static void Queue(const std::shared_ptr<Shared>& s) {
        std::shared_ptr<HandOver> handOver;
        try {
            handOver = std::make_shared<HandOver>(s);
            s->loop.post([handOver] { handOver->Run(); });
        } catch (...) {
            // Out of memory: not dropped by the loop, so no reason to stop;
            // the next event tries again.
            if (handOver) handOver->ran = true;
            std::lock_guard lock(s->mutex);
            s->handOverActive = false;
        }
    }

    void Run() {
        ran = true;
        auto s = shared.lock();
        if (!s) return;
        // Whatever the handlers do (throw, close the port, run the loop), the
        // next hand-over is queued only once they have returned.
        struct Next {
            Shared& s;
            std::shared_ptr<Shared> keep;
            ~Next() {
                {
                    std::lock_guard lock(s.mutex);
                    if (s.stop || (s.mask == 0 && s.lostError == 0)) {
                        s.handOverActive = false;
                        return;
                    }
                }
                Queue(keep);
            }
        } next{*s, s};
        std::uint32_t mask;
        {
            std::lock_guard lock(s->mutex);
            if (s->stop) return;
            mask = std::exchange(s->mask, 0);
        }
        if (mask != 0) s->dispatch(mask);
        int lost;
        {
            std::lock_guard lock(s->mutex);
            if (s->stop) return; // the port was closed by a handler
            lost = std::exchange(s->lostError, 0);
        }
        if (lost != 0) s->lost(lost);
    }

    std::weak_ptr<Shared> shared;
    bool ran = false;
};

TCommEventThread::TCommEventThread(std::shared_ptr<SerialDevice> device, std::uint32_t eventMask,
                                   EventLoop& loop, DispatchHandler dispatch, LostHandler lost)
    : shared_(
          std::make_shared<Shared>(std::move(device), loop, std::move(dispatch), std::move(lost))) {
    shared_->device->setEventMask(eventMask);
    thread_ = std::thread(&TCommEventThread::Run, shared_);
}

TCommEventThread::~TCommEventThread() { Stop(); }

void TCommEventThread::Run(std::shared_ptr<Shared> s) {
    while (!s->stopped()) {
        const SerialWaitResult r = s->device->waitEvents();
        if (r.events == 0 && r.lostError == 0) continue; // interrupted
        bool queue = false;
        {
            std::lock_guard lock(s->mutex);
            if (s->stop) break;
            s->mask |= r.events;
            if (r.lostError != 0) s->lostError = r.lostError;
            queue = !std::exchange(s->handOverActive, true);
        }
        if (queue) HandOver::Queue(s);
        if (r.lostError != 0) break;
    }
    std::lock_guard lock(s->mutex);
    s->ended = true;
}

void TCommEventThread::Stop() {
    if (!shared_) return;
    shared_->requestStop();
    // The thread never waits for the loop, so this cannot deadlock even from
    // inside a handler: it only has to come out of its device wait.
    if (thread_.joinable()) thread_.join();
}

bool TCommEventThread::Running() const {
    std::lock_guard lock(shared_->mutex);
    return !shared_->ended;
}

// ---------------------------------------------------------------------------

TCustomComm::TCustomComm(TComponent* owner, EventLoop& loop, SerialDeviceFactory factory)
    : TComponent(owner), loop_(loop), factory_(std::move(factory)) {}

TCustomComm::~TCustomComm() { Close(); }

void TCustomComm::Open() {
    if (IsOpen()) throw ECommError(kAlreadyOpen, -1);
    SerialOpenResult opened = factory_ ? factory_(deviceName_) : SerialOpenResult{nullptr, ENODEV};
    if (!opened.device)
        throw ECommError("Error accessing specified device", opened.error ? opened.error : ENODEV,
                         std::move(opened.reason));
    if (!opened.device->isCharacterDevice()) {
        opened.device->close();
        throw ECommError("Invalid device handle, access denied", -1);
    }
    device_ = std::shared_ptr<SerialDevice>(std::move(opened.device));
    eventThread_ = std::make_unique<TCommEventThread>(
        device_, EventMaskOf(monitorEvents_), loop_,
        [this](std::uint32_t mask) { DispatchEvents(mask); },
        [this](int error) { DeviceLost(error); });
    // From here on the port counts as open even if a step fails, so that the
    // caller can still Close() it.
    ApplyTimeouts();
    ApplySettings();
    SetupComm();
}

void TCustomComm::Close() {
    if (!IsOpen()) return;
    if (eventThread_) {
        eventThread_->Stop();
        eventThread_.reset();
    }
    std::lock_guard lock(ioLock_);
    // What was written still leaves the line (the last packet at shut-down
    // clears the message-waiting lamps); only what came in is dropped.  A
    // device that went away has nothing to drain.
    if (!deviceGone_) device_->drainOutput(DrainTimeoutMs);
    device_->purge(PurgeFlag::RxAbort | PurgeFlag::RxClear);
    device_->close();
    device_.reset();
    deviceGone_ = false;
}

void TCustomComm::DeviceLost(int error) {
    deviceGone_ = true;
    Close();
    if (OnDeviceLost) OnDeviceLost(this, error);
}

void TCustomComm::ApplyTimeouts() {
    if (!IsOpen()) return;
    if (const int error = device_->setImmediateReads())
        throw ECommError("Error updating CommTimeouts", error);
}

void TCustomComm::SetupComm() {
    if (!IsOpen()) return;
    if (const int error = device_->setQueueSizes(readBufSize_, writeBufSize_))
        throw ECommError("Error initializing Read/Write Buffers", error);
}

void TCustomComm::ApplySettings() {
    if (!IsOpen()) return;
    SerialLineSettings dcb;
    if (const int error = device_->getState(dcb))
        throw ECommError("Error updating DataControlBlock", error);
    dcb.baudRate = BaudRateValue(baudRate_);
    dcb.parity = ParityValue(parity_);
    dcb.stopBits = StopbitsValue(stopbits_);
    dcb.byteSize = DatabitsValue(databits_);
    dcb.xonChar = eventChars_.XonChar();
    dcb.xoffChar = eventChars_.XoffChar();
    dcb.errorChar = eventChars_.ErrorChar();
    dcb.eofChar = eventChars_.EOFChar();
    dcb.evtChar = eventChars_.EvtChar();
    const int limit = std::clamp(readBufSize_ / 4, 0, 0xFFFF);
    dcb.xonLim = static_cast<std::uint16_t>(limit);
    dcb.xoffLim = static_cast<std::uint16_t>(limit);

    if (flowControl_ != fcDefault) {
        dcb.flags = DcbFlag::Binary;
        switch (flowControl_) {
        case fcCTS: dcb.flags |= DcbFlag::OutxCtsFlow | DcbFlag::RtsControlHandshake; break;
        case fcDTR: dcb.flags |= DcbFlag::OutxDsrFlow | DcbFlag::DtrControlHandshake; break;
        case fcSoftware: dcb.flags |= DcbFlag::OutX | DcbFlag::InX; break;
        default: break;
        }
    }
    for (unsigned o = coParityCheck; o <= coNullStrip; ++o) {
        const auto option = static_cast<TCommOption>(o);
        if (options_.Contains(option))
            dcb.flags |= OptionFlag(option);
        else
            dcb.flags &= ~OptionFlag(option);
    }
    if (const int error = device_->setState(dcb))
        throw ECommError("Error updating DataControlBlock", error);
    dcb_ = dcb;
}

int TCustomComm::Write(const void* buffer, int count) {
    std::lock_guard lock(ioLock_);
    if (!IsOpen()) throw ECommError("Write error", EBADF);
    if (count <= 0 || buffer == nullptr) return 0;
    const SerialIoResult r = device_->write(
        std::span(static_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(count)),
        writeTimeout_);
    if (r.error) throw ECommError("Write error", r.error);
    return static_cast<int>(r.count);
}

int TCustomComm::Read(void* buffer, int count) {
    std::lock_guard lock(ioLock_);
    if (!IsOpen()) throw ECommError("Read error", EBADF);
    if (count <= 0 || buffer == nullptr) return 0;
    const SerialIoResult r = device_->read(
        std::span(static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(count)));
    if (r.error) throw ECommError("Read error", r.error);
    return static_cast<int>(r.count);
}

void TCustomComm::PurgeOutput() {
    if (IsOpen()) device_->purge(PurgeFlag::TxAbort | PurgeFlag::TxClear);
}

void TCustomComm::SetDTR(bool state) {
    if (!IsOpen()) throw ECommError(kNotOpen, -1);
    if (const int error = device_->setDTR(state))
        throw ECommError("EscapeCommFunction failure", error);
}

bool TCustomComm::LineActive(int line) {
    if (!IsOpen()) return false;
    std::uint32_t status = 0;
    if (device_->modemStatus(status) != 0) return false;
    switch (line) {
    case 1: return status & ModemLine::CtsOn;
    case 2: return status & ModemLine::DsrOn;
    case 3: return status & ModemLine::RingOn;
    case 4: return status & ModemLine::RlsdOn;
    default: return false;
    }
}

void TCustomComm::DispatchEvents(std::uint32_t mask) {
    std::uint32_t errors = 0;
    int waiting = 0;
    if (!IsOpen() || device_->clearErrors(errors, waiting) != 0) {
        errors = 0;
        waiting = 0;
    }
    // Each handler may close the port or change the slots; the mask was taken
    // before, so the order stays fixed.
    if ((mask & CommEvent::Break) && OnBreak) OnBreak(this);
    if ((mask & CommEvent::Cts) && OnCts) OnCts(this);
    if ((mask & CommEvent::Dsr) && OnDsr) OnDsr(this);
    if ((mask & CommEvent::Err) && OnError) OnError(this, static_cast<int>(errors));
    if ((mask & CommEvent::Ring) && OnRing) OnRing(this);
    if ((mask & CommEvent::Rlsd) && OnRlsd) OnRlsd(this);
    if ((mask & CommEvent::RxChar) && waiting > 0 && OnRxChar) OnRxChar(this, waiting);
    if ((mask & CommEvent::RxFlag) && OnRxFlag) OnRxFlag(this);
    if ((mask & CommEvent::TxEmpty) && OnTxEmpty) OnTxEmpty(this);
}

void TCustomComm::SetDeviceName(const std::string& name) {
    if (name == deviceName_) return;
    if (IsOpen()) throw ECommError(kAlreadyOpen, -1);
    deviceName_ = name;
}

void TCustomComm::SetReadBufSize(int bytes) {
    if (bytes == readBufSize_) return;
    if (IsOpen()) throw ECommError(kAlreadyOpen, -1);
    readBufSize_ = bytes;
}

void TCustomComm::SetWriteBufSize(int bytes) {
    if (bytes == writeBufSize_) return;
    if (IsOpen()) throw ECommError(kAlreadyOpen, -1);
    writeBufSize_ = bytes;
}

void TCustomComm::SetMonitorEvents(TCommEventTypes events) {
    if (events == monitorEvents_) return;
    if (IsOpen()) throw ECommError(kAlreadyOpen, -1);
    monitorEvents_ = events;
}

void TCustomComm::SetBaudRate(TBaudrate rate) {
    baudRate_ = rate;
    ApplySettings();
}

void TCustomComm::SetParity(TParity parity) {
    parity_ = parity;
    ApplySettings();
}

void TCustomComm::SetStopbits(TStopbits stopbits) {
    stopbits_ = stopbits;
    ApplySettings();
}

void TCustomComm::SetDatabits(TDatabits databits) {
    databits_ = databits;
    ApplySettings();
}

void TCustomComm::SetOptions(TCommOptions options) {
    options_ = options;
    ApplySettings();
}

void TCustomComm::SetFlowControl(TFlowControl flow) {
    flowControl_ = flow;
    ApplySettings();
}

} // namespace vantor
