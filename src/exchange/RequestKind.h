#pragma once
// The kinds of request the gateway sends to the exchange.  Every kind has one
// letter (it keys the request queue and types the sent-request record) and
// one row in the table below, which the queue, the link cycle, the reply
// dispatch and the data store all read: what the status line says while it
// goes out, whether its reply may serve other clients from the reply cache,
// whether it may wait in the queue more than once, and how it is sent.
#include <array>
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

// How the link cycle sends a kind.
enum class SendStyle : std::uint8_t {
    Own,      // built by the data store, "<LOC" status, the reply awaited
    Quiet,    // built by the data store, no "<LOC" status (plug-in traffic)
    Block,    // one block of a download; a block nobody needs is skipped
    Counters, // only after the mailbox poll read something
    Client,   // a network client's bytes, never resent
};

struct RequestKindInfo {
    RequestKind kind;
    // The status and log text while it goes out: a numbered language text
    // (0: none), or a fixed name.
    int text;
    std::string_view name;
    SendStyle style;
    // Its reply is offered to the reply cache (the cache keeps queries only).
    bool cached;
    // It may wait in the queue several times (with different arguments).
    bool mayRepeat;
    // One of the requests that (re)start the link.
    bool startsLink;
};

inline constexpr std::array<RequestKindInfo, 15> RequestKinds{{
    // kind                           text                    name          style             cached
    // mayRepeat startsLink
    {RequestKind::LineStates, msg::LineStateRequest, "", SendStyle::Own, false, false, false},
    {RequestKind::Configuration, msg::Configuration, "", SendStyle::Own, true, false, true},
    {RequestKind::Queue, msg::Queue, "", SendStyle::Own, false, false, false},
    {RequestKind::Identification, msg::Identification, "", SendStyle::Own, true, false, true},
    {RequestKind::MessageCounters, msg::MailboxCheck, "", SendStyle::Counters, true, false, false},
    {RequestKind::MessageSlot, msg::MessageRequest, "", SendStyle::Own, true, false, false},
    {RequestKind::Client, 0, "", SendStyle::Client, true, false, false},
    {RequestKind::Accounting, msg::AccountingRequest, "", SendStyle::Own, false, false, false},
    {RequestKind::PortList, msg::PortList, "", SendStyle::Own, true, false, true},
    {RequestKind::SWState, msg::SWState, "", SendStyle::Own, false, false, false},
    {RequestKind::CallerData, 0, "UDATA", SendStyle::Quiet, false, true, false},
    {RequestKind::PersonalData, 0, "Personal", SendStyle::Block, true, true, false},
    {RequestKind::ShortNumbers, 0, "ShortMem", SendStyle::Block, true, true, false},
    {RequestKind::PortStructure, 0, "PortStruct", SendStyle::Own, true, false, true},
    {RequestKind::PluginCommand, 0, "COMM", SendStyle::Quiet, false, true, false},
}};

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
