#pragma once
// The switches of the [Log] section: which lines the parts of the gateway
// write to the traffic log.  Every part that logs reads them live, so a change
// made in the log dialog takes effect with the next line.
#include <cstdint>

namespace vantor {

struct LogSettings {
    std::uint8_t Com_In = 1;     // replies and own events from the exchange
    std::uint8_t Com_PureIn = 1; // also the "nothing new" replies
    std::uint8_t Com_Out = 0;    // relayed requests to the exchange
    std::uint8_t Com_LocOut = 0; // the gateway's own requests
    std::uint8_t TCPIP_In = 1;   // key "TCP/IP_In": client requests
    std::uint8_t TCPIP_Out = 0;  // key "TCP/IP_Out": replies to clients
    std::uint8_t Extent = 0;     // the mailbox poll in detail
};

} // namespace vantor
