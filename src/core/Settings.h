#pragma once
// Every value of the configuration file, as the main window holds it.  Read
// once at start (ConfigReader), written back key by key by the commands that
// change them.  Texts are 8-bit and cut to their field's capacity.
#include <cstdint>
#include <string>

namespace vantor {

inline constexpr std::size_t SettingsTextCapacity = 100;

struct Settings {
    // [Set]
    std::string Lang = "Eng";
    std::string Port = "COM2:19200,N,8,1";
    std::int32_t IPPort = 1234;
    std::int32_t MaxCache = 110;
    std::uint8_t ReadUct = 1;
    std::uint8_t SendUct = 0;
    std::string UctFile = "DATA.NEW";
    std::uint8_t XAPI = 0;
    // [Log]
    std::uint8_t Com_In = 1;
    std::uint8_t Com_PureIn = 1;
    std::uint8_t Com_Out = 0;
    std::uint8_t Com_LocOut = 0;
    std::uint8_t TCPIP_In = 1;  // key "TCP/IP_In"
    std::uint8_t TCPIP_Out = 0; // key "TCP/IP_Out"
    std::uint8_t Extent = 0;
    // [Timer]
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
};

} // namespace vantor
