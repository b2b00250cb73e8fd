#pragma once
// The simulator's link end: bytes from the gateway go through the frame
// decoder to the exchange model, and each reply comes back as a frame — or,
// as the fault settings say, not at all, late, with a spoiled CRC, as the
// single negative-acknowledgement byte 0xE0, or one byte at a time.  Output
// is a queue of timed chunks that the program writes when they are due, one
// write per chunk; the clock is the caller's (microseconds), so tests run it
// without waiting.  With a line speed set, every byte takes the time it takes
// on a real line in both directions, and the exchange thinks a while before
// it answers.  Also interprets the one-line control commands of the
// simulator's stdin.
#include "ExchangeModel.h"
#include "LinePacer.h"
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

// The line between gateway and exchange.
struct LineConfig {
    // 0: bytes take no time (a pseudo-terminal as it is); otherwise each byte
    // takes ten bit times at this rate, in both directions.
    std::uint32_t baud = 0;
    // The exchange's own time per request, from the request's last byte
    // coming in to the reply's first byte leaving.
    std::uint32_t thinkMs = 0;
};

inline constexpr std::uint32_t MaxBaud = 4000000;
inline constexpr std::uint32_t MaxThinkMs = 60000;

// Hex dump "0D 03 5F", as the logs show payloads.
std::string Hex(std::span<const std::uint8_t> bytes);

class SimSession {
public:
    using LogFn = std::function<void(const std::string& line)>;

    SimSession(ModelConfig model, FaultConfig faults, LogFn log = {}, LogFn event = {},
               LineConfig line = {});

    // Bytes read from the link at `nowUs`.  On a line with a speed they come
    // in one after the other from then on, each when a real line would have
    // carried it.
    void Receive(std::span<const std::uint8_t> bytes, std::uint64_t nowUs);

    // When the next chunk is due, if any; and that chunk when it is due.  On a
    // line with a speed the bytes due so far come as one chunk (except in
    // split mode, which is one write per byte).
    std::optional<std::uint64_t> NextDueUs() const;
    std::optional<std::vector<std::uint8_t>> PopDue(std::uint64_t nowUs);
    // The gateway closed the line: replies still waiting are for nobody.
    void DropOutput();
    // The frame decoder forgets a half-received frame (a new opener of the line).
    void ResetReceiver();

    struct CommandResult {
        std::string reply; // one line for stdout
        bool quit = false;
    };
    CommandResult Command(std::string_view line, std::uint64_t nowUs);
    std::string StatusLine() const;

    ExchangeModel& model() { return model_; }
    const ExchangeModel& model() const { return model_; }
    const FaultConfig& faults() const { return faults_; }
    const LineConfig& line() const { return line_; }
    void SetLine(LineConfig line);

    std::uint64_t requests() const { return requests_; }
    std::uint64_t replies() const { return replies_; }
    std::uint64_t naks() const { return naks_; }
    std::uint64_t crcErrors() const { return crcErrors_; }
    std::uint64_t silenced() const { return silenced_; }
    std::uint64_t strays() const { return strays_; }

private:
    void onFrame(int count, const std::uint8_t* data, std::uint64_t nowUs);
    // Queues a reply whose first byte may leave at `readyUs`.
    void queueOutput(std::vector<std::uint8_t> bytes, std::uint64_t readyUs);
    void log(const std::string& line) const {
        if (log_) log_(line);
    }
    void event(const std::string& line) const {
        if (event_) event_(line);
    }

    struct Chunk {
        std::uint64_t dueUs;
        std::vector<std::uint8_t> bytes;
        bool mergeable = false; // a paced byte: may share a write with the next
    };

    ExchangeModel model_;
    FaultConfig faults_;
    LogFn log_;
    LogFn event_;
    LineConfig line_;
    LinePacer in_;  // gateway to exchange
    LinePacer out_; // exchange to gateway
    FrameDecoder decoder_;
    std::uint64_t receiveNowUs_ = 0; // when the byte being fed has come in
    std::deque<Chunk> output_;
    std::uint64_t lastDueUs_ = 0;
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
