#include "exchange/ReplyDispatcher.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "accounting/AccountingFile.h"
#include "accounting/AccountingRecordList.h"
#include "accounting/AccountingSettings.h"
#include "exchange/DataStore.h"
#include "exchange/ExchangeCommands.h"
#include "exchange/MailPort.h"
#include "exchange/PluginFeed.h"
#include "nls/TextIds.h"
#include "toolkit/LogSettings.h"
#include "toolkit/LogWriter.h"
#include "toolkit/Strings.h"
#include "toolkit/TextSource.h"

namespace vantor {

namespace {

// Payload bytes from `from` up to the first 0 byte or the end, as text.
std::string TextFrom(std::span<const std::uint8_t> payload, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < payload.size() && payload[i] != 0; ++i)
        text.push_back(static_cast<char>(payload[i]));
    return text;
}

} // namespace

ReplyDispatcher::ReplyDispatcher(Parts parts) : p_(std::move(parts)) {}

bool ReplyDispatcher::PluginLoaded() const { return plugin_ != nullptr && plugin_->Active(); }

std::string ReplyDispatcher::Msg(int number) const { return p_.texts.Msg(number); }

void ReplyDispatcher::Dispatch(const SentRequest& record, std::span<const std::uint8_t> payload) {
    try {
        HandleByKind(record, payload);
    } catch (const std::exception& e) {
        // A failing collaborator must not keep the reply from the cache nor
        // the link from going on.
        p_.log.WriteLog("!Err", std::string("Reply handling failed: ") + e.what());
    }
    if (InfoOf(record.kind).cached) p_.relay.OfferToCache(record.payload, payload);
}

void ReplyDispatcher::HandleByKind(const SentRequest& record,
                                   std::span<const std::uint8_t> payload) {
    using enum RequestKind;
    switch (record.kind) {
    case PluginCommand: p_.store.DecodeReply(PluginCommand, payload); break;
    case LineStates: HandleLineStates(payload); break;
    case Configuration: HandleConfiguration(payload); break;
    case Queue:
        p_.store.DecodeReply(Queue, payload);
        p_.log.WriteLog("<COM", "Fronta");
        break;
    case Identification: HandleInfo(payload); break;
    case MessageCounters: HandleMessageCounters(payload); break;
    case MessageSlot: HandleMessage(payload); break;
    case Client: p_.relay.ReplyToClient(record.value, payload, record.firstByte); break;
    case Accounting: HandleAccounting(record, payload); break;
    case PortList:
        HandlePortList(payload);
        if (PluginLoaded()) p_.link.StartPoll(Poll::LineStates);
        break;
    case SWState:
        p_.store.DecodeReply(SWState, payload);
        p_.log.WriteLog("<COM", Msg(msg::SWState));
        break;
    case CallerData:
        p_.store.DecodeReply(CallerData, payload);
        p_.log.WriteLog("<COM", "CLIP-UDATA");
        break;
    case PersonalData:
    case ShortNumbers: HandleBlock(record.kind, payload); break;
    case PortStructure:
        p_.log.WriteLog("<COM", "PortStruct");
        p_.store.DecodeReply(PortStructure, payload);
        break;
    }
}

void ReplyDispatcher::HandleLineStates(std::span<const std::uint8_t> payload) {
    if (PluginLoaded()) {
        // The plug-in sees the change against the previous snapshot, and the
        // store keeps the reply with the flags the feed cleared.
        std::vector<std::uint8_t> reply(payload.begin(), payload.end());
        p_.store.LineStateFeed(
            reply, [this](int line) { p_.link.Enqueue(RequestKind::CallerData, line); });
        p_.store.DecodeReply(RequestKind::LineStates, reply);
    } else {
        p_.store.DecodeReply(RequestKind::LineStates, payload);
    }
    if (p_.logSettings.Com_In) p_.log.WriteLog("<COM", Msg(msg::LineStates));
}

