#pragma once
// Reply dispatch: takes every frame the exchange sends, matches it by its
// sequence number to the request waiting for it, and handles the reply by the
// request's kind letter: decoding into the data store, log lines, follow-up
// requests of block downloads, the exchange-info check with its message
// boxes, starting the poll timers, forwarding exchange messages to mail,
// accounting records to the file and the record list, relayed replies to
// their clients and query replies to the reply cache.
//
// The link cycle (request queue, sending, waiting) lives elsewhere; the
// dispatcher sees it through DispatchLink.  Everything runs on the loop thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "exchange/SentRequest.h"

namespace vantor {

class TDataStore;
class TTimer;
class LogWriter;
class TextSource;
class PluginFeed;
struct Settings;

// States of the request-reply cycle.  The value is kept as the exchange
// gateway always kept it (a 32-bit number); values outside the list are
// possible and do nothing.
enum class LinkState : std::uint32_t {
    Idle = 0,
    AwaitingReply = 1,
    LinkDown = 2,
    Resend = 5,
    AwaitingClientReply = 20,
};

// The seven timers of the link cycle.
enum class LinkTimer { Tick, AN, MSG, SMS, UR, SW, Shorts };

// The link cycle as the dispatcher uses it.
class DispatchLink {
public:
    virtual ~DispatchLink() = default;
    virtual LinkState State() const = 0;
    virtual void SetState(LinkState state) = 0;
    // A link failure has been reported and its recovery not yet.
    virtual bool LinkLost() const = 0;
    virtual void SetLinkLost(bool lost) = 0;
    // Sequence number of the last packet sent.
    virtual std::uint8_t LastSentSequence() const = 0;
    // Removes and returns the sent-request record of `sequence`, or null.
    virtual std::unique_ptr<SentRequest> TakeSentRequest(std::uint8_t sequence) = 0;
    // Queues a request of the gateway's own.
    virtual void Enqueue(char kind, std::int32_t argument) = 0;
    // Sends a payload at once under the next sequence number (nothing when the
    // port is closed or the payload empty).
    virtual void SendPacket(std::string_view label, std::string_view text,
                            std::span<const std::uint8_t> payload) = 0;
    // The exchange refused the last packet: end the current wait at the next tick.
    virtual void NegativeAcknowledge() = 0;
    virtual TTimer& Timer(LinkTimer timer) = 0;
};

// The mail bridge as the exchange link uses it.
class MailPort {
public:
    virtual ~MailPort() = default;
    // The mail library is loaded and bound.
    virtual bool Bound() const = 0;
    // Reads the mailboxes into the port table; true when something was read.
    virtual bool PollMailboxes() = 0;
    // 1 link lost, 2 link restored.
    virtual void SendTrap(int kind) = 0;
    virtual void SendStatusMessage(std::string_view address, char addressType,
                                   std::string_view subject, std::string_view text, char flag) = 0;
};

// Where replies go besides the data store: the relay's clients, its reply
// cache and the accounting record list.
class ReplyConsumers {
public:
    virtual ~ReplyConsumers() = default;
    // Sends a relayed request's reply to its client if it is still connected
    // (and does the relay's follow-ups and logging); a gone client gets nothing.
    virtual void ReplyToClient(std::int32_t socketHandle, std::span<const std::uint8_t> reply,
                               std::uint8_t requestFirstByte) = 0;
    // Offers a reply to the reply cache (which keeps queries only).
    virtual void CacheStore(std::span<const std::uint8_t> request,
                            std::span<const std::uint8_t> reply) = 0;
    // An accounting record that is safely in the accounting file: the record
    // list keeps it unless it repeats the last one.
    virtual void KeepAccountingRecord(std::string_view text) = 0;
};

// Message box: text, caption, MB_* flags; returns the button (IDOK 1, IDYES 6, ...).
using MessageBoxFunction =
    std::function<int(std::string_view text, std::string_view caption, unsigned flags)>;

class ReplyDispatcher {
public:
    static constexpr std::uint8_t NegativeAcknowledgement = 0xE0;
    static constexpr unsigned MbIconStopOk = 0x10;
    static constexpr unsigned MbIconQuestionYesNo = 0x24;
    static constexpr int IdYes = 6;
    // Limits of the recipient and second line of an exchange message, and of
    // its body.
    static constexpr std::size_t MessageLineLimit = 40;
    static constexpr std::size_t MessageBodyLimit = 100;

    // versionText: the gateway's version as the about box shows it ("1.00").
    ReplyDispatcher(DispatchLink& link, TDataStore& store, const Settings& settings, LogWriter& log,
                    TextSource& texts, MailPort& mail, ReplyConsumers& consumers,
                    MessageBoxFunction messageBox, std::string versionText);

    // The plug-in binding (null when there is none); loaded while Active().
    void SetPluginFeed(PluginFeed* plugin) { plugin_ = plugin; }

    // A frame from the exchange: count = sequence byte + payload, data[0] the
    // sequence byte.  Frames nobody waits for are ignored.
    void HandlePacket(int count, const std::uint8_t* data);
    void HandlePacket(std::span<const std::uint8_t> frame) {
        HandlePacket(static_cast<int>(frame.size()), frame.data());
    }
    // A byte the exchange sent outside any frame.
    void HandleChar(std::uint8_t chr);

    // Whether a reply to this kind is offered to the reply cache.
    static bool KindIsCached(char kind);

    // The three parts of an exchange message text (recipient, second line,
    // body), split at line feeds with the line limits above.
    struct MessageParts {
        std::string recipient, subject, body;
    };
    static MessageParts SplitMessage(std::string_view text);

private:
    bool PluginLoaded() const;
    void Dispatch(const SentRequest& record, std::span<const std::uint8_t> payload);
    void HandleLineStates(std::span<const std::uint8_t> payload);
    void HandleConfiguration(std::span<const std::uint8_t> payload);
    void HandleInfo(std::span<const std::uint8_t> payload);
    void HandleMessageCounters(std::span<const std::uint8_t> payload);
    void HandleMessage(std::span<const std::uint8_t> payload);
    void HandleAccounting(std::span<const std::uint8_t> payload);
    void HandlePortList(std::span<const std::uint8_t> payload);
    void HandleBlock(char kind, std::span<const std::uint8_t> payload);
    std::string InfoMessage(int closingText) const;
    std::string Msg(int number) const;

    DispatchLink& link_;
    TDataStore& store_;
    const Settings& settings_;
    LogWriter& log_;
    TextSource& texts_;
    MailPort& mail_;
    ReplyConsumers& consumers_;
    MessageBoxFunction messageBox_;
    std::string versionText_;
    PluginFeed* plugin_ = nullptr;
};

} // namespace vantor
