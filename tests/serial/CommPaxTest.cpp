// Frames on the exchange line through the port component: what WritePacket
// puts on the wire, and how TCommPax reads incoming bytes into its decoder
// however the notifications cut them.  The decoder's own rules are the rows
// of FrameDecoderTest.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "serial/CommPack.h"
#include "serial/CommPax.h"
#include "serial/Crc32.h"
#include "toolkit/VirtualLoop.h"
#include "FakeSerialDevice.h"

namespace vantor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::FakeFactory;
using test::FakeLine;

struct Delivered {
    int count;
    Bytes data; // count bytes: header byte and payload
    bool operator==(const Delivered&) const = default;
};

Bytes Frame(std::uint8_t header, const Bytes& payload) { return EncodeFrame(header, payload); }

class Framing : public ::testing::Test {
protected:
    void SetUp() override {
        pax.SetMonitorEvents({}); // the tests hand the bytes over themselves
        pax.SetMaxPacketSize(512);
        pax.OnRxPacket = [this](TObject* sender, int count, const std::uint8_t* data) {
            EXPECT_EQ(sender, &pax);
            packets.push_back({count, Bytes(data, data + count)});
            // The CRC bytes follow the frame in the same buffer.
            EXPECT_EQ(std::uint32_t(data[count]) | std::uint32_t(data[count + 1]) << 8 |
                          std::uint32_t(data[count + 2]) << 16 |
                          std::uint32_t(data[count + 3]) << 24,
                      Crc32(std::span(data, static_cast<std::size_t>(count))));
        };
        pax.OnRxChr = [this](TObject*, std::uint8_t chr) {
            strays.push_back(chr);
            purgesAtStray.push_back(line->purges);
        };
        pax.Open();
        line->purges = 0;
    }

    // The far end sends `bytes`; the port announces them in one notification.
    void Deliver(const Bytes& bytes) {
        line->receive(bytes);
        pax.RxChar(&pax, static_cast<int>(line->waiting()));
    }

    VirtualLoop loop;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    TCommPax pax{nullptr, loop, FakeFactory(line)};
    std::vector<Delivered> packets;
    Bytes strays;
    std::vector<int> purgesAtStray;
};

TEST_F(Framing, KnownFramesOnTheWireAndBack) {
    pax.WritePacket(0x05, Bytes{0x41, 0x42});
    EXPECT_EQ(line->takeOutput(),
              (Bytes{0xEE, 0x23, 0x03, 0x00, 0x05, 0x41, 0x42, 0x01, 0x45, 0x3A, 0x88}));
    // The first configuration request: sequence 1, command 0x0D.
    const Bytes request{0x0D};
    pax.WritePacket(0x01, request.data(), 1);
    const Bytes wire = line->takeOutput();
    EXPECT_EQ(wire, (Bytes{0xEE, 0x23, 0x02, 0x00, 0x01, 0x0D, 0x03, 0x5F, 0x73, 0x26}));

    Deliver(wire);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], (Delivered{2, {0x01, 0x0D}}));
    EXPECT_TRUE(strays.empty());
    EXPECT_EQ(pax.ReceiveState(), FrameDecoder::Hunt);
}

TEST_F(Framing, WriteCharDoublesOnlyEscapedStartBytes) {
    pax.WriteChar(0xEE, true);
    pax.WriteChar(0xEE, false);
    pax.WriteChar(0x23, true);
    EXPECT_EQ(line->takeOutput(), (Bytes{0xEE, 0xEE, 0xEE, 0x23}));
}

