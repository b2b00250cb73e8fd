#pragma once
// The request-reply cycle towards the exchange, in one place.  The exchange
// answers one request at a time, so every request waits in one queue; each
// tick of TimerTick sends the head when the link is idle, counts ticks while
// a reply is awaited, resends after MaxTick ticks and, after MaxError
// time-outs, declares the link down (reported once, with a trap), pauses
// MaxErrorTick ticks and starts over with the initial request set.  The poll
// timers only add requests to the queue.
//
// Every frame from the exchange comes here first: the state check, the
// link-restored report, the sequence match and the sent-request record are
// the link's; the reply dispatch then only decodes and acts by kind.  The
// relay hands client requests over with one call, and the link decides
// whether they go out at once or wait in the queue.
//
// ExchangeLink owns the queue, the sent-request list, the sequence counter,
// the last-sent record, the link state, the times clients last asked for line
// states and the SW state, and the seven timers (registered with the owner
// component given at construction).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/LinkState.h"
#include "core/RequestQueue.h"
#include "core/SentRequests.h"
#include "exchange/ReplyDispatcher.h"
#include "relay/RelayInterfaces.h"
#include "toolkit/DateTime.h"

namespace vantor {

class AccountingFile;
class CommandFormatter;
class EventLoop;
class LogWriter;
class MailPort;
class PacketPort;
class PluginFeed;
class TComponent;
class TDataStore;
class TextSource;
class TTimer;
struct Settings;

// The window's tray icon, as the tick retries it after a hidden start.
class TrayIconHost {
public:
    virtual ~TrayIconHost() = default;
    // Adds the icon (add, then modify); true once it is there.
    virtual bool AddTrayIcon() = 0;
};

class ExchangeLink final : public ReplyLink, public ClientRequestSink {
public:
    // What the packet sender sent last; a resend repeats it unchanged.
    struct LastSent {
        std::string label;
        std::string text;
        std::vector<std::uint8_t> payload;
        std::uint8_t sequence = 0;
    };

    // Every reference must outlive the link; settings are read live, so
    // changes made by dialogs take effect at their next use.
    struct Parts {
        TComponent* owner; // the timers' owner (the main window); may be null
        EventLoop& loop;
        const Settings& settings;
        PacketPort& port;
        TDataStore& store;
        AccountingFile& accounting; // whether the last record is asked again
        MailPort& mail;
        LogWriter& log;
        TextSource& texts;
        const CommandFormatter& formatter;
        ReplyDispatcher& replies;
        TrayIconHost& tray;
        const PluginFeed* plugin = nullptr; // the call-centre plug-in, if any
    };

    explicit ExchangeLink(const Parts& parts);
    ~ExchangeLink() override;
    ExchangeLink(const ExchangeLink&) = delete;
    ExchangeLink& operator=(const ExchangeLink&) = delete;

    void SetHideToTrayRequested(bool requested) { hideToTray_ = requested; }
    bool HideToTrayRequested() const { return hideToTray_; }

    // ---- the timers ----
    TTimer& TimerTick() { return *timers_[0]; }
    TTimer& TimerAN() { return *timers_[1]; }
    TTimer& TimerMSG() { return *timers_[2]; }
    TTimer& TimerSMS() { return *timers_[3]; }
    TTimer& TimerUR() { return *timers_[4]; }
    TTimer& TimerSW() { return *timers_[5]; }
    TTimer& TimerShorts() { return *timers_[6]; }
    TTimer& Timer(LinkTimer timer) { return *timers_[static_cast<int>(timer)]; }
    // Takes the periods from the settings again (at start after reading them).
    void ApplyTimerPeriods();
    // Disables all seven timers (window destruction).
    void StopTimers();

    // ---- the cycle ----
    // One tick of TimerTick (also its OnTimer handler).
    void Tick();
    // Clears the queue and queues the requests that start the link.
    void InitialRequestSet() { queue_.FillInitialSet(); }
    // A new serial port was opened: link Idle, initial request set, time-out
    // count 0.
    void RestartAfterPortChoice();
    // TimerShorts fired (also its OnTimer handler): download the personal data anew.
    void ShortsTimerFired();
    // A client wrote into the exchange's memory: TimerShorts starts from zero.
    void RestartShortsTimer();
    // Frees everything queued and every sent-request record.
    void ClearQueues();
    // The serial line went away (or could not be opened at start): a link
    // failure, reported once like a dead link.
    void LineLost();
    // The serial line is open again: the link starts over, and the first
    // reply reports the recovery.
    void LineReopened();

