#include "relay/ClientRelay.h"

#include <algorithm>

#include "accounting/AccountingRecordList.h"
#include "accounting/AccountingSettings.h"
#include "exchange/CommandFormatter.h"
#include "exchange/ExchangeCommands.h"
#include "relay/ReplyCache.h"
#include "nls/TextIds.h"
#include "toolkit/EventLoop.h"
#include "toolkit/LogSettings.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

namespace vantor {

namespace {

using namespace exchange;

const std::uint8_t NoRecord[1] = {0x00};

} // namespace

ClientRelay::ClientRelay(const Parts& parts) : p_(parts) {}

std::string ClientRelay::ClientLabel(std::string_view direction, const RelaySocket& client) {
    std::string label(direction);
    label += client.RemoteAddress();
    label += ':';
    label += std::to_string(client.Handle());
    return label;
}

void ClientRelay::Send(RelaySocket& client, std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) client.SendBuf(bytes.data(), static_cast<int>(bytes.size()));
}

void ClientRelay::ClientRead(RelaySocket& client) {
    const int pending = client.ReceiveLength();
    if (pending <= 0) return;
    if (pending > static_cast<int>(ReceiveBufferSize)) {
        DropOverlong(client, pending);
        return;
    }
    const int n = client.ReceiveBuf(buffer_.data(), pending);
    if (n <= 0) return;
    const std::span<const std::uint8_t> request(buffer_.data(),
                                                std::min<std::size_t>(n, ReceiveBufferSize));

    const std::string text = p_.formatter.format(Direction::Request, request, 0, false);
    if (p_.logSettings.TCPIP_In) p_.log.WriteLog(ClientLabel("<IP:", client), text);

    const std::uint8_t command = request[0];
    if (command == CmdQuery && request.size() >= 2 && request[1] == SubLineStates) {
        p_.link.ClientAskedForLineStates();
        if (AnswerFromSnapshot(client, p_.store.ANSnapshot(), ANSnapshotMaxAgeMs, msg::LineStates,
                               msg::LineStatesReplyTooLong, reportedCutLineStates_))
            return;
    } else if (command == CmdSW) {
        p_.link.ClientAskedForSW();
        if (AnswerFromSnapshot(client, p_.store.SWSnapshot(), SWSnapshotMaxAgeMs, msg::SWState,
                               msg::SWReplyTooLong, reportedCutSW_))
            return;
    } else if (command == CmdAccountingNext || command == CmdAccountingAgain) {
        if (AnswerAccounting(client, request)) return;
    }
    if (AnswerFromCache(client, request)) return;
    p_.link.SubmitClientRequest(client.Handle(), request);
}

void ClientRelay::DropOverlong(RelaySocket& client, int pending) {
    // Read everything that is waiting, a buffer at a time, so that no part of
    // it is taken for a request of its own by the next notification.
    int drained = 0;
    while (drained < pending) {
        const int chunk = std::min<int>(pending - drained, static_cast<int>(ReceiveBufferSize));
        const int got = client.ReceiveBuf(buffer_.data(), chunk);
        if (got <= 0) break;
        drained += got;
    }
    p_.log.WriteLog("!Err", ClientLabel("<IP:", client) + " request of " + std::to_string(pending) +
                                " bytes is longer than " + std::to_string(ReceiveBufferSize) +
                                " bytes; dropped");
}

