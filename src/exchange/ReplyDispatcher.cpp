#include "exchange/ReplyDispatcher.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "core/Settings.h"
#include "exchange/DataStore.h"
#include "exchange/PluginFeed.h"
#include "toolkit/LogWriter.h"
#include "toolkit/Strings.h"
#include "toolkit/TextSource.h"
#include "toolkit/Timer.h"

namespace vantor {

namespace {

std::uint32_t TimerPeriod(std::int32_t ms) { return ms > 0 ? static_cast<std::uint32_t>(ms) : 0; }

// Payload bytes from `from` up to the first 0 byte or the end, as text.
std::string TextFrom(std::span<const std::uint8_t> payload, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < payload.size() && payload[i] != 0; ++i)
        text.push_back(static_cast<char>(payload[i]));
    return text;
}

} // namespace

ReplyDispatcher::ReplyDispatcher(DispatchLink& link, TDataStore& store, const Settings& settings,
                                 LogWriter& log, TextSource& texts, MailPort& mail,
                                 ReplyConsumers& consumers, MessageBoxFunction messageBox,
                                 std::string versionText)
    : link_(link), store_(store), settings_(settings), log_(log), texts_(texts), mail_(mail),
      consumers_(consumers), messageBox_(std::move(messageBox)),
      versionText_(std::move(versionText)) {}

bool ReplyDispatcher::PluginLoaded() const { return plugin_ != nullptr && plugin_->Active(); }

std::string ReplyDispatcher::Msg(int number) const { return texts_.Msg(number); }

bool ReplyDispatcher::KindIsCached(char kind) {
    switch (kind) {
    case '#':
    case 'A':
    case 'F':
    case 'U':
    case 'X':
    case 'Y': return false;
    default: return true;
    }
}

void ReplyDispatcher::HandlePacket(int count, const std::uint8_t* data) {
    if (count > 0 && data == nullptr) return;
    const LinkState state = link_.State();
    if (state != LinkState::AwaitingReply && state != LinkState::AwaitingClientReply) return;

    // Any frame while we wait proves the exchange is back, even a stale one.
    if (link_.LinkLost()) {
        log_.WriteLog("-OK-", Msg(117));
        mail_.SendTrap(2);
        link_.SetLinkLost(false);
    }
    if (count < 1) return; // not even a sequence number

    const std::uint8_t sequence = data[0];
    if (sequence != link_.LastSentSequence()) return;
    std::unique_ptr<SentRequest> record = link_.TakeSentRequest(sequence);
    if (!record) return;

    const std::span<const std::uint8_t> payload(data + 1, static_cast<std::size_t>(count - 1));
    try {
        Dispatch(*record, payload);
    } catch (const std::exception& e) {
        // A failing collaborator must not leave the link waiting for ever.
        log_.WriteLog("!Err", std::string("Reply handling failed: ") + e.what());
    }
    link_.SetState(LinkState::Idle);
    if (settings_.MaxCache != 0 && KindIsCached(record->kind))
        consumers_.CacheStore(record->payload, payload);
}

void ReplyDispatcher::HandleChar(std::uint8_t chr) {
    if (chr == NegativeAcknowledgement) link_.NegativeAcknowledge();
}

void ReplyDispatcher::Dispatch(const SentRequest& record, std::span<const std::uint8_t> payload) {
    switch (record.kind) {
    case '#': store_.DecodeReply('#', payload); break;
    case 'A': HandleLineStates(payload); break;
    case 'C': HandleConfiguration(payload); break;
    case 'F':
        store_.DecodeReply('F', payload);
        log_.WriteLog("<COM", "Fronta");
        break;
    case 'I': HandleInfo(payload); break;
    case 'M': HandleMessageCounters(payload); break;
    case 'S': HandleMessage(payload); break;
    case 'T': consumers_.ReplyToClient(record.value, payload, record.firstByte); break;
    case 'U': HandleAccounting(payload); break;
    case 'V':
        HandlePortList(payload);
        if (PluginLoaded()) link_.Timer(LinkTimer::AN).SetEnabled(true);
        break;
    case 'X':
        store_.DecodeReply('X', payload);
        log_.WriteLog("<COM", Msg(104));
        break;
    case 'Y':
        store_.DecodeReply('Y', payload);
        log_.WriteLog("<COM", "CLIP-UDATA");
        break;
    case 'p':
    case 's': HandleBlock(record.kind, payload); break;
    case 'x':
        log_.WriteLog("<COM", "PortStruct");
        store_.DecodeReply('x', payload);
        break;
    default: break;
    }
}

