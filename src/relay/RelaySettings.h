#pragma once
// The relay's keys of the [Set] section.
#include <cstdint>
#include <string>

namespace vantor {

struct RelaySettings {
    std::int32_t IPPort = 1234;     // the listening TCP port
    std::int32_t MaxCache = 110;    // reply cache entries, 0 switches it off
    std::int32_t MaxClients = 1000; // clients connected at once; more are closed at once
    std::string IPBind;             // the local address to listen on; empty: all
    std::string IPAllow;            // addresses or CIDR ranges clients may come from; empty: any
};

} // namespace vantor
