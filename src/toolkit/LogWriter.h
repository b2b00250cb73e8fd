#pragma once
// The two writers of the traffic log, as every part of the gateway sees them.
// A log line is a label (four characters, or a client label "<IP:addr:handle")
// and a text; the status line shows the latest label and text.
#include <string_view>

namespace vantor {

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
