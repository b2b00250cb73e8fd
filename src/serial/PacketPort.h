#pragma once
// The packet component as the link cycle uses it: is the line open, and
// frame and write one packet.
#include <cstdint>
#include <span>

namespace vantor {

class PacketPort {
public:
    virtual ~PacketPort() = default;
    virtual bool IsOpen() const = 0;
    // Frames the payload under the sequence number and writes it.
    virtual void WritePacket(std::uint8_t sequence, std::span<const std::uint8_t> payload) = 0;
};

} // namespace vantor
