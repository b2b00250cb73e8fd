#include "toolkit/StringList.h"

#include <iterator>
#include <stdexcept>

#include "toolkit/Strings.h"

namespace vantor {

TStringList& TStringList::operator=(const TStringList& other) {
    if (this == &other) return *this;
    lines_ = other.lines_;
    Notify(Change::Cleared, -1);
    return *this;
}

const std::string& TStringList::Strings(int index) const {
    if (index < 0 || index >= Count())
        throw std::out_of_range("TStringList: index " + std::to_string(index) + " out of bounds (" +
                                std::to_string(Count()) + " lines)");
    return lines_[static_cast<std::size_t>(index)];
}

void TStringList::Put(int index, std::string text) {
    if (index < 0 || index >= Count()) return;
    lines_[static_cast<std::size_t>(index)] = std::move(text);
    Notify(Change::Replaced, index);
}

int TStringList::Add(std::string text) {
    lines_.push_back(std::move(text));
    Notify(Change::Inserted, Count() - 1);
    return Count() - 1;
}

void TStringList::Insert(int index, std::string text) {
    if (index < 0) index = 0;
    if (index > Count()) index = Count();
    lines_.insert(lines_.begin() + index, std::move(text));
    Notify(Change::Inserted, index);
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) return;
    lines_.erase(lines_.begin() + index);
    Notify(Change::Deleted, index);
}

void TStringList::Clear() {
    if (lines_.empty()) return;
    lines_.clear();
    Notify(Change::Cleared, -1);
}

void TStringList::Assign(std::vector<std::string> lines) {
    lines_.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    Notify(Change::Cleared, -1);
}

int TStringList::IndexOf(std::string_view text) const {
    for (int i = 0; i < Count(); ++i)
        if (lines_[static_cast<std::size_t>(i)] == text) return i;
    return -1;
}

std::string TStringList::Names(int index) const {
    const std::string& line = Strings(index);
    return line.substr(0, line.find('='));
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& line = Strings(index);
    const std::size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = lines_[static_cast<std::size_t>(i)];
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && SameText(std::string_view(line).substr(0, eq), name))
            return i;
    }
    return -1;
}

std::string TStringList::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line = std::string(name) + "=" + std::string(value);
    if (i >= 0)
        Put(i, std::move(line));
    else
        Add(std::move(line));
}

std::string TStringList::Text() const {
    std::string out;
    for (const std::string& l : lines_) {
        out += l;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t brk = text.find_first_of("\r\n", pos);
        if (brk == std::string_view::npos) {
            lines.emplace_back(text.substr(pos));
            break;
        }
        lines.emplace_back(text.substr(pos, brk - pos));
        pos = brk + 1;
        if (text[brk] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    Assign(std::move(lines));
}

void TStringList::Notify(Change change, int index) {
    if (onChange_) onChange_(change, index);
}

} // namespace vantor
