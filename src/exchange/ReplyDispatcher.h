#pragma once
// Reply dispatch: the exchange's answer to one request, handled by the
// request's kind: decoding into the data store, log lines, follow-up requests
// of block downloads, the identification check with its message boxes,
// starting the poll timers, exchange messages to mail, accounting records to
// the file and the record list, relayed replies to their clients and query
// replies to the reply cache.
//
// The link cycle has already matched the reply to its request (state,
// sequence number, sent-request record) before it hands it over; the dispatch
// only decodes and acts, through the narrow views below.  Everything runs on
// the loop thread.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "exchange/RequestKind.h"
#include "exchange/SentRequest.h"

namespace vantor {

class AccountingFile;
class AccountingRecordList;
class LogWriter;
class MailPort;
class PluginFeed;
class TDataStore;
class TextSource;
struct AccountingSettings;
struct LogSettings;

// The polls a reply can set going.
enum class Poll { LineStates, MessageCounters, MessageSlots, Accounting };

// What reply handling asks of the link cycle.
class ReplyLink {
public:
    virtual ~ReplyLink() = default;
    // Queues a request of the gateway's own.
    virtual void Enqueue(RequestKind kind, std::int32_t argument) = 0;
    // Sends a payload at once under the next sequence number without waiting
    // for its answer (nothing when the port is closed or the payload empty).
    virtual void SendUnawaited(std::string_view text, std::span<const std::uint8_t> payload) = 0;
    virtual void StartPoll(Poll poll) = 0;
    // The accounting poll's period: the quick one while the exchange has
    // records, the slow one once it has none.
    virtual void SetAccountingPace(bool recordsWaiting) = 0;
    // Switches the whole cycle (TimerTick) on or off.
    virtual void SetPolling(bool on) = 0;
};

// What reply handling hands to the TCP relay.
class RelayedReplies {
public:
    virtual ~RelayedReplies() = default;
    // Sends a relayed request's reply to its client if it is still connected
    // (with the relay's follow-ups and logging); a gone client gets nothing.
    virtual void ReplyToClient(std::int32_t socketHandle, std::span<const std::uint8_t> reply,
                               std::uint8_t requestFirstByte) = 0;
    // Offers a reply to the reply cache (which keeps queries only).
    virtual void OfferToCache(std::span<const std::uint8_t> request,
                              std::span<const std::uint8_t> reply) = 0;
    // The exchange's picture changed: every cached reply is stale.
    virtual void FlushCache() = 0;
    // A client's request has just been put on the line.
    virtual void ClientRequestSent(std::span<const std::uint8_t> request) = 0;
};

// Message box: text, caption, MB_* flags; returns the button (IDOK 1, IDYES 6, ...).
using MessageBoxFunction =
    std::function<int(std::string_view text, std::string_view caption, unsigned flags)>;

class ReplyDispatcher {
public:
    static constexpr unsigned MbIconStopOk = 0x10;
    static constexpr unsigned MbIconQuestionYesNo = 0x24;
    static constexpr int IdYes = 6;
    // Limits of the recipient and second line of an exchange message, and of
    // its body.
    static constexpr std::size_t MessageLineLimit = 40;
    static constexpr std::size_t MessageBodyLimit = 100;

    // Every reference must outlive the dispatcher; settings are read live.
    struct Parts {
        ReplyLink& link;
        TDataStore& store;
        const LogSettings& logSettings;
        const AccountingSettings& accountingSettings;
        LogWriter& log;
        TextSource& texts;
        MailPort& mail;
        RelayedReplies& relay;
        AccountingFile& accountingFile;
        AccountingRecordList& accountingRecords;
        MessageBoxFunction messageBox;
        // The gateway's version as the about box shows it ("1.00").
        std::string versionText;
    };

    explicit ReplyDispatcher(Parts parts);

    // The plug-in binding (null when there is none); fed while Active().
    void SetPluginFeed(PluginFeed* plugin) { plugin_ = plugin; }

    // The exchange answered `record` with `payload` (without the sequence
    // byte).  A failure inside the handling is logged; the reply is offered
    // to the reply cache either way.
    void Dispatch(const SentRequest& record, std::span<const std::uint8_t> payload);

    // A client's request has just been put on the line (the relay's reply
    // cache hears of it before any reply, which may never come).
    void ClientRequestSent(std::span<const std::uint8_t> request) {
        p_.relay.ClientRequestSent(request);
    }

    // The three parts of an exchange message text (recipient, second line,
    // body), split at line feeds with the line limits above.
    struct MessageParts {
        std::string recipient, subject, body;
    };
    static MessageParts SplitMessage(std::string_view text);

private:
    bool PluginLoaded() const;
    void HandleByKind(const SentRequest& record, std::span<const std::uint8_t> payload);
    void HandleLineStates(std::span<const std::uint8_t> payload);
    void HandleConfiguration(std::span<const std::uint8_t> payload);
    void HandleInfo(std::span<const std::uint8_t> payload);
    void HandleMessageCounters(std::span<const std::uint8_t> payload);
    void HandleMessage(std::span<const std::uint8_t> payload);
    void HandleAccounting(const SentRequest& record, std::span<const std::uint8_t> payload);
    void HandlePortList(std::span<const std::uint8_t> payload);
    void HandleBlock(RequestKind kind, std::span<const std::uint8_t> payload);
    std::string InfoMessage(int closingText) const;
    std::string Msg(int number) const;

    Parts p_;
    PluginFeed* plugin_ = nullptr;
};

} // namespace vantor
