#pragma once
// Every value of the configuration file, as the gateway holds it.  Read once
// at start (ConfigReader), written back key by key by the commands that
// change them.  Texts are 8-bit and cut to their field's capacity.
//
// Each part reads only its own slice (the log switches, the accounting keys,
// the relay keys); the link cycle reads the timer keys.
#include "accounting/AccountingSettings.h"
#include "relay/RelaySettings.h"
#include "toolkit/LogSettings.h"
#include "toolkit/Strings.h"

#include <cstdint>
#include <string>

namespace vantor {

// The [Timer] section: periods in milliseconds, time-outs in seconds, the
// link's limits in ticks of TimerTick.
struct TimerSettings {
    std::int32_t Interval = 100;          // ms, period of TimerTick
    std::int32_t ANInterval = 600;        // ms
    std::int32_t ANTimeOut = 10;          // s
    std::int32_t TrapInterval = 5000;     // ms
    std::int32_t MSGInterval = 11000;     // ms
    std::int32_t URInterval = 1000;       // ms
    std::int32_t URIntervalBezDat = 3000; // ms
    std::int32_t SWInterval = 600;        // ms
    std::int32_t SWTimeOut = 10;          // s
    std::int32_t Shorts = 40000;          // ms
    std::int32_t MaxTick = 9;             // ticks
    std::int32_t MaxError = 6;
    std::int32_t MaxErrorTick = 600; // ticks
    std::int32_t PortRetry = 5000;   // ms between attempts to open a lost port again
    // 1: a reply that ends a wait serves the queue head at once instead of
    // on the next tick, so relayed requests follow each other at line speed.
    std::int32_t SendOnReply = 0;
};

struct Settings : LogSettings, AccountingSettings, RelaySettings, TimerSettings {
    // [Set]
    std::string Lang = "Eng";
    std::string Port = "COM2:19200,N,8,1";
    std::uint8_t XAPI = 0;
};

} // namespace vantor
