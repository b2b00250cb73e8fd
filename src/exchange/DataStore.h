#pragma once
// The gateway's picture of the exchange.  Every request the gateway issues by
// itself is a transaction here: BuildRequest makes its payload, DecodeReply
// takes the exchange's reply into the store, and SkipBlock moves a block-wise
// download on when no request was needed.  The store also keeps the per-port
// message counters and the call-centre command ring.
//
// Capacities are fixed; nothing from the exchange is ever written past a
// field: over-long replies are cut at their field, more than 56 ports are cut
// to 56, and a personal-data block count above 30 is taken as 30 (each
// reported as an error line on the log).  A line-state or SW reply longer
// than its snapshot keeps its whole length beside the cut bytes, so that the
// relay never hands the cut bytes to a client as the exchange's reply.
//
// The store never reaches out to make another part act: what a decode or a
// write watch means for others (stale cached replies, a short-number reload)
// is returned, and the caller acts on it.
#include "exchange/MailPort.h"
#include "exchange/PluginFeed.h"
#include "exchange/RequestKind.h"
#include "toolkit/DateTime.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

class EventLoop;
class LogWriter;

// Statuses of the decoders besides the exchange's own nonzero result codes.
inline constexpr int StatusNothing = 0;
inline constexpr int StatusDone = 128;
inline constexpr int StatusMoreBlocks = 129;
inline constexpr int StatusWrongExchange = 130; // configuration byte 4 is not 2
inline constexpr int StatusAskUser = 131;       // configuration byte 5 is not 0

// What a decoded reply meant.
struct DecodeResult {
    int status = StatusNothing;
    // The exchange's configuration or identification differs from what the
    // store held: replies cached under the old picture are stale.
    bool exchangeChanged = false;
};

// One entry of the port table: the number text (at most 4 characters and a
// terminating 0), then the four message counters (SMS, voice, fax, fourth).
struct PortEntry {
    char number[5] = {};
    std::uint8_t counters[4] = {};

    std::string_view Number() const { return std::string_view(number); }
};
static_assert(sizeof(PortEntry) == 9);

class TDataStore final : public MessageCounterTable {
public:
    static constexpr std::size_t ANCapacity = 256;
    static constexpr std::size_t SWCapacity = 12;
    static constexpr std::size_t InfoSize = 7;
    static constexpr std::size_t ConfigurationSize = 16;
    static constexpr std::size_t PortStructureSize = 144;
    static constexpr std::size_t MaxPorts = 56;
    static constexpr std::size_t PortNumberArraySize = 224; // 56 ports x 4 bytes
    static constexpr std::size_t CommandSlots = 32;
    static constexpr std::size_t CommandSize = 88;
    static constexpr std::size_t ShortBlockSize = 236;
    static constexpr int ShortBlocks = 66;
    static constexpr std::size_t ShortMemorySize = 15576; // 66 x 236
    static constexpr std::size_t PersonalBlockSize = 64;
    static constexpr int MaxPersonalBlocks = 30;
    static constexpr std::size_t PersonalWords = 960; // 30 x 64 bytes
    static constexpr std::size_t MessageAckSize = 254;

    using Clock = std::function<TDateTime()>;
    using CommandRecord = std::array<std::uint8_t, CommandSize>;

    // faults: where replies that did not fit are reported ("!Err" lines).
    TDataStore(LogWriter& faults, Clock clock);
    TDataStore(LogWriter& faults, const EventLoop& loop);
    TDataStore(const TDataStore&) = delete;
    TDataStore& operator=(const TDataStore&) = delete;

    // The plug-in binding, or nullptr; the feeds run only while it is Active().
    void SetPluginFeed(PluginFeed* feed) { plugin_ = feed; }
    bool PluginActive() const { return plugin_ != nullptr && plugin_->Active(); }

    // ---- transactions, by the kind letter of the request queue ----

    // The request payload of a kind.  arg is the line index for CallerData,
    // the command ring slot for PluginCommand, and for Accounting nonzero to
    // ask for the last record again (05) instead of the next one (04).  Empty:
    // no request is to be sent (ShortNumbers for an unreferenced block,
    // PluginCommand for a command kind without a request, Client).  Building
    // MessageSlot advances the message slot counter.
    std::vector<std::uint8_t> BuildRequest(RequestKind kind, int arg = 0);
    // Takes a reply payload (without the sequence byte) into the store.  An
    // empty reply changes nothing and gives status 0.
    DecodeResult DecodeReply(RequestKind kind, std::span<const std::uint8_t> reply);
    // Advances a block download (PersonalData or ShortNumbers) without a
    // reply; returns 128 or 129 like the decode.  Other kinds: 0.
    int SkipBlock(RequestKind kind);

    // The plug-in's view of a fresh AN reply, run by the dispatcher before
    // decoding the line states while the plug-in is active.  Uses the previous
    // snapshot: does nothing when it holds no line yet; otherwise clears the
    // flags of lines not in state 8 or 2, calls queueCallerData(i) for each
    // line that entered state 8 with flag bit 0 newly set, and feeds the
    // lines to the plug-in.  reply is changed in place.
    void LineStateFeed(std::span<std::uint8_t> reply,
                       const std::function<void(int line)>& queueCallerData);

    // 01 01 number, then 251 zero bytes.
    std::vector<std::uint8_t> BuildMessageAck(std::uint8_t number) const;

    // ---- port table and message counters ----

