#pragma once
// The frame format of the serial line to the exchange, both directions:
//
//   EE 23 | length L (2, little-endian) | header byte | payload (L-1) | CRC-32 (4, LSB first)
//
// L counts the header byte and the payload.  Every byte after the start mark
// is escaped: 0xEE travels as EE EE, so EE 23 always marks the start of a frame.
// The decoder is fed one byte at a time and never holds more than
// MaxPacketSize + 5 bytes; anything unexpected returns it to hunting.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace vantor {

inline constexpr std::uint8_t FrameStart1 = 0xEE;
inline constexpr std::uint8_t FrameStart2 = 0x23;
// The largest MaxPacketSize for which L + 4 bytes fit the receive buffer.
inline constexpr int FrameMaxPacketSizeLimit = 4092;
inline constexpr int FrameReceiveBufferSize = 4097;

// The wire bytes of one frame, escaping included.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t header, std::span<const std::uint8_t> payload);

class FrameDecoder {
public:
    // Receive states; 200 and 201 are transient (dropped frame, framing error)
    // and are replaced by Hunt after the byte that produced them.
    enum State : std::uint8_t {
        Hunt = 0,
        StartSeen = 1,
        LengthLow = 2,
        LengthLowEscape = 20,
        LengthHigh = 3,
        LengthHighEscape = 30,
        Body = 4,
        BodyEscape = 40,
        Dropped = 200,
        FramingError = 201,
    };

    // count = L, data[0] = header byte, data[1..count-1] = payload, CRC after.
    // The buffer is the decoder's and only valid during the call.
    using PacketHandler = std::function<void(int count, const std::uint8_t* data)>;
    // A byte that arrived while no frame was being received.
    using StrayHandler = std::function<void(std::uint8_t chr)>;

    explicit FrameDecoder(int maxPacketSize = 512);

    // A frame is accepted while L <= MaxPacketSize + 1.  Clamped to 0..4092.
    void setMaxPacketSize(int size);
    int maxPacketSize() const { return maxPacketSize_; }

    void feed(std::uint8_t byte);
    void feed(std::span<const std::uint8_t> bytes) {
        for (std::uint8_t b : bytes) feed(b);
    }

    State state() const { return state_; }
    std::uint16_t length() const { return length_; }
    std::uint16_t count() const { return count_; }

    // Called when both length bytes are in: false when L is too large,
    // otherwise starts the CRC and the body count.
    bool StartPacket();
    // Whether the received CRC bytes match the running CRC.
    bool TestCRC() const;

    PacketHandler onPacket;
    StrayHandler onStray;

private:
    void storeBodyByte(std::uint8_t byte);
    State finishIfComplete(State otherwise);

    State state_ = Hunt;
    std::uint8_t buffer_[FrameReceiveBufferSize] = {};
    std::uint16_t length_ = 0;
    std::uint16_t count_ = 0;
    int maxPacketSize_ = 512;
    std::uint32_t crc_ = 0xFFFFFFFFu;
};

} // namespace vantor
