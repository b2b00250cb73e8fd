#include "serial/CommPack.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vantor {

TCommPack::TCommPack(TComponent* owner, EventLoop& loop, SerialDeviceFactory factory)
    : TComm(owner, loop, std::move(factory)), decoder_(AllocInCom - 5) {
    decoder_.onPacket = [this](int count, const std::uint8_t* data) {
        std::memcpy(packet_.data(), data, static_cast<std::size_t>(count) + 4);
        completed_ = count;
    };
}

void TCommPack::WritePacket(std::uint8_t type, const std::uint8_t* data, int len) {
    if (len < 0 || len > 0xFFFE || (len > 0 && data == nullptr))
        throw ECommError("Packet too long for one frame", -1);
    const std::vector<std::uint8_t> frame =
        EncodeFrame(type, std::span(data, static_cast<std::size_t>(len)));
    Write(frame.data(), static_cast<int>(frame.size()));
}

int TCommPack::ReadPacket(int count) {
    if (!IsOpen() || count <= 0) return 0;
    const int n = Read(chunk_.data(), std::min(count, ChunkSize));
    completed_ = -1;
    for (int i = 0; i < n; ++i) {
        decoder_.feed(chunk_[static_cast<std::size_t>(i)]);
        if (completed_ >= 0) return completed_;
    }
    return 0;
}

} // namespace vantor
