#include "relay/ClientRelay.h"

#include <algorithm>

#include "accounting/AccountingRecordList.h"
#include "core/Settings.h"
#include "exchange/CommandFormatter.h"
#include "exchange/ExchangeCommands.h"
#include "relay/ReplyCache.h"
#include "toolkit/EventLoop.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

namespace vantor {

namespace {

using namespace exchange;

constexpr int TextLineStates = 102;
constexpr int TextSW = 104;

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
    if (p_.settings.TCPIP_In) p_.log.WriteLog(ClientLabel("<IP:", client), text);

    const std::uint8_t command = request[0];
    if (command == CmdQuery && request.size() >= 2 && request[1] == SubLineStates) {
        lastANRequest_ = p_.loop.now();
        p_.scheduler.EnableANPoll();
        if (AnswerFromSnapshot(client, p_.store.ANSnapshot(), ANSnapshotMaxAgeMs, TextLineStates))
            return;
    } else if (command == CmdSW) {
        lastSWRequest_ = p_.loop.now();
        p_.scheduler.EnableSWPoll();
        if (AnswerFromSnapshot(client, p_.store.SWSnapshot(), SWSnapshotMaxAgeMs, TextSW)) return;
    } else if (command == CmdAccountingNext || command == CmdAccountingAgain) {
        if (AnswerAccounting(client, request)) return;
    }
    if (AnswerFromCache(client, request)) return;
    Forward(client, request, text);
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
                                     double maxAgeMs, int textNumber) {
    if (snapshot.bytes.empty()) return false;
    const double age = AgeMs(p_.loop.now(), snapshot.stored);
    // A snapshot stamped in the future (the clock was set back) is not trusted.
    if (age < 0 || age > maxAgeMs) return false;
    if (p_.settings.Com_In) p_.log.WriteLog("<CCH", p_.texts.Msg(textNumber));
    if (p_.settings.TCPIP_Out)
        p_.log.WriteLog(ClientLabel(">IP:", client), p_.texts.Msg(textNumber));
    Send(client, snapshot.bytes);
    return true;
}

bool ClientRelay::AnswerAccounting(RelaySocket& client, std::span<const std::uint8_t> request) {
    if (!p_.settings.SendUct) {
        Send(client, NoRecord);
        return true;
    }
    if (!p_.settings.ReadUct) return false;
    const auto number = p_.records.RecordForClient(static_cast<std::int64_t>(client.UserData()),
                                                   request[0] == CmdAccountingAgain);
    const auto text = number ? p_.records.Text(*number) : std::nullopt;
    if (!text) {
        Send(client, NoRecord);
        return true;
    }
    if (p_.settings.TCPIP_Out) p_.log.WriteLog(ClientLabel(">IP:", client), *text);
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
    if (p_.settings.Com_In || p_.settings.TCPIP_Out) {
        const std::string text = p_.formatter.format(Direction::Request, reply, 0, false);
        if (p_.settings.Com_In) p_.log.WriteLog("<CCH", text);
        if (p_.settings.TCPIP_Out) p_.log.WriteLog(ClientLabel(">IP:", client), text);
    }
    return true;
}

void ClientRelay::Forward(RelaySocket& client, std::span<const std::uint8_t> request,
                          const std::string& text) {
    if (p_.scheduler.LinkIdleAndQueueEmpty()) {
        p_.scheduler.RecordClientRequest(client.Handle(), request);
        p_.store.WriteWatch(request);
        p_.scheduler.SendPacket(">COM", text, request);
        if (p_.settings.Com_Out == 1 && p_.settings.Com_LocOut == 0) p_.log.WriteLog(">COM", text);
        p_.scheduler.SetAwaitingClientReply();
    } else {
        p_.scheduler.EnqueueClientRequest(client.Handle(), request);
    }
}

bool ClientRelay::FindClient(std::int32_t handle) {
    return p_.connections.WithClient(handle, [](RelaySocket&) {});
}

bool ClientRelay::ReplyToClient(std::int32_t handle, std::span<const std::uint8_t> reply,
                                std::uint8_t requestFirstByte) {
    return p_.connections.WithClient(handle, [&](RelaySocket& client) {
        Send(client, reply);
        switch (requestFirstByte) {
        case CmdWrite: p_.cache.Flush(); break;
        case CmdInfo: p_.store.DecodeInfoReply(reply); break;
        case CmdConfiguration: p_.store.DecodeConfigurationReply(reply); break;
        default: break;
        }
        const std::string text =
            p_.formatter.format(Direction::Reply, reply, requestFirstByte, false);
        if (p_.settings.Com_In) p_.log.WriteLog("<COM", text);
        if (p_.settings.TCPIP_Out) p_.log.WriteLog(ClientLabel(">IP:", client), text);
    });
}

} // namespace vantor
