#pragma once
// The link to the exchange, wired: the cycle's bookkeeping (LinkCycle) with
// the request queue, the serial port, the log, the traps and the seven
// timers.  The exchange answers one request at a time, so every request waits
// in one queue; each tick of TimerTick asks the cycle what to do and does it:
// serve the queue head when the link is idle (building the payload by kind),
// resend, report the link lost or start over.  The poll timers only add
// requests to the queue.
//
// Every frame from the exchange comes here first: the cycle checks the state
// and the sequence number and hands out the sent-request record; the reply
// dispatch then only decodes and acts by kind.  The relay hands client
// requests over with one call, and the link decides whether they go out at
// once or wait in the queue.
//
// ExchangeLink owns the cycle, the queue, the times clients last asked for
// line states and the SW state, and the seven timers (registered with the
// owner component given at construction).  TimerTick's handler is the
// owner's to set: the window has its part in each tick too.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/LinkCycle.h"
#include "core/LinkState.h"
#include "core/RequestQueue.h"
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

class ExchangeLink final : public ReplyLink, public ClientRequestSink {
public:
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
        const PluginFeed* plugin = nullptr; // the call-centre plug-in, if any
    };

    explicit ExchangeLink(const Parts& parts);
    ~ExchangeLink() override;
    ExchangeLink(const ExchangeLink&) = delete;
    ExchangeLink& operator=(const ExchangeLink&) = delete;

    // ---- the timers ----
    TTimer& TimerTick() { return *timers_[0]; }
    TTimer& TimerAN() { return *timers_[1]; }
    TTimer& TimerMSG() { return *timers_[2]; }
    TTimer& TimerSMS() { return *timers_[3]; }
    TTimer& TimerUR() { return *timers_[4]; }
    TTimer& TimerSW() { return *timers_[5]; }
    TTimer& TimerShorts() { return *timers_[6]; }
    // Takes the periods from the settings again (at start after reading them).
    void ApplyTimerPeriods();
    // Disables all seven timers (window destruction).
    void StopTimers();

    // ---- the cycle ----
    // One tick of TimerTick.  A tick inside a tick (a library that pumps
    // messages during one) does nothing.
    void Tick();
    bool Ticking() const { return tickGuard_; }
    // Clears the queue and queues the requests that start the link.
    void InitialRequestSet() { queue_.FillInitialSet(); }
    // A new serial port was opened: link Idle, initial request set, time-out
    // count 0.
    void RestartAfterPortChoice();
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
    const LinkCycle& Cycle() const { return cycle_; }
    LinkState State() const { return cycle_.State(); }
    // A link failure has been reported and its recovery not yet.
    bool LinkLost() const { return cycle_.LinkLost(); }
    // When the failure now going on was reported; 0 while the link works.
    TDateTime LinkLostSince() const { return lostSince_; }
    RequestQueue& Queue() { return queue_; }
    const RequestQueue& Queue() const { return queue_; }

private:
    void Transmit(const LinkCycle::LastSent& packet);
    void TickIdle();
    void ReportLinkLost();
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
    // TimerShorts fired: download the personal data anew.
    void ShortsTimerFired();
    // A client wrote into the exchange's memory: TimerShorts starts from zero.
    void RestartShortsTimer();
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
    const PluginFeed* plugin_;

    LinkCycle cycle_;
    RequestQueue queue_;
    TDateTime lostSince_ = 0;
    bool tickGuard_ = false;
    TDateTime lastClientAN_ = 0;
    TDateTime lastClientSW_ = 0;
    std::unique_ptr<TTimer> timers_[7];
};

} // namespace vantor
