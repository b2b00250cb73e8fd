#pragma once
// The simulated exchange's side of the request/reply protocol: one request
// payload in, one reply payload out (result byte first), with the state a real
// exchange keeps between requests — line states that move on with time,
// numbered accounting records that are only dropped when the next one is
// asked for, outgoing messages waiting for their acknowledgement, the message
// counters last written.  No I/O here: the caller supplies the clock, so tests
// drive it without a pseudo-terminal and without waiting.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace vantor::sim {

struct ModelConfig {
    int ports = 8;                // extensions in the port list, 0..MaxPorts
    std::uint8_t configByte4 = 2; // configuration bytes the gateway checks
    std::uint8_t configByte5 = 0;
    std::uint8_t infoBlocks = 3;          // info byte 3: personal-data blocks, 0..MaxPersonalBlocks
    std::uint8_t lineOffset = 0;          // info byte 2
    std::optional<std::uint64_t> records; // records to hand out; nullopt = no end
    std::uint32_t recordEveryMs = 0;      // 0: a record is always waiting (within the budget)
    std::uint32_t messageEvery = 8;       // every Nth slot poll finds a new message; 0 = never
    std::uint32_t lineStepMs = 1000;      // line states move on once per step
    std::uint32_t seed = 1;
    // Records this exchange handed out before (a simulator started again on
    // the same line after a device loss): 05 repeats this one, 04 goes on
    // with the next number.
    std::uint64_t recordsHanded = 0;
};

// Result codes this exchange uses besides 0 (success).
inline constexpr std::uint8_t ErrUnknownCommand = 2;
inline constexpr std::uint8_t ErrBadParameter = 3;

inline constexpr int MaxPorts = 63; // a line-state reply must fit 256 bytes
inline constexpr int MaxPersonalBlocks = 30;
inline constexpr int ShortBlocks = 66;
inline constexpr int ShortBlockSize = 236;
inline constexpr int PersonalBlockSize = 64;
inline constexpr int PortStructureSize = 144;
inline constexpr int ConfigurationSize = 16;
inline constexpr int InfoSize = 7;
inline constexpr int SwStateSize = 12; // whole reply, result byte included

// Line state codes.
inline constexpr std::uint8_t LineFree = 0;
inline constexpr std::uint8_t LineDialling = 1;
inline constexpr std::uint8_t LineConnected = 2;
inline constexpr std::uint8_t LineBusy = 3;
inline constexpr std::uint8_t LineRinging = 8;
inline constexpr std::uint8_t FlagCallerData = 0x01; // caller data can be fetched
inline constexpr std::uint8_t FlagBusyTone = 0x04;

struct Reply {
    char kind = '?'; // the gateway's letter for this request; '?' unknown, 'a' message ack, 'q'
                     // other query, 'w' other write
    std::vector<std::uint8_t> payload;
    bool repeated = false; // a resend answered with the reply given before
};

// Human-readable name of a kind letter, for logs.
const char* KindName(char kind);

class ExchangeModel {
public:
    explicit ExchangeModel(ModelConfig config);

    // Answers one request.  `sequence` is the frame's header byte: a request
    // that repeats the previous one byte for byte under the same sequence
    // number is a resend after a lost reply and gets the same reply again
    // (so a lost reply to "next record" does not skip a record).
    Reply Handle(std::uint8_t sequence, std::span<const std::uint8_t> request, std::uint64_t nowMs);

    // Which kind a request payload is, without answering it.
    static char Classify(std::span<const std::uint8_t> request);
    // The reply to a query of kind 'q' ("00 s i ..."): "00 s i", bytes derived
    // from s and i, then the request's bytes after the index as they came.
    // The echo lets a test give every relayed request a tag of its own and
    // tell from the reply which request it answers.
    static std::vector<std::uint8_t> QueryReply(std::span<const std::uint8_t> request);

