#pragma once
// The accounting keys of the [Set] section.
#include <cstdint>
#include <string>

namespace vantor {

struct AccountingSettings {
    std::uint8_t ReadUct = 1;         // download records from the exchange
    std::uint8_t SendUct = 0;         // hand records to network clients
    std::string UctFile = "DATA.NEW"; // the accounting file
};

} // namespace vantor