void ReplyDispatcher::HandleConfiguration(std::span<const std::uint8_t> payload) {
    const DecodeResult result = p_.store.DecodeReply(RequestKind::Configuration, payload);
    if (result.exchangeChanged) p_.relay.FlushCache();
    if (result.status == StatusDone) {
        if (p_.logSettings.Com_In) p_.log.WriteLog("<COM", Msg(msg::Configuration));
    } else {
        p_.log.WriteLog("<COM", Msg(msg::Configuration) + " " + Msg(msg::ErrorCode) +
                                    IntToStr(result.status));
    }
}

std::string ReplyDispatcher::InfoMessage(int closingText) const {
    const auto& info = p_.store.ExchangeInfo();
    return Msg(msg::GatewayVersion) + p_.versionText + "    " + Msg(msg::ExchangeVersion) +
           IntToHex(info[0], 1) + "." + IntToHex(info[1], 2) + "\n" + Msg(closingText);
}

void ReplyDispatcher::HandleInfo(std::span<const std::uint8_t> payload) {
    const DecodeResult result = p_.store.DecodeReply(RequestKind::Identification, payload);
    if (result.exchangeChanged) p_.relay.FlushCache();
    std::string text;
    switch (result.status) {
    case StatusDone: text = " " + Msg(msg::IdentificationOk); break;
    case StatusWrongExchange:
        // Not an exchange this gateway can serve: polling stays stopped.
        p_.link.SetPolling(false);
        if (p_.messageBox)
            p_.messageBox(InfoMessage(msg::ConfigurationUnsupported), Msg(msg::ErrorCaption),
                          MbIconStopOk);
        text = Msg(msg::ConfigurationUnsupportedNote);
        break;
    case StatusAskUser: {
        p_.link.SetPolling(false);
        const int answer = p_.messageBox
                               ? p_.messageBox(InfoMessage(msg::ConfigurationUnverified),
                                               Msg(msg::WarningCaption), MbIconQuestionYesNo)
                               : 0;
        if (answer == IdYes) p_.link.SetPolling(true);
        text = Msg(msg::ConfigurationUnverifiedNote);
        break;
    }
    default: text = " " + Msg(msg::ErrorCode) + IntToStr(result.status); break;
    }
    if (p_.logSettings.Com_In || result.status != StatusDone)
        p_.log.WriteLog("<COM", Msg(msg::Identification) + text);
}

void ReplyDispatcher::HandleMessageCounters(std::span<const std::uint8_t> payload) {
    const int result = payload.empty() ? 0 : payload[0];
    if (result != 0)
        p_.log.WriteLog("<COM", Msg(msg::CountersRefused) + IntToStr(result));
    else if (p_.logSettings.Com_PureIn)
        p_.log.WriteLog("<COM", Msg(msg::CountersAccepted));
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
        p_.log.WriteLog("<COM", Msg(msg::MessageReadFailed) + IntToStr(payload[0]));
        return;
    }
    // A reply too short to hold a message type says "no message".
    const char type = payload.size() > 3 ? static_cast<char>(payload[3]) : '\0';
    if (type == '\0') {
        p_.log.WriteStatus("<COM", Msg(msg::NoMessage));
        if (p_.logSettings.Com_PureIn) p_.log.WriteLog("<COM", Msg(msg::NoMessage));
        return;
    }

    std::string kindName;
    switch (type) {
    case 'F': kindName = "FAX"; break;
    case 'I': kindName = "Internet"; break;
    case 'L': kindName = Msg(msg::LocalAddress); break;
    case 'Q': kindName = "SMS"; break;
    case 'V': kindName = Msg(msg::RemoteAddress); break;
    case 'Z': kindName = "ZModem"; break;
    default: break;
    }
    const bool known = std::string_view("FILQVZ").find(type) != std::string_view::npos;
    if (known) {
        const MessageParts parts = SplitMessage(TextFrom(payload, 4));
        if (p_.logSettings.Com_In)
            p_.log.WriteLog("<COM", "TRAP: " + kindName + " to " + parts.recipient);
        p_.log.WriteLog(">602", "Mail: " + parts.subject + " to " + parts.recipient);
        p_.mail.SendStatusMessage(parts.recipient, type, parts.subject, parts.body, '1');
    }
    // The exchange frees the slot only when told; its answer is not awaited.
    const std::uint8_t number = payload.size() > 2 ? payload[2] : 0;
    p_.link.SendUnawaited(Msg(msg::MessageAcknowledged), p_.store.BuildMessageAck(number));
}

