#include "exchange/DataStore.h"
#include "exchange/ExchangeCommands.h"

#include "exchange/DigitEncoding.h"
#include "toolkit/EventLoop.h"
#include "toolkit/LogWriter.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace vantor {

namespace {

using namespace exchange;

// Command record (plug-in command) layout.
constexpr std::size_t RecordKind = 0;
constexpr std::size_t RecordPort = 4;
constexpr std::size_t RecordData = 8;
constexpr std::size_t RecordDataSize = TDataStore::CommandSize - RecordData; // 80
constexpr std::size_t DialChunk = 8;

// Key codes for the simple plug-in commands, by command kind.
std::optional<std::uint8_t> KeyCodeOf(std::uint8_t kind) {
    switch (kind) {
    case 0: return 0x53; // speaker
    case 1: return 0x54; // microphone
    case 2: return 0x5B; // volume up
    case 3: return 0x5C; // volume down
    case 7: return 0x58; // transfer
    case 9: return 0x57; // park
    default: return std::nullopt;
    }
}

// Copies what the reply holds from `offset`, at most `capacity` bytes.
std::size_t CopyFrom(std::span<const std::uint8_t> reply, std::size_t offset, std::uint8_t* dest,
                     std::size_t capacity) {
    if (reply.size() <= offset) return 0;
    const std::size_t n = std::min(reply.size() - offset, capacity);
    std::memcpy(dest, reply.data() + offset, n);
    return n;
}

} // namespace

TDataStore::TDataStore(LogWriter& faults, Clock clock)
    : faults_(faults), clock_(std::move(clock)) {}

TDataStore::TDataStore(LogWriter& faults, const EventLoop& loop)
    : TDataStore(faults, [&loop] { return loop.now(); }) {}

void TDataStore::ReportFault(const std::string& text) { faults_.WriteLog("!Err", text); }

// ---------------------------------------------------------------- builders

std::vector<std::uint8_t> TDataStore::BuildRequest(RequestKind kind, int arg) {
    using enum RequestKind;
    switch (kind) {
    case LineStates: return {CmdQuery, SubLineStates, 0};
    case SWState: return {CmdSW};
    case Configuration: return {CmdConfiguration};
    case Identification: return {CmdInfo};
    case PortList: return {CmdQuery, SubPortList, 0};
    case PortStructure: return {CmdQuery, SubPortStructure, 0};
    case Queue: return {CmdQueue};
    case CallerData: return {CmdQuery, SubCallerData, static_cast<std::uint8_t>(arg - info_[2])};
    case PersonalData:
        return {CmdQuery, SubPersonalBlock, static_cast<std::uint8_t>(blockCounter_)};
    case ShortNumbers:
        if (blockCounter_ >= 0 && blockCounter_ < ShortBlocks &&
            ShortBlockReferenced(blockCounter_))
            return {CmdQuery, SubShortBlock, static_cast<std::uint8_t>(blockCounter_)};
        return {};
    case Accounting: return {arg != 0 ? CmdAccountingAgain : CmdAccountingNext};
    case MessageSlot: {
        std::vector<std::uint8_t> request{CmdQuery, SubMessageSlot, messageSlot_};
        messageSlot_ = static_cast<std::uint8_t>((messageSlot_ + 1) % 4);
        return request;
    }
    case MessageCounters: return BuildCounters();
    case PluginCommand: return BuildCommand(arg);
    case Client: return {};
    }
    return {};
}

std::vector<std::uint8_t> TDataStore::BuildCounters() const {
    std::vector<std::uint8_t> request{CmdWrite, SubCounters, 0};
    request.reserve(3 + 4 * std::size_t{portCount_});
    for (std::size_t i = 0; i < portCount_; ++i)
        request.insert(request.end(), std::begin(ports_[i].counters), std::end(ports_[i].counters));
    return request;
}