    // Index of the first port whose number equals `number` exactly, or 255.
    std::uint8_t FindPort(std::string_view number) const;
    // The port's counters become a, c, b, d in table order; returns d, or 255
    // when no port has that number.
    std::uint8_t SetCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                             std::uint8_t c, std::uint8_t d) override;
    // Same arrangement, adding modulo 256.
    std::uint8_t AddCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                             std::uint8_t c, std::uint8_t d) override;
    void ClearCounters() override;
    std::uint8_t PortCount() const { return portCount_; }
    const PortEntry& Port(std::size_t index) const { return ports_.at(index); }

    // ---- call-centre commands ----

    // Copies the record into the slot at the ring index and returns that
    // slot; the index advances modulo 32, so the 33rd command overwrites the
    // first whether or not it was sent.
    int StoreCommand(std::span<const std::uint8_t, CommandSize> record);
    int CommandRingIndex() const { return commandIndex_; }
    const CommandRecord& CommandSlot(std::size_t slot) const { return commands_.at(slot); }

    // ---- other operations ----

    // Every request sent for a network client passes here: a write into the
    // exchange's memory (01 0D / 01 12 / 01 18) while the plug-in is active
    // makes the short-number memory stale.  True when the short-number reload
    // timer must start its period afresh.
    [[nodiscard]] bool WriteWatch(std::span<const std::uint8_t> request) const;

    // ---- what the relay and the plug-in read ----

    std::span<const std::uint8_t> ANSnapshot() const { return {an_.data(), anLength_}; }
    std::span<const std::uint8_t> SWSnapshot() const { return {sw_.data(), swLength_}; }
    std::uint32_t ANLength() const { return anLength_; }
    std::uint32_t SWLength() const { return swLength_; }
    // The length of the last AN / SW reply as the exchange sent it; above
    // ANLength() / SWLength() when the snapshot holds only its beginning.
    std::size_t ANReplyLength() const { return anReplyLength_; }
    std::size_t SWReplyLength() const { return swReplyLength_; }
    TDateTime ANTime() const { return anTime_; }
    TDateTime SWTime() const { return swTime_; }
    // Lines in the AN snapshot: (AN length - 3) / 4, 0 while it holds none.
    int LineCount() const { return anLength_ < 3 ? 0 : static_cast<int>((anLength_ - 3) / 4); }

    const std::array<std::uint8_t, InfoSize>& ExchangeInfo() const { return info_; }
    const std::array<std::uint8_t, ConfigurationSize>& Configuration() const {
        return configuration_;
    }
    const std::array<std::uint8_t, PortStructureSize>& PortStructure() const {
        return portStructure_;
    }
    const std::array<std::uint8_t, ShortMemorySize>& ShortNumbers() const { return shortNumbers_; }
    const std::array<std::uint16_t, PersonalWords>& PersonalData() const { return personal_; }

    // Number of the next block of a personal-data or short-number download.
    int BlockCounter() const { return blockCounter_; }
    void SetBlockCounter(int value) { blockCounter_ = value; }
    // The n of the next 'S' request (0..3).
    std::uint8_t MessageSlotCounter() const { return messageSlot_; }

    // Personal-data blocks the exchange announced (info byte 3), at most 30.
    int PersonalBlocks() const;
    // True when a personal-data word points into short-number block `block`.
    bool ShortBlockReferenced(int block) const;

private:
    DecodeResult DecodeConfiguration(std::span<const std::uint8_t> reply);
    DecodeResult DecodeInfo(std::span<const std::uint8_t> reply);
    int DecodePortList(std::span<const std::uint8_t> reply);
    int DecodePortStructure(std::span<const std::uint8_t> reply);
    int DecodeQueue(std::span<const std::uint8_t> reply);
    int DecodeCallerData(std::span<const std::uint8_t> reply);
    int DecodePersonalBlock(std::span<const std::uint8_t> reply);
    int DecodeShortBlock(std::span<const std::uint8_t> reply);
    int PersonalStatus() const;
    int ShortStatus();
    std::vector<std::uint8_t> BuildCommand(int slot) const;
    std::vector<std::uint8_t> BuildCounters() const;
    PortEntry* FindEntry(std::string_view number);

    void ReportFault(const std::string& text);

    LogWriter& faults_;
    Clock clock_;
    PluginFeed* plugin_ = nullptr;

    std::array<std::uint8_t, ANCapacity> an_{};
    std::array<std::uint8_t, SWCapacity> sw_{};
    std::uint32_t anLength_ = 0;
    std::uint32_t swLength_ = 0;
    std::size_t anReplyLength_ = 0;
    std::size_t swReplyLength_ = 0;
    TDateTime anTime_ = 0;
    TDateTime swTime_ = 0;
    std::array<std::uint8_t, InfoSize> info_{};
    std::array<CommandRecord, CommandSlots> commands_{};
    std::int32_t blockCounter_ = 0;
    std::array<PortEntry, MaxPorts> ports_{};
    std::uint8_t portCount_ = 0;
    std::array<std::uint8_t, ConfigurationSize> configuration_{};
    std::array<std::uint8_t, ShortMemorySize> shortNumbers_{};
    std::array<std::uint8_t, PortStructureSize> portStructure_{};
    std::int32_t commandIndex_ = 0;
    std::array<std::uint16_t, PersonalWords> personal_{};
    std::uint8_t messageSlot_ = 0;
};

} // namespace vantor