void ReplyDispatcher::HandleAccounting(const SentRequest& request,
                                       std::span<const std::uint8_t> payload) {
    const std::string record = TextFrom(payload, 1);
    if (record.empty()) {
        p_.accountingFile.NothingToStore();
        if (p_.logSettings.Com_PureIn) p_.log.WriteLog("<COM", Msg(msg::NoAccountingRecord));
        p_.link.SetAccountingPace(false);
        return;
    }
    p_.link.SetAccountingPace(true);
    const bool askedAgain = request.firstByte == exchange::CmdAccountingAgain;
    const bool failedBefore = p_.accountingFile.WriteFailed();
    const AccountingFile::Outcome outcome =
        p_.accountingFile.Store(p_.accountingSettings.UctFile, record, askedAgain);
    if (auto warning = p_.accountingFile.TakeStateWarning()) p_.log.WriteLog("!Err", *warning);
    // The plug-in sees every attempt at a new record, as it comes.
    if (PluginLoaded() && outcome != AccountingFile::Outcome::AlreadyStored)
        plugin_->PutAccLine(record);
    switch (outcome) {
    case AccountingFile::Outcome::AlreadyStored:
        // The record asked for again (after a restart or a lost answer) is in
        // the file already: nothing happened worth a line, and "no record"
        // would be wrong.
        return;
    case AccountingFile::Outcome::Failed:
        // The next request asks for the same record again; say why once,
        // not on every retry.
        if (!failedBefore)
            p_.log.WriteLog("!Err", "Accounting file " +
                                        p_.accountingFile.Path(p_.accountingSettings.UctFile) +
                                        ": " + p_.accountingFile.Error());
        return;
    case AccountingFile::Outcome::Appended: break;
    }
    if (p_.logSettings.Com_In) p_.log.WriteLog("<COM", record);
    p_.accountingRecords.Add(record);
}

void ReplyDispatcher::HandlePortList(std::span<const std::uint8_t> payload) {
    const int result = payload.empty() ? 0 : payload[0];
    // A reply of the bare 3-byte header (or less) lists no port: the link
    // has not really started.
    if (result == 0 && payload.size() > 3) {
        p_.store.DecodeReply(RequestKind::PortList, payload);
        if (p_.logSettings.Com_In) p_.log.WriteLog("<COM", Msg(msg::LinkStarted));
        if (p_.mail.Bound()) {
            p_.link.StartPoll(Poll::MessageCounters);
            p_.link.StartPoll(Poll::MessageSlots);
        }
        if (p_.accountingSettings.ReadUct) p_.link.StartPoll(Poll::Accounting);
    } else {
        if (p_.logSettings.Com_In)
            p_.log.WriteLog("<COM", Msg(msg::LinkStartRefused) + IntToStr(result));
    }
}

void ReplyDispatcher::HandleBlock(RequestKind kind, std::span<const std::uint8_t> payload) {
    p_.log.WriteLog("<COM", std::string(InfoOf(kind).name) + IntToStr(p_.store.BlockCounter()));
    const int status = p_.store.DecodeReply(kind, payload).status;
    if (status == StatusMoreBlocks) {
        p_.store.SetBlockCounter(p_.store.BlockCounter() + 1);
        p_.link.Enqueue(kind, 0);
    } else if (kind == RequestKind::PersonalData) {
        // The personal data is in: the short numbers it refers to follow.
        p_.store.SetBlockCounter(0);
        p_.link.Enqueue(RequestKind::ShortNumbers, 0);
    }
}

} // namespace vantor
