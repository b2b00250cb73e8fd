#include "core/TrafficLog.h"

#include "toolkit/Controls.h"
#include "toolkit/DateTime.h"
#include "toolkit/EventLoop.h"

namespace vantor {

std::string TrafficLog::Stamp() const {
    const TimeOfDay t = DecodeTime(clock_.now());
    std::string stamp = FormatLongTime(t);
    stamp += '.';
    stamp += static_cast<char>('0' + t.msec / 100);
    return stamp;
}

void TrafficLog::WriteStatus(std::string_view label, std::string_view text) {
    lastText_ = text;
    std::string line(label);
    line += "     ";
    line += text;
    status_.SetSimpleText(std::move(line));
}

const std::string& TrafficLog::StatusText() const { return status_.SimpleText(); }

void TrafficLog::Clear() { list_.Clear(); }

void TrafficLog::SetStatusText(std::string_view text) {
    lastText_ = text;
    status_.SetSimpleText(std::string(text));
}

void TrafficLog::WriteLog(std::string_view label, std::string_view text) {
    WriteStatus(label, text);
    std::string line = Stamp();
    line += "  ";
    line += label;
    line += " ";
    line += text;

    const bool following = list_.ItemIndex() == list_.Count() - 1;
    list_.Add(line);
    if (following) list_.SetItemIndex(list_.Count() - 1);
    if (list_.Count() > MaxLines) {
        const int selected = list_.ItemIndex();
        list_.SetItemIndex(-1);
        list_.Delete(0);
        list_.SetItemIndex(selected - 1);
    }
    if (OnLine) OnLine(line);
}

} // namespace vantor
