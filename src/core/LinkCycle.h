#pragma once
// The request-reply cycle towards the exchange as bookkeeping alone, without
// a port, a clock or a log: the link state, the tick counter, the time-out
// count, whether a link failure has been reported, the sequence counter, the
// last-sent record and the sent-request list.  Each event says what is to be
// done: OnTick() for a tick of TimerTick, OnFrame() for a frame from the
// exchange; ExchangeLink does it (sends, logs, traps, queues).
//
// One reply is awaited at a time.  A gateway request that is not answered
// within MaxTick ticks is sent again under its own number; after MaxError
// time-outs (counted since the last restart, good replies in between do not
// reset them) the link is down, reported once until a frame proves it back,
// and polling pauses MaxErrorTick ticks before it starts over.  A client's
// request is never sent again: its wait just ends.  The limits are read live.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/LinkState.h"
#include "core/SentRequests.h"

namespace vantor {

struct TimerSettings;

class LinkCycle {
public:
    // What the packet sender sent last; a resend repeats it unchanged.
    struct LastSent {
        std::string label;
        std::string text;
        std::vector<std::uint8_t> payload;
        std::uint8_t sequence = 0;
    };

    enum class TickAction : std::uint8_t {
        None,       // a wait goes on, or there is nothing to do
        ServeQueue, // the link is idle: the head of the queue may go out
        Resend,     // send the last-sent record again; its reply is awaited
        LinkLost,   // the link went down: report it and send the link-lost trap
        LinkDown,   // the link went down again, the failure reported already
        StartOver,  // the pause is over: the initial request set goes out again
    };

    struct FrameAction {
        // A reply was awaited, so the frame proves the exchange is there.
        bool awaited = false;
        // A reported link failure is over: report it and send the
        // link-restored trap.
        bool recovered = false;
        // The frame answers the last request sent: its record, to be handled
        // by kind; ReplyHandled() then makes the link idle.
        std::unique_ptr<SentRequest> reply;
    };

    explicit LinkCycle(const TimerSettings& limits) : limits_(limits) {}

    // ---- events ----
    TickAction OnTick();
    // A frame with its sequence number (none when the frame was empty).
    FrameAction OnFrame(std::optional<std::uint8_t> sequence);
    // The reply OnFrame() handed out has been handled.
    void ReplyHandled() { state_ = LinkState::Idle; }
    // A negative acknowledgement: the next tick ends the current wait.
    void OnNegativeAcknowledgement();

    // ---- sending ----
    // Records a request under the number the next send will use.
    void Record(RequestKind kind, std::span<const std::uint8_t> payload, std::int32_t value);
    // Keeps the packet as the last-sent record under the next sequence
    // number (255 is followed by 0); the wait counts from now.
    const LastSent& Send(std::string_view label, std::string_view text,
                         std::span<const std::uint8_t> payload);
    // What was just sent (or not, the port being closed) is awaited.
    void Await(LinkState awaiting) { state_ = awaiting; }
    // The tick counter starts from zero.
    void ResetTickCounter() { tickCounter_ = 0; }

    // ---- restarts ----
    // The link starts over on a new port: Idle, no time-outs counted.
    void Restart();
    // The serial line went away: a link failure.  True when it is to be
    // reported (it was not already).
    bool LineLost();
    void ClearSent() { sent_.Clear(); }

    // ---- state ----
    LinkState State() const { return state_; }
    // A link failure has been reported and its recovery not yet.
    bool LinkLost() const { return linkLost_; }
    std::int32_t TickCounter() const { return tickCounter_; }
    std::int32_t TimeoutCount() const { return timeoutCount_; }
    std::uint8_t SequenceCounter() const { return sequence_; }
    const LastSent& LastSentRecord() const { return lastSent_; }
    const SentRequests& Sent() const { return sent_; }

private:
    TickAction TickAwaitingReply();
    TickAction TickLinkDown();

    const TimerSettings& limits_;
    LinkState state_ = LinkState::Idle;
    std::int32_t tickCounter_ = 0;
    std::int32_t timeoutCount_ = 0;
    bool linkLost_ = false;
    std::uint8_t sequence_ = 1;
    LastSent lastSent_;
    SentRequests sent_;
};

} // namespace vantor
