#pragma once
// The two writers of the traffic log, as every part of the gateway sees them.
// A log line is a label (four characters, or a client label "<IP:addr:handle")
// and a text; the status line shows the latest label and text.
#include <string_view>

namespace vantor {

// The labels of the log lines: where a line's traffic comes from or goes to.
namespace labels {
inline constexpr std::string_view FromExchange = "<COM"; // replies and data from the exchange
inline constexpr std::string_view ToExchange = ">COM";   // packets sent to the exchange
inline constexpr std::string_view Local = "<LOC";        // the gateway's own requests
inline constexpr std::string_view FromCache = "<CCH";    // answers from the gateway's own store
inline constexpr std::string_view FromMail = "<602";     // the mailbox poll's counters
inline constexpr std::string_view ToMail = ">602";       // exchange messages handed to mail
inline constexpr std::string_view Error = "!Err";
inline constexpr std::string_view Ok = "-OK-";
inline constexpr std::string_view Note = "----";
inline constexpr std::string_view Plugin = "XAPI";
inline constexpr std::string_view Mail = "Mail";
// A client's label: the direction, then its address and socket handle.
inline constexpr std::string_view FromClient = "<IP:";
inline constexpr std::string_view ToClient = ">IP:";
} // namespace labels

class LogWriter {
public:
    virtual ~LogWriter() = default;
    // Appends a time-stamped line and shows it in the status line too.
    virtual void WriteLog(std::string_view label, std::string_view text) = 0;
    // Sets the status line to label + five blanks + text.
    virtual void WriteStatus(std::string_view label, std::string_view text) = 0;
    // Sets the status line to a text of its own (socket notices, port errors).
    virtual void SetStatusText(std::string_view text) = 0;
};

} // namespace vantor
