#include "serial/FrameCodec.h"

#include "serial/Crc32.h"

#include <algorithm>

namespace vantor {

namespace {
void PutEscaped(std::vector<std::uint8_t>& out, std::uint8_t b) {
    out.push_back(b);
    if (b == FrameStart1) out.push_back(b);
}
} // namespace

std::vector<std::uint8_t> EncodeFrame(std::uint8_t header, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out;
    out.reserve(2 + 2 * (payload.size() + 7));
    out.push_back(FrameStart1);
    out.push_back(FrameStart2);
    const std::uint32_t length = static_cast<std::uint32_t>(payload.size()) + 1;
    PutEscaped(out, length & 0xFF);
    PutEscaped(out, (length >> 8) & 0xFF);
    PutEscaped(out, header);
    std::uint32_t crc = Update_CRC32(0xFFFFFFFFu, header);
    for (std::uint8_t b : payload) {
        PutEscaped(out, b);
        crc = Update_CRC32(crc, b);
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) PutEscaped(out, (crc >> (8 * i)) & 0xFF);
    return out;
}

FrameDecoder::FrameDecoder(int maxPacketSize) { setMaxPacketSize(maxPacketSize); }

void FrameDecoder::setMaxPacketSize(int size) {
    maxPacketSize_ = std::clamp(size, 0, FrameMaxPacketSizeLimit);
}

bool FrameDecoder::StartPacket() {
    if (length_ > maxPacketSize_ + 1) return false;
    crc_ = 0xFFFFFFFFu;
    count_ = 0;
    return true;
}

bool FrameDecoder::TestCRC() const {
    // Only a length that StartPacket accepted has its CRC inside the buffer;
    // after an over-long length the answer is no instead of a read past the end.
    if (std::size_t(length_) + 4 > FrameReceiveBufferSize) return false;
    const std::uint32_t expected = crc_ ^ 0xFFFFFFFFu;
    const std::uint32_t received =
        std::uint32_t(buffer_[length_]) | std::uint32_t(buffer_[length_ + 1]) << 8 |
        std::uint32_t(buffer_[length_ + 2]) << 16 | std::uint32_t(buffer_[length_ + 3]) << 24;
    return expected == received;
}

void FrameDecoder::storeBodyByte(std::uint8_t byte) {
    // StartPacket guarantees length_ + 4 <= FrameReceiveBufferSize and a frame
    // completes at count_ == length_ + 4, so count_ never passes the buffer.
    buffer_[count_++] = byte;
    if (count_ <= length_) crc_ = Update_CRC32(crc_, byte);
}

FrameDecoder::State FrameDecoder::finishIfComplete(State otherwise) {
    if (count_ != length_ + 4) return otherwise;
    if (!TestCRC()) return FramingError;
    if (onPacket) onPacket(length_, buffer_);
    return Hunt;
}

void FrameDecoder::feed(std::uint8_t b) {
    const bool ee = b == FrameStart1;
    const bool hash = b == FrameStart2;
    switch (state_) {
    case Hunt:
        if (ee) {
            state_ = StartSeen;
        } else if (onStray) {
            onStray(b);
        }
        break;
    case StartSeen: state_ = hash ? LengthLow : ee ? StartSeen : Hunt; break;
    case LengthLow:
        length_ = b;
        state_ = ee ? LengthLowEscape : LengthHigh;
        break;
    case LengthLowEscape: state_ = hash ? LengthLow : ee ? LengthHigh : FramingError; break;
    case LengthHigh:
        length_ = std::uint16_t(length_ | (b << 8));
        if (ee)
            state_ = LengthHighEscape;
        else
            state_ = StartPacket() ? Body : Dropped;
        break;
    case LengthHighEscape:
        if (hash)
            state_ = LengthLow;
        else if (ee)
            state_ = StartPacket() ? Body : Dropped;
        else
            state_ = FramingError;
        break;
    case Body:
        storeBodyByte(b);
        state_ = ee ? BodyEscape : finishIfComplete(Body);
        break;
    case BodyEscape:
        if (hash)
            state_ = LengthLow; // a new frame starts inside this one
        else if (ee)
            state_ = finishIfComplete(Body); // the doubled EE: second copy dropped
        else
            state_ = FramingError;
        break;
    default: state_ = Hunt; break;
    }
    if (state_ >= Dropped) state_ = Hunt;
}

} // namespace vantor
