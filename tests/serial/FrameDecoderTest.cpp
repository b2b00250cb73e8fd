// The frame decoder on its own: each row is a legend, the bytes as they come
// off the line (in one or more feeds), and what must come out of them: the
// frames (header byte and payload) in order, the bytes handed over as strays,
// and the state the decoder is left in.
#include "serial/FrameCodec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "serial/Crc32.h"

namespace vantor {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::uint8_t header, const Bytes& payload) { return EncodeFrame(header, payload); }

// Header byte followed by the payload: what a delivered frame holds.
Bytes Body(std::uint8_t header, Bytes payload) {
    payload.insert(payload.begin(), header);
    return payload;
}

// A frame with any length field, escaped as on the wire, and the given CRC.
Bytes RawFrame(std::uint16_t length, const Bytes& body, std::uint32_t crc) {
    Bytes out{0xEE, 0x23};
    auto put = [&](std::uint8_t b) {
        out.push_back(b);
        if (b == 0xEE) out.push_back(b);
    };
    put(length & 0xFF);
    put(length >> 8);
    for (auto b : body) put(b);
    for (int i = 0; i < 4; ++i) put((crc >> (8 * i)) & 0xFF);
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A payload of 237 bytes (so L = 238 = 0xEE) holding 0xEE itself and whose
// frame CRC holds an 0xEE byte as well: 0xEE in every escaped field.
Bytes PayloadWithEeEverywhere() {
    Bytes payload(237, 0x00);
    payload[10] = 0xEE;
    for (std::uint32_t salt = 0; salt < 100000; ++salt) {
        payload[0] = salt & 0xFF;
        payload[1] = (salt >> 8) & 0xFF;
        const std::uint32_t crc = Crc32(Body(0x07, payload));
        for (int i = 0; i < 4; ++i)
            if (((crc >> (8 * i)) & 0xFF) == 0xEE) return payload;
    }
    ADD_FAILURE() << "no salt gives a CRC with 0xEE";
    return payload;
}

struct Row {
    Row(std::string l, std::vector<Bytes> f, std::vector<Bytes> out, Bytes s = {},
        FrameDecoder::State e = FrameDecoder::Hunt, int max = 512)
        : legend(std::move(l)), feeds(std::move(f)), frames(std::move(out)), strays(std::move(s)),
          end(e), maxPacketSize(max) {}
    std::string legend;
    std::vector<Bytes> feeds; // the bytes, one feed() call per element
    std::vector<Bytes> frames;
    Bytes strays;
    FrameDecoder::State end = FrameDecoder::Hunt;
    int maxPacketSize = 512;
};

struct Outcome {
    std::vector<Bytes> frames;
    Bytes strays;
    FrameDecoder::State end;
};

Outcome Decode(const Row& row) {
    FrameDecoder decoder(row.maxPacketSize);
    Outcome out;
    decoder.onPacket = [&](int count, const std::uint8_t* data) {
        out.frames.emplace_back(data, data + count);
        // The CRC follows the frame in the same buffer.
        const std::uint32_t crc = std::uint32_t(data[count]) | std::uint32_t(data[count + 1]) << 8 |
                                  std::uint32_t(data[count + 2]) << 16 |
                                  std::uint32_t(data[count + 3]) << 24;
        EXPECT_EQ(crc, Crc32(std::span(data, static_cast<std::size_t>(count))));
    };
    decoder.onStray = [&](std::uint8_t b) { out.strays.push_back(b); };
    for (const Bytes& feed : row.feeds) decoder.feed(feed);
    out.end = decoder.state();
    return out;
}

std::vector<Row> Rows() {
    const Bytes a = Frame(1, {0xA1}), b = Frame(2, {0xEE}), c = Frame(3, {});
    const Bytes escaped = Frame(0xEE, {0xEE, 0x23, 0xEE, 0xEE, 0x00, 0x23});
    const Bytes eeEverywhere = PayloadWithEeEverywhere();
    const Bytes good = Frame(9, {1, 2, 3});
    const Bytes afterMark(good.begin() + 1, good.end()); // "23 ..." after a pending EE
    Bytes badCrc = Frame(1, {5, 6});
    badCrc[7] ^= 0x01;
    const std::size_t cut = 5; // EE 23 07 00 EE | EE ...: inside the doubled header byte
    return {
        {"known frame: type 05, payload 41 42",
         {{0xEE, 0x23, 0x03, 0x00, 0x05, 0x41, 0x42, 0x01, 0x45, 0x3A, 0x88}},
         {{0x05, 0x41, 0x42}}},
        {"empty frame needs only the CRC of nothing", {{0xEE, 0x23, 0, 0, 0, 0, 0, 0}}, {{}}},
        {"empty frame with another CRC is dropped", {{0xEE, 0x23, 0, 0, 1, 0, 0, 0}}, {}},
        {"escaped: 0xEE as header and in the payload",
         {escaped},
         {Body(0xEE, {0xEE, 0x23, 0xEE, 0xEE, 0x00, 0x23})}},
        {"escaped: 0xEE in the length, the payload and the CRC",
         {Frame(0x07, eeEverywhere)},
         {Body(0x07, eeEverywhere)}},
        {"run-on: three frames in one read arrive in order",
         {Cat({a, b, c})},
         {{1, 0xA1}, {2, 0xEE}, {3}}},
        {"run-on: bytes between frames are strays, in order",
         {Cat({{0x41}, a, {0x00, 0xE0}, b})},
         {{1, 0xA1}, {2, 0xEE}},
         {0x41, 0x00, 0xE0}},
        {"split: cut between the two bytes of a doubled 0xEE",
         {Bytes(escaped.begin(), escaped.begin() + cut),
          Bytes(escaped.begin() + cut, escaped.end())},
         {Body(0xEE, {0xEE, 0x23, 0xEE, 0xEE, 0x00, 0x23})}},
        {"split: half a frame waits in the body for the rest",
         {Bytes(good.begin(), good.begin() + 6)},
         {},
         {},
         FrameDecoder::Body},
        {"bad CRC is dropped silently; the next frame comes", {badCrc, a}, {{1, 0xA1}}},
        {"over-long: L = MaxPacketSize + 2 is dropped, its body hunted through as strays",
         {RawFrame(514, Bytes(513, 0x22), 0x11111111), Frame(3, {0x33})},
         {{3, 0x33}},
         Cat({Bytes(513, 0x22), Bytes(4, 0x11)})},
        {"largest accepted: L = MaxPacketSize + 1",
         {Frame(1, Bytes(512, 0x11))},
         {Body(1, Bytes(512, 0x11))}},
        {"the limit is clamped so that a frame always fits the buffer",
         {Frame(4, Bytes(4092, 0xEE)), RawFrame(4094, Bytes(10, 1), 0)},
         {Body(4, Bytes(4092, 0xEE))},
         Cat({Bytes(10, 1), Bytes(4, 0)}),
         FrameDecoder::Hunt,
         100000},
        {"over-long: a refused length, then a fresh start mark begins a body",
         {{0xEE, 0x23, 0xFF, 0xFF}, {0xEE, 0x23, 0x01, 0x00}},
         {},
         {},
         FrameDecoder::Body},
        {"start mark inside the body starts the frame again",
         {Cat({{0xEE, 0x23, 0x05, 0x00, 0x09, 0x01, 0xEE}, afterMark})},
         {{9, 1, 2, 3}}},
        {"start mark after the low length byte starts again",
         {Cat({{0xEE, 0x23, 0xEE}, afterMark})},
         {{9, 1, 2, 3}}},
        {"start mark after the high length byte starts again",
         {Cat({{0xEE, 0x23, 0x05, 0xEE}, afterMark})},
         {{9, 1, 2, 3}}},
        {"broken escape in the body: dropped, back to hunting",
         {{0xEE, 0x23, 0x03, 0x00, 0x01, 0xEE, 0x41}, a},
         {{1, 0xA1}}},
        {"broken escape in the length: dropped, back to hunting",
         {{0xEE, 0x23, 0xEE, 0x41}, {0xEE, 0x23, 0x05, 0xEE, 0x41}, a},
         {{1, 0xA1}}},
        {"the start mark is never escaped: EE EE 23 is a start", {Cat({{0xEE}, a})}, {{1, 0xA1}}},
        {"garbage: bytes without 0xEE are all strays",
         {{0x00, 0x23, 0x41, 0xFF, 0xE0}},
         {},
         {0x00, 0x23, 0x41, 0xFF, 0xE0}},
        {"garbage: a lone 0xEE swallows the byte after it", {{0xEE, 0x41, 0x42}}, {}, {0x42}},
        {"garbage: start marks and escapes without a whole frame yield no frame",
         {{0xEE, 0x23, 0xEE, 0x23, 0xEE, 0xEE, 0x23, 0x02, 0xEE, 0x23, 0x01, 0x00, 0x01, 0xEE, 0x23,
           0x00}},
         {},
         {0x02}, // after the length 0x23EE was refused
         FrameDecoder::LengthHigh},
    };
}

TEST(FrameDecoder, EveryRowGivesItsFramesStraysAndState) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.legend);
        const Outcome out = Decode(row);
        EXPECT_EQ(out.frames, row.frames);
        EXPECT_EQ(out.strays, row.strays);
        EXPECT_EQ(out.end, row.end);
    }
}

TEST(FrameDecoder, CrcTestAfterARefusedLengthStaysInsideTheBuffer) {
    FrameDecoder decoder(512);
    decoder.feed(Bytes{0xEE, 0x23, 0xFF, 0xFF}); // the CRC would lie past the buffer
    EXPECT_FALSE(decoder.TestCRC());
}

} // namespace
} // namespace vantor