std::vector<std::uint8_t> TDataStore::BuildCommand(int slot) const {
    if (slot < 0 || slot >= static_cast<int>(CommandSlots)) return {};
    const CommandRecord& record = commands_[static_cast<std::size_t>(slot)];
    const std::uint8_t kind = record[RecordKind];
    const std::uint8_t port = record[RecordPort]; // low byte of the 32-bit port
    const std::uint8_t* data = record.data() + RecordData;

    if (auto key = KeyCodeOf(kind)) return {CmdKey, port, *key};
    switch (kind) {
    case 4: { // one dial chunk of at most 8 characters
        std::size_t length = 0;
        while (length < DialChunk && data[length] != 0) ++length;
        std::vector<std::uint8_t> request(2 + length);
        request[0] = CmdKey;
        request[1] = port;
        EncodeDialText(std::string_view(reinterpret_cast<const char*>(data), length),
                       std::span(request).subspan(2));
        return request;
    }
    case 5: return {CmdQueueAction, port, data[0]};
    case 8: return {CmdHold, port, data[0]};
    case 6: {
        // Two length-prefixed fields, the second starting at data byte L1.
        // A record whose lengths point beyond its 80 data bytes is cut there.
        const std::size_t l1 = data[0];
        const std::size_t l2 = l1 < RecordDataSize ? data[l1] : 0;
        const std::size_t length = std::min(l1 + l2, RecordDataSize);
        std::vector<std::uint8_t> request{CmdShortEntry, record[1], record[3]};
        request.insert(request.end(), data, data + length);
        return request;
    }
    default: return {};
    }
}

std::vector<std::uint8_t> TDataStore::BuildMessageAck(std::uint8_t number) const {
    std::vector<std::uint8_t> request(MessageAckSize, 0);
    request[0] = CmdWrite;
    request[1] = SubMessageSlot;
    request[2] = number;
    return request;
}

// ---------------------------------------------------------------- decoders

DecodeResult TDataStore::DecodeReply(RequestKind kind, std::span<const std::uint8_t> reply) {
    if (reply.empty()) return {};
    using enum RequestKind;
    switch (kind) {
    case LineStates:
        anLength_ = static_cast<std::uint32_t>(CopyFrom(reply, 0, an_.data(), an_.size()));
        anReplyLength_ = reply.size();
        anTime_ = clock_();
        return {};
    case SWState:
        swLength_ = static_cast<std::uint32_t>(CopyFrom(reply, 0, sw_.data(), sw_.size()));
        swReplyLength_ = reply.size();
        swTime_ = clock_();
        return {};
    case Configuration: return DecodeConfiguration(reply);
    case Identification: return DecodeInfo(reply);
    case PortList: return {DecodePortList(reply)};
    case PortStructure: return {DecodePortStructure(reply)};
    case Queue: return {DecodeQueue(reply)};
    case CallerData: return {DecodeCallerData(reply)};
    case PersonalData: return {DecodePersonalBlock(reply)};
    case ShortNumbers: return {DecodeShortBlock(reply)};
    case PluginCommand: return {reply[0]};
    // Accounting records, message slots, counters and relayed replies are
    // taken by others.
    case Accounting:
    case MessageSlot:
    case MessageCounters:
    case Client: return {};
    }
    return {};
}

DecodeResult TDataStore::DecodeConfiguration(std::span<const std::uint8_t> reply) {
    if (reply[0] != 0) return {reply[0]};
    const std::size_t n = std::min(reply.size() - 1, configuration_.size());
    const bool changed = std::memcmp(reply.data() + 1, configuration_.data(), n) != 0;
    std::memcpy(configuration_.data(), reply.data() + 1, n);
    return {StatusDone, changed};
}

DecodeResult TDataStore::DecodeInfo(std::span<const std::uint8_t> reply) {
    if (reply[0] != 0) return {reply[0]};
    const std::size_t n = std::min(reply.size() - 1, info_.size());
    const bool changed = std::memcmp(reply.data() + 1, info_.data(), n) != 0;
    std::memcpy(info_.data(), reply.data() + 1, n);
    if (info_[3] > MaxPersonalBlocks)
        ReportFault("Exchange announces " + std::to_string(info_[3]) +
                    " personal-data blocks, only " + std::to_string(MaxPersonalBlocks) +
                    " are read");
    if (PluginActive()) plugin_->PutInfo(info_);
    if (configuration_[4] != 2) return {StatusWrongExchange, changed};
    if (configuration_[5] != 0) return {StatusAskUser, changed};
    return {StatusDone, changed};
}

