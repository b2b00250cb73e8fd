// Fuzz target for the receive path of the exchange line: arbitrary bytes,
// cut into arbitrary notifications, through TCommPax::RxChar.  Every frame
// that comes out must fit the limit and carry a matching CRC; nothing may
// read or write past a buffer (build with -fsanitize=address,undefined).
//
// Built with libFuzzer (-fsanitize=fuzzer and VANTOR_LIBFUZZER defined) it is
// an ordinary fuzz target.  Without it, main() runs the files named on the
// command line, or a fixed pseudo-random corpus when none are given.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <vector>

#include "serial/CommPax.h"
#include "serial/Crc32.h"
#include "toolkit/VirtualLoop.h"

namespace {

using namespace vantor;

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

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_rxchar: %s\n", what);
        std::abort();
    }
}

void RunOne(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return;
    VirtualLoop loop;
    std::deque<std::uint8_t> input;
    TCommPax pax(nullptr, loop, [&input](const std::string&) {
        return SerialOpenResult{std::make_unique<InputDevice>(input), 0};
    });
    pax.SetMonitorEvents({});
    // The first byte picks the frame limit (including the extremes), the
    // second how the rest is cut into notifications.
    pax.SetMaxPacketSize(data[0] == 0xFF ? 100000 : data[0] * 17 - 8);
    const unsigned cut = data[1];
    pax.OnRxPacket = [&pax](TObject*, int count, const std::uint8_t* frame) {
        Check(count >= 0 && count <= pax.MaxPacketSize() + 1, "frame over the limit");
        const std::uint32_t crc =
            std::uint32_t(frame[count]) | std::uint32_t(frame[count + 1]) << 8 |
            std::uint32_t(frame[count + 2]) << 16 | std::uint32_t(frame[count + 3]) << 24;
        Check(crc == Crc32(std::span(frame, static_cast<std::size_t>(count))),
              "frame with a wrong CRC");
    };
    pax.OnRxChr = [](TObject*, std::uint8_t) {};
    pax.Open();
    std::size_t at = 2, round = 0;
    while (at < size) {
        const std::size_t n =
            std::min<std::size_t>(size - at, cut == 0 ? size : 1 + (cut * (round + 1)) % 257);
        input.insert(input.end(), data + at, data + at + n);
        // Announce sometimes fewer, sometimes more bytes than are waiting.
        const int announced = static_cast<int>(input.size()) + static_cast<int>(round % 3) - 1;
        pax.RxChar(&pax, announced);
        at += n;
        ++round;
    }
    pax.RxChar(&pax, static_cast<int>(input.size()));
    Check(pax.ReceiveState() < FrameDecoder::Dropped, "transient state left standing");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunOne(data, size);
    return 0;
}

#ifndef VANTOR_LIBFUZZER
int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
            RunOne(bytes.data(), bytes.size());
        }
        return 0;
    }
    // A fixed corpus: noise rich in the bytes that steer the machine, with
    // good frames mixed in.
    std::mt19937 rng(4000);
    const std::uint8_t steer[] = {0xEE, 0x23, 0x00, 0x01, 0x02, 0xFF};
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(rng()),
                                        static_cast<std::uint8_t>(rng())};
        const std::size_t length = rng() % 3000;
        while (bytes.size() < length) {
            if (rng() % 8 == 0) {
                std::vector<std::uint8_t> payload(rng() % 600);
                for (auto& b : payload) b = steer[rng() % 6];
                const auto frame = EncodeFrame(static_cast<std::uint8_t>(rng()), payload);
                bytes.insert(bytes.end(), frame.begin(), frame.end());
            } else {
                bytes.push_back(rng() % 2 ? steer[rng() % 6] : static_cast<std::uint8_t>(rng()));
            }
        }
        RunOne(bytes.data(), bytes.size());
    }
    std::puts("fuzz_rxchar: corpus passed");
    return 0;
}
#endif
