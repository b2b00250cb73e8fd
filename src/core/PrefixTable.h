#pragma once
// Number prefixes rewritten before the gateway dials for the call-centre
// plug-in: the name=value lines of the configuration's [Prefix] section, in
// file order.  The first line whose name begins the number wins.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantor {

class PrefixTable {
public:
    using Entry = std::pair<std::string, std::string>; // prefix, replacement

    PrefixTable() = default;
    explicit PrefixTable(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    const std::vector<Entry>& entries() const { return entries_; }

    // The number with its first matching prefix replaced (case-sensitive; an
    // empty prefix matches every number); unchanged when nothing matches.
    std::string Substitute(std::string_view number) const;

private:
    std::vector<Entry> entries_;
};

} // namespace vantor
