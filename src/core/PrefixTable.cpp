#include "core/PrefixTable.h"

namespace vantor {

namespace {
// The rest of the number after the prefix is taken up to this many characters.
constexpr std::size_t MaxTail = 1000;
} // namespace

std::string PrefixTable::Substitute(std::string_view number) const {
    for (const auto& [prefix, replacement] : entries_) {
        if (number.substr(0, prefix.size()) == prefix)
            return replacement + std::string(number.substr(prefix.size(), MaxTail));
    }
    return std::string(number);
}

} // namespace vantor
