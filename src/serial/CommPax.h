#pragma once
// The packet component on the exchange line: a serial port (TComm) that sends
// whole frames (WritePacket), reassembles incoming frames in its receive state
// machine (RxChar, fed by the port's characters-received notification), checks
// their CRC and hands each good frame to OnRxPacket.  A byte that arrives
// outside any frame first discards the port's pending output, then goes to
// OnRxChr.  Set() takes a settings text such as "COM2:19200,N,8,1".
//
// It can also hold a dialogue with a Hayes modem on the same port (ModemStart,
// ModemOutPut, ModemRequest, ModemStop): while a modem request runs, received
// bytes are collected as text instead of entering the frame machine.  The
// modem waits keep the loop running (ProcessMessages), so timers and other
// notifications are handled meanwhile.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "serial/Comm.h"
#include "serial/FrameCodec.h"
#include "serial/PacketPort.h"

namespace vantor {

class TLabel;

// Modem result codes.
inline constexpr int ModemConnect = 0;      // "CONNECT"
inline constexpr int ModemNoConnection = 3; // "NO DIALTONE", "NODIALTONE", "BUSY", "NO CARRIER"
inline constexpr int ModemOk = 4;           // "OK", or hang-up done
inline constexpr int ModemCancelled = -1;
inline constexpr int ModemNoEcho = -2;
inline constexpr int ModemTimedOut = -3;

class TCommPax : public TComm, public PacketPort {
public:
    using RxPacketEvent = std::function<void(TObject* sender, int count, const std::uint8_t* data)>;
    using RxChrEvent = std::function<void(TObject* sender, std::uint8_t chr)>;

    // The receive chunk; a larger backlog is read in several chunks.
    static constexpr int ChunkSize = 4000;
    static constexpr int ModemInputCapacity = 2040;
    static constexpr int ModemCommandSize = 202;

    TCommPax(TComponent* owner, EventLoop& loop, SerialDeviceFactory factory);
    // Stops the event thread while the receive machine still exists.
    ~TCommPax() override { Close(); }
    std::string ClassName() const override { return "TCommPax"; }

    // Sends one frame: header byte Type, payload Data[0..Len-1].  A payload
    // that the 16-bit length cannot describe (Len > 65534) or a negative Len
    // raises ECommError and sends nothing.
    void WritePacket(std::uint8_t Type, const std::uint8_t* Data, int Len);
    bool IsOpen() const override { return TComm::IsOpen(); }
    void WritePacket(std::uint8_t type, std::span<const std::uint8_t> data) override {
        WritePacket(type, data.data(), static_cast<int>(data.size()));
    }
    // One byte, doubled when Escape is set and it is 0xEE.
    void WriteChar(std::uint8_t Chr, bool Escape);
    static std::uint32_t Update_CRC32(std::uint32_t crc, std::uint8_t chr);

    // Applies "device:mode".  Returns false and changes nothing when the text
    // is longer than 39 characters, has no ':' or its mode does not parse.
    // Raises "Port already assigned (open)" when the port is open and the
    // device name differs.
    bool Set(std::string_view settings);

    // Receive state machine steps, exposed as the component always had them.
    bool StartPacket() { return decoder_.StartPacket(); }
    bool TestCRC() const { return decoder_.TestCRC(); }
    FrameDecoder::State ReceiveState() const { return decoder_.state(); }

    // The port's characters-received handler (installed as OnRxChar).
    void RxChar(TObject* sender, int count);

    int MaxPacketSize() const { return decoder_.maxPacketSize(); }
    // Clamped to 0..4092 so that a frame always fits the receive buffer.
    void SetMaxPacketSize(int size) { decoder_.setMaxPacketSize(size); }

    RxPacketEvent OnRxPacket;
    RxChrEvent OnRxChr;

    // ---- modem dialogue; every label may be null ----
    bool Cancel() const { return cancel_; }
    void SetCancel(bool cancel) { cancel_ = cancel; }
    bool ModemActive() const { return modemActive_; }
    // The text collected by the running (or last) modem request.
    std::string_view ModemText() const {
        return {modemInput_.data(), static_cast<std::size_t>(modemInputLength_)};
    }

    int ModemStart(TLabel* label, std::string_view init, std::string_view number, bool pulse);
    int ModemOutPut(TLabel* label, std::string_view command, int timeoutMs);
    void ModemInput(TLabel* label);
    // Sends the command buffer and waits for the answer.
    int ModemRequest(TLabel* label, int timeoutMs);
    int ModemStop(TLabel* label);
    // Takes received bytes while a modem request runs; false otherwise.
    bool RxModem(int count);

protected:
    // One round of a modem wait: lets the loop handle what is due.
    virtual void ProcessMessages();
    // The modem's guard time, during which nothing else runs.
    virtual void Sleep(int ms);

private:
    void SetModemCommand(std::string_view text);
    std::int64_t ElapsedMs(std::int64_t since) const;
    void WaitProcessing(int ms);

    FrameDecoder decoder_;
    std::array<std::uint8_t, ChunkSize> chunk_{};
    std::array<char, ModemInputCapacity + 8> modemInput_{};
    std::array<char, ModemCommandSize> modemCommand_{};
    int modemInputLength_ = 0;
    bool cancel_ = false;
    bool modemActive_ = false;
};

} // namespace vantor
