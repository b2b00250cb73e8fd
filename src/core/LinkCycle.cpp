#include "core/LinkCycle.h"

#include "core/Settings.h"

namespace vantor {

LinkCycle::TickAction LinkCycle::OnTick() {
    switch (state_) {
    case LinkState::Idle: return TickAction::ServeQueue;
    case LinkState::AwaitingReply: return TickAwaitingReply();
    case LinkState::LinkDown: return TickLinkDown();
    case LinkState::Resend:
        state_ = LinkState::AwaitingReply;
        tickCounter_ = 0;
        return TickAction::Resend;
    case LinkState::AwaitingClientReply:
        // A client's request is never resent: the client asks again.
        if (++tickCounter_ >= limits_.MaxTick) state_ = LinkState::Idle;
        return TickAction::None;
    }
    return TickAction::None; // a value outside the list does nothing
}

LinkCycle::TickAction LinkCycle::TickAwaitingReply() {
    if (++tickCounter_ < limits_.MaxTick) return TickAction::None;
    // Time-outs add up over good replies too: only the link-down pause, a
    // new port and the start reset them.
    ++timeoutCount_;
    if (timeoutCount_ < limits_.MaxError) {
        state_ = LinkState::Resend; // the resend resets the tick counter
        return TickAction::None;
    }
    state_ = LinkState::LinkDown;
    tickCounter_ = 0;
    return linkLost_ ? TickAction::LinkDown : TickAction::LinkLost;
}

LinkCycle::TickAction LinkCycle::TickLinkDown() {
    if (++tickCounter_ < limits_.MaxErrorTick) return TickAction::None;
    state_ = LinkState::Idle;
    timeoutCount_ = 0;
    // Set only now, so that the failure is reported once however often the
    // link goes down again before a frame proves it back.
    linkLost_ = true;
    return TickAction::StartOver;
}

LinkCycle::FrameAction LinkCycle::OnFrame(std::optional<std::uint8_t> sequence) {
    FrameAction action;
    if (state_ != LinkState::AwaitingReply && state_ != LinkState::AwaitingClientReply)
        return action;
    action.awaited = true;
    // Any frame while we wait proves the exchange is back, even a stale one.
    action.recovered = linkLost_;
    linkLost_ = false;
    // Only the answer to the last request sent ends the wait; it is taken once.
    if (sequence && *sequence == lastSent_.sequence) action.reply = sent_.Take(*sequence);
    return action;
}

void LinkCycle::OnNegativeAcknowledgement() { tickCounter_ = limits_.MaxTick; }

void LinkCycle::Record(RequestKind kind, std::span<const std::uint8_t> payload,
                       std::int32_t value) {
    sent_.Record(sequence_, kind, payload, value);
}

const LinkCycle::LastSent& LinkCycle::Send(std::string_view label, std::string_view text,
                                           std::span<const std::uint8_t> payload) {
    lastSent_.label = std::string(label);
    lastSent_.text = std::string(text);
    lastSent_.payload.assign(payload.begin(), payload.end());
    lastSent_.sequence = sequence_;
    ++sequence_; // 8 bits: 255 is followed by 0
    tickCounter_ = 0;
    return lastSent_;
}

void LinkCycle::Restart() {
    state_ = LinkState::Idle;
    timeoutCount_ = 0;
}

bool LinkCycle::LineLost() {
    const bool report = !linkLost_;
    linkLost_ = true;
    return report;
}

} // namespace vantor
