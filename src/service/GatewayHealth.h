#pragma once
// What keeps a running gateway from doing its work, as the service shows it
// to a technician: in the manager's status text ("RUNNING, link lost since
// 19:00:17") and, when a condition begins or ends, as an event.  The gateway
// fills it in when asked; the service asks once a second, so the gateway
// needs no hooks of its own into the service.
#include "toolkit/DateTime.h"

#include <string>
#include <vector>

namespace vantor {

struct GatewayHealth {
    // When the link to the exchange was reported lost; 0 while it works.
    TDateTime linkLostSince = 0;
    // Why the serial port is not open ("" while it is), and the device the
    // settings name.
    std::string serialPort = {};
    std::string serialDevice = {};
    // Why the TCP port for clients is not open ("" while it is).
    std::string listeningPort = {};
    // Why the last accounting record could not be written ("" while the
    // file takes them).
    std::string accountingFile = {};

    bool operator==(const GatewayHealth&) const = default;
};

// The conditions as short phrases for the status text, in a fixed order:
// serial port, link, TCP port, accounting file.  Empty: all is well.
std::vector<std::string> HealthPhrases(const GatewayHealth& health);

// One event per condition that began or ended between two readings.
struct HealthEvent {
    int type; // EventLog::Error when it began, EventLog::Information when it ended
    std::string message;
};
std::vector<HealthEvent> HealthChanges(const GatewayHealth& before, const GatewayHealth& now);

} // namespace vantor
