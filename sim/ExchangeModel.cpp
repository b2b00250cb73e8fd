#include "ExchangeModel.h"

#include <algorithm>
#include <cstdio>

namespace vantor::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Stable mixing of a few numbers into one, so that generated data depends
// only on the seed and its coordinates, never on the order of requests.
std::uint32_t Mix(std::uint32_t a, std::uint32_t b, std::uint32_t c = 0) {
    std::uint32_t h =
        a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

// Digit codes of the port-number alphabet: '1'..'9' are 1..9, '0' is 10.
std::uint8_t PortCode(char c) { return c == '0' ? 10 : static_cast<std::uint8_t>(c - '0'); }

std::uint8_t At(std::span<const std::uint8_t> req, std::size_t i) {
    return i < req.size() ? req[i] : 0;
}

} // namespace

const char* KindName(char kind) {
    switch (kind) {
    case '#': return "command";
    case 'A': return "line states";
    case 'C': return "configuration";
    case 'F': return "queue";
    case 'I': return "info";
    case 'M': return "message counters";
    case 'S': return "message slot";
    case 'U': return "accounting";
    case 'V': return "port list";
    case 'X': return "SW state";
    case 'Y': return "caller data";
    case 'p': return "personal data";
    case 's': return "short numbers";
    case 'x': return "port structure";
    case 'a': return "message ack";
    case 'q': return "query";
    case 'w': return "write";
    default: return "unknown";
    }
}

ExchangeModel::ExchangeModel(ModelConfig config) : config_(config), rng_(config.seed) {
    config_.ports = std::clamp(config_.ports, 0, MaxPorts);
    config_.infoBlocks = std::min<std::uint8_t>(config_.infoBlocks, MaxPersonalBlocks);
    if (config_.lineStepMs == 0) config_.lineStepMs = 1;
    lines_.resize(static_cast<std::size_t>(config_.ports));
    budget_ = config_.records;
    generated_ = handed_ = config_.recordsHanded;
    nextRecordAtMs_ = config_.recordEveryMs;
}

char ExchangeModel::Classify(std::span<const std::uint8_t> req) {
    if (req.empty()) return '?';
    switch (req[0]) {
    case 0:
        switch (At(req, 1)) {
        case 1: return 'S';
        case 14: return 'V';
        case 22: return 'A';
        case 24: return 's';
        case 25: return 'p';
        case 40: return 'x';
        case 47: return 'Y';
        default: return 'q';
        }
    case 1:
        if (req.size() >= 2 && req[1] == 17) return 'M';
        if (req.size() >= 2 && req[1] == 1) return 'a';
        return 'w';
    case 2: return 'I';
    case 4:
    case 5: return 'U';
    case 13: return 'C';
    case 14: return 'X';
    case 33: return 'F';
    case 18:
    case 34:
    case 36:
    case 38: return '#';
    default: return '?';
    }
}

Reply ExchangeModel::Handle(std::uint8_t sequence, std::span<const std::uint8_t> req,
                            std::uint64_t nowMs) {
    AdvanceTo(nowMs);
    if (havePrevious_ && sequence == previousSequence_ &&
        std::equal(req.begin(), req.end(), previousRequest_.begin(), previousRequest_.end())) {
        ++resends_;
        Reply again = previousReply_;
        again.repeated = true;
        return again;
    }
    Reply reply;
    reply.kind = Classify(req);
    ++counts_[reply.kind];
    reply.payload = answer(reply.kind, req);
    havePrevious_ = true;
    previousSequence_ = sequence;
    previousRequest_.assign(req.begin(), req.end());
    previousReply_ = reply;
    return reply;
}

Bytes ExchangeModel::answer(char kind, std::span<const std::uint8_t> req) {
    switch (kind) {
    case 'C': return configuration();
    case 'I': return info();
    case 'x': return portStructure();
    case 'V': return portList();
    case 'A': return lineStates();
    case 'X': return swState();
    case 'S': return messageSlot(At(req, 2));
    case 'a': return messageAck(req);
    case 'M': return counters(req);
    case 'U': return accounting(req[0] == 4);
    case 'F': return queue();
    case 'Y': return callerData(At(req, 2));
    case 'p': return personal(At(req, 2));
    case 's': return shortNumbers(At(req, 2));
    case '#': return command(req);
    case 'q': return QueryReply(req);
    case 'w':
        if (req.size() < 2) return {ErrBadParameter};
        return {0, req[1]};
    default: return {ErrUnknownCommand};
    }
}

// ---- time ------------------------------------------------------------------

