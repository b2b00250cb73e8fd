#pragma once
// The kinds of request the gateway sends to the exchange.  Every kind has one
// letter (it keys the request queue and types the sent-request record) and
// one row in the table below, which the queue, the link cycle, the reply
// dispatch and the data store all read: what the status line says while it
// goes out, whether its reply may serve other clients from the reply cache,
// whether it may wait in the queue more than once, and how it is sent.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "nls/TextIds.h"

namespace vantor {

enum class RequestKind : char {
    LineStates = 'A',
    Configuration = 'C',
    Queue = 'F',
    Identification = 'I',
    MessageCounters = 'M',
    MessageSlot = 'S',
    Client = 'T',
    Accounting = 'U',
    PortList = 'V',
    SWState = 'X',
    CallerData = 'Y',
    PersonalData = 'p',
    ShortNumbers = 's',
    PortStructure = 'x',
    PluginCommand = '#',
};
// The number of enumerators above: the table below has one row for each.
inline constexpr std::size_t RequestKindCount = 15;

// How the link cycle sends a kind.
enum class SendStyle : std::uint8_t {
    Own,      // built by the data store, "<LOC" status, the reply awaited
    Quiet,    // built by the data store, no "<LOC" status (plug-in traffic)
    Block,    // one block of a download; a block nobody needs is skipped
    Counters, // only after the mailbox poll read something
    Client,   // a network client's bytes, never resent
};

struct RequestKindInfo {
    RequestKind kind{};
    // The status and log text while it goes out: a numbered language text
    // (0: none), or a fixed name.
    int text = 0;
    std::string_view name{};
    SendStyle style = SendStyle::Own;
    // Its reply is offered to the reply cache (the cache keeps queries only).
    bool cached = false;
    // It may wait in the queue several times (with different arguments).
    bool mayRepeat = false;
    // One of the requests that (re)start the link.
    bool startsLink = false;
};

inline constexpr std::array<RequestKindInfo, RequestKindCount> RequestKinds{{
    {.kind = RequestKind::LineStates, .text = msg::LineStateRequest},
    {.kind = RequestKind::Configuration,
     .text = msg::Configuration,
     .cached = true,
     .startsLink = true},
    {.kind = RequestKind::Queue, .text = msg::Queue},
    {.kind = RequestKind::Identification,
     .text = msg::Identification,
     .cached = true,
     .startsLink = true},
    {.kind = RequestKind::MessageCounters,
     .text = msg::MailboxCheck,
     .style = SendStyle::Counters,
     .cached = true},
    {.kind = RequestKind::MessageSlot, .text = msg::MessageRequest, .cached = true},
    {.kind = RequestKind::Client, .style = SendStyle::Client, .cached = true},
    {.kind = RequestKind::Accounting, .text = msg::AccountingRequest},
    {.kind = RequestKind::PortList, .text = msg::PortList, .cached = true, .startsLink = true},
    {.kind = RequestKind::SWState, .text = msg::SWState},
    {.kind = RequestKind::CallerData,
     .name = "UDATA",
     .style = SendStyle::Quiet,
     .mayRepeat = true},
    {.kind = RequestKind::PersonalData,
     .name = "Personal",
     .style = SendStyle::Block,
     .cached = true,
     .mayRepeat = true},
    {.kind = RequestKind::ShortNumbers,
     .name = "ShortMem",
     .style = SendStyle::Block,
     .cached = true,
     .mayRepeat = true},
    {.kind = RequestKind::PortStructure, .name = "PortStruct", .cached = true, .startsLink = true},
    {.kind = RequestKind::PluginCommand,
     .name = "COMM",
     .style = SendStyle::Quiet,
     .mayRepeat = true},
}};

// The array's size refuses a row too many; a row left out stays without its
// kind, and a kind given twice would shadow the second row.
constexpr bool EveryKindHasOneRow() {
    for (const RequestKindInfo& row : RequestKinds) {
        if (row.kind == RequestKind{}) return false;
        int rows = 0;
        for (const RequestKindInfo& other : RequestKinds) rows += other.kind == row.kind;
        if (rows != 1) return false;
    }
    return true;
}
static_assert(EveryKindHasOneRow(), "every request kind needs exactly one row");

// The table row of a kind.
constexpr const RequestKindInfo& InfoOf(RequestKind kind) {
    for (const RequestKindInfo& info : RequestKinds)
        if (info.kind == kind) return info;
    // Every enumerator has its row; this is never reached.
    return RequestKinds[0];
}

constexpr char LetterOf(RequestKind kind) { return static_cast<char>(kind); }

// The kind a letter names, or none for a letter that is no kind.
constexpr std::optional<RequestKind> KindOfLetter(char letter) {
    for (const RequestKindInfo& info : RequestKinds)
        if (LetterOf(info.kind) == letter) return info.kind;
    return std::nullopt;
}

} // namespace vantor
