#pragma once
// The simulator's link end: bytes from the gateway go through the frame
// decoder to the exchange model, and each reply comes back as a frame — or,
// as the fault settings say, not at all, late, with a spoiled CRC, as the
// single negative-acknowledgement byte 0xE0, or one byte at a time.  Output
// is a queue of timed chunks that the program writes when they are due, one
// write per chunk; the clock is the caller's, so tests run it without waiting.
// Also interprets the one-line control commands of the simulator's stdin.
#include "ExchangeModel.h"
#include "serial/FrameCodec.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::sim {

inline constexpr std::uint8_t NakByte = 0xE0;

struct FaultConfig {
    bool silent = false;             // receive and log, never answer
    std::uint32_t crcErrorEvery = 0; // every Nth reply with a wrong CRC; 0 = never
    std::uint32_t nakEvery = 0;      // every Nth reply replaced by 0xE0; 0 = never
    std::uint32_t delayMs = 0;       // replies leave this long after their request
    bool split = false;              // one write per byte
    std::uint32_t splitGapMs = 1;    // pause between the bytes of a split frame
};

// Hex dump "0D 03 5F", as the logs show payloads.
std::string Hex(std::span<const std::uint8_t> bytes);

class SimSession {
public:
    using LogFn = std::function<void(const std::string& line)>;

    SimSession(ModelConfig model, FaultConfig faults, LogFn log = {}, LogFn event = {});

    // Bytes read from the link.
    void Receive(std::span<const std::uint8_t> bytes, std::uint64_t nowMs);

    // When the next chunk is due, if any; and that chunk when it is due.
    std::optional<std::uint64_t> NextDueMs() const;
    std::optional<std::vector<std::uint8_t>> PopDue(std::uint64_t nowMs);
    // The gateway closed the line: replies still waiting are for nobody.
    void DropOutput();
    // The frame decoder forgets a half-received frame (a new opener of the line).
    void ResetReceiver();

    struct CommandResult {
        std::string reply; // one line for stdout
        bool quit = false;
    };
    CommandResult Command(std::string_view line, std::uint64_t nowMs);
    std::string StatusLine() const;

    ExchangeModel& model() { return model_; }
    const ExchangeModel& model() const { return model_; }
    const FaultConfig& faults() const { return faults_; }

    std::uint64_t requests() const { return requests_; }
    std::uint64_t replies() const { return replies_; }
    std::uint64_t naks() const { return naks_; }
    std::uint64_t crcErrors() const { return crcErrors_; }
    std::uint64_t silenced() const { return silenced_; }
    std::uint64_t strays() const { return strays_; }

private:
    void onFrame(int count, const std::uint8_t* data, std::uint64_t nowMs);
    void queueOutput(std::vector<std::uint8_t> bytes, std::uint64_t nowMs);
    void log(const std::string& line) const {
        if (log_) log_(line);
    }
    void event(const std::string& line) const {
        if (event_) event_(line);
    }

    struct Chunk {
        std::uint64_t dueMs;
        std::vector<std::uint8_t> bytes;
    };

    ExchangeModel model_;
    FaultConfig faults_;
    LogFn log_;
    LogFn event_;
    FrameDecoder decoder_;
    std::uint64_t receiveNowMs_ = 0; // clock of the bytes being fed
    std::deque<Chunk> output_;
    std::uint64_t lastDueMs_ = 0;
    bool nakOnce_ = false;
    bool crcOnce_ = false;
    std::uint64_t lastAcked_ = 0;
    std::uint64_t lastHanded_ = 0;

    std::uint64_t requests_ = 0;
    std::uint64_t replies_ = 0; // replies due to be sent, faults included (not silenced ones)
    std::uint64_t naks_ = 0;
    std::uint64_t crcErrors_ = 0;
    std::uint64_t silenced_ = 0;
    std::uint64_t strays_ = 0;
};

} // namespace vantor::sim