int TDataStore::DecodePortList(std::span<const std::uint8_t> reply) {
    if (reply[0] != 0) return StatusNothing;
    std::size_t count = reply.size() < 3 ? 0 : (reply.size() - 3) / 4;
    if (count > MaxPorts) {
        ReportFault("Exchange lists " + std::to_string(count) + " ports, only " +
                    std::to_string(MaxPorts) + " are kept");
        count = MaxPorts;
    }
    std::array<std::uint8_t, PortNumberArraySize> numbers{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::string number = DecodePortNumber(reply.subspan(3 + 4 * i, 4), 4);
        PortEntry& entry = ports_[i];
        std::memset(entry.number, 0, sizeof entry.number);
        std::memcpy(entry.number, number.data(), number.size());
        std::memcpy(numbers.data() + 4 * i, number.data(), number.size());
    }
    portCount_ = static_cast<std::uint8_t>(count);
    if (PluginActive()) plugin_->PutLines(portCount_, numbers);
    return StatusNothing;
}

int TDataStore::DecodePortStructure(std::span<const std::uint8_t> reply) {
    if (reply[0] != 0) return StatusNothing;
    CopyFrom(reply, 3, portStructure_.data(), portStructure_.size());
    if (PluginActive()) plugin_->PutPorts(portStructure_);
    return StatusNothing;
}

int TDataStore::DecodeQueue(std::span<const std::uint8_t> reply) {
    if (reply[0] != 0) return reply[0];
    if (PluginActive()) plugin_->PutFront(info_[2], reply.subspan(1));
    return StatusNothing;
}

int TDataStore::DecodeCallerData(std::span<const std::uint8_t> reply) {
    if (reply[0] != 0) return reply[0];
    if (PluginActive() && reply.size() >= 3) {
        const int line = reply[2] + info_[2];
        plugin_->PutCLIP(line,
                         reply.size() > 11 ? reply.subspan(11) : std::span<const std::uint8_t>{});
        plugin_->PutStates(LineCount(), ANSnapshot().subspan(std::min<std::size_t>(3, anLength_)));
    }
    return StatusNothing;
}

int TDataStore::PersonalBlocks() const { return std::min<int>(info_[3], MaxPersonalBlocks); }

int TDataStore::PersonalStatus() const {
    return blockCounter_ < PersonalBlocks() - 1 ? StatusMoreBlocks : StatusDone;
}

int TDataStore::DecodePersonalBlock(std::span<const std::uint8_t> reply) {
    if (reply[0] != 0) return StatusNothing;
    if (blockCounter_ >= 0 && blockCounter_ < MaxPersonalBlocks) {
        auto* bytes = reinterpret_cast<std::uint8_t*>(personal_.data());
        CopyFrom(reply, 3, bytes + static_cast<std::size_t>(blockCounter_) * PersonalBlockSize,
                 PersonalBlockSize);
    } else {
        ReportFault("Personal-data block " + std::to_string(blockCounter_) + " refused");
    }
    return PersonalStatus();
}

bool TDataStore::ShortBlockReferenced(int block) const {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(personal_.data());
    const int words = PersonalBlocks() * 32;
    const int low = block * static_cast<int>(ShortBlockSize) - 81;
    const int high = block * static_cast<int>(ShortBlockSize) + 235;
    for (int w = 0; w < words; ++w) {
        const int value = bytes[2 * w] << 8 | bytes[2 * w + 1]; // high byte first
        if (value >= low && value <= high) return true;
    }
    return false;
}

int TDataStore::ShortStatus() {
    if (blockCounter_ < ShortBlocks) return StatusMoreBlocks;
    if (PluginActive()) plugin_->PutShorts(shortNumbers_, personal_);
    return StatusDone;
}

