#include "core/ExchangeLink.h"

#include <exception>
#include <utility>

#include "core/Settings.h"
#include "exchange/CommandFormatter.h"
#include "exchange/DataStore.h"
#include "toolkit/EventLoop.h"
#include "toolkit/LogWriter.h"
#include "toolkit/Strings.h"
#include "toolkit/TextSource.h"
#include "toolkit/Timer.h"

namespace vantor {

namespace {

constexpr const char* TimerNames[7] = {"TimerTick", "TimerAN", "TimerMSG",   "TimerSMS",
                                       "TimerUR",   "TimerSW", "TimerShorts"};

std::uint32_t Period(std::int32_t ms) { return ms > 0 ? static_cast<std::uint32_t>(ms) : 0; }

// Language text of the status and log line of each kind the gateway sends.
int KindText(char kind) {
    switch (kind) {
    case 'A': return 108;
    case 'C': return 100;
    case 'F': return 147;
    case 'I': return 101;
    case 'S': return 109;
    case 'U': return 107;
    case 'V': return 103;
    case 'X': return 104;
    default: return 0;
    }
}

// Clears the tick guard however the tick is left.
class GuardScope {
public:
    explicit GuardScope(bool& guard) : guard_(guard) { guard_ = true; }
    ~GuardScope() { guard_ = false; }
    GuardScope(const GuardScope&) = delete;
    GuardScope& operator=(const GuardScope&) = delete;

private:
    bool& guard_;
};

} // namespace

ExchangeLink::ExchangeLink(TComponent* owner, EventLoop& loop, const Settings& settings,
                           PacketPort& port, TDataStore& store, MailPort& mail, LogWriter& log,
                           TextSource& texts, const CommandFormatter& formatter)
    : loop_(loop), settings_(settings), port_(port), store_(store), mail_(mail), log_(log),
      texts_(texts), formatter_(formatter) {
    for (int i = 0; i < 7; ++i) {
        timers_[i] = std::make_unique<TTimer>(owner, loop);
        timers_[i]->SetEnabled(false);
        timers_[i]->SetName(TimerNames[i]);
    }
    ApplyTimerPeriods();
    TimerTick().OnTimer = [this](TObject*) { Tick(); };
    TimerAN().OnTimer = [this](TObject*) {
        PollTimerFired('A', 108);
        // The queue contents go to the plug-in with the line states.
        if (PluginIsLoaded()) Enqueue('F', 0);
    };
    TimerSW().OnTimer = [this](TObject*) { PollTimerFired('X', 104); };
    TimerMSG().OnTimer = [this](TObject*) { PollTimerFired('M', 113); };
    TimerSMS().OnTimer = [this](TObject*) { PollTimerFired('S', 109); };
    TimerUR().OnTimer = [this](TObject*) { PollTimerFired('U', 107); };
    TimerShorts().OnTimer = [this](TObject*) { ShortsTimerFired(); };
}

ExchangeLink::~ExchangeLink() {
    for (auto& timer : timers_) {
        timer->SetEnabled(false);
        timer->OnTimer = nullptr;
    }
}

TTimer& ExchangeLink::Timer(LinkTimer timer) {
    switch (timer) {
    case LinkTimer::Tick: return TimerTick();
    case LinkTimer::AN: return TimerAN();
    case LinkTimer::MSG: return TimerMSG();
    case LinkTimer::SMS: return TimerSMS();
    case LinkTimer::UR: return TimerUR();
    case LinkTimer::SW: return TimerSW();
    case LinkTimer::Shorts: return TimerShorts();
    }
    return TimerTick();
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

bool ExchangeLink::Enqueue(char kind, std::int32_t argument, std::span<const std::uint8_t> bytes) {
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

void ExchangeLink::NegativeAcknowledge() { tickCounter_ = settings_.MaxTick; }

// ---- tick ----

void ExchangeLink::Tick() {
    if (tickGuard_) return;
    GuardScope guard(tickGuard_);

    if (hideToTray_ && AddTrayIcon && AddTrayIcon()) hideToTray_ = false;
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
    const TDateTime lastAN = LastClientANRequest ? LastClientANRequest() : lastClientAN_;
    const TDateTime lastSW = LastClientSWRequest ? LastClientSWRequest() : lastClientSW_;
    if (!PluginIsLoaded() && now - lastAN > settings_.ANTimeOut / 86400.0)
        TimerAN().SetEnabled(false);
    if (now - lastSW > settings_.SWTimeOut / 86400.0) TimerSW().SetEnabled(false);
    if (queue_.Empty()) return;

    // Take the head out first: serving it may queue follow-ups, and a full
    // queue must not drop the next request in its place.
    RequestQueue::Entry entry = std::move(queue_.Head());
    queue_.PopHead();
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
        log_.WriteLog("!Err", Msg(116));
        mail_.SendTrap(1);
    }
    tickCounter_ = 0;
}

void ExchangeLink::TickLinkDown() {
    if (++tickCounter_ < settings_.MaxErrorTick) return;
    state_ = LinkState::Idle;
    queue_.FillInitialSet();
    timeoutCount_ = 0;
    linkLost_ = true;
}

void ExchangeLink::ServeHead(RequestQueue::Entry& entry) {
    const char kind = entry.Kind();
    switch (kind) {
    case 'A':
    case 'C':
    case 'F':
    case 'I':
    case 'S':
    case 'U':
    case 'V':
    case 'X': {
        const std::vector<std::uint8_t> payload = store_.BuildRequest(kind, entry.argument);
        SendOwnRequest(kind, Msg(KindText(kind)), payload);
        break;
    }
    case 'x': {
        const std::vector<std::uint8_t> payload = store_.BuildRequest('x', entry.argument);
        SendOwnRequest('x', "PortStruct", payload);
        break;
    }
    case '#': {
        const std::vector<std::uint8_t> payload = store_.BuildRequest('#', entry.argument);
        if (payload.empty()) break; // a command kind without a request
        sent_.Record(sequence_, '#', payload, 0);
        SendPacket(">COM", "COMM", payload);
        state_ = LinkState::AwaitingReply;
        break;
    }
    case 'Y': {
        const std::vector<std::uint8_t> payload = store_.BuildRequest('Y', entry.argument);
        if (payload.empty()) break;
        sent_.Record(sequence_, 'Y', payload, 0);
        SendPacket(">COM", "UDATA", payload);
        state_ = LinkState::AwaitingReply;
        break;
    }
    case 'p':
    case 's': ServeBlock(kind); break;
    case 'M': ServeMessageCounters(); break;
    case 'T': ServeClientRequest(entry); break;
    default: break; // unknown letters are dropped
    }
}

void ExchangeLink::SendOwnRequest(char kind, std::string_view text,
                                  std::span<const std::uint8_t> payload) {
    // Without a payload nothing goes out; waiting would only end in a resend
    // of some earlier packet.
    if (payload.empty()) return;
    sent_.Record(sequence_, kind, payload, 0);
    const bool startRequest = kind == 'C' || kind == 'I' || kind == 'V' || kind == 'x';
    if (startRequest && timeoutCount_ == 0 && settings_.Com_LocOut) log_.WriteLog("<LOC", text);
    log_.WriteStatus("<LOC", text);
    SendPacket(">COM", text, payload);
    state_ = LinkState::AwaitingReply;
}

void ExchangeLink::ServeBlock(char kind) {
    const std::vector<std::uint8_t> payload = store_.BuildRequest(kind, 0);
    if (!payload.empty()) {
        const std::string text =
            (kind == 'p' ? "Personal" : "ShortMem") + IntToStr(store_.BlockCounter());
        sent_.Record(sequence_, kind, payload, 0);
        log_.WriteStatus("<LOC", text);
        SendPacket(">COM", text, payload);
        state_ = LinkState::AwaitingReply;
        return;
    }
    // A block nobody refers to: move on to the next one without asking.
    if (store_.SkipBlock(kind) == StatusMoreBlocks) {
        store_.SetBlockCounter(store_.BlockCounter() + 1);
        Enqueue(kind, 0);
    }
}

void ExchangeLink::ServeMessageCounters() {
    log_.WriteStatus("<LOC", Msg(113));
    if (!mail_.PollMailboxes()) {
        if (settings_.Extent) log_.WriteLog("<602", Msg(115));
        return;
    }
    const std::vector<std::uint8_t> payload = store_.BuildRequest('M', 0);
    if (payload.empty()) return;
    if (settings_.Extent)
        log_.WriteLog("<602", formatter_.format(Direction::Request, payload, payload[0], true));
    else
        log_.WriteLog("<602", Msg(114));
    sent_.Record(sequence_, 'M', payload, 0);
    SendPacket(">COM", Msg(114), payload);
    state_ = LinkState::AwaitingReply;
}

void ExchangeLink::ServeClientRequest(RequestQueue::Entry& entry) {
    if (!entry.relayed || entry.relayed->bytes.empty()) return;
    const RelayedRequest& request = *entry.relayed;
    RecordClientRequest(request.socketHandle, request.bytes);
    const std::string text =
        formatter_.format(Direction::Request, request.bytes, request.firstByte);
    store_.WriteWatch(request.bytes);
    SendPacket(">COM", text, request.bytes);
    if (settings_.Com_Out == 1 && settings_.Com_LocOut == 0) log_.WriteLog(">COM", text);
    state_ = LinkState::AwaitingClientReply;
}

// ---- the poll timers ----

void ExchangeLink::PollTimerFired(char kind, int text) {
    if (settings_.Com_LocOut && TimerTick().Enabled()) log_.WriteLog("<LOC", Msg(text));
    Enqueue(kind, 0);
}

void ExchangeLink::ShortsTimerFired() {
    store_.SetBlockCounter(0);
    Enqueue('p', 0);
    TimerShorts().SetEnabled(false);
}

void ExchangeLink::RestartShortsTimer() {
    TimerShorts().SetEnabled(false);
    TimerShorts().SetEnabled(true);
}

void ExchangeLink::RestartAfterPortChoice() {
    state_ = LinkState::Idle;
    queue_.FillInitialSet();
    timeoutCount_ = 0;
}

// ---- RelayScheduler ----

void ExchangeLink::RecordClientRequest(std::int32_t handle, std::span<const std::uint8_t> request) {
    sent_.Record(sequence_, 'T', request, handle);
}

void ExchangeLink::SetAwaitingClientReply() {
    state_ = LinkState::AwaitingClientReply;
    tickCounter_ = 0;
}

void ExchangeLink::EnqueueClientRequest(std::int32_t handle,
                                        std::span<const std::uint8_t> request) {
    queue_.Enqueue('T', handle, request);
}

void ExchangeLink::EnableANPoll() {
    lastClientAN_ = loop_.now();
    TimerAN().SetEnabled(true);
}

void ExchangeLink::EnableSWPoll() {
    lastClientSW_ = loop_.now();
    TimerSW().SetEnabled(true);
}

} // namespace vantor