void ExchangeModel::AdvanceTo(std::uint64_t nowMs) {
    if (nowMs < nowMs_) return; // the clock never goes back
    nowMs_ = nowMs;
    std::uint64_t target = nowMs / config_.lineStepMs;
    // After a long pause only the last steps matter; skip the rest.
    if (target > lineSteps_ + 600) lineSteps_ = target - 600;
    while (lineSteps_ < target) {
        stepLines();
        ++lineSteps_;
    }
    if (config_.recordEveryMs > 0 && nowMs >= nextRecordAtMs_) {
        std::uint64_t due = (nowMs - nextRecordAtMs_) / config_.recordEveryMs + 1;
        if (budget_) due = std::min(due, *budget_);
        generated_ += due;
        if (budget_) *budget_ -= due;
        nextRecordAtMs_ +=
            ((nowMs - nextRecordAtMs_) / config_.recordEveryMs + 1) * config_.recordEveryMs;
    }
}

void ExchangeModel::stepLines() {
    const int n = static_cast<int>(lines_.size());
    for (int i = 0; i < n; ++i) {
        Line& l = lines_[i];
        const std::uint32_t roll = rng_() % 60;
        const std::uint8_t before = l.state;
        switch (l.state) {
        case LineFree:
            if (roll < 5) {
                l.state = LineRinging;
                l.call = ++callCounter_;
                // Most incoming calls carry caller data.
                l.flags = (rng_() % 4 != 0) ? FlagCallerData : 0;
                l.partner = 0xFF;
            } else if (roll < 9) {
                l.state = LineDialling;
                l.flags = 0;
                l.partner = 0xFF;
            }
            break;
        case LineRinging:
            if (roll < 20) {
                l.state = LineConnected;
                l.partner = static_cast<std::uint8_t>(rng_() % std::max(n, 1));
            } else if (roll < 30) {
                l.state = LineFree;
                l.flags = 0;
            }
            break;
        case LineDialling:
            if (roll < 30) {
                l.state = LineConnected;
                l.partner = static_cast<std::uint8_t>(rng_() % std::max(n, 1));
            } else if (roll < 40) {
                l.state = LineBusy;
                l.flags = FlagBusyTone;
            }
            break;
        case LineConnected:
            if (roll < 12) {
                l.state = LineFree;
                l.flags = 0;
                l.partner = 0xFF;
            }
            break;
        default: // busy
            if (roll < 30) {
                l.state = LineFree;
                l.flags = 0;
            }
            break;
        }
        if (l.state != before)
            l.seconds = 0;
        else
            l.seconds = static_cast<std::uint8_t>(std::min<std::uint32_t>(
                255u, l.seconds + std::max<std::uint32_t>(1u, config_.lineStepMs / 1000)));
    }
}

// ---- fixed data ------------------------------------------------------------

Bytes ExchangeModel::configuration() const {
    Bytes r{0};
    for (int i = 0; i < ConfigurationSize; ++i) r.push_back(static_cast<std::uint8_t>(i * 17 + 3));
    r[1 + 0] = static_cast<std::uint8_t>(config_.ports);
    r[1 + 4] = config_.configByte4;
    r[1 + 5] = config_.configByte5;
    r[1 + 15] = 0xEE; // keeps the escaping honest on the very first reply
    return r;
}

Bytes ExchangeModel::info() const {
    // Identification 3.05, then line offset, personal blocks and three more bytes.
    return {0, 0x03, 0x05, config_.lineOffset, config_.infoBlocks, 0x20, 0x12, 0x08};
}

Bytes ExchangeModel::portStructure() const {
    Bytes r{0, 40, 0};
    Bytes s(PortStructureSize, 0);
    s[0] = static_cast<std::uint8_t>(config_.ports);
    s[1] = config_.lineOffset;
    for (int i = 0; i < config_.ports && 2 + 2 * i + 1 < PortStructureSize; ++i) {
        s[2 + 2 * i] =
            static_cast<std::uint8_t>(i % 3 == 2 ? 2 : 1);   // port type: analogue / system set
        s[2 + 2 * i + 1] = static_cast<std::uint8_t>(i / 8); // group
    }
    s[PortStructureSize - 1] = 0xEE;
    r.insert(r.end(), s.begin(), s.end());
    return r;
}

std::string ExchangeModel::PortNumber(int index) { return std::to_string(101 + index); }

Bytes ExchangeModel::portList() const {
    Bytes r{0, 14, 0};
    for (int i = 0; i < config_.ports; ++i) {
        std::string number = PortNumber(i);
        for (int k = 0; k < 4; ++k)
            r.push_back(k < static_cast<int>(number.size()) ? PortCode(number[k]) : 0);
    }
    return r;
}

Bytes ExchangeModel::lineStates() const {
    Bytes r{0, 22, 0};
    for (const Line& l : lines_) {
        r.push_back(l.state);
        r.push_back(l.partner);
        r.push_back(l.seconds);
        r.push_back(l.flags);
    }
    return r;
}