void ReplyDispatcher::HandleLineStates(std::span<const std::uint8_t> payload) {
    if (PluginLoaded()) {
        // The plug-in sees the change against the previous snapshot, and the
        // store keeps the reply with the flags the feed cleared.
        std::vector<std::uint8_t> reply(payload.begin(), payload.end());
        store_.LineStateFeed(reply, [this](int line) { link_.Enqueue('Y', line); });
        store_.DecodeReply('A', reply);
    } else {
        store_.DecodeReply('A', payload);
    }
    if (settings_.Com_In) log_.WriteLog("<COM", Msg(102));
}

void ReplyDispatcher::HandleConfiguration(std::span<const std::uint8_t> payload) {
    const int status = store_.DecodeReply('C', payload);
    if (status == StatusDone) {
        if (settings_.Com_In) log_.WriteLog("<COM", Msg(100));
    } else {
        log_.WriteLog("<COM", Msg(100) + " " + Msg(138) + IntToStr(status));
    }
}

std::string ReplyDispatcher::InfoMessage(int closingText) const {
    const auto& info = store_.ExchangeInfo();
    return Msg(139) + versionText_ + "    " + Msg(140) + IntToHex(info[0], 1) + "." +
           IntToHex(info[1], 2) + "\n" + Msg(closingText);
}

void ReplyDispatcher::HandleInfo(std::span<const std::uint8_t> payload) {
    const int status = store_.DecodeReply('I', payload);
    std::string text;
    switch (status) {
    case StatusDone: text = " " + Msg(145); break;
    case StatusWrongExchange:
        // Not an exchange this gateway can serve: polling stays stopped.
        link_.Timer(LinkTimer::Tick).SetEnabled(false);
        if (messageBox_) messageBox_(InfoMessage(141), Msg(137), MbIconStopOk);
        text = Msg(142);
        break;
    case StatusAskUser: {
        link_.Timer(LinkTimer::Tick).SetEnabled(false);
        const int answer =
            messageBox_ ? messageBox_(InfoMessage(143), Msg(123), MbIconQuestionYesNo) : 0;
        if (answer == IdYes) link_.Timer(LinkTimer::Tick).SetEnabled(true);
        text = Msg(144);
        break;
    }
    default: text = " " + Msg(138) + IntToStr(status); break;
    }
    if (settings_.Com_In || status != StatusDone) log_.WriteLog("<COM", Msg(101) + text);
}

void ReplyDispatcher::HandleMessageCounters(std::span<const std::uint8_t> payload) {
    const int result = payload.empty() ? 0 : payload[0];
    if (result != 0)
        log_.WriteLog("<COM", Msg(131) + IntToStr(result));
    else if (settings_.Com_PureIn)
        log_.WriteLog("<COM", Msg(132));
}

ReplyDispatcher::MessageParts ReplyDispatcher::SplitMessage(std::string_view text) {
    MessageParts parts;
    const std::size_t first = text.substr(0, MessageLineLimit).find('\n');
    if (first == std::string_view::npos) return parts;
    parts.recipient = std::string(text.substr(0, first));
    const std::string_view rest = text.substr(first + 1);
    const std::size_t second = rest.substr(0, MessageLineLimit).find('\n');
    if (second == std::string_view::npos) return parts;
    parts.subject = std::string(rest.substr(0, second));
    parts.body = std::string(rest.substr(second + 1, MessageBodyLimit));
    return parts;
}