    // From now on exactly n more records are generated (those already waiting stay).
    void SetRecordBudget(std::uint64_t n);
    // The next record handed out carries the same text as the one before
    // (two identical calls billed in a row).
    void TwinNextRecord() { twins_.insert(handed_ + 1); }
    // The next slot poll finds a message, whatever messageEvery says.
    void QueueMessageNow() { forceMessage_ = true; }

    const ModelConfig& config() const { return config_; }
    std::uint64_t recordsHanded() const { return handed_; } // number of the last record given
    std::uint64_t recordsGenerated() const { return generated_; }
    std::uint64_t messagesOffered() const { return messagesOffered_; }
    std::uint64_t messagesAcked() const { return messagesAcked_; }
    std::uint64_t resends() const { return resends_; }
    const std::vector<std::uint8_t>& messageCounters() const { return counters_; }
    const std::vector<std::uint8_t>& lastCommand() const { return lastCommand_; }
    const std::map<char, std::uint64_t>& requestCounts() const { return counts_; }

    // The data behind the replies, for tests and the status line.
    static std::string PortNumber(int index);            // "101", "102", ...
    static std::string RecordText(std::uint64_t number); // "REC 000001 ..."
    std::string CallerNumber(int line) const;
    struct Line {
        std::uint8_t state = LineFree;
        std::uint8_t partner = 0xFF;
        std::uint8_t seconds = 0;
        std::uint8_t flags = 0;
        std::uint32_t call = 0; // distinguishes calls, for the caller number
    };
    const std::vector<Line>& lines() const { return lines_; }
    // Moves time on (Handle does this itself).
    void AdvanceTo(std::uint64_t nowMs);

private:
    struct Message {
        std::uint8_t number = 0;
        char type = 'Q';
        std::string recipient, second, body;
    };

    std::vector<std::uint8_t> answer(char kind, std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> configuration() const;
    std::vector<std::uint8_t> info() const;
    std::vector<std::uint8_t> portStructure() const;
    std::vector<std::uint8_t> portList() const;
    std::vector<std::uint8_t> lineStates() const;
    std::vector<std::uint8_t> swState() const;
    std::vector<std::uint8_t> messageSlot(std::uint8_t slot);
    std::vector<std::uint8_t> messageAck(std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> counters(std::span<const std::uint8_t> req);
    std::vector<std::uint8_t> accounting(bool next);
    std::vector<std::uint8_t> queue() const;
    std::vector<std::uint8_t> callerData(std::uint8_t index) const;
    std::vector<std::uint8_t> personal(std::uint8_t page) const;
    std::vector<std::uint8_t> shortNumbers(std::uint8_t page) const;
    std::vector<std::uint8_t> command(std::span<const std::uint8_t> req);
    void stepLines();
    bool recordWaiting() const;

    ModelConfig config_;
    std::mt19937 rng_;
    std::vector<Line> lines_;
    std::uint64_t nowMs_ = 0;
    std::uint64_t lineSteps_ = 0; // steps taken so far
    std::uint32_t callCounter_ = 0;

    // Accounting: records 1..generated_ exist, 1..handed_ were given out.
    std::optional<std::uint64_t> budget_; // still to be generated; nullopt = no end
    std::uint64_t generated_ = 0;
    std::uint64_t handed_ = 0;
    std::uint64_t nextRecordAtMs_ = 0;
    std::set<std::uint64_t> twins_; // records whose text is their predecessor's

    std::optional<Message> pending_;
    std::uint8_t lastMessageNumber_ = 0;
    std::uint64_t slotPolls_ = 0;
    std::uint64_t messagesOffered_ = 0;
    std::uint64_t messagesAcked_ = 0;
    bool forceMessage_ = false;

    std::vector<std::uint8_t> counters_;
    std::vector<std::uint8_t> lastCommand_;
    std::map<char, std::uint64_t> counts_;

    // The previous request and its reply, to recognise resends.
    bool havePrevious_ = false;
    std::uint8_t previousSequence_ = 0;
    std::vector<std::uint8_t> previousRequest_;
    Reply previousReply_;
    std::uint64_t resends_ = 0;
};

} // namespace vantor::sim