Bytes ExchangeModel::swState() const {
    Bytes r(SwStateSize, 0);
    const std::uint32_t uptime = static_cast<std::uint32_t>(nowMs_ / 1000);
    for (int i = 0; i < 4; ++i) r[1 + i] = static_cast<std::uint8_t>(uptime >> (8 * i));
    int busy = 0, ringing = 0;
    for (const Line& l : lines_) {
        if (l.state != LineFree) ++busy;
        if (l.state == LineRinging) ++ringing;
    }
    r[5] = static_cast<std::uint8_t>(busy);
    r[6] = static_cast<std::uint8_t>(ringing);
    r[7] = 0x5A;
    r[8] = 0x01;
    r[11] = static_cast<std::uint8_t>(lineSteps_);
    return r;
}

// ---- messages --------------------------------------------------------------

Bytes ExchangeModel::messageSlot(std::uint8_t slot) {
    ++slotPolls_;
    const bool due = config_.messageEvery != 0 && slotPolls_ % config_.messageEvery == 0;
    if (!pending_ && (due || forceMessage_)) {
        forceMessage_ = false;
        static constexpr char Types[] = {'Q', 'F', 'I', 'L', 'V', 'Z'};
        Message m;
        lastMessageNumber_ = static_cast<std::uint8_t>(lastMessageNumber_ % 255 + 1);
        m.number = lastMessageNumber_;
        ++messagesOffered_;
        m.type = Types[(messagesOffered_ - 1) % std::size(Types)];
        const int port = config_.ports > 0 ? static_cast<int>(messagesOffered_ % config_.ports) : 0;
        m.recipient = "user" + PortNumber(port) + "@mail.local";
        m.second =
            "60" + std::to_string(1000000 + Mix(config_.seed, 77,
                                                static_cast<std::uint32_t>(messagesOffered_)) %
                                                9000000);
        char body[100];
        std::snprintf(body, sizeof body, "Message %06llu for %s",
                      static_cast<unsigned long long>(messagesOffered_), PortNumber(port).c_str());
        m.body = body;
        pending_ = m;
    }
    if (!pending_) return {0, slot, 0, 0};
    Bytes r{0, slot, pending_->number, static_cast<std::uint8_t>(pending_->type)};
    std::string text = pending_->recipient + '\n' + pending_->second + '\n' + pending_->body;
    r.insert(r.end(), text.begin(), text.end());
    return r;
}

Bytes ExchangeModel::messageAck(std::span<const std::uint8_t> req) {
    if (req.size() < 3) return {ErrBadParameter};
    if (pending_ && pending_->number == req[2]) {
        pending_.reset();
        ++messagesAcked_;
    }
    return {0};
}

Bytes ExchangeModel::counters(std::span<const std::uint8_t> req) {
    if (req.size() < 3 || (req.size() - 3) % 4 != 0) return {ErrBadParameter};
    counters_.assign(req.begin() + 3, req.end());
    return {0};
}

// ---- accounting ------------------------------------------------------------

bool ExchangeModel::recordWaiting() const {
    if (handed_ < generated_) return true;
    // Without a generation period a record is made when asked for.
    return config_.recordEveryMs == 0 && (!budget_ || *budget_ > 0);
}

void ExchangeModel::SetRecordBudget(std::uint64_t n) { budget_ = n; }

std::string ExchangeModel::RecordText(std::uint64_t number) {
    // A call every 97 seconds from 08.12.2026 08:00:00 on, numbers and costs
    // varying with the record number.
    const std::uint64_t t = 8 * 3600 + number * 97;
    const unsigned day = 8 + static_cast<unsigned>(t / 86400) % 20;
    const unsigned secOfDay = static_cast<unsigned>(t % 86400);
    const std::uint32_t h = Mix(static_cast<std::uint32_t>(number), 0xACC);
    const unsigned duration = 5 + h % 900;
    char text[120];
    std::snprintf(text, sizeof text,
                  "REC %06llu %02u.12.2026 %02u:%02u:%02u %s 0%09u %02u:%02u:%02u %u.%02u",
                  static_cast<unsigned long long>(number), day, secOfDay / 3600, secOfDay / 60 % 60,
                  secOfDay % 60, PortNumber(static_cast<int>(h % 8)).c_str(),
                  200000000 + (h >> 8) % 700000000, duration / 3600, duration / 60 % 60,
                  duration % 60, duration / 30, (h >> 4) % 100);
    return text;
}