    // Adds a request (see RequestQueue::Enqueue).
    bool Enqueue(RequestKind kind, std::int32_t argument, std::span<const std::uint8_t> bytes);
    void Enqueue(RequestKind kind, std::int32_t argument) override { Enqueue(kind, argument, {}); }

    // The packet sender: nothing when the payload is empty or the port is
    // closed; otherwise keeps the packet as the last-sent record under the
    // next sequence number, sets the status line, logs when Com_LocOut is
    // set, writes it and resets the tick counter.
    void SendPacket(std::string_view label, std::string_view text,
                    std::span<const std::uint8_t> payload);
    // Sends the last-sent record again under its own sequence number; the
    // link then awaits the reply.
    void Resend();

    // ---- from the exchange ----
    // A frame: count = sequence byte + payload, data[0] the sequence byte.
    // Frames nobody waits for are ignored.
    void HandleFrame(int count, const std::uint8_t* data);
    void HandleFrame(std::span<const std::uint8_t> frame) {
        HandleFrame(static_cast<int>(frame.size()), frame.data());
    }
    // A byte the exchange sent outside any frame: a negative
    // acknowledgement ends the current wait at the next tick.
    void HandleChar(std::uint8_t chr);
    static constexpr std::uint8_t NegativeAcknowledgement = 0xE0;

    // ---- ReplyLink ----
    void SendUnawaited(std::string_view text, std::span<const std::uint8_t> payload) override;
    void StartPoll(Poll poll) override;
    void SetAccountingPace(bool recordsWaiting) override;
    void SetPolling(bool on) override;

    // ---- ClientRequestSink ----
    void SubmitClientRequest(std::int32_t handle, std::span<const std::uint8_t> request) override;
    void ClientAskedForLineStates() override;
    void ClientAskedForSW() override;

    // ---- state, for the gateway and tests ----
    LinkState State() const { return state_; }
    // A link failure has been reported and its recovery not yet.
    bool LinkLost() const { return linkLost_; }
    // When the failure now going on was reported; 0 while the link works.
    TDateTime LinkLostSince() const { return lostSince_; }
    std::int32_t TickCounter() const { return tickCounter_; }
    void SetTickCounter(std::int32_t ticks) { tickCounter_ = ticks; }
    std::int32_t TimeoutCount() const { return timeoutCount_; }
    std::uint8_t SequenceCounter() const { return sequence_; }
    const LastSent& LastSentRecord() const { return lastSent_; }
    RequestQueue& Queue() { return queue_; }
    const RequestQueue& Queue() const { return queue_; }
    SentRequests& Sent() { return sent_; }
    bool TickGuard() const { return tickGuard_; }
    // When a client last asked for line states / the SW state (0: never).
    TDateTime LastClientLineStateRequest() const { return lastClientAN_; }
    TDateTime LastClientSWRequest() const { return lastClientSW_; }

private:
    void Transmit();
    void TickIdle();
    void TickAwaitingReply();
    void TickLinkDown();
    // Takes the queue head (if any) and sends it, as a tick in Idle does.
    void ServeNext();
    void ServeHead(RequestQueue::Entry& entry);
    // Records the request under the next sequence number, sends it and waits
    // for its reply in `awaiting`.
    void SendAwaited(RequestKind kind, std::string_view text, std::span<const std::uint8_t> payload,
                     std::int32_t value = 0, LinkState awaiting = LinkState::AwaitingReply);
    void ServeOwn(RequestKind kind, std::int32_t argument);
    void ServeBlock(RequestKind kind);
    void ServeMessageCounters();
    void ServeClient(std::int32_t handle, std::span<const std::uint8_t> request);
    void PollTimerFired(RequestKind kind);
    bool PluginIsLoaded() const;
    std::string Msg(int number) const;

    EventLoop& loop_;
    const Settings& settings_;
    PacketPort& port_;
    TDataStore& store_;
    AccountingFile& accounting_;
    MailPort& mail_;
    LogWriter& log_;
    TextSource& texts_;
    const CommandFormatter& formatter_;
    ReplyDispatcher& replies_;
    TrayIconHost& tray_;
    const PluginFeed* plugin_;

    RequestQueue queue_;
    SentRequests sent_;
    LastSent lastSent_;
    LinkState state_ = LinkState::Idle;
    std::int32_t tickCounter_ = 0;
    std::int32_t timeoutCount_ = 0;
    bool linkLost_ = false;
    TDateTime lostSince_ = 0;
    bool tickGuard_ = false;
    std::uint8_t sequence_ = 1;
    bool hideToTray_ = false;
    TDateTime lastClientAN_ = 0;
    TDateTime lastClientSW_ = 0;
    std::unique_ptr<TTimer> timers_[7];
};

} // namespace vantor