void ReplyDispatcher::HandleMessage(std::span<const std::uint8_t> payload) {
    if (payload.empty()) return;
    if (payload[0] != 0) {
        log_.WriteLog("<COM", Msg(112) + IntToStr(payload[0]));
        return;
    }
    // A reply too short to hold a message type says "no message".
    const char type = payload.size() > 3 ? static_cast<char>(payload[3]) : '\0';
    if (type == '\0') {
        log_.WriteStatus("<COM", Msg(110));
        if (settings_.Com_PureIn) log_.WriteLog("<COM", Msg(110));
        return;
    }

    std::string kindName;
    switch (type) {
    case 'F': kindName = "FAX"; break;
    case 'I': kindName = "Internet"; break;
    case 'L': kindName = Msg(129); break;
    case 'Q': kindName = "SMS"; break;
    case 'V': kindName = Msg(130); break;
    case 'Z': kindName = "ZModem"; break;
    default: break;
    }
    const bool known = std::string_view("FILQVZ").find(type) != std::string_view::npos;
    if (known) {
        const MessageParts parts = SplitMessage(TextFrom(payload, 4));
        if (settings_.Com_In) log_.WriteLog("<COM", "TRAP: " + kindName + " to " + parts.recipient);
        log_.WriteLog(">602", "Mail: " + parts.subject + " to " + parts.recipient);
        mail_.SendStatusMessage(parts.recipient, type, parts.subject, parts.body, '1');
    }
    // The exchange frees the slot only when told; its answer is not awaited.
    const std::uint8_t number = payload.size() > 2 ? payload[2] : 0;
    const std::vector<std::uint8_t> ack = store_.BuildMessageAck(number);
    link_.SendPacket(">COM", Msg(111), ack);
}

void ReplyDispatcher::HandleAccounting(std::span<const std::uint8_t> payload) {
    store_.DecodeReply('U', payload);
    const std::string record = TextFrom(payload, 1);
    TTimer& poll = link_.Timer(LinkTimer::UR);
    if (record.empty()) {
        if (settings_.Com_PureIn) log_.WriteLog("<COM", Msg(128));
        poll.SetInterval(TimerPeriod(settings_.URIntervalBezDat));
        return;
    }
    if (PluginLoaded()) plugin_->PutAccLine(record);
    poll.SetInterval(TimerPeriod(settings_.URInterval));
    const bool failedBefore = store_.AccountingWriteFailed();
    if (!store_.AppendAccountingRecord(settings_.UctFile, record)) {
        // The next request asks for the same record again; say why once,
        // not on every retry.
        if (!failedBefore)
            log_.WriteLog("!Err", "Accounting file " + store_.AccountingPath(settings_.UctFile) +
                                      ": " + store_.AccountingError());
        return;
    }
    if (settings_.Com_In) log_.WriteLog("<COM", record);
    consumers_.KeepAccountingRecord(record);
}

void ReplyDispatcher::HandlePortList(std::span<const std::uint8_t> payload) {
    const int result = payload.empty() ? 0 : payload[0];
    // A reply of the bare 3-byte header (or less) lists no port: the link
    // has not really started.
    if (result == 0 && payload.size() > 3) {
        store_.DecodeReply('V', payload);
        if (settings_.Com_In) log_.WriteLog("<COM", Msg(106));
        if (mail_.Bound()) {
            link_.Timer(LinkTimer::MSG).SetEnabled(true);
            link_.Timer(LinkTimer::SMS).SetEnabled(true);
        }
        if (settings_.ReadUct) link_.Timer(LinkTimer::UR).SetEnabled(true);
    } else {
        if (settings_.Com_In) log_.WriteLog("<COM", Msg(105) + IntToStr(result));
    }
}

void ReplyDispatcher::HandleBlock(char kind, std::span<const std::uint8_t> payload) {
    const char* name = kind == 'p' ? "Personal" : "ShortMem";
    log_.WriteLog("<COM", name + IntToStr(store_.BlockCounter()));
    const int status = store_.DecodeReply(kind, payload);
    if (status == StatusMoreBlocks) {
        store_.SetBlockCounter(store_.BlockCounter() + 1);
        link_.Enqueue(kind, 0);
    } else if (kind == 'p') {
        // The personal data is in: the short numbers it refers to follow.
        store_.SetBlockCounter(0);
        link_.Enqueue('s', 0);
    }
}

} // namespace vantor
