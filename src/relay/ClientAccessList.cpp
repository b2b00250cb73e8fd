#include "relay/ClientAccessList.h"

#include "toolkit/Strings.h"

namespace vantor {

std::optional<std::uint32_t> ClientAccessList::ParseAddress(std::string_view text) {
    std::uint32_t value = 0;
    int parts = 0;
    while (parts < 4) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        if (part.empty() || part.size() > 3) return std::nullopt;
        int number = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return std::nullopt;
            number = number * 10 + (c - '0');
        }
        if (number > 255) return std::nullopt;
        value = value << 8 | static_cast<std::uint32_t>(number);
        ++parts;
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    if (parts != 4 || text.find('.') != std::string_view::npos) return std::nullopt;
    return value;
}

std::string ClientAccessList::DottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFF) + '.' +
           std::to_string(address >> 8 & 0xFF) + '.' + std::to_string(address & 0xFF);
}

ClientAccessList ClientAccessList::Parse(std::string_view text, std::vector<std::string>& errors) {
    ClientAccessList list;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = TrimView(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (entry.empty()) continue;
        list.restricted_ = true;
        const std::size_t slash = entry.find('/');
        const auto address = ParseAddress(entry.substr(0, slash));
        int bits = 32;
        if (slash != std::string_view::npos) {
            const auto prefix = ParseInt32(entry.substr(slash + 1));
            bits = prefix && *prefix >= 0 && *prefix <= 32 ? *prefix : -1;
        }
        if (!address || bits < 0) {
            errors.push_back("\"" + std::string(entry) + "\" is no IPv4 address or range");
            continue;
        }
        const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
        list.ranges_.push_back({*address & mask, mask});
    }
    return list;
}

bool ClientAccessList::Allows(std::string_view address) const {
    if (!restricted_) return true;
    const auto value = ParseAddress(address);
    if (!value) return false;
    for (const Range& range : ranges_)
        if ((*value & range.mask) == range.network) return true;
    return false;
}

} // namespace vantor
