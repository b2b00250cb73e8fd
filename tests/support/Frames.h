#pragma once
// Exchange frames for tests: a reply as the packet component hands it over,
// and the frames a gateway wrote to a fake line.
#include <cstdint>
#include <utility>
#include <vector>

#include "serial/FrameCodec.h"

namespace vantor::test {

// Sequence byte first, then the payload.
inline std::vector<std::uint8_t> Frame(std::uint8_t sequence, std::vector<std::uint8_t> payload) {
    payload.insert(payload.begin(), sequence);
    return payload;
}

// Every whole frame in `bytes`, as (sequence, payload).
inline std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>>
DecodeFrames(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> frames;
    FrameDecoder decoder(4092);
    decoder.onPacket = [&](int count, const std::uint8_t* data) {
        if (count > 0)
            frames.emplace_back(data[0], std::vector<std::uint8_t>(data + 1, data + count));
    };
    decoder.feed(bytes);
    return frames;
}

} // namespace vantor::test