bool ClientRelay::AnswerFromSnapshot(RelaySocket& client, const RelayStore::Snapshot& snapshot,
                                     double maxAgeMs, int textNumber, int cutTextNumber,
                                     bool& reportedCut) {
    if (snapshot.bytes.empty()) return false;
    // A snapshot is served only as the exchange sent it; the beginning of a
    // longer reply would reach the client as if it were the whole.
    if (snapshot.cutReplyLength != 0) {
        if (!reportedCut)
            p_.log.WriteLog("!Err", p_.texts.Msg(cutTextNumber) +
                                        std::to_string(snapshot.cutReplyLength) + " > " +
                                        std::to_string(snapshot.bytes.size()));
        reportedCut = true;
        return false;
    }
    const double age = AgeMs(p_.loop.now(), snapshot.stored);
    // A snapshot stamped in the future (the clock was set back) is not trusted.
    if (age < 0 || age > maxAgeMs) return false;
    if (p_.logSettings.Com_In) p_.log.WriteLog("<CCH", p_.texts.Msg(textNumber));
    if (p_.logSettings.TCPIP_Out)
        p_.log.WriteLog(ClientLabel(">IP:", client), p_.texts.Msg(textNumber));
    Send(client, snapshot.bytes);
    return true;
}

bool ClientRelay::AnswerAccounting(RelaySocket& client, std::span<const std::uint8_t> request) {
    if (!p_.accountingSettings.SendUct) {
        Send(client, NoRecord);
        return true;
    }
    if (!p_.accountingSettings.ReadUct) return false;
    const auto number = p_.records.RecordForClient(static_cast<std::int64_t>(client.UserData()),
                                                   request[0] == CmdAccountingAgain);
    const auto text = number ? p_.records.Text(*number) : std::nullopt;
    if (!text) {
        Send(client, NoRecord);
        return true;
    }
    if (p_.logSettings.TCPIP_Out) p_.log.WriteLog(ClientLabel(">IP:", client), *text);
    std::string answer(1, '\0');
    answer += *text;
    client.SendBuf(answer.data(), static_cast<int>(answer.size()));
    client.SetUserData(static_cast<std::intptr_t>(*number) + 1);
    return true;
}

bool ClientRelay::AnswerFromCache(RelaySocket& client, std::span<const std::uint8_t> request) {
    const ReplyCache::Entry* entry = p_.cache.Lookup(request, true);
    if (!entry) return false;
    const auto reply = entry->Reply();
    Send(client, reply);
    if (p_.logSettings.Com_In || p_.logSettings.TCPIP_Out) {
        const std::string text = p_.formatter.format(Direction::Request, reply, 0, false);
        if (p_.logSettings.Com_In) p_.log.WriteLog("<CCH", text);
        if (p_.logSettings.TCPIP_Out) p_.log.WriteLog(ClientLabel(">IP:", client), text);
    }
    return true;
}

bool ClientRelay::FindClient(std::int32_t handle) {
    return p_.connections.WithClient(handle, [](RelaySocket&) {});
}

void ClientRelay::ReplyToClient(std::int32_t handle, std::span<const std::uint8_t> reply,
                                std::uint8_t requestFirstByte) {
    // The exchange has carried the request out whether or not its client is
    // still there to hear of it: a write changed what cached replies tell, and
    // an identification or configuration reply is the exchange's picture now.
    bool stale = false;
    switch (requestFirstByte) {
    case CmdWrite: stale = true; break;
    case CmdInfo: stale = p_.store.DecodeInfoReply(reply); break;
    case CmdConfiguration: stale = p_.store.DecodeConfigurationReply(reply); break;
    default: break;
    }
    if (stale) p_.cache.Flush();
    p_.connections.WithClient(handle, [&](RelaySocket& client) {
        Send(client, reply);
        const std::string text =
            p_.formatter.format(Direction::Reply, reply, requestFirstByte, false);
        if (p_.logSettings.Com_In) p_.log.WriteLog("<COM", text);
        if (p_.logSettings.TCPIP_Out) p_.log.WriteLog(ClientLabel(">IP:", client), text);
    });
}

void ClientRelay::OfferToCache(std::span<const std::uint8_t> request,
                               std::span<const std::uint8_t> reply) {
    p_.cache.Store(request, reply);
}

void ClientRelay::FlushCache() { p_.cache.Flush(); }

void ClientRelay::ClientRequestSent(std::span<const std::uint8_t> request) {
    if (!request.empty() && request[0] == CmdWrite) p_.cache.Flush();
}

} // namespace vantor
