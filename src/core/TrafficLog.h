#pragma once
// The traffic log of the main window: a list of the newest 500 time-stamped
// lines and a status line with the latest event.  The list follows new lines
// while its last line is selected (or nothing is); with an older line selected
// the view stays on that line as lines come and go.
#include "toolkit/LogWriter.h"

#include <functional>
#include <string>
#include <string_view>

namespace vantor {

class EventLoop;
class TListBox;
class TStatusBar;

class TrafficLog : public LogWriter {
public:
    static constexpr int MaxLines = 500;

    TrafficLog(TListBox& list, TStatusBar& status, const EventLoop& clock)
        : list_(list), status_(status), clock_(clock) {}

    void WriteLog(std::string_view label, std::string_view text) override;
    void WriteStatus(std::string_view label, std::string_view text) override;
    void SetStatusText(std::string_view text) override;

    // The status line as it reads now.
    const std::string& StatusText() const;
    // The text of the latest line or status, without its label.
    const std::string& LastText() const { return lastText_; }
    // Empties the list (the shut-down does, before the socket closes).
    void Clear();

    // "HH:MM:SS.t" of the local wall clock now.
    std::string Stamp() const;

    // Every line as it is added to the list (headless and service mode copy
    // the log to standard output through this).
    std::function<void(const std::string& line)> OnLine;

private:
    TListBox& list_;
    TStatusBar& status_;
    const EventLoop& clock_;
    std::string lastText_;
};

} // namespace vantor
