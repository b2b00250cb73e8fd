#pragma once
// The request-reply cycle towards the exchange.  The exchange answers one
// request at a time, so every request waits in one queue; each tick of
// TimerTick sends the head when the link is idle, counts ticks while a reply
// is awaited, resends after MaxTick ticks and, after MaxError time-outs,
// declares the link down (reported once, with a trap), pauses MaxErrorTick
// ticks and starts over with the initial request set.  The poll timers only
// add requests to the queue.
//
// ExchangeLink owns the queue, the sent-request list, the sequence counter,
// the last-sent record, the link state and the seven timers (registered with
// the owner component given at construction).  Replies come back through the
// ReplyDispatcher, which sees this class as its DispatchLink; the TCP relay
// sees it as its RelayScheduler.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/RequestQueue.h"
#include "core/SentRequests.h"
#include "exchange/ReplyDispatcher.h"
#include "relay/RelayInterfaces.h"
#include "toolkit/DateTime.h"

namespace vantor {

class CommandFormatter;
class EventLoop;
class LogWriter;
class TComponent;
class TDataStore;
class TextSource;
class TTimer;
struct Settings;

// The serial packet component as the link cycle uses it.
class PacketPort {
public:
    virtual ~PacketPort() = default;
    virtual bool IsOpen() const = 0;
    // Frames the payload under the sequence number and writes it.
    virtual void WritePacket(std::uint8_t sequence, std::span<const std::uint8_t> payload) = 0;
};

class ExchangeLink final : public DispatchLink, public RelayScheduler {
public:
    // What the packet sender sent last; a resend repeats it unchanged.
    struct LastSent {
        std::string label;
        std::string text;
        std::vector<std::uint8_t> payload;
        std::uint8_t sequence = 0;
    };

    // owner: the component the timers register with (the main window); may be
    // null.  Every reference must outlive the link.  Settings are read live,
    // so changes made by dialogs take effect at the next use.
    ExchangeLink(TComponent* owner, EventLoop& loop, const Settings& settings, PacketPort& port,
                 TDataStore& store, MailPort& mail, LogWriter& log, TextSource& texts,
                 const CommandFormatter& formatter);
    ~ExchangeLink() override;
    ExchangeLink(const ExchangeLink&) = delete;
    ExchangeLink& operator=(const ExchangeLink&) = delete;

    // ---- optional hooks (unset: false / never) ----
    // The call-centre plug-in is loaded.
    std::function<bool()> PluginLoaded;
    // When a TCP/IP client last asked for line states / the SW state.  Unset,
    // the times of the last EnableANPoll / EnableSWPoll calls are used.
    std::function<TDateTime()> LastClientANRequest;
    std::function<TDateTime()> LastClientSWRequest;
    // Adds the tray icon (add, then modify, marking it present); true on
    // success.  Tried by every tick while hide-to-tray is requested.
    std::function<bool()> AddTrayIcon;

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
    TTimer& Timer(LinkTimer timer) override;
    // Takes the periods from the settings again (at start after reading them).
    void ApplyTimerPeriods();
    // Disables all seven timers (window destruction).
    void StopTimers();

    // ---- the cycle ----
    // One tick of TimerTick (also its OnTimer handler).
    void Tick();
    // Clears the queue and queues 'C', 'I', 'x', 'V'.
    void InitialRequestSet() { queue_.FillInitialSet(); }
    // A new serial port was opened: link Idle, initial request set, time-out
    // count 0.
    void RestartAfterPortChoice();
    // TimerShorts fired (also its OnTimer handler): download the personal data anew.
    void ShortsTimerFired();
    // The data store's write watch: restart TimerShorts from zero.
    void RestartShortsTimer();
    // Frees everything queued and every sent-request record.
    void ClearQueues();

    // Adds a request (see RequestQueue::Enqueue).
    bool Enqueue(char kind, std::int32_t argument, std::span<const std::uint8_t> bytes);
    void Enqueue(char kind, std::int32_t argument) override { Enqueue(kind, argument, {}); }

    // The packet sender: nothing when the payload is empty or the port is
    // closed; otherwise keeps the packet as the last-sent record under the
    // next sequence number, sets the status line, logs when Com_LocOut is
    // set, writes it and resets the tick counter.
    void SendPacket(std::string_view label, std::string_view text,
                    std::span<const std::uint8_t> payload) override;
    // Sends the last-sent record again under its own sequence number; the
    // link then awaits the reply.
    void Resend();

    // ---- DispatchLink ----
    LinkState State() const override { return state_; }
    void SetState(LinkState state) override { state_ = state; }
    bool LinkLost() const override { return linkLost_; }
    void SetLinkLost(bool lost) override { linkLost_ = lost; }
    std::uint8_t LastSentSequence() const override { return lastSent_.sequence; }
    std::unique_ptr<SentRequest> TakeSentRequest(std::uint8_t sequence) override {
        return sent_.Take(sequence);
    }
    void NegativeAcknowledge() override;

    // ---- RelayScheduler ----
    bool LinkIdleAndQueueEmpty() const override {
        return state_ == LinkState::Idle && queue_.Empty();
    }
    void RecordClientRequest(std::int32_t handle, std::span<const std::uint8_t> request) override;
    void SetAwaitingClientReply() override;
    void EnqueueClientRequest(std::int32_t handle, std::span<const std::uint8_t> request) override;
    // A client asked for line states / the SW state: the poll runs (and the
    // time is kept for the idle tick, which stops the poll ANTimeOut /
    // SWTimeOut seconds after the last such request).
    void EnableANPoll() override;
    void EnableSWPoll() override;

    // ---- state, for the main window and tests ----
    std::int32_t TickCounter() const { return tickCounter_; }
    void SetTickCounter(std::int32_t ticks) { tickCounter_ = ticks; }
    std::int32_t TimeoutCount() const { return timeoutCount_; }
    std::uint8_t SequenceCounter() const { return sequence_; }
    const LastSent& LastSentRecord() const { return lastSent_; }
    RequestQueue& Queue() { return queue_; }
    const RequestQueue& Queue() const { return queue_; }
    SentRequests& Sent() { return sent_; }
    bool TickGuard() const { return tickGuard_; }

private:
    void Transmit();
    void TickIdle();
    void TickAwaitingReply();
    void TickLinkDown();
    void ServeHead(RequestQueue::Entry& entry);
    void SendOwnRequest(char kind, std::string_view text, std::span<const std::uint8_t> payload);
    void ServeBlock(char kind);
    void ServeMessageCounters();
    void ServeClientRequest(RequestQueue::Entry& entry);
    void PollTimerFired(char kind, int text);
    bool PluginIsLoaded() const { return PluginLoaded && PluginLoaded(); }
    std::string Msg(int number) const;

    EventLoop& loop_;
    const Settings& settings_;
    PacketPort& port_;
    TDataStore& store_;
    MailPort& mail_;
    LogWriter& log_;
    TextSource& texts_;
    const CommandFormatter& formatter_;

    RequestQueue queue_;
    SentRequests sent_;
    LastSent lastSent_;
    LinkState state_ = LinkState::Idle;
    std::int32_t tickCounter_ = 0;
    std::int32_t timeoutCount_ = 0;
    bool linkLost_ = false;
    bool tickGuard_ = false;
    std::uint8_t sequence_ = 1;
    bool hideToTray_ = false;
    TDateTime lastClientAN_ = 0;
    TDateTime lastClientSW_ = 0;
    std::unique_ptr<TTimer> timers_[7];
};

} // namespace vantor
