#pragma once
// The relay's keys of the [Set] section.
#include <cstdint>

namespace vantor {

struct RelaySettings {
    std::int32_t IPPort = 1234;  // the listening TCP port
    std::int32_t MaxCache = 110; // reply cache entries, 0 switches it off
};

} // namespace vantor
