#include "serial/CommPax.h"

#include "toolkit/ScopedFlag.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "serial/CommMode.h"
#include "serial/Crc32.h"
#include "toolkit/Controls.h"

namespace vantor {

namespace {

constexpr int kEchoTimeoutMs = 2000;

void Show(TLabel* label, std::string_view text) {
    if (label) label->SetCaption(std::string(text));
}

} // namespace

TCommPax::TCommPax(TComponent* owner, EventLoop& loop, SerialDeviceFactory factory)
    : TComm(owner, loop, std::move(factory)) {
    decoder_.onPacket = [this](int count, const std::uint8_t* data) {
        if (OnRxPacket) OnRxPacket(this, count, data);
    };
    decoder_.onStray = [this](std::uint8_t chr) {
        // Whatever we were sending no longer matches what the exchange is
        // doing; drop it before anyone reacts to the stray byte.
        PurgeOutput();
        if (OnRxChr) OnRxChr(this, chr);
    };
    OnRxChar = [this](TObject* sender, int count) { RxChar(sender, count); };
}

std::uint32_t TCommPax::Update_CRC32(std::uint32_t crc, std::uint8_t chr) {
    return vantor::Update_CRC32(crc, chr);
}

void TCommPax::WriteChar(std::uint8_t Chr, bool Escape) {
    Write(&Chr, 1);
    if (Escape && Chr == FrameStart1) Write(&Chr, 1);
}

void TCommPax::WritePacket(std::uint8_t Type, const std::uint8_t* Data, int Len) {
    // The length field counts the header byte too and has 16 bits.
    if (Len < 0 || Len > 0xFFFE || (Len > 0 && Data == nullptr))
        throw ECommError("Packet too long for one frame", -1);
    const std::vector<std::uint8_t> frame =
        EncodeFrame(Type, std::span(Data, static_cast<std::size_t>(Len)));
    Write(frame.data(), static_cast<int>(frame.size()));
}

bool TCommPax::Set(std::string_view settings) {
    if (settings.size() > MaxPortSettingsText) return false;
    const auto colon = settings.find(':');
    if (colon == std::string_view::npos) return false;
    const std::optional<CommMode> mode = ParseCommMode(settings.substr(colon + 1));
    if (!mode) return false;

    SetDeviceName(std::string(settings.substr(0, colon)));
    if (mode->baudRate) {
        static constexpr std::pair<std::uint32_t, TBaudrate> rates[] = {
            {110, br110},       {300, br300},       {600, br600},       {1200, br1200},
            {2400, br2400},     {4800, br4800},     {9600, br9600},     {14400, br14400},
            {19200, br19200},   {38400, br38400},   {56000, br56000},   {57600, br57600},
            {115200, br115200}, {128000, br128000}, {256000, br256000},
        };
        for (auto [bps, rate] : rates)
            if (bps == *mode->baudRate) SetBaudRate(rate);
    }
    if (mode->dataBits) SetDatabits(static_cast<TDatabits>(*mode->dataBits - 4));
    if (mode->stopBits) SetStopbits(static_cast<TStopbits>(*mode->stopBits));
    if (mode->parity) {
        switch (*mode->parity) {
        case 'N': SetParity(paNone); break;
        case 'O': SetParity(paOdd); break;
        case 'E': SetParity(paEven); break;
        case 'M': SetParity(paMark); break;
        default: break; // space parity is not taken from a settings text
        }
    }
    return true;
}

void TCommPax::RxChar(TObject* /*sender*/, int count) {
    if (!IsOpen()) return;
    if (RxModem(count)) return;
    // A backlog larger than the chunk is read chunk by chunk through the same
    // machine, so nothing is left behind until the next notification.
    int remaining = count;
    while (remaining > 0 && IsOpen()) {
        const int n = Read(chunk_.data(), std::min(remaining, ChunkSize));
        if (n <= 0) return;
        remaining -= n;
        // Bytes already read are fed in full even if a handler closes the
        // port meanwhile: they were received, and the machine must see them.
        decoder_.feed(std::span<const std::uint8_t>(chunk_.data(), static_cast<std::size_t>(n)));
    }
}

// ---------------------------------------------------------------------------
// Modem dialogue

bool TCommPax::RxModem(int count) {
    if (!modemActive_) return false;
    const int room = ModemInputCapacity - modemInputLength_;
    const int wanted = std::min(count, room);
    if (wanted > 0 && IsOpen()) {
        const int n = Read(modemInput_.data() + modemInputLength_, wanted);
        if (n > 0) modemInputLength_ += n;
    }
    modemInput_[static_cast<std::size_t>(modemInputLength_)] = '\0';
    return true;
}

void TCommPax::ProcessMessages() {
    Loop().processEvents();
    // Keeps a modal wait from burning a whole core on a real loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TCommPax::Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::int64_t TCommPax::ElapsedMs(std::int64_t since) const {
    return std::llabs(Loop().monotonicMs() - since);
}

void TCommPax::WaitProcessing(int ms) {
    const std::int64_t start = Loop().monotonicMs();
    while (ElapsedMs(start) < ms) ProcessMessages();
}

void TCommPax::SetModemCommand(std::string_view text) {
    // Keep room for the carriage return and the terminating zero.
    const std::size_t keep = std::min<std::size_t>(text.size(), ModemCommandSize - 2);
    std::memcpy(modemCommand_.data(), text.data(), keep);
    modemCommand_[keep] = '\r';
    modemCommand_[keep + 1] = '\0';
}

int TCommPax::ModemRequest(TLabel* label, int timeoutMs) {
    cancel_ = false;
    const ScopedFlag active(modemActive_);
    const std::string_view command(modemCommand_.data());
    Show(label, command);
    modemInputLength_ = 0;
    modemInput_[0] = '\0';

    Write(command.data(), static_cast<int>(command.size()));

    // The modem echoes the command first.
    std::int64_t start = Loop().monotonicMs();
    while (ModemText().find(command) == std::string_view::npos) {
        ProcessMessages();
        if (ElapsedMs(start) > kEchoTimeoutMs) return ModemNoEcho;
        if (cancel_) break;
    }

    start = Loop().monotonicMs();
    for (;;) {
        if (cancel_) {
            modemActive_ = false;
            ModemStop(label);
            return ModemCancelled;
        }
        const std::string_view input = ModemText();
        const auto echo = input.find(command);
        const std::size_t answerAt = echo == std::string_view::npos ? 0 : echo + command.size();
        const std::string_view answer = input.substr(answerAt);

        if (answer.find("OK") != std::string_view::npos) return ModemOk;
        if (const auto at = answer.find("CONNECT"); at != std::string_view::npos) {
            // Wait for the rest of the line (the connection speed) if it comes in time.
            const std::size_t connectAt = answerAt + at;
            while (ModemText().find('\r', connectAt + 7) == std::string_view::npos &&
                   ElapsedMs(start) <= timeoutMs)
                ProcessMessages();
            modemActive_ = false;
            Show(label, ModemText().substr(connectAt));
            return ModemConnect;
        }
        for (std::string_view word : {"NO DIALTONE", "NODIALTONE", "BUSY", "NO CARRIER"}) {
            if (const auto at = answer.find(word); at != std::string_view::npos) {
                modemActive_ = false;
                Show(label, answer.substr(at));
                return ModemNoConnection;
            }
        }
        if (ElapsedMs(start) > timeoutMs) return ModemTimedOut;
        ProcessMessages();
    }
}

int TCommPax::ModemStart(TLabel* label, std::string_view init, std::string_view number,
                         bool pulse) {
    SetModemCommand("AT&F");
    int result = ModemRequest(label, 6000);
    if (result != ModemOk) return result;
    if (!init.empty()) {
        SetModemCommand(init);
        result = ModemRequest(label, 6000);
        if (result != ModemOk) return result;
        if (number.empty()) return ModemOk;
    }
    SetModemCommand(std::string(pulse ? "ATDP" : "ATDT") + std::string(number));
    return ModemRequest(label, 40000);
}

int TCommPax::ModemOutPut(TLabel* label, std::string_view command, int timeoutMs) {
    SetModemCommand(command);
    return ModemRequest(label, timeoutMs);
}

void TCommPax::ModemInput(TLabel* label) {
    const std::string_view input = ModemText();
    const auto cr = input.find('\r');
    if (cr == std::string_view::npos) return;
    Show(label, input.substr(0, cr));
    const int rest = modemInputLength_ - static_cast<int>(cr) - 1;
    std::memmove(modemInput_.data(), modemInput_.data() + cr + 1, static_cast<std::size_t>(rest));
    modemInputLength_ = rest;
    modemInput_[static_cast<std::size_t>(rest)] = '\0';
}

int TCommPax::ModemStop(TLabel* label) {
    Show(label, "+++");
    for (int i = 0; i < 3; ++i) {
        WriteChar('+', false);
        WaitProcessing(100);
    }
    Sleep(1000); // guard time after the escape sequence; nothing may be sent meanwhile
    static constexpr char hangUp[] = "ATH\r";
    Write(hangUp, 4);
    Show(label, "ATH");
    const std::int64_t start = Loop().monotonicMs();
    while (LineActive(4) && ElapsedMs(start) <= 1000) ProcessMessages();
    if (!LineActive(4)) return ModemOk;
    SetDTR(false);
    Show(label, "DTR off");
    WaitProcessing(1500);
    SetDTR(true);
    Show(label, "DTR on");
    return ModemOk;
}

} // namespace vantor