TEST_F(Framing, EeInLengthPayloadAndCrcTravelsDoubled) {
    // L = 238 puts 0xEE into the low length byte; look for a payload whose
    // CRC holds an 0xEE byte as well, and put one into the payload.
    Bytes payload(237, 0x00);
    payload[10] = 0xEE;
    for (std::uint32_t salt = 0;; ++salt) {
        payload[0] = salt & 0xFF;
        payload[1] = (salt >> 8) & 0xFF;
        Bytes body{0x07};
        body.insert(body.end(), payload.begin(), payload.end());
        const std::uint32_t crc = Crc32(body);
        bool crcHasEe = false;
        for (int i = 0; i < 4; ++i) crcHasEe |= ((crc >> (8 * i)) & 0xFF) == 0xEE;
        if (crcHasEe) break;
        ASSERT_LT(salt, 100000u);
    }
    pax.WritePacket(0x07, payload);
    const Bytes wire = line->takeOutput();
    EXPECT_EQ(wire[2], 0xEE);
    EXPECT_EQ(wire[3], 0xEE); // doubled low length byte
    EXPECT_EQ(wire[4], 0x00);
    // 2 start bytes + 2 length + L + 4 CRC, plus one extra byte per logical 0xEE.
    Bytes logical{238, 0, 0x07};
    logical.insert(logical.end(), payload.begin(), payload.end());
    const std::uint32_t crc = Crc32(Bytes(logical.begin() + 2, logical.end()));
    for (int i = 0; i < 4; ++i) logical.push_back((crc >> (8 * i)) & 0xFF);
    EXPECT_EQ(wire.size(), 2 + logical.size() + std::count(logical.begin(), logical.end(), 0xEE));

    Deliver(wire);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].count, 238);
    EXPECT_EQ(Bytes(packets[0].data.begin() + 1, packets[0].data.end()), payload);
    EXPECT_TRUE(strays.empty());
}

TEST_F(Framing, AnySplitAssemblesTheSameFrame) {
    // Escaped bytes in every field, so some cuts fall between two doubled EEs.
    const Bytes payload{0xEE, 0x23, 0xEE, 0xEE, 0x00, 0x23};
    Bytes wire = Frame(0xEE, payload);
    Bytes expected{0xEE};
    expected.insert(expected.end(), payload.begin(), payload.end());
    int cutsInsidePairs = 0;
    for (std::size_t cut = 1; cut < wire.size(); ++cut) {
        packets.clear();
        if (wire[cut - 1] == 0xEE && wire[cut] == 0xEE) ++cutsInsidePairs;
        Deliver(Bytes(wire.begin(), wire.begin() + cut));
        EXPECT_TRUE(packets.empty()) << "cut " << cut;
        Deliver(Bytes(wire.begin() + cut, wire.end()));
        ASSERT_EQ(packets.size(), 1u) << "cut " << cut;
        EXPECT_EQ(packets[0].data, expected) << "cut " << cut;
    }
    EXPECT_GE(cutsInsidePairs, 3);
    // One byte per notification.
    packets.clear();
    for (auto b : wire) Deliver(Bytes{b});
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].data, expected);
    EXPECT_TRUE(strays.empty());
}

TEST_F(Framing, ByteOutsideAFrameDiscardsOutputThenReachesOwner) {
    Bytes wire = Frame(1, Bytes{1});
    wire.push_back(0xE0);
    const Bytes next = Frame(2, Bytes{2});
    wire.insert(wire.end(), next.begin(), next.end());
    Deliver(wire);
    ASSERT_EQ(strays, Bytes{0xE0});
    ASSERT_EQ(purgesAtStray, std::vector<int>{1}); // purged before the owner heard of it
    EXPECT_EQ(line->lastPurge, PurgeFlag::TxAbort | PurgeFlag::TxClear);
    EXPECT_EQ(packets.size(), 2u);

    // Without a handler the output is still discarded.
    pax.OnRxChr = nullptr;
    Deliver(Bytes{0x41});
    EXPECT_EQ(line->purges, 2);
}