int TDataStore::DecodeShortBlock(std::span<const std::uint8_t> reply) {
    if (reply[0] != 0) return StatusNothing;
    if (blockCounter_ >= 0 && blockCounter_ < ShortBlocks)
        CopyFrom(reply, 3,
                 shortNumbers_.data() + static_cast<std::size_t>(blockCounter_) * ShortBlockSize,
                 ShortBlockSize);
    return ShortStatus();
}

int TDataStore::SkipBlock(RequestKind kind) {
    switch (kind) {
    case RequestKind::PersonalData: return PersonalStatus();
    case RequestKind::ShortNumbers: return ShortStatus();
    default: return StatusNothing;
    }
}

void TDataStore::LineStateFeed(std::span<std::uint8_t> reply,
                               const std::function<void(int line)>& queueCallerData) {
    if (!PluginActive() || anLength_ < 4) return;
    // Lines of the previous snapshot that the new reply also holds; a shorter
    // reply is only examined as far as it goes.
    const std::size_t previous = (anLength_ - 3) / 4;
    const std::size_t present = reply.size() < 3 ? 0 : (reply.size() - 3) / 4;
    const std::size_t n = std::min(previous, present);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t* entry = reply.data() + 3 + 4 * i;
        const std::uint8_t* old = an_.data() + 3 + 4 * i;
        if (entry[0] != 8 && entry[0] != 2) entry[3] = 0;
        if (entry[0] == 8 && (old[3] & 1) == 0 && (entry[3] & 1) != 0 && queueCallerData)
            queueCallerData(static_cast<int>(i));
    }
    plugin_->PutStates(static_cast<int>(n), std::span<const std::uint8_t>(reply).subspan(
                                                std::min<std::size_t>(3, reply.size()), 4 * n));
}

// ---------------------------------------------------------------- ports

PortEntry* TDataStore::FindEntry(std::string_view number) {
    const std::uint8_t index = FindPort(number);
    return index == NoPort ? nullptr : &ports_[index];
}

std::uint8_t TDataStore::FindPort(std::string_view number) const {
    for (std::size_t i = 0; i < portCount_; ++i)
        if (ports_[i].Number() == number) return static_cast<std::uint8_t>(i);
    return NoPort;
}

std::uint8_t TDataStore::SetCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                                     std::uint8_t c, std::uint8_t d) {
    PortEntry* entry = FindEntry(number);
    if (!entry) return NoPort;
    entry->counters[0] = a;
    entry->counters[1] = c;
    entry->counters[2] = b;
    entry->counters[3] = d;
    return d;
}

std::uint8_t TDataStore::AddCounters(std::string_view number, std::uint8_t a, std::uint8_t b,
                                     std::uint8_t c, std::uint8_t d) {
    PortEntry* entry = FindEntry(number);
    if (!entry) return NoPort;
    entry->counters[0] = static_cast<std::uint8_t>(entry->counters[0] + a);
    entry->counters[1] = static_cast<std::uint8_t>(entry->counters[1] + c);
    entry->counters[2] = static_cast<std::uint8_t>(entry->counters[2] + b);
    entry->counters[3] = static_cast<std::uint8_t>(entry->counters[3] + d);
    return d;
}

void TDataStore::ClearCounters() {
    for (std::size_t i = 0; i < portCount_; ++i)
        std::memset(ports_[i].counters, 0, sizeof ports_[i].counters);
}

// ---------------------------------------------------------------- commands

int TDataStore::StoreCommand(std::span<const std::uint8_t, CommandSize> record) {
    const int slot = commandIndex_;
    std::copy(record.begin(), record.end(), commands_[static_cast<std::size_t>(slot)].begin());
    commandIndex_ = (commandIndex_ + 1) % static_cast<int>(CommandSlots);
    return slot;
}

bool TDataStore::WriteWatch(std::span<const std::uint8_t> request) const {
    if (request.size() < 2 || request[0] != CmdWrite) return false;
    return (request[1] == 13 || request[1] == 18 || request[1] == 24) && PluginActive();
}

} // namespace vantor
