#include "core/ExchangeLink.h"

#include <exception>
#include <utility>

#include "accounting/AccountingFile.h"
#include "core/Settings.h"
#include "exchange/CommandFormatter.h"
#include "exchange/DataStore.h"
#include "exchange/MailPort.h"
#include "exchange/PluginFeed.h"
#include "nls/TextIds.h"
#include "serial/PacketPort.h"
#include "toolkit/EventLoop.h"
#include "toolkit/LogWriter.h"
#include "toolkit/ScopedFlag.h"
#include "toolkit/Strings.h"
#include "toolkit/TextSource.h"
#include "toolkit/Timer.h"

namespace vantor {

namespace {

constexpr const char* TimerNames[7] = {"TimerTick", "TimerAN", "TimerMSG",   "TimerSMS",
                                       "TimerUR",   "TimerSW", "TimerShorts"};

std::uint32_t Period(std::int32_t ms) { return ms > 0 ? static_cast<std::uint32_t>(ms) : 0; }

} // namespace

ExchangeLink::ExchangeLink(const Parts& parts)
    : loop_(parts.loop), settings_(parts.settings), port_(parts.port), store_(parts.store),
      accounting_(parts.accounting), mail_(parts.mail), log_(parts.log), texts_(parts.texts),
      formatter_(parts.formatter), replies_(parts.replies), tray_(parts.tray),
      plugin_(parts.plugin) {
    for (int i = 0; i < 7; ++i) {
        timers_[i] = std::make_unique<TTimer>(parts.owner, loop_);
        timers_[i]->SetEnabled(false);
        timers_[i]->SetName(TimerNames[i]);
    }
    ApplyTimerPeriods();
    TimerTick().OnTimer = [this](TObject*) { Tick(); };
    TimerAN().OnTimer = [this](TObject*) {
        PollTimerFired(RequestKind::LineStates);
        // The queue contents go to the plug-in with the line states.
        if (PluginIsLoaded()) Enqueue(RequestKind::Queue, 0);
    };
    TimerSW().OnTimer = [this](TObject*) { PollTimerFired(RequestKind::SWState); };
    TimerMSG().OnTimer = [this](TObject*) { PollTimerFired(RequestKind::MessageCounters); };
    TimerSMS().OnTimer = [this](TObject*) { PollTimerFired(RequestKind::MessageSlot); };
    TimerUR().OnTimer = [this](TObject*) { PollTimerFired(RequestKind::Accounting); };
    TimerShorts().OnTimer = [this](TObject*) { ShortsTimerFired(); };
}

ExchangeLink::~ExchangeLink() {
    for (auto& timer : timers_) {
        timer->SetEnabled(false);
        timer->OnTimer = nullptr;
    }
}

void ExchangeLink::ApplyTimerPeriods() {
    TimerTick().SetInterval(Period(settings_.Interval));
    TimerAN().SetInterval(Period(settings_.ANInterval));
    TimerMSG().SetInterval(Period(settings_.MSGInterval));
    TimerSMS().SetInterval(Period(settings_.TrapInterval));
    TimerUR().SetInterval(Period(settings_.URInterval));
    TimerSW().SetInterval(Period(settings_.SWInterval));
    TimerShorts().SetInterval(Period(settings_.Shorts));
}

void ExchangeLink::StopTimers() {
    for (auto& timer : timers_) timer->SetEnabled(false);
}

std::string ExchangeLink::Msg(int number) const { return texts_.Msg(number); }

bool ExchangeLink::PluginIsLoaded() const { return plugin_ != nullptr && plugin_->Active(); }

bool ExchangeLink::Enqueue(RequestKind kind, std::int32_t argument,
                           std::span<const std::uint8_t> bytes) {
    return queue_.Enqueue(kind, argument, bytes);
}

void ExchangeLink::ClearQueues() {
    queue_.Clear();
    sent_.Clear();
}

// ---- packet sender ----

void ExchangeLink::SendPacket(std::string_view label, std::string_view text,
                              std::span<const std::uint8_t> payload) {
    if (payload.empty() || !port_.IsOpen()) return;
    lastSent_.label = std::string(label);
    lastSent_.text = std::string(text);
    lastSent_.payload.assign(payload.begin(), payload.end());
    lastSent_.sequence = sequence_;
    ++sequence_; // 8 bits: 255 is followed by 0
    Transmit();
}

void ExchangeLink::Resend() {
    Transmit();
    state_ = LinkState::AwaitingReply;
}

void ExchangeLink::Transmit() {
    log_.WriteStatus(lastSent_.label, lastSent_.text);
    if (settings_.Com_LocOut) log_.WriteLog(lastSent_.label, lastSent_.text);
    try {
        port_.WritePacket(lastSent_.sequence, lastSent_.payload);
    } catch (const std::exception& e) {
        // A failed write is a lost packet: the wait runs out and the packet
        // is resent like any unanswered one.
        log_.WriteLog("!Err", e.what());
    }
    tickCounter_ = 0;
}

void ExchangeLink::SendAwaited(RequestKind kind, std::string_view text,
                               std::span<const std::uint8_t> payload, std::int32_t value,
                               LinkState awaiting) {
    // Recorded under the number the packet sender is about to use.
    sent_.Record(sequence_, kind, payload, value);
    SendPacket(">COM", text, payload);
    state_ = awaiting;
}

// ---- tick ----

void ExchangeLink::Tick() {
    if (tickGuard_) return;
    const ScopedFlag guard(tickGuard_);

    if (hideToTray_ && tray_.AddTrayIcon()) hideToTray_ = false;
    if (!port_.IsOpen()) return;

    switch (state_) {
    case LinkState::Idle: TickIdle(); break;
    case LinkState::AwaitingReply: TickAwaitingReply(); break;
    case LinkState::LinkDown: TickLinkDown(); break;
    case LinkState::Resend: Resend(); break;
    case LinkState::AwaitingClientReply:
        // A client's request is never resent: the client asks again.
        if (++tickCounter_ >= settings_.MaxTick) state_ = LinkState::Idle;
        break;
    default: break;
    }
}

void ExchangeLink::TickIdle() {
    const TDateTime now = loop_.now();
    if (!PluginIsLoaded() && now - lastClientAN_ > settings_.ANTimeOut / 86400.0)
        TimerAN().SetEnabled(false);
    if (now - lastClientSW_ > settings_.SWTimeOut / 86400.0) TimerSW().SetEnabled(false);
    ServeNext();
}

void ExchangeLink::ServeNext() {
    if (queue_.Empty()) return;
    // Take the head out first: serving it may queue follow-ups, and a full
    // queue must not drop the next request in its place.
    RequestQueue::Entry entry = queue_.TakeNext();
    ServeHead(entry);
    tickCounter_ = 0;
}

void ExchangeLink::TickAwaitingReply() {
    if (++tickCounter_ < settings_.MaxTick) return;
    // Time-outs add up over good replies too: only the link-down pause, a
    // new port and the start reset them.
    ++timeoutCount_;
    if (timeoutCount_ < settings_.MaxError) {
        state_ = LinkState::Resend;
        return;
    }
    state_ = LinkState::LinkDown;
    if (!linkLost_) {
        log_.WriteLog("!Err", Msg(msg::LinkLost));
        mail_.SendTrap(MailPort::TrapLinkLost);
    }
    if (lostSince_ == 0) lostSince_ = loop_.now();
    tickCounter_ = 0;
}

void ExchangeLink::TickLinkDown() {
    if (++tickCounter_ < settings_.MaxErrorTick) return;
    state_ = LinkState::Idle;
    queue_.FillInitialSet();
    timeoutCount_ = 0;
    linkLost_ = true;
    // A record the exchange handed out during the outage is asked for again.
    accounting_.ExpectRepeat();
}

void ExchangeLink::ServeHead(RequestQueue::Entry& entry) {
    const RequestKind kind = entry.Kind();
    switch (InfoOf(kind).style) {
    case SendStyle::Own:
    case SendStyle::Quiet: ServeOwn(kind, entry.argument); break;
    case SendStyle::Block: ServeBlock(kind); break;
    case SendStyle::Counters: ServeMessageCounters(); break;
    case SendStyle::Client:
        if (entry.relayed) ServeClient(entry.relayed->socketHandle, entry.relayed->bytes);
        break;
    }
}

void ExchangeLink::ServeOwn(RequestKind kind, std::int32_t argument) {
    // An accounting record that did not make it into the file is asked for
    // again (05) until it does.
    if (kind == RequestKind::Accounting) {
        argument = accounting_.AskAgain() ? 1 : 0;
        accounting_.RequestSent();
    }
    const std::vector<std::uint8_t> payload = store_.BuildRequest(kind, argument);
    // Without a payload nothing goes out; waiting would only end in a resend
    // of some earlier packet.
    if (payload.empty()) return;
    const RequestKindInfo& info = InfoOf(kind);
    const std::string text = info.text ? Msg(info.text) : std::string(info.name);
    if (info.style == SendStyle::Own) {
        if (info.startsLink && timeoutCount_ == 0 && settings_.Com_LocOut)
            log_.WriteLog("<LOC", text);
        log_.WriteStatus("<LOC", text);
    }
    SendAwaited(kind, text, payload);
}

void ExchangeLink::ServeBlock(RequestKind kind) {
    const std::vector<std::uint8_t> payload = store_.BuildRequest(kind, 0);
    if (!payload.empty()) {
        const std::string text = std::string(InfoOf(kind).name) + IntToStr(store_.BlockCounter());
        log_.WriteStatus("<LOC", text);
        SendAwaited(kind, text, payload);
        return;
    }
    // A block nobody refers to: move on to the next one without asking.
    if (store_.SkipBlock(kind) == StatusMoreBlocks) {
        store_.SetBlockCounter(store_.BlockCounter() + 1);
        Enqueue(kind, 0);
    }
}

void ExchangeLink::ServeMessageCounters() {
    log_.WriteStatus("<LOC", Msg(msg::MailboxCheck));
    if (!mail_.PollMailboxes()) {
        if (settings_.Extent) log_.WriteLog("<602", Msg(msg::NoMailboxChange));
        return;
    }
    const std::vector<std::uint8_t> payload = store_.BuildRequest(RequestKind::MessageCounters);
    if (payload.empty()) return;
    if (settings_.Extent)
        log_.WriteLog("<602", formatter_.format(Direction::Request, payload, payload[0], true));
    else
        log_.WriteLog("<602", Msg(msg::CountersToExchange));
    SendAwaited(RequestKind::MessageCounters, Msg(msg::CountersToExchange), payload);
}

void ExchangeLink::ServeClient(std::int32_t handle, std::span<const std::uint8_t> request) {
    if (request.empty()) return;
    const std::string text = formatter_.format(Direction::Request, request);
    if (store_.WriteWatch(request)) RestartShortsTimer();
    SendAwaited(RequestKind::Client, text, request, handle, LinkState::AwaitingClientReply);
    replies_.ClientRequestSent(request);
    if (settings_.Com_Out == 1 && settings_.Com_LocOut == 0) log_.WriteLog(">COM", text);
    tickCounter_ = 0;
}

// ---- from the exchange ----

void ExchangeLink::HandleFrame(int count, const std::uint8_t* data) {
    if (count > 0 && data == nullptr) return;
    if (state_ != LinkState::AwaitingReply && state_ != LinkState::AwaitingClientReply) return;

    // Any frame while we wait proves the exchange is back, even a stale one.
    if (linkLost_) {
        log_.WriteLog("-OK-", Msg(msg::LinkRestored));
        mail_.SendTrap(MailPort::TrapLinkRestored);
        linkLost_ = false;
    }
    lostSince_ = 0;
    if (count < 1) return; // not even a sequence number

    const std::uint8_t sequence = data[0];
    if (sequence != lastSent_.sequence) return;
    std::unique_ptr<SentRequest> record = sent_.Take(sequence);
    if (!record) return;

    replies_.Dispatch(*record, std::span(data + 1, static_cast<std::size_t>(count - 1)));
    state_ = LinkState::Idle;
    // Waiting for the next tick would cap the relay at one request per tick
    // whatever the line could carry.  Only a reply that matched the one
    // outstanding request gets here, and the state is Idle, so a stale or
    // repeated reply can never put a second request on the line.  The send
    // stands in for a tick, so none goes out while the tick is stopped (an
    // exchange this gateway cannot serve, "Zastavit", a modal dialog, and
    // this very reply may have stopped it).
    if (settings_.SendOnReply && port_.IsOpen() && TimerTick().Enabled()) ServeNext();
}

void ExchangeLink::HandleChar(std::uint8_t chr) {
    if (chr == NegativeAcknowledgement) tickCounter_ = settings_.MaxTick;
}

// ---- what reply handling asks ----

void ExchangeLink::SendUnawaited(std::string_view text, std::span<const std::uint8_t> payload) {
    SendPacket(">COM", text, payload);
}

void ExchangeLink::StartPoll(Poll poll) {
    switch (poll) {
    case Poll::LineStates: TimerAN().SetEnabled(true); break;
    case Poll::MessageCounters: TimerMSG().SetEnabled(true); break;
    case Poll::MessageSlots: TimerSMS().SetEnabled(true); break;
    case Poll::Accounting: TimerUR().SetEnabled(true); break;
    }
}

void ExchangeLink::SetAccountingPace(bool recordsWaiting) {
    TimerUR().SetInterval(
        Period(recordsWaiting ? settings_.URInterval : settings_.URIntervalBezDat));
}

void ExchangeLink::SetPolling(bool on) { TimerTick().SetEnabled(on); }

// ---- the poll timers ----

void ExchangeLink::PollTimerFired(RequestKind kind) {
    if (settings_.Com_LocOut && TimerTick().Enabled())
        log_.WriteLog("<LOC", Msg(InfoOf(kind).text));
    Enqueue(kind, 0);
}

void ExchangeLink::ShortsTimerFired() {
    store_.SetBlockCounter(0);
    Enqueue(RequestKind::PersonalData, 0);
    TimerShorts().SetEnabled(false);
}

void ExchangeLink::RestartShortsTimer() {
    TimerShorts().SetEnabled(false);
    TimerShorts().SetEnabled(true);
}

void ExchangeLink::LineLost() {
    if (!linkLost_) {
        log_.WriteLog("!Err", Msg(msg::LinkLost));
        mail_.SendTrap(MailPort::TrapLinkLost);
    }
    linkLost_ = true;
    if (lostSince_ == 0) lostSince_ = loop_.now();
}

void ExchangeLink::LineReopened() {
    RestartAfterPortChoice();
    accounting_.ExpectRepeat();
}

void ExchangeLink::RestartAfterPortChoice() {
    state_ = LinkState::Idle;
    queue_.FillInitialSet();
    timeoutCount_ = 0;
}

// ---- client requests ----

void ExchangeLink::SubmitClientRequest(std::int32_t handle, std::span<const std::uint8_t> request) {
    if (state_ == LinkState::Idle && queue_.Empty())
        ServeClient(handle, request);
    else
        queue_.Enqueue(RequestKind::Client, handle, request);
}

void ExchangeLink::ClientAskedForLineStates() {
    lastClientAN_ = loop_.now();
    TimerAN().SetEnabled(true);
}

void ExchangeLink::ClientAskedForSW() {
    lastClientSW_ = loop_.now();
    TimerSW().SetEnabled(true);
}

} // namespace vantor