TEST_F(Framing, BacklogLargerThanOneChunkIsReadCompletely) {
    Bytes wire;
    Bytes payload(500, 0);
    for (int i = 0; i < 20; ++i) {
        std::fill(payload.begin(), payload.end(), static_cast<std::uint8_t>(i));
        const Bytes f = Frame(static_cast<std::uint8_t>(i), payload);
        wire.insert(wire.end(), f.begin(), f.end());
    }
    ASSERT_GT(wire.size(), 2u * TCommPax::ChunkSize);
    Deliver(wire);
    ASSERT_EQ(packets.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(packets[i].data[0], i);
    EXPECT_EQ(line->waiting(), 0u);
}

TEST_F(Framing, ClosedPortLeavesTheBytesAlone) {
    pax.Close();
    line->receive(Frame(1, Bytes{1}));
    pax.RxChar(&pax, static_cast<int>(line->waiting()));
    EXPECT_TRUE(packets.empty());
    EXPECT_GT(line->waiting(), 0u);
}

TEST_F(Framing, PacketThatTheLengthFieldCannotHoldIsRefused) {
    const Bytes huge(70000, 1);
    EXPECT_THROW(pax.WritePacket(1, huge.data(), 65535), ECommError);
    EXPECT_THROW(pax.WritePacket(1, huge.data(), -1), ECommError);
    EXPECT_TRUE(line->takeOutput().empty());
    pax.WritePacket(1, huge.data(), 65534);
    EXPECT_GE(line->takeOutput().size(), 65541u);
}

TEST_F(Framing, RandomNoiseBetweenFramesNeverHidesAFrame) {
    // Noise without 0xEE between good frames: every noise byte is a stray and
    // every frame arrives, whatever the cuts between notifications.
    std::mt19937 rng(20261208);
    Bytes wire, expectedStrays;
    std::vector<Bytes> expected;
    for (int f = 0; f < 300; ++f) {
        const int noise = static_cast<int>(rng() % 6);
        for (int i = 0; i < noise; ++i) {
            std::uint8_t b = static_cast<std::uint8_t>(rng());
            if (b == 0xEE) b = 0xED;
            wire.push_back(b);
            expectedStrays.push_back(b);
        }
        Bytes body(1 + rng() % 40);
        for (auto& b : body) b = (rng() % 4 == 0) ? 0xEE : static_cast<std::uint8_t>(rng());
        expected.push_back(body);
        const Bytes f2 = Frame(body[0], Bytes(body.begin() + 1, body.end()));
        wire.insert(wire.end(), f2.begin(), f2.end());
    }
    for (std::size_t at = 0; at < wire.size();) {
        const std::size_t n = std::min<std::size_t>(1 + rng() % 97, wire.size() - at);
        Deliver(Bytes(wire.begin() + at, wire.begin() + at + n));
        at += n;
    }
    ASSERT_EQ(packets.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(packets[i].data, expected[i]) << i;
    EXPECT_EQ(strays, expectedStrays);
}

TEST_F(Framing, PureRandomInputOnlyYieldsGoodFrames) {
    // Biased towards the bytes that steer the machine.  Every delivered packet
    // is checked against its CRC in the handler; here only the bounds.
    std::mt19937 rng(7);
    const std::uint8_t pick[] = {0xEE, 0x23, 0x00, 0x01, 0x02};
    for (int round = 0; round < 2000; ++round) {
        Bytes chunk(1 + rng() % 300);
        for (auto& b : chunk) b = (rng() % 3) ? pick[rng() % 5] : static_cast<std::uint8_t>(rng());
        Deliver(chunk);
    }
    for (const auto& p : packets) EXPECT_LE(p.count, pax.MaxPacketSize() + 1);
    EXPECT_LT(pax.ReceiveState(), FrameDecoder::Dropped);
}

// The older component returns the first good frame of a chunk.
TEST(CommPack, ReadPacketReturnsTheFirstFrameOfAChunk) {
    VirtualLoop loop;
    auto line = std::make_shared<FakeLine>();
    TCommPack pack(nullptr, loop, FakeFactory(line));
    pack.SetMonitorEvents({});
    pack.Open();
    Bytes wire{0x41, 0x42}; // ignored, no purge
    for (std::uint8_t i = 1; i <= 2; ++i) {
        const Bytes f = Frame(i, Bytes{0xEE, i});
        wire.insert(wire.end(), f.begin(), f.end());
    }
    line->receive(wire);
    EXPECT_EQ(pack.ReadPacket(static_cast<int>(wire.size())), 3);
    EXPECT_EQ(Bytes(pack.InCom(), pack.InCom() + 3), (Bytes{1, 0xEE, 1}));
    EXPECT_EQ(line->purges, 0);
    // The rest of that chunk was dropped with it.
    EXPECT_EQ(pack.ReadPacket(100), 0);

    // A frame beyond the component's own buffer is not accepted, one that fits is.
    line->receive(Frame(5, Bytes(4092, 0x55)));
    EXPECT_EQ(pack.ReadPacket(3000), 0);
    EXPECT_EQ(pack.ReadPacket(3000), 4093);
    line->receive(Frame(6, Bytes(4093, 0x66)));
    EXPECT_EQ(pack.ReadPacket(3000), 0);
    EXPECT_EQ(pack.ReadPacket(3000), 0);
}

} // namespace
} // namespace vantor
