// Fuzz target for the receive path of the exchange line: arbitrary bytes, cut
// into arbitrary notifications, through TCommPax::RxChar and its frame
// decoder.  Checked: every frame that comes out fits the limit and carries a
// matching CRC; the same bytes fed to a decoder of its own in one piece give
// the same frames (the cuts and the chunked reads change nothing); a frame
// written again by the encoder decodes to itself.
//
// Input: byte 0 picks the frame limit (including the extremes), byte 1 how
// the rest is cut into notifications; the rest is the line.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "FuzzInput.h"
#include "serial/CommPax.h"
#include "serial/Crc32.h"
#include "toolkit/VirtualLoop.h"

namespace {

using namespace vantor;
using fuzz::Check;
using Bytes = std::vector<std::uint8_t>;

// Serves the fuzz input as received bytes; everything else succeeds quietly.
class InputDevice final : public SerialDevice {
public:
    explicit InputDevice(std::deque<std::uint8_t>& input) : input_(input) {}
    bool isCharacterDevice() const override { return true; }
    int getState(SerialLineSettings&) override { return 0; }
    int setState(const SerialLineSettings&) override { return 0; }
    int setImmediateReads() override { return 0; }
    int setQueueSizes(int, int) override { return 0; }
    SerialIoResult read(std::span<std::uint8_t> into) override {
        std::size_t n = 0;
        while (n < into.size() && !input_.empty()) {
            into[n++] = input_.front();
            input_.pop_front();
        }
        return {static_cast<long>(n), 0};
    }
    SerialIoResult write(std::span<const std::uint8_t> bytes, int) override {
        return {static_cast<long>(bytes.size()), 0};
    }
    int clearErrors(std::uint32_t& errors, int& queue) override {
        errors = 0;
        queue = static_cast<int>(input_.size());
        return 0;
    }
    int purge(unsigned) override { return 0; }
    int drainOutput(int) override { return 0; }
    int setDTR(bool) override { return 0; }
    int modemStatus(std::uint32_t&) override { return ENOTTY; }
    int setEventMask(std::uint32_t) override { return 0; }
    SerialWaitResult waitEvents() override {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return interrupted_; });
        interrupted_ = false;
        return {};
    }
    void interruptWait() override {
        {
            std::lock_guard lock(mutex_);
            interrupted_ = true;
        }
        wake_.notify_all();
    }
    void close() override {}

private:
    std::deque<std::uint8_t>& input_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool interrupted_ = false;
};

void CheckFrame(int count, const std::uint8_t* frame, int maxPacketSize) {
    Check(count >= 0 && count <= maxPacketSize + 1, "frame over the limit");
    const std::uint32_t crc = std::uint32_t(frame[count]) | std::uint32_t(frame[count + 1]) << 8 |
                              std::uint32_t(frame[count + 2]) << 16 |
                              std::uint32_t(frame[count + 3]) << 24;
    Check(crc == Crc32(std::span(frame, static_cast<std::size_t>(count))),
          "frame with a wrong CRC");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const std::uint8_t limit = in.Byte();
    const unsigned cut = in.Byte();
    const auto line = in.Rest();

    VirtualLoop loop;
    std::deque<std::uint8_t> input;
    TCommPax pax(nullptr, loop, [&input](const std::string&) {
        return SerialOpenResult{std::make_unique<InputDevice>(input), 0};
    });
    pax.SetMonitorEvents({});
    pax.SetMaxPacketSize(limit == 0xFF ? 100000 : limit * 17 - 8);
    const int maxPacketSize = pax.MaxPacketSize();
    std::vector<Bytes> viaPort, direct;
    pax.OnRxPacket = [&](TObject*, int count, const std::uint8_t* frame) {
        CheckFrame(count, frame, maxPacketSize);
        viaPort.emplace_back(frame, frame + count);
    };
    pax.OnRxChr = [](TObject*, std::uint8_t) {};
    pax.Open();
    std::size_t at = 0, round = 0;
    while (at < line.size()) {
        const std::size_t n = std::min<std::size_t>(
            line.size() - at, cut == 0 ? line.size() : 1 + (cut * (round + 1)) % 257);
        input.insert(input.end(), line.begin() + at, line.begin() + at + n);
        // Announce sometimes fewer, sometimes more bytes than are waiting.
        const int announced = static_cast<int>(input.size()) + static_cast<int>(round % 3) - 1;
        pax.RxChar(&pax, announced);
        at += n;
        ++round;
    }
    pax.RxChar(&pax, static_cast<int>(input.size()));
    Check(pax.ReceiveState() < FrameDecoder::Dropped, "transient state left standing");

    FrameDecoder decoder(maxPacketSize);
    decoder.onPacket = [&](int count, const std::uint8_t* frame) {
        direct.emplace_back(frame, frame + count);
    };
    decoder.feed(line);
    Check(direct == viaPort, "notification cuts changed what was decoded");

    for (const Bytes& frame : direct) {
        if (frame.empty()) continue; // L = 0 has no header byte to write again
        std::vector<Bytes> again;
        FrameDecoder redo(maxPacketSize);
        redo.onPacket = [&](int count, const std::uint8_t* f) { again.emplace_back(f, f + count); };
        redo.feed(EncodeFrame(frame[0], std::span(frame).subspan(1)));
        Check(again.size() == 1 && again[0] == frame, "an encoded frame did not decode to itself");
    }
    return 0;
}
