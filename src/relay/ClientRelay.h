#pragma once
// The TCP relay: network clients send the payload of one exchange request per
// read; the relay answers from the gateway's own store where it can (line
// states and SW snapshots, accounting records, the reply cache) and otherwise
// sends the request to the exchange at once or queues it, and later returns
// the exchange's reply to the client that asked.
//
// The stream has no framing of its own: the bytes one read notification
// delivers are one request.  The shared receive buffer holds 500 bytes; a
// notification with more waiting than that is not a request the gateway can
// forward intact, so all of it is read, dropped and reported on the log (a
// cut request could write garbage into the exchange).
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "exchange/ReplyDispatcher.h"
#include "relay/RelayInterfaces.h"

namespace vantor {

class AccountingRecordList;
class CommandFormatter;
class EventLoop;
class LogWriter;
class ReplyCache;
class TextSource;
struct AccountingSettings;
struct LogSettings;

class ClientRelay final : public RelayedReplies {
public:
    static constexpr std::size_t ReceiveBufferSize = 500;
    // The AN answer uses the cache lifetime of its sub-command (22: 300 ms).
    static constexpr double ANSnapshotMaxAgeMs = 300;
    // The SW request has no sub-command and no lifetime of its own.  The SW
    // poll refreshes the snapshot every SWInterval (600 ms by default) while
    // clients ask, so a snapshot up to one default poll period old is served.
    static constexpr double SWSnapshotMaxAgeMs = 600;

    struct Parts {
        EventLoop& loop; // now()
        const LogSettings& logSettings;
        const AccountingSettings& accountingSettings; // ReadUct, SendUct
        LogWriter& log;
        const TextSource& texts;
        const CommandFormatter& formatter;
        ReplyCache& cache;
        const AccountingRecordList& records;
        ClientRequestSink& link;
        RelayStore& store;
        RelayConnections& connections;
    };

    explicit ClientRelay(const Parts& parts);

    // The read notification of a client connection.
    void ClientRead(RelaySocket& client);

    // Whether a client with this socket handle is still connected.
    bool FindClient(std::int32_t handle);
    // The exchange answered a relayed request: runs the follow-ups of its
    // command byte (cache flush, decoding into the store), then sends the
    // reply (without its sequence byte) to the client and logs it.  A client
    // that has left gets nothing and nothing is logged, but the follow-ups
    // still run: the exchange carried the request out all the same.
    void ReplyToClient(std::int32_t handle, std::span<const std::uint8_t> reply,
                       std::uint8_t requestFirstByte) override;
    // A client's request is on the line: a write flushes the cache now, so a
    // reply that never comes cannot leave answers from before the write.
    void ClientRequestSent(std::span<const std::uint8_t> request) override;
    void OfferToCache(std::span<const std::uint8_t> request,
                      std::span<const std::uint8_t> reply) override;
    void FlushCache() override;

    // "<IP:" or ">IP:" followed by address ":" handle.
    static std::string ClientLabel(std::string_view direction, const RelaySocket& client);

private:
    // reportedCut: whether a cut snapshot of this kind was reported already.
    bool AnswerFromSnapshot(RelaySocket& client, const RelayStore::Snapshot& snapshot,
                            double maxAgeMs, int textNumber, int cutTextNumber, bool& reportedCut);
    bool AnswerAccounting(RelaySocket& client, std::span<const std::uint8_t> request);
    bool AnswerFromCache(RelaySocket& client, std::span<const std::uint8_t> request);
    void DropOverlong(RelaySocket& client, int pending);
    static void Send(RelaySocket& client, std::span<const std::uint8_t> bytes);

    Parts p_;
    std::array<std::uint8_t, ReceiveBufferSize> buffer_{};
    bool reportedCutLineStates_ = false;
    bool reportedCutSW_ = false;
};

} // namespace vantor
