#pragma once
// Which network clients the relay serves: a comma-separated list of IPv4
// addresses and CIDR ranges ("10.0.0.5, 192.168.1.0/24"), blanks around the
// commas ignored.  An empty list lets everyone in; a list whose entries are
// all invalid lets nobody in (a mistyped list must not open the relay).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

class ClientAccessList {
public:
    // The entries of `text`; an entry that is no address or range is left
    // out and named in `errors`.
    static ClientAccessList Parse(std::string_view text, std::vector<std::string>& errors);

    bool AllowsAll() const { return !restricted_; }
    // Whether a client from this dotted address is served.
    bool Allows(std::string_view address) const;

    // The 32-bit value of a dotted IPv4 address.
    static std::optional<std::uint32_t> ParseAddress(std::string_view text);
    // The dotted form of a 32-bit address, without leading zeros.
    static std::string DottedAddress(std::uint32_t address);

private:
    struct Range {
        std::uint32_t network, mask;
    };
    std::vector<Range> ranges_;
    bool restricted_ = false;
};

} // namespace vantor
