#include "accounting/AccountingRecordList.h"

namespace vantor {

bool AccountingRecordList::Add(std::string_view text) {
    if (text == lastText_) return false;
    lastText_.assign(text);
    if (records_.size() > DropThreshold) {
        records_.pop_front();
        ++firstKept_;
    }
    records_.emplace_back(text);
    ++total_;
    return true;
}

std::optional<std::string_view> AccountingRecordList::Text(std::uint32_t number) const {
    if (number < firstKept_ || number >= total_) return std::nullopt;
    const std::size_t position = number - firstKept_;
    if (position >= records_.size()) return std::nullopt;
    return std::string_view(records_[position]);
}

std::optional<std::uint32_t> AccountingRecordList::RecordForClient(std::int64_t cursor,
                                                                   bool again) const {
    if (Empty()) return std::nullopt;
    std::int64_t number = again ? cursor - 1 : cursor;
    if (number < static_cast<std::int64_t>(firstKept_)) number = firstKept_;
    if (number >= static_cast<std::int64_t>(total_)) return std::nullopt;
    return static_cast<std::uint32_t>(number);
}

} // namespace vantor
