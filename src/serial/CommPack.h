#pragma once
// The older, smaller packet component: the same frames and state machine as
// TCommPax, read on request instead of through a notification.  ReadPacket
// stops at the first good frame of a chunk and drops the rest of that chunk;
// bytes outside frames are ignored.  Kept for completeness; the gateway uses
// TCommPax.
#include <array>
#include <cstdint>

#include "serial/Comm.h"
#include "serial/FrameCodec.h"

namespace vantor {

class TCommPack : public TComm {
public:
    static constexpr int ChunkSize = 3000;
    // The receive buffer; a frame is accepted while L + 4 fits it.
    static constexpr int AllocInCom = FrameReceiveBufferSize;

    TCommPack(TComponent* owner, EventLoop& loop, SerialDeviceFactory factory);
    std::string ClassName() const override { return "TCommPack"; }

    void WritePacket(std::uint8_t type, const std::uint8_t* data, int len);
    // Reads up to count waiting bytes (at most one chunk) and returns L of the
    // first frame that passes its CRC test, 0 when none completed.
    int ReadPacket(int count);
    // The frame ReadPacket last returned: header byte, payload, CRC.  Valid
    // until the next ReadPacket.
    const std::uint8_t* InCom() const { return packet_.data(); }

private:
    FrameDecoder decoder_;
    std::array<std::uint8_t, ChunkSize> chunk_{};
    std::array<std::uint8_t, AllocInCom> packet_{};
    int completed_ = -1;
};

} // namespace vantor