Bytes ExchangeModel::accounting(bool next) {
    if (next) {
        if (!recordWaiting()) return {0};
        if (handed_ == generated_) { // made on demand
            ++generated_;
            if (budget_) --*budget_;
        }
        ++handed_;
    } else if (handed_ == 0) {
        return {0};
    }
    Bytes r{0};
    std::uint64_t number = handed_;
    while (number > 1 && twins_.count(number)) --number;
    const std::string text = RecordText(number);
    r.insert(r.end(), text.begin(), text.end());
    return r;
}

// ---- call centre -----------------------------------------------------------

Bytes ExchangeModel::queue() const {
    Bytes r{0, 0};
    for (std::size_t i = 0; i < lines_.size() && r[1] < 32; ++i) {
        if (lines_[i].state != LineRinging) continue;
        r.push_back(static_cast<std::uint8_t>(i));
        r.push_back(lines_[i].seconds);
        ++r[1];
    }
    return r;
}

std::string ExchangeModel::CallerNumber(int line) const {
    const std::uint32_t call =
        line >= 0 && line < static_cast<int>(lines_.size()) ? lines_[line].call : 0;
    return "60" +
           std::to_string(1000000 +
                          Mix(config_.seed, static_cast<std::uint32_t>(line), call) % 9000000);
}

Bytes ExchangeModel::callerData(std::uint8_t index) const {
    const int line = index + config_.lineOffset;
    if (line >= static_cast<int>(lines_.size())) return {ErrBadParameter};
    const Line& l = lines_[line];
    Bytes r{0, 47, index, l.state, l.partner, l.seconds, l.flags, 0, 0, 0, 0};
    if (l.state == LineRinging && (l.flags & FlagCallerData)) {
        std::string number = CallerNumber(line);
        std::string name = "Caller " + std::to_string(l.call);
        r.insert(r.end(), number.begin(), number.end());
        r.push_back(0);
        r.insert(r.end(), name.begin(), name.end());
    }
    r.push_back(0);
    return r;
}

Bytes ExchangeModel::personal(std::uint8_t page) const {
    if (page >= config_.infoBlocks) return {ErrBadParameter};
    Bytes r{0, 25, page};
    for (int w = 0; w < PersonalBlockSize / 2; ++w) {
        const int g = page * (PersonalBlockSize / 2) + w;
        // Every fourth entry points into the short-number memory, the rest are empty.
        std::uint16_t word = 0xFFFF;
        if (g % 4 == 0)
            word = static_cast<std::uint16_t>((g / 4 * 421 + 17 + config_.seed) %
                                              (ShortBlocks * ShortBlockSize));
        r.push_back(static_cast<std::uint8_t>(word >> 8)); // high byte first
        r.push_back(static_cast<std::uint8_t>(word));
    }
    return r;
}

Bytes ExchangeModel::shortNumbers(std::uint8_t page) const {
    if (page >= ShortBlocks) return {ErrBadParameter};
    Bytes r{0, 24, page};
    Bytes block(ShortBlockSize, 0);
    // Eleven entries of 21 bytes: a length and up to 20 dial codes.
    for (int e = 0; e < 11; ++e) {
        const int len = 3 + (page + e) % 10;
        block[e * 21] = static_cast<std::uint8_t>(len);
        for (int k = 0; k < len; ++k)
            block[e * 21 + 1 + k] = static_cast<std::uint8_t>(1 + Mix(page, e, k) % 10);
    }
    r.insert(r.end(), block.begin(), block.end());
    return r;
}

Bytes ExchangeModel::command(std::span<const std::uint8_t> req) {
    lastCommand_.assign(req.begin(), req.end());
    if (req.size() < 3) return {ErrBadParameter};
    if (req[0] == 36) {
        // Short-number store: two length-prefixed fields after the two
        // parameters; each length counts its own byte.
        if (req.size() < 4) return {ErrBadParameter};
        const std::size_t l1 = req[3];
        const std::size_t l2 = 3 + l1 < req.size() ? req[3 + l1] : 0;
        if (l1 == 0 || 3 + l1 + l2 > req.size()) return {ErrBadParameter};
    }
    return {0};
}

Bytes ExchangeModel::QueryReply(std::span<const std::uint8_t> req) {
    // Derived from the sub-command and the index, so that a reply handed to
    // the wrong client, or to the wrong question, shows.
    const std::uint8_t sub = At(req, 1), index = At(req, 2);
    Bytes r{0, sub, index};
    const int n = 4 + (sub * 3 + index) % 29;
    for (int i = 0; i < n; ++i)
        r.push_back(static_cast<std::uint8_t>(sub * 31 + index * 7 + i * 13 + 0x5B));
    if (req.size() > 3) r.insert(r.end(), req.begin() + 3, req.end());
    return r;
}

} // namespace vantor::sim
