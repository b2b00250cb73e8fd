#pragma once
// The call-accounting records the gateway keeps in memory for network clients.
//
// Every record the exchange hands out is appended to the accounting file by
// the data store; the most recent ones are also kept here, numbered in arrival
// order, so that a client can walk through them with requests 4 (next record)
// and 5 (the same record again).  Record number n is the (n+1)-th record ever
// kept; the list holds the numbers FirstKept() .. Total()-1.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

class AccountingRecordList {
public:
    // The list drops its oldest record before adding when it already holds more
    // than 200, so it never holds more than 201.
    static constexpr std::size_t DropThreshold = 200;
    static constexpr std::size_t Capacity = DropThreshold + 1;

    // Keeps a record that has been written to the accounting file.  A record
    // equal to the last one kept is not kept again (the exchange repeats a
    // record when asked with request 5); returns whether it was kept.
    bool Add(std::string_view text);

    std::uint32_t FirstKept() const { return firstKept_; }
    std::uint32_t Total() const { return total_; }
    bool Empty() const { return firstKept_ == total_; }
    std::size_t Size() const { return records_.size(); }
    const std::string& LastText() const { return lastText_; }

    // The text of record `number`, or none when it is not (or no longer) kept.
    std::optional<std::string_view> Text(std::uint32_t number) const;

    // Which record a client with accounting cursor `cursor` gets for request 4
    // (again = false) or 5 (again = true): none when nothing is left for it.
    // A cursor behind the kept records moves up to the oldest kept one.
    std::optional<std::uint32_t> RecordForClient(std::int64_t cursor, bool again) const;

private:
    std::deque<std::string> records_;
    std::uint32_t firstKept_ = 0;
    std::uint32_t total_ = 0;
    std::string lastText_;
};

} // namespace vantor
